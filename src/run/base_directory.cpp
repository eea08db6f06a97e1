#include "run/base_directory.h"

#include "text/codepage.h"
#include "text/collation.h"
#include "text/files.h"
#include "platform/os.h"
#include "text/working_files.h"
#include "text/file_calls.h"

#include <algorithm>
#include <cerrno>
#include <memory>

namespace borvantel::run {

std::vector<std::string> subdirectories(const std::string& dir) {
  std::vector<std::string> out;
  std::string prefix = dir;
  if (prefix.empty() || !platform::isPathSeparator(prefix.back())) prefix += platform::kPathSeparator;
  std::vector<platform::DirEntry> entries;
  try {
    entries = text::listDirectory(prefix);
  } catch (const text::FileError&) {
    return out;  // nothing to offer
  }
  std::vector<std::string> names;
  for (platform::DirEntry& e : entries) {
    if (e.hidden) continue;
    if (e.type != platform::FileType::Directory) {
      if (e.type != platform::FileType::Link && e.type != platform::FileType::Unknown) continue;
      if (const auto st = text::statQuietly(prefix + e.name); !st || !st->isDirectory()) continue;
    }
    names.push_back(std::move(e.name));
  }
  text::sortForList(names, text::TextKind::FileName);
  out.reserve(names.size());
  for (auto& name : names) out.push_back(prefix + name);
  return out;
}

bool spr_exist_scenery(std::string_view sciezka_katalogu, const std::vector<std::string>& entries) {
  std::string_view base = sciezka_katalogu;
  while (base.size() > 1 && platform::isPathSeparator(base.back())) base.remove_suffix(1);
  size_t start = base.size();
  while (start > 0 && !platform::isPathSeparator(base[start - 1])) --start;
  const std::string_view name = base.substr(start);
  if (text::equalsIgnoreCase(name, "scenery")) return false;
  return std::any_of(entries.begin(), entries.end(),
                     [](const std::string& path) { return text::containsIgnoreCase(path, "scenery"); });
}

void checkBaseDirectory(const std::string& path) {
  const std::string dir = platform::withoutTrailingSeparator(path);
  const std::optional<platform::FileStat> st = text::statIfPresent(dir, text::FileOp::List);
  if (!st) throw text::Failure("Katalog " + text::quotedPath(dir) + " nie istnieje.");
  if (!st->isDirectory()) throw text::Failure(text::quotedPath(dir) + " nie jest katalogiem.");
  text::listDirectory(dir);
}

bool opensAsBaseDirectory(const std::string& dir) {
  try {
    checkBaseDirectory(dir);
    return true;
  } catch (const text::Failure&) {
    return false;
  }
}

void LastDirectories::opened(const std::string& volume, const std::string& dir) { lastOn_[volume] = dir; }

std::optional<std::string> LastDirectories::directoryFor(const std::string& volume) const {
  if (const auto last = lastOn_.find(volume); last != lastOn_.end() && opensAsBaseDirectory(last->second)) {
    return last->second;
  }
  if (opensAsBaseDirectory(volume)) return volume;
  return std::nullopt;
}

void removeWorkingFiles(const text::RunPaths& paths) {
  std::string failures;
  for (std::string_view name : {text::kIncOut, text::kIncOut1, text::kPInc, text::kPScn}) {
    try {
      text::removeFile(paths.workingFile(name));
    } catch (const text::Failure& e) {
      if (!failures.empty()) failures += '\n';
      failures += e.what();
    }
  }
  if (!failures.empty()) throw text::Failure(failures);
}

}  // namespace borvantel::run
