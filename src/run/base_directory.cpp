#include "run/base_directory.h"

#include "text/codepage.h"
#include "text/collation.h"
#include "text/files.h"
#include "text/working_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace borvantel::run {

std::vector<std::string> subdirectories(const std::string& dir) {
  std::vector<std::string> out;
  std::string prefix = dir;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  DIR* handle = ::opendir(prefix.c_str());
  if (!handle) return out;
  std::unique_ptr<DIR, int (*)(DIR*)> guard(handle, ::closedir);
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(handle)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (e->d_type != DT_DIR) {
      if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) continue;
      struct stat st {};
      if (::stat((prefix + std::string(name)).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    }
    names.emplace_back(name);
  }
  text::sortForList(names, text::TextKind::FileName);
  out.reserve(names.size());
  for (auto& name : names) out.push_back(prefix + name);
  return out;
}

bool spr_exist_scenery(std::string_view sciezka_katalogu, const std::vector<std::string>& entries) {
  std::string_view base = sciezka_katalogu;
  while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
  const size_t slash = base.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? base : base.substr(slash + 1);
  if (text::equalsIgnoreCase(name, "scenery")) return false;
  return std::any_of(entries.begin(), entries.end(),
                     [](const std::string& path) { return text::containsIgnoreCase(path, "scenery"); });
}

void checkBaseDirectory(const std::string& path) {
  std::string dir = path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      throw text::Failure("Katalog " + text::quotedPath(dir) + " nie istnieje.");
    }
    throw text::FileError(text::FileOp::List, dir, errno);
  }
  if (!S_ISDIR(st.st_mode)) throw text::Failure(text::quotedPath(dir) + " nie jest katalogiem.");
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) throw text::FileError(text::FileOp::List, dir, errno);
  ::closedir(handle);
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
