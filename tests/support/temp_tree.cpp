#include "support/temp_tree.h"

#include "text/codepage.h"
#include "text/lines.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "platform/win32.h"

#include <windows.h>
#else
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <random>
#include <stdexcept>

namespace borvantel::testing {

bool isTemporaryFile(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  const std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  constexpr std::string_view prefix = ".borvantel-";
  if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::string native(std::string_view slashed) {
  std::string out(slashed);
  std::replace(out.begin(), out.end(), '/', platform::kPathSeparator);
  return out;
}

namespace {
bool inUndoSet(std::string_view path) {
  return path.find("/.borvantel-undo") != std::string_view::npos ||
         path.find("\\.borvantel-undo") != std::string_view::npos;
}
}  // namespace

std::map<std::string, std::string> withoutUndoSet(std::map<std::string, std::string> files) {
  std::erase_if(files, [](const auto& entry) { return inUndoSet(entry.first); });
  return files;
}

std::vector<std::string> withoutUndoSet(std::vector<std::string> files) {
  std::erase_if(files, [](const std::string& name) { return inUndoSet(name); });
  return files;
}

std::string TempTree::path(std::string_view relative) const {
  std::string out = root_ + platform::kPathSeparator + native(relative);
#ifdef _WIN32
  // "a//b" names "a/b" on Linux; a long Windows path ("\\?\") takes no empty part.
  for (size_t at; (at = out.find("\\\\", root_.size())) != std::string::npos;) out.erase(at, 1);
#endif
  return out;
}

void TempTree::mkdir(std::string_view relative) const { createDirectories(path(relative)); }

std::string TempTree::read(std::string_view relative) const { return readFile(path(relative)); }

#ifdef _WIN32

// Windows: every call is a wide one on the path the tool itself would use
// (so long paths and names outside the ANSI code page work), never through
// the seam, which a test may have replaced.
namespace {

std::wstring wide(const std::string& path) { return platform::win32::systemPath(path); }

[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " " + path + ": Windows error " + std::to_string(::GetLastError()));
}

struct Handle {
  HANDLE h;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};

// Each entry below `dir` (a wide system path), depth first; `relative` is
// "/" separated. Directories that are links are not entered.
void walk(const std::wstring& dir, const std::string& relative,
          const std::function<void(const std::wstring&, const std::string&, DWORD)>& visit) {
  WIN32_FIND_DATAW data{};
  const HANDLE find = ::FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                         nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring full = dir + L"\\" + name;
    const std::string rel = (relative.empty() ? "" : relative + "/") + platform::win32::narrowShown(name);
    const DWORD attributes = data.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      walk(full, rel, visit);
    }
    visit(full, rel, attributes);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
}

bool readWide(const std::wstring& path, std::string& out) {
  const Handle file{::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.h == INVALID_HANDLE_VALUE) return false;
  out.clear();
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.h, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    out.append(buffer, got);
  }
}

// Writes a whole file; OPEN_ALWAYS and a cut to nothing, since CREATE_ALWAYS
// refuses a hidden file.
void writeWide(const std::wstring& path, std::string_view content, const std::string& shown) {
  const Handle file{::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.h == INVALID_HANDLE_VALUE || !::SetEndOfFile(file.h)) fail("cannot write", shown);
  size_t done = 0;
  while (done < content.size()) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
    if (!::WriteFile(file.h, content.data() + done, want, &put, nullptr)) fail("cannot write", shown);
    done += put;
  }
}

// Removes a file or a directory (links to directories as links), read-only,
// hidden or system marks notwithstanding.
void removeEntry(const std::wstring& path, DWORD attributes) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::RemoveDirectoryW(path.c_str());
  } else {
    ::DeleteFileW(path.c_str());
  }
}

}  // namespace

void TempTree::createDirectories(const std::string& path) {
  // Past the root: "D:\" or "\\server\share\".
  size_t from = 0;
  if (path.size() >= 3 && path[1] == ':') {
    from = 3;
  } else if (path.rfind("\\\\", 0) == 0) {
    from = path.find('\\', path.find('\\', 2) + 1) + 1;
  }
  for (size_t i = from; i <= path.size(); ++i) {
    if (i < path.size() && !platform::isPathSeparator(path[i])) continue;
    if (i == from) continue;
    const std::string part = path.substr(0, i);
    if (!::CreateDirectoryW(wide(part).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      fail("cannot create", part);
    }
  }
}

TempTree::TempTree(Where) {
  std::wstring buffer(MAX_PATH + 1, L'\0');
  buffer.resize(::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data()));
  const auto temp = platform::win32::narrow(buffer);
  if (!temp || temp->empty()) throw std::runtime_error("no usable temporary directory");
  createIn(*temp);
}

TempTree::TempTree(const std::string& parent) { createIn(parent); }

void TempTree::createIn(std::string parent) {
  if (!platform::isPathSeparator(parent.back())) parent += '\\';
  std::random_device random;
  const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0;; ++attempt) {
    std::string candidate = parent + "borvantel-test-";
    for (int i = 0; i < 6; ++i) candidate += letters[random() % 36];
    if (::CreateDirectoryW(wide(candidate).c_str(), nullptr)) {
      root_ = candidate;
      break;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100) fail("cannot create", candidate);
  }
  // The long, canonical form, as the tool's own real paths come out.
  if (std::string real; platform::Os().realpath(root_.c_str(), real) == 0) root_ = real;
  mkdir("prog");
  mkdir("base");
}

