#include "support/temp_tree.h"

#include "text/codepage.h"
#include "text/lines.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace borvantel::testing {

bool isTemporaryFile(std::string_view path) {
  const std::string_view name = path.substr(path.rfind('/') + 1);
  constexpr std::string_view prefix = ".borvantel-";
  if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

namespace {
bool inUndoSet(std::string_view path) { return path.find("/.borvantel-undo") != std::string_view::npos; }
}  // namespace

std::map<std::string, std::string> withoutUndoSet(std::map<std::string, std::string> files) {
  std::erase_if(files, [](const auto& entry) { return inUndoSet(entry.first); });
  return files;
}

std::vector<std::string> withoutUndoSet(std::vector<std::string> files) {
  std::erase_if(files, [](const std::string& name) { return inUndoSet(name); });
  return files;
}

TempTree::TempTree(Where where) {
  std::error_code ec;
  const fs::path parent =
      where == Where::InMemory && fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
          ? fs::path("/dev/shm")
          : fs::temp_directory_path();
  std::string tmpl = (parent / "borvantel-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  fs::create_directories(root_ + "/prog");
  fs::create_directories(root_ + "/base");
}

TempTree::~TempTree() {
  std::error_code ec;
  // Give back write permission that a test may have taken away, then remove.
  for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(root_, ec);
}

std::string TempTree::path(std::string_view relative) const { return root_ + "/" + std::string(relative); }

void TempTree::write(std::string_view relative, std::string_view content) const {
  const fs::path p = path(relative);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

void TempTree::mkdir(std::string_view relative) const { fs::create_directories(path(relative)); }

std::string TempTree::read(std::string_view relative) const { return readFile(path(relative)); }

bool TempTree::exists(std::string_view relative) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path(relative), ec));
}

std::vector<std::string> TempTree::allFiles() const {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root_)) {
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), root_).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::map<std::string, std::string> TempTree::snapshot() const {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root_)) {
    if (e.is_symlink()) {
      out[fs::relative(e.path(), root_).string()] = "-> " + fs::read_symlink(e.path()).string();
    } else if (!e.is_directory()) {
      out[fs::relative(e.path(), root_).string()] = readFile(e.path().string());
    }
  }
  return out;
}

void TempTree::symlink(std::string_view target, std::string_view relative) const {
  const fs::path p = path(relative);
  fs::create_directories(p.parent_path());
  fs::create_symlink(fs::path(std::string(target)), p);
}

text::RunPaths TempTree::runPaths() const { return text::RunPaths::make(root_ + "/prog", root_ + "/base"); }

std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> out;
  text::LineSplitter splitter(text);
  std::string_view line;
  while (splitter.next(line)) out.emplace_back(line);
  return out;
}

std::string cp(std::string_view utf8) {
  const auto bytes = text::encodeCp1250(utf8);
  if (!bytes) ADD_FAILURE() << "not encodable: " << utf8;
  return bytes.value_or(std::string());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return {};
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FailingOs::failing(Call call, std::string_view path, std::string_view data) {
  const std::lock_guard lock(mutex_);
  for (Rule& rule : rules_) {
    if (rule.call != call) continue;
    if (!rule.path.empty() && path.find(rule.path) == std::string_view::npos) continue;
    if (!rule.data.empty() && data.find(rule.data) == std::string_view::npos) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    ++failures_;
    errno = rule.err;
    return true;
  }
  return false;
}

std::string FailingOs::pathOf(int fd) const {
  const std::lock_guard lock(mutex_);
  const auto it = paths_.find(fd);
  return it == paths_.end() ? std::string() : it->second;
}

void FailingOs::remember(int fd, const char* path) {
  if (fd < 0) return;
  const std::lock_guard lock(mutex_);
  paths_[fd] = path;
}

int FailingOs::open(const char* path, int flags, mode_t mode) {
  if (failing(Call::Open, path)) return -1;
  const int fd = Os::open(path, flags, mode);
  remember(fd, path);
  return fd;
}

int FailingOs::createExclusive(const char* path, mode_t mode) {
  if (failing(Call::Mkstemp, path)) return -1;
  const int fd = Os::createExclusive(path, mode);
  remember(fd, path);
  return fd;
}

ssize_t FailingOs::read(int fd, void* buf, size_t n) {
  if (failing(Call::Read, pathOf(fd))) return -1;
  if (maxRead_ != 0 && n > maxRead_) n = maxRead_;
  return Os::read(fd, buf, n);
}

ssize_t FailingOs::write(int fd, const void* buf, size_t n) {
  if (failing(Call::Write, pathOf(fd), std::string_view(static_cast<const char*>(buf), n))) return -1;
  if (maxWrite_ != 0 && n > maxWrite_) n = maxWrite_;
  return Os::write(fd, buf, n);
}

int FailingOs::close(int fd) {
  std::string path;
  {
    const std::lock_guard lock(mutex_);
    if (const auto it = paths_.find(fd); it != paths_.end()) {
      path = std::move(it->second);
      paths_.erase(it);
    }
  }
  if (failing(Call::Close, path)) {
    Os::close(fd);  // the descriptor is gone either way, as with a real failed close
    return -1;
  }
  return Os::close(fd);
}

int FailingOs::fsync(int fd) {
  if (failing(Call::Fsync, pathOf(fd))) return -1;
  return Os::fsync(fd);
}

int FailingOs::ftruncate(int fd, std::int64_t size) {
  if (failing(Call::Ftruncate, pathOf(fd))) return -1;
  return Os::ftruncate(fd, size);
}

int FailingOs::fchmod(int fd, mode_t mode) {
  if (failing(Call::Fchmod, pathOf(fd))) return -1;
  return Os::fchmod(fd, mode);
}

int FailingOs::rename(const char* from, const char* to) {
  if (failing(Call::Rename, to)) return -1;
  return Os::rename(from, to);
}

int FailingOs::unlink(const char* path) {
  if (failing(Call::Unlink, path)) return -1;
  return Os::unlink(path);
}

int FailingOs::link(const char* from, const char* to) {
  if (failing(Call::Link, from)) return -1;
  return Os::link(from, to);
}

int FailingOs::stat(const char* path, text::FileStat* st) {
  if (failing(Call::Stat, path)) return -1;
  return Os::stat(path, st);
}

int FailingOs::lstat(const char* path, text::FileStat* st) {
  if (failing(Call::Stat, path)) return -1;
  return Os::lstat(path, st);
}

int FailingOs::fstat(int fd, text::FileStat* st) {
  if (failing(Call::Stat, pathOf(fd))) return -1;
  return Os::fstat(fd, st);
}

ssize_t FailingOs::pread(int fd, void* buf, size_t n, std::int64_t offset) {
  if (failing(Call::Pread, pathOf(fd))) return -1;
  return Os::pread(fd, buf, n, offset);
}

std::int64_t FailingOs::lseek(int fd, std::int64_t offset, int whence) {
  if (failing(Call::Lseek, pathOf(fd))) return -1;
  return Os::lseek(fd, offset, whence);
}

int FailingOs::fchown(int fd, std::uint32_t uid, std::uint32_t gid) {
  if (failing(Call::Fchown, pathOf(fd))) return -1;
  return Os::fchown(fd, uid, gid);
}

std::string FailingOs::realpath(const char* path) {
  if (failing(Call::Realpath, path)) return {};
  return Os::realpath(path);
}

int FailingOs::listDirectory(const char* path, std::vector<text::DirEntry>& entries,
                             std::vector<std::string>* unmappable) {
  if (failing(Call::List, path)) return errno;
  return Os::listDirectory(path, entries, unmappable);
}

}  // namespace borvantel::testing
