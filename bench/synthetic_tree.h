// The synthetic scenery tree of the benchmarks: fixed, so that every run
// lays out the same tree (about 10.8 kB a file: 40 % include files that need
// a category, 15 % that carry one, 20 % with too few markers, 25 % scenery
// files), a tree that reads as intended before the conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace borvantel::bench {

// Lays out `files` files below root + "/base/scenery", and root + "/prog"
// with a "predef.txt" of a few hundred patterns (a few match) and a
// "kategorie.txt"; returns the bytes of the tree's files.
std::uint64_t generateTree(const std::string& root, size_t files);

// Writes a new file (it must not exist); throws std::runtime_error.
void writeWhole(const std::string& path, const std::string& data);

}  // namespace borvantel::bench
