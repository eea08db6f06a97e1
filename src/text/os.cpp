#include "text/os.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace borvantel::text {
namespace {
Os defaultOs;
Os* current = &defaultOs;
}  // namespace

int Os::open(const char* path, int flags, mode_t mode) { return ::open(path, flags | O_CLOEXEC, mode); }
int Os::mkstemp(char* pathTemplate, mode_t mode) {
  // mkostemp() creates with 0600 and would need an fchmod for every file.
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t length = std::strlen(pathTemplate);
  if (length < 6 || std::strcmp(pathTemplate + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return -1;
  }
  thread_local std::uint64_t state = 0;
  if (state == 0 && ::getrandom(&state, sizeof state, 0) != static_cast<ssize_t>(sizeof state)) {
    state = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^ reinterpret_cast<std::uintptr_t>(&state);
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    std::uint64_t bits = state >> 16;
    for (size_t k = length - 6; k < length; ++k, bits /= 62) pathTemplate[k] = kChars[bits % 62];
    const int fd = ::open(pathTemplate, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
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
