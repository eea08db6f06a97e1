#include "text/collation.h"

#include "text/codepage.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#endif

#include <algorithm>
#include <memory>
#include <numeric>
#include <stdexcept>

namespace borvantel::text {
namespace {

#ifdef _WIN32

// The system's Polish sort key, case ignored, accents counted (ą after a),
// for the order ICU's Polish collator gives elsewhere: the letters, digits
// and case agree; the order among punctuation marks and among accents
// foreign to Polish (ě, ë) may not. Without its final NUL.
std::string polishKey(std::string_view raw) {
  // File names are Windows-1250 on Windows too (see displayName), so both
  // kinds decode the same way.
  std::wstring wide(raw.size(), L'\0');
  std::transform(raw.begin(), raw.end(), wide.begin(),
                 [](char c) { return static_cast<wchar_t>(unicodeOfByte(static_cast<unsigned char>(c))); });
  if (wide.empty()) return {};  // the system refuses an empty source; nothing sorts before it
  // SORT_STRINGSORT: hyphen and apostrophe sort as punctuation, before digits
  // and letters, as ICU has them; by default Windows all but ignores them and
  // puts "a-c" between "ab" and "ad".
  constexpr DWORD kFlags = LCMAP_SORTKEY | NORM_IGNORECASE | SORT_STRINGSORT;
  const int srcLen = static_cast<int>(wide.size());
  std::string key(64 + 4 * wide.size(), '\0');
  // With LCMAP_SORTKEY the destination is bytes and its size is counted in bytes.
  int n = LCMapStringEx(L"pl-PL", kFlags, wide.data(), srcLen, reinterpret_cast<LPWSTR>(key.data()),
                        static_cast<int>(key.size()), nullptr, nullptr, 0);
  if (n == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    n = LCMapStringEx(L"pl-PL", kFlags, wide.data(), srcLen, nullptr, 0, nullptr, nullptr, 0);
    if (n > 0) {
      key.assign(static_cast<size_t>(n), '\0');
      n = LCMapStringEx(L"pl-PL", kFlags, wide.data(), srcLen, reinterpret_cast<LPWSTR>(key.data()), n,
                        nullptr, nullptr, 0);
    }
  }
  if (n <= 0) throw std::runtime_error("Windows: no Polish sort key (LCMapStringEx failed)");
  key.resize(static_cast<size_t>(n));
  if (!key.empty() && key.back() == '\0') key.pop_back();
  return key;
}

#else

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

// ICU's Polish sort key, without its final NUL.
std::string polishKey(std::string_view raw, TextKind kind) {
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
  key.resize(static_cast<size_t>(n));
  if (!key.empty() && key.back() == '\0') key.pop_back();
  return key;
}

#endif

}  // namespace

std::string listSortKey(std::string_view raw, TextKind kind) {
#ifdef _WIN32
  (void)kind;  // both kinds are Windows-1250 here
  std::string key = polishKey(raw);
#else
  std::string key = polishKey(raw, kind);
#endif
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
