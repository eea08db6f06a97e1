#include "text/folded_index.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace borvantel::text {
namespace {

size_t capacityFor(size_t keys) {
  size_t capacity = 16;
  while (capacity < 2 * keys) capacity *= 2;
  return capacity;
}

}  // namespace

FoldedIndex::FoldedIndex(size_t keys) : slots_(capacityFor(keys)) {}

// Eight bytes a step: the keys are paths of a few dozen bytes.
std::uint64_t FoldedIndex::hash(std::string_view bytes) noexcept {
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

bool FoldedIndex::insert(std::string_view foldedKey, std::uint64_t value) {
  const std::uint64_t h = hash(foldedKey);
  if (slotFor(foldedKey, h)) return false;
  if (2 * (size_ + 1) > slots_.size()) {
    grow();
  }
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>(h) & mask;
  while (slots_[i].size != 0) i = (i + 1) & mask;
  Slot& slot = slots_[i];
  slot.value = value;
  slot.tag = static_cast<std::uint32_t>(h >> 32);
  slot.size = static_cast<std::uint32_t>(foldedKey.size() + 1);
  std::memcpy(slot.key, foldedKey.data(), std::min(foldedKey.size(), kInline));
  if (foldedKey.size() > kInline) {
    slot.rest = static_cast<std::uint32_t>(longKeys_.size());
    longKeys_.append(foldedKey.substr(kInline));
  }
  ++size_;
  return true;
}

std::string FoldedIndex::keyOf(const Slot& slot) const {
  const size_t size = slot.size - 1;
  std::string key(slot.key, std::min(size, kInline));
  if (size > kInline) key.append(longKeys_, slot.rest, size - kInline);
  return key;
}

void FoldedIndex::grow() {
  FoldedIndex bigger(slots_.size());  // twice the room: at most a quarter full after
  for (const Slot& slot : slots_) {
    if (slot.size != 0) bigger.insert(keyOf(slot), slot.value);
  }
  *this = std::move(bigger);
}

bool FoldedIndex::matches(const Slot& slot, std::string_view foldedKey) const noexcept {
  if (slot.size != foldedKey.size() + 1) return false;
  const size_t head = std::min(foldedKey.size(), kInline);
  if (std::memcmp(slot.key, foldedKey.data(), head) != 0) return false;
  return foldedKey.size() <= kInline ||
         std::string_view(longKeys_).substr(slot.rest, foldedKey.size() - kInline) == foldedKey.substr(kInline);
}

const FoldedIndex::Slot* FoldedIndex::slotFor(std::string_view foldedKey, std::uint64_t h) const noexcept {
  if (slots_.empty()) return nullptr;
  const auto tag = static_cast<std::uint32_t>(h >> 32);
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(h) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.size == 0) return nullptr;
    if (slot.tag == tag && matches(slot, foldedKey)) return &slot;
  }
}

std::optional<std::uint64_t> FoldedIndex::find(std::string_view foldedKey, std::uint64_t h) const noexcept {
  const Slot* slot = slotFor(foldedKey, h);
  if (!slot) return std::nullopt;
  return slot->value;
}

}  // namespace borvantel::text
