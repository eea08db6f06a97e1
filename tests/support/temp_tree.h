// Test support: a fresh temporary directory per test, with helpers to lay out
// scenery trees byte for byte and read files back.
#pragma once

#include "text/paths.h"

#include <string>
#include <string_view>
#include <vector>

namespace borvantel::testing {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The directory itself, without trailing "/".
  const std::string& root() const { return root_; }
  // root() + "/" + relative ("/" separated).
  std::string path(std::string_view relative) const;

  // Writes `content` byte for byte, creating parent directories.
  void write(std::string_view relative, std::string_view content) const;
  void mkdir(std::string_view relative) const;
  std::string read(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  // Every file below root(), relative, sorted (for "nothing else appeared" checks).
  std::vector<std::string> allFiles() const;

  // Run paths with the program directory root()/prog and the base root()/base.
  text::RunPaths runPaths() const;

 private:
  std::string root_;
};

// Reads a whole file; fails the current test when it cannot be read.
std::string readFile(const std::string& path);

}  // namespace borvantel::testing
