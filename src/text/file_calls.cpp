#include "text/file_calls.h"

#include <fcntl.h>

namespace borvantel::text {
namespace {

bool absent(int err) noexcept { return err == ENOENT || err == ENOTDIR; }

using StatCall = int (platform::Os::*)(const char*, platform::FileStat*);

std::optional<platform::FileStat> statBy(StatCall call, const std::string& path, FileOp op, bool mayBeAbsent) {
  platform::FileStat st;
  if ((platform::os().*call)(path.c_str(), &st) == 0) return st;
  if (mayBeAbsent && absent(errno)) return std::nullopt;
  throw FileError(op, path, errno);
}

}  // namespace

platform::FileStat statOf(const std::string& path, FileOp op) {
  return *statBy(&platform::Os::stat, path, op, false);
}

platform::FileStat lstatOf(const std::string& path, FileOp op) {
  return *statBy(&platform::Os::lstat, path, op, false);
}

std::optional<platform::FileStat> statIfPresent(const std::string& path, FileOp op) {
  return statBy(&platform::Os::stat, path, op, true);
}

std::optional<platform::FileStat> lstatIfPresent(const std::string& path, FileOp op) {
  return statBy(&platform::Os::lstat, path, op, true);
}

std::optional<platform::FileStat> statQuietly(const std::string& path) noexcept {
  platform::FileStat st;
  if (platform::os().stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::optional<platform::FileStat> lstatQuietly(const std::string& path) noexcept {
  platform::FileStat st;
  if (platform::os().lstat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

platform::FileStat statOf(int fd, const std::string& path) {
  platform::FileStat st;
  if (platform::os().fstat(fd, &st) != 0) throw FileError(FileOp::Stat, path, errno);
  return st;
}

std::string realPath(const std::string& path, FileOp op) {
  std::string out;
  if (platform::os().realpath(path.c_str(), out) != 0) throw FileError(op, path, errno);
  return out;
}

std::vector<platform::DirEntry> listDirectory(const std::string& dir, std::vector<std::string>* unmappable) {
  std::vector<platform::DirEntry> entries;
  if (platform::os().listDirectory(dir.c_str(), entries, unmappable) != 0) throw FileError(FileOp::List, dir, errno);
  return entries;
}

std::optional<std::vector<platform::DirEntry>> listDirectoryIfPresent(const std::string& dir) {
  std::vector<platform::DirEntry> entries;
  if (platform::os().listDirectory(dir.c_str(), entries) == 0) return entries;
  if (errno == ENOENT) return std::nullopt;
  throw FileError(FileOp::List, dir, errno);
}

void makeDirectory(const std::string& path, mode_t mode) {
  if (platform::os().mkdir(path.c_str(), mode) != 0) throw FileError(FileOp::Create, path, errno);
}

void removeDirectoryIfPresent(const std::string& path) {
  if (platform::os().rmdir(path.c_str()) != 0 && errno != ENOENT) throw FileError(FileOp::Remove, path, errno);
}

bool removeIfPresent(const std::string& path) {
  if (platform::os().unlink(path.c_str()) == 0) return true;
  if (errno == ENOENT) return false;
  throw FileError(FileOp::Remove, path, errno);
}

bool removeUnlessDirectory(const std::string& path) {
  if (platform::os().unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  // Linux says EISDIR, POSIX allows EPERM.
  if (errno == EISDIR || errno == EPERM) return false;
  throw FileError(FileOp::Remove, path, errno);
}

void removeQuietly(const std::string& path) noexcept { (void)platform::os().unlink(path.c_str()); }

void truncateQuietly(const std::string& path, std::uint64_t size) noexcept {
  const int raw = platform::os().open(path.c_str(), O_WRONLY, 0);
  if (raw < 0) return;
  const platform::Fd fd(raw);
  (void)platform::os().ftruncate(fd.get(), static_cast<std::int64_t>(size));
}

size_t readSome(int fd, char* buffer, size_t n, const std::string& path) {
  const ssize_t got = retryInterrupted([&] { return platform::os().read(fd, buffer, n); });
  if (got < 0) throw FileError(FileOp::Read, path, errno);
  return static_cast<size_t>(got);
}

void seekToStart(int fd, const std::string& path) {
  if (platform::os().lseek(fd, 0, SEEK_SET) != 0) throw FileError(FileOp::Read, path, errno);
}

platform::Fd createForAppending(const std::string& path, mode_t mode) {
  const int raw = platform::os().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND, mode);
  if (raw < 0) throw FileError(FileOp::Create, path, errno);
  return platform::Fd(raw);
}

bool refusesHardLinks(int err) noexcept {
  return err == EPERM || err == EXDEV || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS;
}

void hardLink(const platform::Directory& fromDir, std::string_view from, const platform::Directory& toDir,
              std::string_view to, const std::string& shown) {
  if (platform::os().linkAt(fromDir, std::string(from).c_str(), toDir, std::string(to).c_str()) != 0) {
    throw FileError(FileOp::Create, shown, errno);
  }
}

}  // namespace borvantel::text
