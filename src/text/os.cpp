#include "text/os.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

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

Os& os() { return *current; }

ScopedOs::ScopedOs(Os& replacement) : previous_(current) { current = &replacement; }
ScopedOs::~ScopedOs() { current = previous_; }

}  // namespace borvantel::text
