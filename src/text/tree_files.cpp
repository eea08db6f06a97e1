#include "text/tree_files.h"

#include "text/file_calls.h"
#include "text/files.h"

#include <fcntl.h>

#include <cerrno>

namespace borvantel::text {
namespace {

[[noreturn]] void cannotOpen(const std::string& path, int err) { throw FileError(FileOp::Open, path, err); }

}  // namespace

ResolvedFile TreeFiles::open(const std::string& full) {
  const size_t slash = nameStart(full);
  if (const std::string_view listedDir = std::string_view(full).substr(0, slash); listedDir_.path() != listedDir) {
    listedDir_ = platform::Directory(listedDir);
  }
  const int raw = platform::os().openAt(listedDir_, full.c_str() + slash, O_RDONLY | O_NOFOLLOW, 0);
  if (raw < 0 && errno == ELOOP) return openLinked(full);
  if (raw < 0) cannotOpen(full, errno);
  ResolvedFile opened{platform::Fd(raw), {}, 0};
  const std::string_view dir = slash == 0 ? std::string_view(".") : std::string_view(full).substr(0, slash - 1);
  const RealDirectory& real = realDirectory(dir, full);
  opened.target.assign(real.real).append(std::string_view(full).substr(slash));
  opened.directoryDevice = real.device;
  return opened;
}

ResolvedFile TreeFiles::openLinked(const std::string& full) {
  ResolvedFile opened;
  if (platform::os().realpath(full.c_str(), opened.target) != 0) cannotOpen(full, errno);
  const int raw = platform::os().open(opened.target.c_str(), O_RDONLY, 0);
  if (raw < 0) cannotOpen(full, errno);
  opened.fd = platform::Fd(raw);
  platform::FileStat st;
  if (platform::os().stat(parentDirectory(opened.target).c_str(), &st) != 0) cannotOpen(full, errno);
  opened.directoryDevice = st.device;
  return opened;
}

const TreeFiles::RealDirectory& TreeFiles::realDirectory(std::string_view dir, const std::string& full) {
  if (const auto it = directories_.find(std::string(dir)); it != directories_.end()) return it->second;
  std::string real;
  if (platform::os().realpath(std::string(dir).c_str(), real) != 0) cannotOpen(full, errno);
  platform::FileStat st;
  if (platform::os().stat(real.c_str(), &st) != 0) cannotOpen(full, errno);
  if (!platform::isPathSeparator(real.back())) real += platform::kPathSeparator;
  return directories_.emplace(std::string(dir), RealDirectory{std::move(real), st.device}).first->second;
}

}  // namespace borvantel::text
