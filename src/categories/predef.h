// "predef.txt": predefined assignments of categories to include-file names.
// A line is a pattern and a category; the first line whose pattern matches the
// file name (never its directory), ignoring case, decides.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace borvantel::categories {

struct PredefRow {
  std::string pattern;
  std::string category;  // exactly as written
};

// Reads the usable lines: normalised (runs of spaces collapsed, outer spaces
// removed), exactly two fields. Missing or shorter than 2 bytes: no rows.
std::vector<PredefRow> wczytaj_predef(const std::string& path);

// One pattern against one file name: "*text" contains, "text*" begins with,
// no "*" equals; tried in that order.
bool patternMatches(std::string_view pattern, std::string_view fileName) noexcept;

// First-match lookup over all rows without trying every row for every file:
// exact names and prefixes by hash, "contains" patterns by hash over the name's
// substrings when there are many of them. Same answer as trying rows in order.
class PredefMatcher {
 public:
  explicit PredefMatcher(std::vector<PredefRow> rows);
  // The first matching row, or nullptr.
  const PredefRow* firstMatch(std::string_view fileName) const;
  size_t size() const noexcept { return rows_.size(); }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  void consider(const std::unordered_map<std::string, size_t>& index, const std::string& key, size_t& best) const;

  std::vector<PredefRow> rows_;
  std::unordered_map<std::string, size_t> exact_;     // folded name -> first row
  std::unordered_map<std::string, size_t> prefix_;    // folded prefix -> first row
  std::unordered_map<std::string, size_t> contains_;  // folded text -> first row
  std::vector<std::pair<std::string, size_t>> containsList_;
  size_t longestPrefix_ = 0;
  size_t longestContains_ = 0;
};

}  // namespace borvantel::categories
