// The thin seam around the operating system's file calls. Production code goes
// through os(); tests install a subclass to inject failures (a full disk, a
// denied permission, a rename that fails after the k-th call).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace borvantel::text {

// One entry of a directory listing.
struct DirEntry {
  std::string name;
  unsigned char type;  // DT_REG, DT_DIR, DT_LNK, ... or DT_UNKNOWN
};

class Os {
 public:
  virtual ~Os() = default;
  virtual int open(const char* path, int flags, mode_t mode);
  // Creates a new file exclusively (O_EXCL), opened for reading and writing
  // with `mode` (less the umask); -1 and errno (EEXIST: the name is taken).
  virtual int createExclusive(const char* path, mode_t mode);
  virtual ssize_t read(int fd, void* buf, size_t n);
  virtual ssize_t write(int fd, const void* buf, size_t n);
  virtual int close(int fd);
  virtual int fsync(int fd);
  virtual int syncfs(int fd);
  virtual int ftruncate(int fd, off_t size);
  virtual int fchmod(int fd, mode_t mode);
  virtual int rename(const char* from, const char* to);
  virtual int unlink(const char* path);
  virtual int link(const char* from, const char* to);
  virtual int mkdir(const char* path, mode_t mode);
  virtual int rmdir(const char* path);
  virtual int stat(const char* path, struct stat* st);
  virtual int lstat(const char* path, struct stat* st);
  virtual int fstat(int fd, struct stat* st);
  virtual ssize_t pread(int fd, void* buf, size_t n, off_t offset);
  virtual off_t lseek(int fd, off_t offset, int whence);
  virtual int fchown(int fd, uid_t uid, gid_t gid);
  // The canonical path, or "" with errno set.
  virtual std::string realpath(const char* path);
  // Every entry of the directory but "." and "..", in the system's order;
  // 0, or an errno when the directory cannot be opened or read to its end.
  virtual int listDirectory(const char* path, std::vector<DirEntry>& entries);
};

Os& os();

// Installs `replacement` for the lifetime of the guard (tests only).
class ScopedOs {
 public:
  explicit ScopedOs(Os& replacement);
  ~ScopedOs();
  ScopedOs(const ScopedOs&) = delete;
  ScopedOs& operator=(const ScopedOs&) = delete;

 private:
  Os* previous_;
};

}  // namespace borvantel::text
