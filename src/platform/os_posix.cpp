// The Linux side of the seam: the POSIX calls themselves.
#include "platform/os.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string_view>

namespace borvantel::platform {
namespace {

FileType typeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::Regular;
  if (S_ISDIR(mode)) return FileType::Directory;
  if (S_ISLNK(mode)) return FileType::Link;
  return FileType::Other;
}

FileType typeOfEntry(unsigned char type) {
  switch (type) {
    case DT_REG: return FileType::Regular;
    case DT_DIR: return FileType::Directory;
    case DT_LNK: return FileType::Link;
    case DT_UNKNOWN: return FileType::Unknown;
    default: return FileType::Other;
  }
}

int filled(int rc, const struct stat& in, FileStat* out) {
  if (rc != 0) return rc;
  out->type = typeOf(in.st_mode);
  out->mode = static_cast<std::uint32_t>(in.st_mode & 07777);
  out->size = static_cast<std::uint64_t>(in.st_size);
  out->device = static_cast<std::uint64_t>(in.st_dev);
  out->inode = static_cast<std::uint64_t>(in.st_ino);
  out->modifiedNs = static_cast<std::int64_t>(in.st_mtim.tv_sec) * 1'000'000'000 + in.st_mtim.tv_nsec;
  out->uid = in.st_uid;
  out->gid = in.st_gid;
  return 0;
}

}  // namespace

int Os::open(const char* path, int flags, mode_t mode) { return ::open(path, flags | O_CLOEXEC, mode); }
int Os::openDirectory(const char* path) { return ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC); }
void Os::closeDirectory(int fd) { ::close(fd); }
int Os::createExclusive(const char* path, mode_t mode) {
  return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}
ssize_t Os::read(int fd, void* buf, size_t n) { return ::read(fd, buf, n); }
ssize_t Os::write(int fd, const void* buf, size_t n) { return ::write(fd, buf, n); }
int Os::close(int fd) { return ::close(fd); }
int Os::fsync(int fd) { return ::fsync(fd); }
int Os::syncfs(int fd) { return ::syncfs(fd); }
int Os::ftruncate(int fd, std::int64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)); }
int Os::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int Os::rename(const char* from, const char* to) { return ::rename(from, to); }
int Os::unlink(const char* path) { return ::unlink(path); }
int Os::link(const char* from, const char* to) { return ::link(from, to); }
int Os::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int Os::rmdir(const char* path) { return ::rmdir(path); }
int Os::stat(const char* path, FileStat* st) {
  struct stat raw {};
  return filled(::stat(path, &raw), raw, st);
}
int Os::lstat(const char* path, FileStat* st) {
  struct stat raw {};
  return filled(::lstat(path, &raw), raw, st);
}
int Os::fstat(int fd, FileStat* st) {
  struct stat raw {};
  return filled(::fstat(fd, &raw), raw, st);
}
ssize_t Os::pread(int fd, void* buf, size_t n, std::int64_t offset) {
  return ::pread(fd, buf, n, static_cast<off_t>(offset));
}
std::int64_t Os::lseek(int fd, std::int64_t offset, int whence) {
  return ::lseek(fd, static_cast<off_t>(offset), whence);
}
int Os::fchown(int fd, std::uint32_t uid, std::uint32_t gid) {
  return ::fchown(fd, static_cast<uid_t>(uid), static_cast<gid_t>(gid));
}

int Os::realpath(const char* path, std::string& resolved) {
  char* out = ::realpath(path, nullptr);
  if (!out) return -1;
  resolved = out;
  std::free(out);
  return 0;
}

int Os::listDirectory(const char* path, std::vector<DirEntry>& entries, std::vector<std::string>*) {
  DIR* dir = ::opendir(path);
  if (!dir) return -1;
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") entries.push_back(DirEntry{std::string(name), typeOfEntry(e->d_type)});
    errno = 0;
  }
  const int err = errno;
  ::closedir(dir);
  errno = err;
  return err == 0 ? 0 : -1;
}

int absolutePath(std::string_view path, std::string& out) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(std::string(path)), error);
  if (error) {
    out.assign(path);
    errno = error.value();
    return -1;
  }
  out = absolute.lexically_normal().string();
  return 0;
}

}  // namespace borvantel::platform
