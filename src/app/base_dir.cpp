#include "app/base_dir.h"

#include "scan/working_files.h"
#include "text/codepage.h"
#include "text/files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace borvantel::app {

std::vector<std::string> subdirectories(const std::string& dir) {
  std::vector<std::string> out;
  std::string prefix = dir;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  DIR* handle = ::opendir(prefix.c_str());
  if (!handle) return out;
  std::unique_ptr<DIR, int (*)(DIR*)> guard(handle, ::closedir);
  while (const dirent* e = ::readdir(handle)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = prefix + std::string(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back(std::move(path));
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool spr_exist_scenery(const std::string& sciezka_katalogu) {
  std::string_view base = sciezka_katalogu;
  while (base.size() > 1 && base.back() == '/') base.remove_suffix(1);
  const size_t slash = base.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? base : base.substr(slash + 1);
  if (text::equalsIgnoreCase(name, "scenery")) return false;
  const auto subdirs = subdirectories(std::string(base));
  return std::any_of(subdirs.begin(), subdirs.end(),
                     [](const std::string& path) { return text::containsIgnoreCase(path, "scenery"); });
}

void removeWorkingFiles(const text::RunPaths& paths) {
  std::string failures;
  for (std::string_view name : {scan::kIncOut, scan::kIncOut1, scan::kPInc, scan::kPScn}) {
    try {
      text::removeFile(paths.workingFile(name));
    } catch (const text::Failure& e) {
      if (!failures.empty()) failures += '\n';
      failures += e.what();
    }
  }
  if (!failures.empty()) throw text::Failure(failures);
}

}  // namespace borvantel::app
