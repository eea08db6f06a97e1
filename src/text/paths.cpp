#include "text/paths.h"

#include "platform/os.h"
#include "text/codepage.h"
#include "text/files.h"

#include <cerrno>
#include <string>

namespace borvantel::text {

RunPaths RunPaths::make(std::string_view programDir, std::string_view baseDir) {
  return RunPaths{directoryWithSeparator(programDir), directoryWithSeparator(baseDir)};
}

std::string RunPaths::sceneryRoot() const {
  std::string found;
  std::vector<platform::DirEntry> entries;
  (void)platform::os().listDirectory(sciezka_katalogu.c_str(), entries);  // unreadable: the plain name below
  for (const platform::DirEntry& e : entries) {
    if (e.hidden || !equalsIgnoreCase(e.name, "scenery")) continue;
    platform::FileStat st;
    const std::string path = sciezka_katalogu + e.name;
    if (platform::os().stat(path.c_str(), &st) != 0 || !st.isDirectory()) continue;
    if (e.name == "scenery") return path;
    if (found.empty() || path < found) found = path;
  }
  return found.empty() ? sciezka_katalogu + "scenery" : found;
}

std::string fullPath(std::string_view sceneryRoot, std::string_view relative) {
  std::string out;
  out.reserve(sceneryRoot.size() + 1 + relative.size());
  out.append(sceneryRoot);
  out.push_back(platform::kPathSeparator);
  for (char c : relative) out.push_back(c == '\\' ? platform::kPathSeparator : c);
  return out;
}

std::string directoryWithSeparator(std::string_view dir) {
  std::string s;
  if (platform::absolutePath(dir, s) != 0) throw FileError(FileOp::Open, s, errno);
  while (s.size() > 1 && platform::isPathSeparator(s.back())) s.pop_back();
  if (s.empty() || !platform::isPathSeparator(s.back())) s.push_back(platform::kPathSeparator);
  return s;
}

std::string_view fileNameOf(std::string_view relative) noexcept {
  const size_t slash = relative.rfind('\\');
  return slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

std::string_view directoryPartOf(std::string_view relative) noexcept {
  const size_t slash = relative.rfind('\\');
  return slash == std::string_view::npos ? std::string_view{} : relative.substr(0, slash + 1);
}

std::string directoryLabel(std::string_view relative) {
  const std::string_view dir = directoryPartOf(relative);
  return std::string(dir.empty() ? kGlownyScenery : dir);
}

std::string_view targetFromLabel(std::string_view label) noexcept {
  return equalsIgnoreCase(label, kGlownyScenery) ? std::string_view{} : label;
}

bool belongsToDirectory(std::string_view item, std::string_view target) noexcept {
  if (target.empty()) return item.find('\\') == std::string_view::npos;
  return equalsIgnoreCase(directoryPartOf(item), target);
}

std::string nativeToRelative(std::string_view native) {
  std::string out(native);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string relativeToNative(std::string_view relative) {
  std::string out(relative);
  for (char& c : out) {
    if (c == '\\') c = platform::kPathSeparator;
  }
  return out;
}

bool isSafeRelative(std::string_view relative) noexcept {
  if (relative.empty() || relative[0] == '\\' || relative[0] == '/') return false;
  if (relative.size() >= 2 && relative[1] == ':') return false;
  if (relative.find('\0') != std::string_view::npos) return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = relative.size();
    if (relative.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

bool fitsRecordField(std::string_view nativeRelative) noexcept {
  if (nativeRelative.find_first_of(" \r\n") != std::string_view::npos) return false;
  // Where "\" separates the parts (Windows) no name can hold one; elsewhere a
  // name holding it could not be told from a path in a record.
  return platform::isPathSeparator('\\') || nativeRelative.find('\\') == std::string_view::npos;
}

bool fitsOneLine(std::string_view text) noexcept {
  return text.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace borvantel::text
