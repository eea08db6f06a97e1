#include "text/codepage.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace borvantel::text {
namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openCp1250(bool stopOnUnmappable) {
  UErrorCode status = U_ZERO_ERROR;
  Converter conv(ucnv_open("windows-1250", &status));
  if (U_FAILURE(status)) throw std::runtime_error("ICU: no windows-1250 converter");
  if (stopOnUnmappable) {
    ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  }
  return conv;
}

// The 256-entry case tables, derived once from the code-page converter so that
// every letter of the page (Polish, Czech, ...) is covered, not only ASCII.
struct CaseTables {
  std::array<unsigned char, 256> lower{};
  std::array<unsigned char, 256> upper{};
  std::array<char16_t, 256> unicode{};

  CaseTables() {
    Converter conv = openCp1250(true);
    for (int b = 0; b < 256; ++b) {
      lower[b] = upper[b] = static_cast<unsigned char>(b);
      const char in = static_cast<char>(b);
      UChar out[4];
      UErrorCode status = U_ZERO_ERROR;
      const int32_t n = ucnv_toUChars(conv.get(), out, 4, &in, 1, &status);
      unicode[b] = (U_SUCCESS(status) && n == 1) ? out[0] : char16_t(0xFFFD);
    }
    for (int b = 0; b < 256; ++b) {
      const UChar32 c = unicode[b];
      if (c == 0xFFFD) continue;
      lower[b] = mapBack(conv.get(), u_tolower(c), static_cast<unsigned char>(b));
      upper[b] = mapBack(conv.get(), u_toupper(c), static_cast<unsigned char>(b));
    }
  }

  static unsigned char mapBack(UConverter* conv, UChar32 c, unsigned char fallback) {
    if (c > 0xFFFF) return fallback;
    const UChar in = static_cast<UChar>(c);
    char out[4];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(conv);
    const int32_t n = ucnv_fromUChars(conv, out, 4, &in, 1, &status);
    return (U_SUCCESS(status) && n == 1) ? static_cast<unsigned char>(out[0]) : fallback;
  }
};

const CaseTables& tables() {
  static const CaseTables t;
  return t;
}

}  // namespace

unsigned char foldByte(unsigned char c) noexcept { return tables().lower[c]; }
unsigned char upperByte(unsigned char c) noexcept { return tables().upper[c]; }

std::string toUpper(std::string_view s) {
  const auto& t = tables().upper;
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(t[static_cast<unsigned char>(ch)]);
  return out;
}

std::string toFolded(std::string_view s) {
  const auto& t = tables().lower;
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(t[static_cast<unsigned char>(ch)]);
  return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  const auto& t = tables().lower;
  for (size_t i = 0; i < a.size(); ++i) {
    if (t[static_cast<unsigned char>(a[i])] != t[static_cast<unsigned char>(b[i])]) return false;
  }
  return true;
}

bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) noexcept {
  return s.size() >= prefix.size() && equalsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoreCase(std::string_view s, std::string_view suffix) noexcept {
  return s.size() >= suffix.size() && equalsIgnoreCase(s.substr(s.size() - suffix.size()), suffix);
}

bool containsIgnoreCase(std::string_view haystack, std::string_view needle) noexcept {
  if (needle.empty()) return true;
  if (needle.size() > haystack.size()) return false;
  const auto& t = tables().lower;
  const unsigned char first = t[static_cast<unsigned char>(needle[0])];
  const std::string_view rest = needle.substr(1);
  const size_t last = haystack.size() - needle.size();
  for (size_t i = 0; i <= last; ++i) {
    if (t[static_cast<unsigned char>(haystack[i])] == first &&
        equalsIgnoreCase(haystack.substr(i + 1, rest.size()), rest)) {
      return true;
    }
  }
  return false;
}

int compareIgnoreCase(std::string_view a, std::string_view b) noexcept {
  const auto& t = tables().lower;
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = t[static_cast<unsigned char>(a[i])];
    const unsigned char y = t[static_cast<unsigned char>(b[i])];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string decodeCp1250(std::string_view bytes) {
  const auto& u = tables().unicode;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) {
    const char16_t c = u[static_cast<unsigned char>(ch)];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> encodeCp1250(std::string_view utf8) {
  if (!isValidUtf8(utf8)) return std::nullopt;
  Converter conv = openCp1250(true);
  UErrorCode status = U_ZERO_ERROR;
  std::u16string wide(utf8.size() + 1, u'\0');
  int32_t wideLen = 0;
  u_strFromUTF8(reinterpret_cast<UChar*>(wide.data()), static_cast<int32_t>(wide.size()), &wideLen,
                utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  std::string out(static_cast<size_t>(wideLen) * 2 + 1, '\0');
  const int32_t n = ucnv_fromUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()),
                                    reinterpret_cast<const UChar*>(wide.data()), wideLen, &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<size_t>(n));
  return out;
}

bool isValidUtf8(std::string_view s) noexcept {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) { ++i; continue; }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
    else return false;
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Reject overlong forms, surrogates and values past U+10FFFF.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += len;
  }
  return true;
}

std::string displayName(std::string_view raw) {
  return isValidUtf8(raw) ? std::string(raw) : decodeCp1250(raw);
}

}  // namespace borvantel::text