TempTree::~TempTree() {
  walk(wide(root_), "", [](const std::wstring& full, const std::string&, DWORD attributes) {
    removeEntry(full, attributes);
  });
  ::RemoveDirectoryW(wide(root_).c_str());
}

std::wstring TempTree::systemPath(std::string_view relative) const { return wide(path(relative)); }

void TempTree::writeNamed(std::string_view dir, std::wstring_view name, std::string_view content,
                          unsigned long attributes) const {
  mkdir(dir);
  const std::wstring full = systemPath(dir) + L"\\" + std::wstring(name);
  const std::string shown = path(dir) + "\\" + platform::win32::narrowShown(name);
  writeWide(full, content, shown);
  if (attributes != 0 && !::SetFileAttributesW(full.c_str(), attributes)) fail("cannot mark", shown);
}

void TempTree::mkdirNamed(std::string_view dir, std::wstring_view name) const {
  mkdir(dir);
  const std::wstring full = systemPath(dir) + L"\\" + std::wstring(name);
  if (!::CreateDirectoryW(full.c_str(), nullptr)) fail("cannot create", path(dir) + "\\" + platform::win32::narrowShown(name));
}

void TempTree::setAttributes(std::string_view relative, unsigned long attributes) const {
  if (!::SetFileAttributesW(systemPath(relative).c_str(), attributes)) fail("cannot mark", path(relative));
}

unsigned long TempTree::attributes(std::string_view relative) const {
  return ::GetFileAttributesW(systemPath(relative).c_str());
}

void TempTree::write(std::string_view relative, std::string_view content) const {
  const std::string p = path(relative);
  // Most files go where a directory already stands: one call, not one for
  // each directory above.
  if (::GetFileAttributesW(wide(p.substr(0, p.find_last_of('\\'))).c_str()) == INVALID_FILE_ATTRIBUTES) {
    createDirectories(p.substr(0, p.find_last_of('\\')));
  }
  writeWide(wide(p), content, p);
}

bool TempTree::exists(std::string_view relative) const {
  return ::GetFileAttributesW(systemPath(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void TempTree::remove(std::string_view relative) const {
  const std::wstring p = systemPath(relative);
  ::SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::DeleteFileW(p.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
      ::GetLastError() != ERROR_PATH_NOT_FOUND) {
    fail("cannot remove", path(relative));
  }
}

std::vector<std::string> TempTree::allFiles() const {
  std::vector<std::string> out;
  walk(wide(root_), "", [&](const std::wstring&, const std::string& rel, DWORD attributes) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(rel);
  });
  std::sort(out.begin(), out.end());
  return out;
}

std::map<std::string, std::string> TempTree::snapshot() const {
  std::map<std::string, std::string> out;
  walk(wide(root_), "", [&](const std::wstring& full, const std::string& rel, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
    std::string bytes;
    if (!readWide(full, bytes)) ADD_FAILURE() << "cannot read " << rel;
    out[rel] = std::move(bytes);
  });
  return out;
}

std::string readFile(const std::string& path) {
  std::string out;
  if (!readWide(wide(path), out)) ADD_FAILURE() << "cannot read " << path;
  return out;
}

bool underWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#else

namespace fs = std::filesystem;

void TempTree::createDirectories(const std::string& path) { fs::create_directories(path); }

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

void TempTree::write(std::string_view relative, std::string_view content) const {
  const fs::path p = path(relative);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

bool TempTree::exists(std::string_view relative) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path(relative), ec));
}

void TempTree::remove(std::string_view relative) const { fs::remove(path(relative)); }

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

bool underWine() { return false; }

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

#endif

text::RunPaths TempTree::runPaths() const { return text::RunPaths::make(path("prog"), path("base")); }

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

bool FailingOs::failing(Call call, std::string_view path, std::string_view data) {
  const std::lock_guard lock(mutex_);
  for (auto& [rule, failed] : rules_) {
    if (rule.call != call) continue;
    if (!rule.path.empty() && path.find(native(rule.path)) == std::string_view::npos) continue;
    if (!rule.data.empty() && data.find(rule.data) == std::string_view::npos) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (rule.times > 0 && failed == rule.times) continue;
    ++failed;
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

int FailingOs::syncfs(int fd) {
  if (failing(Call::Syncfs, pathOf(fd))) return -1;
  return Os::syncfs(fd);
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

int FailingOs::mkdir(const char* path, mode_t mode) {
  if (failing(Call::Mkdir, path)) return -1;
  return Os::mkdir(path, mode);
}

int FailingOs::stat(const char* path, platform::FileStat* st) {
  if (failing(Call::Stat, path)) return -1;
  return Os::stat(path, st);
}

int FailingOs::lstat(const char* path, platform::FileStat* st) {
  if (failing(Call::Stat, path)) return -1;
  return Os::lstat(path, st);
}

int FailingOs::fstat(int fd, platform::FileStat* st) {
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

int FailingOs::realpath(const char* path, std::string& resolved) {
  if (failing(Call::Realpath, path)) return -1;
  return Os::realpath(path, resolved);
}

int FailingOs::listDirectory(const char* path, std::vector<platform::DirEntry>& entries,
                             std::vector<std::string>* unmappable) {
  if (failing(Call::List, path)) return -1;
  return Os::listDirectory(path, entries, unmappable);
}

}  // namespace borvantel::testing
