#include "text/os.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace borvantel::text {
namespace {
Os defaultOs;
Os* current = &defaultOs;
}  // namespace

int Os::open(const char* path, int flags, mode_t mode) { return ::open(path, flags | O_CLOEXEC, mode); }
int Os::createExclusive(const char* path, mode_t mode) {
  return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
ssize_t Os::read(int fd, void* buf, size_t n) { return ::read(fd, buf, n); }
ssize_t Os::write(int fd, const void* buf, size_t n) { return ::write(fd, buf, n); }
int Os::close(int fd) { return ::close(fd); }
int Os::fsync(int fd) { return ::fsync(fd); }
int Os::syncfs(int fd) { return ::syncfs(fd); }
int Os::ftruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int Os::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int Os::rename(const char* from, const char* to) { return ::rename(from, to); }
int Os::unlink(const char* path) { return ::unlink(path); }
int Os::link(const char* from, const char* to) { return ::link(from, to); }
int Os::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int Os::rmdir(const char* path) { return ::rmdir(path); }
int Os::stat(const char* path, struct stat* st) { return ::stat(path, st); }
int Os::lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
int Os::fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
ssize_t Os::pread(int fd, void* buf, size_t n, off_t offset) { return ::pread(fd, buf, n, offset); }
off_t Os::lseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int Os::fchown(int fd, uid_t uid, gid_t gid) { return ::fchown(fd, uid, gid); }

std::string Os::realpath(const char* path) {
  char* resolved = ::realpath(path, nullptr);
  if (!resolved) return {};
  std::string out(resolved);
  std::free(resolved);
  return out;
}

int Os::listDirectory(const char* path, std::vector<DirEntry>& entries) {
  DIR* dir = ::opendir(path);
  if (!dir) return errno;
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") entries.push_back(DirEntry{std::string(name), e->d_type});
    errno = 0;
  }
  const int err = errno;
  ::closedir(dir);
  return err;
}

Os& os() { return *current; }

ScopedOs::ScopedOs(Os& replacement) : previous_(current) { current = &replacement; }
ScopedOs::~ScopedOs() { current = previous_; }

}  // namespace borvantel::text
