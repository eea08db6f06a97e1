// An index from byte strings compared ignoring case (keys already folded by
// text::foldByte: relative paths below "scenery") to 64-bit values. A flat
// table with one cache line per key, its first bytes inline, so that a
// lookup costs about one memory access: the conversion and the check look up
// a path for every "include" line they read.
#pragma once

#include "platform/memory.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::text {

// The table's slots live in huge pages where the system has them.
template <typename T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(platform::allocateHugePages(n * sizeof(T))); }
  void deallocate(T* p, size_t) noexcept { platform::freeHugePages(p); }
  template <typename U>
  bool operator==(const HugePageAllocator<U>&) const noexcept {
    return true;
  }
};

class FoldedIndex {
 public:
  // Room for `keys` keys; more may be added, at the cost of a rebuild.
  explicit FoldedIndex(size_t keys = 0);

  // Adds a folded key with its value; false, changing nothing, when the key
  // is there already (its first value stays).
  bool insert(std::string_view foldedKey, std::uint64_t value);

  std::optional<std::uint64_t> find(std::string_view foldedKey) const noexcept {
    return find(foldedKey, hash(foldedKey));
  }
  // The same in steps, for many keys at once: hashing each key and
  // prefetching its slot (slotAddress) before the first lookup lets the
  // cache misses of the lookups overlap.
  static std::uint64_t hash(std::string_view foldedKey) noexcept;
  const void* slotAddress(std::uint64_t hash) const noexcept {
    return slots_.empty() ? nullptr : &slots_[static_cast<size_t>(hash) & (slots_.size() - 1)];
  }
  std::optional<std::uint64_t> find(std::string_view foldedKey, std::uint64_t hash) const noexcept;

  size_t size() const noexcept { return size_; }

 private:
  static constexpr size_t kInline = 44;
  struct alignas(64) Slot {
    std::uint64_t value = 0;
    std::uint32_t tag = 0;   // high half of the key's hash
    std::uint32_t size = 0;  // of the key, plus one; 0: empty
    std::uint32_t rest = 0;  // where bytes past kInline lie in longKeys_
    char key[kInline] = {};  // the key's first bytes
  };
  const Slot* slotFor(std::string_view foldedKey, std::uint64_t hash) const noexcept;
  bool matches(const Slot& slot, std::string_view foldedKey) const noexcept;
  std::string keyOf(const Slot& slot) const;
  void grow();

  std::vector<Slot, HugePageAllocator<Slot>> slots_;  // open addressing, a power of two, at most half full
  std::string longKeys_;
  size_t size_ = 0;
};

}  // namespace borvantel::text
