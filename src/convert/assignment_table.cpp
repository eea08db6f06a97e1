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

namespace {

// Eight bytes a step: the keys are paths of a few dozen bytes, hashed once per
// "include" line of every scenery file.
std::uint64_t hashOf(std::string_view bytes) noexcept {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = 0xcbf29ce484222325ull ^ bytes.size();
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    h = (h ^ word) * kMul;
    h ^= h >> 32;
  }
  std::uint64_t tail = 0;
  if (i < bytes.size()) std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
  h = (h ^ tail) * kMul;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

}  // namespace

void AssignmentTable::index() {
  size_t capacity = 16;
  while (capacity < 2 * rows_.size()) capacity *= 2;
  slots_.assign(capacity, Slot{});
  categories_.clear();
  std::unordered_map<std::string_view, std::uint32_t> categoryIndex;
  const size_t mask = capacity - 1;
  for (const AssignmentRow& row : rows_) {
    const std::string folded = text::toFolded(row.path);
    if (findFolded(folded)) continue;  // this path (ignoring case) is in already
    const AssignmentRow* found = find(row.path);
    if (!found) continue;  // not a strict order after all: the search decides
    const std::uint64_t h = hashOf(folded);
    size_t i = static_cast<size_t>(h) & mask;
    while (slots_[i].entry != 0) i = (i + 1) & mask;
    Slot& slot = slots_[i];
    slot.entry = static_cast<std::uint32_t>(found - rows_.data() + 1);
    const auto [category, fresh] =
        categoryIndex.try_emplace(found->category, static_cast<std::uint32_t>(categories_.size()));
    if (fresh) categories_.push_back(found->category);
    slot.category = category->second;
    slot.tag = static_cast<std::uint32_t>(h >> 32);
    slot.size = static_cast<std::uint32_t>(folded.size());
    std::memcpy(slot.key, folded.data(), std::min(folded.size(), kInline));
    if (folded.size() > kInline) {
      slot.rest = static_cast<std::uint32_t>(longKeys_.size());
      longKeys_.append(folded, kInline);
    }
  }
}

bool AssignmentTable::matches(const Slot& slot, std::string_view foldedKey) const noexcept {
  if (slot.size != foldedKey.size()) return false;
  const size_t head = std::min(foldedKey.size(), kInline);
  if (std::memcmp(slot.key, foldedKey.data(), head) != 0) return false;
  return foldedKey.size() <= kInline ||
         std::string_view(longKeys_).substr(slot.rest, foldedKey.size() - kInline) == foldedKey.substr(kInline);
}

std::uint64_t AssignmentTable::hashFolded(std::string_view foldedKey) const noexcept { return hashOf(foldedKey); }

const AssignmentTable::Slot* AssignmentTable::slotFor(std::string_view foldedKey, std::uint64_t hash) const noexcept {
  if (slots_.empty()) return nullptr;
  const auto tag = static_cast<std::uint32_t>(hash >> 32);
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == 0) return nullptr;
    if (slot.tag == tag && matches(slot, foldedKey)) return &slot;
  }
}

const AssignmentRow* AssignmentTable::findFolded(std::string_view foldedKey) const noexcept {
  const Slot* slot = slotFor(foldedKey, hashOf(foldedKey));
  return slot ? &rows_[slot->entry - 1] : nullptr;
}

const std::string* AssignmentTable::categoryFolded(std::string_view foldedKey) const noexcept {
  return categoryFolded(foldedKey, hashOf(foldedKey));
}

const std::string* AssignmentTable::categoryFolded(std::string_view foldedKey, std::uint64_t hash) const noexcept {
  const Slot* slot = slotFor(foldedKey, hash);
  return slot ? &categories_[slot->category] : nullptr;
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
