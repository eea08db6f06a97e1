#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace borvantel::testing {

TempTree::TempTree() {
  std::string tmpl = (fs::temp_directory_path() / "borvantel-test-XXXXXX").string();
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

text::RunPaths TempTree::runPaths() const { return text::RunPaths::make(root_ + "/prog", root_ + "/base"); }

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

}  // namespace borvantel::testing
