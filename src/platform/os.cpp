#include "platform/os.h"

#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace borvantel::platform {
namespace {
Os defaultOs;
Os* current = &defaultOs;
}  // namespace

Os& os() { return *current; }

Directory::Directory(std::string_view path) : path_(path) {
  // "" is the working directory, whose entries are named as they are.
  if (!path_.empty() && !isPathSeparator(path_.back())) path_ += kPathSeparator;
  fd_ = os().openDirectory(path_.empty() ? "." : path_.c_str());
}

Directory::Directory(Directory&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) { other.fd_ = -1; }

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) os().closeDirectory(fd_);
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

Directory::~Directory() {
  if (fd_ >= 0) os().closeDirectory(fd_);
}

int Os::openAt(const Directory& dir, const char* name, int flags, mode_t mode) {
#ifndef _WIN32
  if (dir.fd() >= 0) return ::openat(dir.fd(), name, flags | O_CLOEXEC, mode);
#endif
  return open(dir.pathOf(name).c_str(), flags, mode);
}

int Os::createExclusiveAt(const Directory& dir, const char* name, mode_t mode) {
#ifndef _WIN32
  if (dir.fd() >= 0) return ::openat(dir.fd(), name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
#endif
  return createExclusive(dir.pathOf(name).c_str(), mode);
}

int Os::renameAt(const Directory& fromDir, const char* from, const Directory& toDir, const char* to) {
#ifndef _WIN32
  if (fromDir.fd() >= 0 && toDir.fd() >= 0) return ::renameat(fromDir.fd(), from, toDir.fd(), to);
#endif
  return rename(fromDir.pathOf(from).c_str(), toDir.pathOf(to).c_str());
}

int Os::linkAt(const Directory& fromDir, const char* from, const Directory& toDir, const char* to) {
#ifndef _WIN32
  if (fromDir.fd() >= 0 && toDir.fd() >= 0) return ::linkat(fromDir.fd(), from, toDir.fd(), to, 0);
#endif
  return link(fromDir.pathOf(from).c_str(), toDir.pathOf(to).c_str());
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Fd::~Fd() { close(); }

int Fd::close() noexcept {
  if (fd_ < 0) return 0;
  const int rc = os().close(fd_);
  fd_ = -1;
  return rc;
}

std::string withoutTrailingSeparator(std::string_view dir) {
  std::string out(dir);
  while (out.size() > 1 && isPathSeparator(out.back())) out.pop_back();
  if (rootLength(out) == 2) out += kPathSeparator;  // "D:" alone
  return out;
}

ScopedOs::ScopedOs(Os& replacement) : previous_(current) { current = &replacement; }
ScopedOs::~ScopedOs() { current = previous_; }

}  // namespace borvantel::platform
