#include "text/collation.h"

#include "text/codepage.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <stdexcept>

namespace borvantel::text {
namespace {

const icu::Collator& polishCollator() {
  static const std::unique_ptr<icu::Collator> collator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(icu::Locale("pl", "PL"), status));
    if (U_FAILURE(status) || !c) throw std::runtime_error("ICU: no Polish collator");
    // Secondary strength: accents count (ą after a), case does not.
    c->setStrength(icu::Collator::SECONDARY);
    return c;
  }();
  return *collator;
}

}  // namespace

std::string listSortKey(std::string_view raw, TextKind kind) {
  const std::string utf8 = kind == TextKind::FileName ? displayName(raw) : decodeCp1250(raw);
  const icu::UnicodeString text =
      icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  const icu::Collator& coll = polishCollator();
  std::string key(64, '\0');
  int32_t n = coll.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  if (n > static_cast<int32_t>(key.size())) {
    key.resize(static_cast<size_t>(n));
    n = coll.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
  }
  // ICU's key ends with a NUL byte, which also separates it from the tie-break.
  key.resize(static_cast<size_t>(n));
  key.append(raw);
  return key;
}

bool listLess(std::string_view a, std::string_view b, TextKind kind) {
  return listSortKey(a, kind) < listSortKey(b, kind);
}

void sortForList(std::vector<std::string>& items, TextKind kind) {
  std::vector<std::string> keys;
  keys.reserve(items.size());
  for (const auto& item : items) keys.push_back(listSortKey(item, kind));
  std::vector<size_t> order(items.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return keys[x] < keys[y]; });
  std::vector<std::string> sorted;
  sorted.reserve(items.size());
  for (size_t i : order) sorted.push_back(std::move(items[i]));
  items = std::move(sorted);
}

}  // namespace borvantel::text
