#include "text/collation.h"

#include "platform/collation.h"
#include "text/codepage.h"

#include <algorithm>
#include <numeric>

namespace borvantel::text {

std::string listSortKey(std::string_view raw, TextKind kind) {
  std::string key = platform::polishSortKey(kind == TextKind::FileName ? displayName(raw) : decodeCp1250(raw));
  // Neither ICU's key nor the system's holds a NUL byte before its end, so
  // the NUL closes it for the byte order: items that collate equal are then
  // ordered by their raw bytes.
  key.push_back('\0');
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
