// The Polish collation by the system's own sort keys.
#include "platform/collation.h"

#include <windows.h>

#include <stdexcept>

namespace borvantel::platform {
namespace {

std::wstring wideOf(std::string_view utf8) {
  const int srcLen = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), srcLen, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), srcLen, wide.data(), n);
  return wide;
}

}  // namespace

std::string polishSortKey(std::string_view utf8) {
  const std::wstring wide = wideOf(utf8);
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

}  // namespace borvantel::platform
