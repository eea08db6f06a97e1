// The thin seam around the operating system's file calls. Production code goes
// through os(); tests install a subclass to inject failures (a full disk, a
// denied permission, a rename that fails after the k-th call).
//
// Paths are the tool's own bytes: on Linux as the file system gives them, on
// Windows Windows-1250 text that the Windows side turns into UTF-16 for each
// call. Descriptors are small integers on both.
//
// Errors, for the whole platform layer: a call that fails returns -1 and
// leaves the reason in errno (the same values on both systems); nothing here
// throws, but for memory and a system without Polish collation.
#pragma once

#include "platform/names.h"

#include <fcntl.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef _WIN32
// Open flags the C runtime of Windows lacks; the Windows side reads them.
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0x10000000
#endif
#ifndef O_DIRECTORY
#define O_DIRECTORY 0x20000000
#endif
#endif

namespace borvantel::platform {

enum class FileType : unsigned char { Unknown, Regular, Directory, Link, Other };

// What the tool needs to know of a file, on every platform.
struct FileStat {
  FileType type = FileType::Unknown;
  std::uint32_t mode = 0;    // permission bits (07777); Windows: 0444 or 0666
  std::uint64_t size = 0;
  std::uint64_t device = 0;  // Windows: the volume's serial number
  std::uint64_t inode = 0;   // Windows: the file index
  std::int64_t modifiedNs = 0;
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;

  bool isRegular() const noexcept { return type == FileType::Regular; }
  bool isDirectory() const noexcept { return type == FileType::Directory; }
  bool isLink() const noexcept { return type == FileType::Link; }
};

// One entry of a directory listing.
struct DirEntry {
  std::string name;
  FileType type;        // Unknown when the listing does not tell
  bool hidden = false;  // marked hidden or system (Windows); walks of the user's tree pass it over
};

class Os;

// A directory whose entries several calls work on. On Linux it holds a
// descriptor of it, so each call looks up one name rather than walking the
// whole path again (which costs more than the call itself in a deep tree);
// elsewhere, or when it cannot be opened, only its path, and the calls join
// the names to it. Opened through os() when made; keep it for the calls on
// one directory, not longer: a directory renamed meanwhile is still the one
// its descriptor names.
class Directory {
 public:
  Directory() = default;
  explicit Directory(std::string_view path);
  Directory(Directory&& other) noexcept;
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  // With a separator at its end ("" for the working directory).
  const std::string& path() const noexcept { return path_; }
  // The full path of an entry.
  std::string pathOf(std::string_view name) const { return path_ + std::string(name); }
  // -1: none; the calls go by path.
  int fd() const noexcept { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
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
  // Flushes the whole file system of `fd`. Windows has no such call for an
  // ordinary user: there every file is flushed on its own instead (see
  // kFlushesWholeFileSystem) and this only flushes `fd`.
  virtual int syncfs(int fd);
  virtual int ftruncate(int fd, std::int64_t size);
  virtual int fchmod(int fd, mode_t mode);
  // Replaces `to` atomically; on Windows also a read-only `to`, as on Linux.
  virtual int rename(const char* from, const char* to);
  virtual int unlink(const char* path);
  virtual int link(const char* from, const char* to);
  virtual int mkdir(const char* path, mode_t mode);
  virtual int rmdir(const char* path);
  virtual int stat(const char* path, FileStat* st);
  virtual int lstat(const char* path, FileStat* st);
  virtual int fstat(int fd, FileStat* st);
  virtual ssize_t pread(int fd, void* buf, size_t n, std::int64_t offset);
  virtual std::int64_t lseek(int fd, std::int64_t offset, int whence);
  virtual int fchown(int fd, std::uint32_t uid, std::uint32_t gid);
  // The canonical path in `resolved`.
  virtual int realpath(const char* path, std::string& resolved);
  // Every entry of the directory but "." and "..", in the system's order;
  // -1 when the directory cannot be opened or read to its end.
  // Windows: names that Windows-1250 cannot hold are left out; they go to
  // `unmappable` (when given), shown with "?" for each character that has no
  // place in the code page, a directory's name ending with the separator.
  virtual int listDirectory(const char* path, std::vector<DirEntry>& entries,
                            std::vector<std::string>* unmappable = nullptr);

  // Calls on names in a Directory: the same as the calls above on
  // dir.pathOf(name), which they are where the directory has no descriptor.
  int openAt(const Directory& dir, const char* name, int flags, mode_t mode);
  int createExclusiveAt(const Directory& dir, const char* name, mode_t mode);
  int renameAt(const Directory& fromDir, const char* from, const Directory& toDir, const char* to);
  int linkAt(const Directory& fromDir, const char* from, const Directory& toDir, const char* to);

  // A descriptor for Directory (Linux: O_PATH), or -1 where there is none:
  // then its calls go through the path calls above. A test's Os that fails
  // or counts those calls gives -1, so that it sees every call.
  virtual int openDirectory(const char* path);
  virtual void closeDirectory(int fd);
};

Os& os();

// Owns a file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  // Closes and reports the error of close() (a late write failure on some file systems).
  int close() noexcept;

 private:
  int fd_ = -1;
};

// Whether syncfs() flushes a whole file system (Linux) rather than one file.
#ifdef _WIN32
inline constexpr bool kFlushesWholeFileSystem = false;
#else
inline constexpr bool kFlushesWholeFileSystem = true;
#endif

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

}  // namespace borvantel::platform
