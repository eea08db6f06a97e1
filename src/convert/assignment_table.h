// The assignment table of the scenery rewrite: include path (relative, "\"
// separated) to category, filled from "inc_out.txt" then "inc_out1.txt".
//
// Lookups give exactly the row that an exchange sort followed by the halving
// search of the table would give. Only rows whose paths are equal ignoring case
// can make the arrangement matter, and only when their categories differ; the
// table then arranges its rows by that exchange sort (quadratic, on integer
// ranks), otherwise by an O(n log n) sort.
#pragma once

#include "text/folded_index.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::convert {

struct AssignmentRow {
  std::string path;      // relative to the scenery directory, "\" separated
  std::string category;  // upper-cased
};

// Appends one row per line of an assignment file; a missing file or one
// shorter than 2 bytes adds nothing. Throws text::Failure naming the file and
// the line number for a line without both a path and a category, or whose path
// is absolute or has a ".." part.
void loadAssignments(const std::string& path, std::vector<AssignmentRow>& rows);

class AssignmentTable {
 public:
  AssignmentTable() = default;
  // `rows` in load order.
  explicit AssignmentTable(std::vector<AssignmentRow> rows);

  // The row the halving search finds for `key` (compared ignoring case), or
  // nullptr.
  const AssignmentRow* find(std::string_view key) const noexcept;
  // The same answer by one hash lookup, for a key already case-folded
  // (text::foldByte): the search depends only on the folded bytes of the key,
  // so its answer is worked out once per distinct path when the table is made.
  // The hot path of the scenery rewrite, hence a flat table that stays in cache.
  const AssignmentRow* findFolded(std::string_view foldedKey) const noexcept;
  // Only the category of that row: the slot holds it, so the row itself (far
  // away in memory) is never touched.
  const std::string* categoryFolded(std::string_view foldedKey) const noexcept;
  // The same in steps, for many keys at once: hashing each key and
  // prefetching its slot before the first lookup lets the cache misses of
  // the lookups overlap instead of coming one after another.
  std::uint64_t hashFolded(std::string_view foldedKey) const noexcept;
  // Where the lookup of `hash` begins, to prefetch.
  const void* slotAddress(std::uint64_t hash) const noexcept { return index_.slotAddress(hash); }
  const std::string* categoryFolded(std::string_view foldedKey, std::uint64_t hash) const noexcept;

  bool empty() const noexcept { return rows_.empty(); }
  size_t size() const noexcept { return rows_.size(); }
  // The rows in their sorted arrangement.
  const std::vector<AssignmentRow>& rows() const noexcept { return rows_; }
  // Whether the exchange sort had to be used (paths equal ignoring case with
  // different categories).
  bool usedExchangeSort() const noexcept { return exchangeSorted_; }

 private:
  void index();
  std::vector<AssignmentRow> rows_;
  std::vector<std::string> categories_;  // each distinct category once: few, so always in cache
  // Each folded path, once, to the row the halving search finds for it (low
  // half) and that row's category (high half, into categories_): the lookup
  // of a category never touches the rows, far away in memory.
  text::FoldedIndex index_;
  bool exchangeSorted_ = false;
};

// The arrangement the exchange sort gives: for each position i from the first
// to the last but one, and each later position j, the entries at i and j swap
// when ranks[j] < ranks[i]. Returns the original index of the entry that ends
// at each position.
std::vector<size_t> exchangeSortOrder(std::vector<size_t> ranks);

}  // namespace borvantel::convert
