#include "convert/assignment_table.h"

#include "text/codepage.h"
#include "text/files.h"
#include "text/paths.h"
#include "text/records.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <unordered_map>
#include <utility>

namespace borvantel::convert {

void loadAssignments(const std::string& path, std::vector<AssignmentRow>& rows) {
  size_t lineNo = 0;
  text::forEachRecord(path, [&](std::string_view line) {
    ++lineNo;
    text::TwoFields fields;
    if (!text::leadingTwoFields(line, fields) || fields.first.empty() || fields.second.empty()) {
      throw text::Failure("Wiersz " + std::to_string(lineNo) + " pliku " + text::quotedPath(path) +
                          " nie zawiera ścieżki i kategorii. Uruchom Start ponownie.");
    }
    if (!text::isSafeRelative(fields.first)) {
      throw text::Failure("Wiersz " + std::to_string(lineNo) + " pliku " + text::quotedPath(path) +
                          " podaje ścieżkę spoza katalogu scenery (" + text::quotedPath(fields.first) +
                          "). Uruchom Start ponownie.");
    }
    rows.push_back(AssignmentRow{std::string(fields.first), text::toUpper(fields.second)});
    return true;
  });
}

std::vector<size_t> exchangeSortOrder(std::vector<size_t> ranks) {
  const size_t n = ranks.size();
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), size_t{0});
  for (size_t i = 0; i + 1 < n; ++i) {
    // The entry at i is held in registers while j runs; a swap exchanges it
    // with the entry at j, exactly as swapping the two positions would.
    size_t rank = ranks[i];
    size_t index = order[i];
    for (size_t j = i + 1; j < n; ++j) {
      if (ranks[j] < rank) {
        std::swap(rank, ranks[j]);
        std::swap(index, order[j]);
      }
    }
    ranks[i] = rank;
    order[i] = index;
  }
  return order;
}

AssignmentTable::AssignmentTable(std::vector<AssignmentRow> rows) {
  const size_t n = rows.size();
  std::vector<size_t> byPath(n);
  std::iota(byPath.begin(), byPath.end(), size_t{0});
  std::sort(byPath.begin(), byPath.end(), [&](size_t a, size_t b) {
    return text::compareIgnoreCase(rows[a].path, rows[b].path) < 0;
  });

  // Ranks: equal paths (ignoring case) share one. The sort alone serves
  // unless equal paths carry different categories.
  std::vector<size_t> ranks(n);
  size_t rank = 0;
  for (size_t k = 0; k < n; ++k) {
    if (k > 0 && text::compareIgnoreCase(rows[byPath[k - 1]].path, rows[byPath[k]].path) != 0) {
      ++rank;
    } else if (k > 0 && rows[byPath[k - 1]].category != rows[byPath[k]].category) {
      exchangeSorted_ = true;
    }
    ranks[byPath[k]] = rank;
  }
  const std::vector<size_t> order = exchangeSorted_ ? exchangeSortOrder(std::move(ranks)) : std::move(byPath);

  rows_.reserve(n);
  for (size_t from : order) rows_.push_back(std::move(rows[from]));
  index();
}

void AssignmentTable::index() {
  index_ = text::FoldedIndex(rows_.size());
  categories_.clear();
  std::unordered_map<std::string_view, std::uint32_t> categoryIndex;
  for (const AssignmentRow& row : rows_) {
    const std::string folded = text::toFolded(row.path);
    if (index_.find(folded)) continue;  // this path (ignoring case) is in already
    const AssignmentRow* found = find(row.path);
    if (!found) continue;  // not a strict order after all: the search decides
    const auto [category, fresh] =
        categoryIndex.try_emplace(found->category, static_cast<std::uint32_t>(categories_.size()));
    if (fresh) categories_.push_back(found->category);
    index_.insert(folded, std::uint64_t{category->second} << 32 | static_cast<std::uint64_t>(found - rows_.data()));
  }
}

std::uint64_t AssignmentTable::hashFolded(std::string_view foldedKey) const noexcept {
  return text::FoldedIndex::hash(foldedKey);
}

const AssignmentRow* AssignmentTable::findFolded(std::string_view foldedKey) const noexcept {
  const std::optional<std::uint64_t> value = index_.find(foldedKey);
  return value ? &rows_[static_cast<std::uint32_t>(*value)] : nullptr;
}

const std::string* AssignmentTable::categoryFolded(std::string_view foldedKey) const noexcept {
  return categoryFolded(foldedKey, hashFolded(foldedKey));
}

const std::string* AssignmentTable::categoryFolded(std::string_view foldedKey, std::uint64_t hash) const noexcept {
  const std::optional<std::uint64_t> value = index_.find(foldedKey, hash);
  return value ? &categories_[*value >> 32] : nullptr;
}

const AssignmentRow* AssignmentTable::find(std::string_view key) const noexcept {
  // The halving search over rows 1..n, its stopping rules kept exactly: they
  // decide which of several equal paths is found. A sorted table ends it
  // within about log2(n) rounds; the cap only guards against an order that is
  // not strict.
  size_t low = 1;
  size_t high = rows_.size();
  for (int round = 0; round < 256; ++round) {
    const size_t middle = (low + high) / 2;
    if (middle == 0) return nullptr;
    const AssignmentRow& row = rows_[middle - 1];
    const int c = text::compareIgnoreCase(row.path, key);
    if (c == 0) return &row;
    if (c < 0) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
    if (high == middle || high == 0) return nullptr;
  }
  return nullptr;
}

}  // namespace borvantel::convert
