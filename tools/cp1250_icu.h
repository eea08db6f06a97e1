// Windows-1250 as ICU sees it: the byte -> UTF-16 table and the lower and
// upper case tables mapped back into the page. The generator writes these
// into src/platform/cp1250_table.inc; the text tests derive them again on Linux
// to show the checked-in copy still matches ICU. Header-only and ICU-only:
// nothing in the program itself includes it.
#pragma once

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <array>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace borvantel::tools {

struct IcuConverterCloser {
  void operator()(UConverter* c) const noexcept { ucnv_close(c); }
};
using IcuConverter = std::unique_ptr<UConverter, IcuConverterCloser>;

// ICU's windows-1250 converter, stopping (not substituting) at a character
// the page cannot hold.
inline IcuConverter openIcuCp1250() {
  UErrorCode status = U_ZERO_ERROR;
  IcuConverter conv(ucnv_open("windows-1250", &status));
  if (U_FAILURE(status)) throw std::runtime_error("ICU: no windows-1250 converter");
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) throw std::runtime_error("ICU: cannot set the windows-1250 callback");
  return conv;
}

struct Cp1250Tables {
  std::array<char16_t, 256> unicode{};  // U+FFFD where ICU gives no single character
  std::array<unsigned char, 256> lower{};
  std::array<unsigned char, 256> upper{};
};

// ICU's encoding of one code point (not a surrogate): its bytes, nullopt where
// the converter stops at it. Some characters without a place in the page
// encode to no bytes at all: ICU leaves out default-ignorable ones.
inline std::optional<std::string> icuEncode(UConverter* conv, UChar32 c) {
  UChar in[2];
  int32_t len = 0;
  UBool error = false;
  U16_APPEND(in, len, 2, c, error);
  if (error) return std::nullopt;
  char out[8];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetFromUnicode(conv);
  const int32_t n = ucnv_fromUChars(conv, out, static_cast<int32_t>(sizeof out), in, len, &status);
  if (U_FAILURE(status)) return std::nullopt;
  return std::string(out, static_cast<size_t>(n));
}

struct CodePointRange {
  UChar32 first;
  UChar32 last;
};

// The code points that ICU's converter leaves out of its output instead of
// stopping at them, as ascending ranges.
inline std::vector<CodePointRange> icuLeftOut() {
  IcuConverter conv = openIcuCp1250();
  std::vector<CodePointRange> ranges;
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    if (U_IS_SURROGATE(c)) continue;
    const std::optional<std::string> bytes = icuEncode(conv.get(), c);
    if (!bytes || !bytes->empty()) continue;
    if (!ranges.empty() && ranges.back().last == c - 1) {
      ranges.back().last = c;
    } else {
      ranges.push_back({c, c});
    }
  }
  return ranges;
}

namespace detail {

// The byte for one BMP character, or the fallback where the page has none.
inline unsigned char icuByteOf(UConverter* conv, UChar32 c, unsigned char fallback) {
  if (c > 0xFFFF) return fallback;
  const UChar in = static_cast<UChar>(c);
  char out[4];
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetFromUnicode(conv);
  const int32_t n = ucnv_fromUChars(conv, out, 4, &in, 1, &status);
  return (U_SUCCESS(status) && n == 1) ? static_cast<unsigned char>(out[0]) : fallback;
}

}  // namespace detail

// A byte without a case partner in the page maps to itself.
inline Cp1250Tables deriveCp1250Tables() {
  Cp1250Tables t;
  IcuConverter conv = openIcuCp1250();
  for (int b = 0; b < 256; ++b) {
    t.lower[b] = t.upper[b] = static_cast<unsigned char>(b);
    const char in = static_cast<char>(b);
    UChar out[4];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(conv.get(), out, 4, &in, 1, &status);
    t.unicode[b] = (U_SUCCESS(status) && n == 1) ? out[0] : char16_t(0xFFFD);
  }
  for (int b = 0; b < 256; ++b) {
    const UChar32 c = t.unicode[b];
    if (c == 0xFFFD) continue;
    t.lower[b] = detail::icuByteOf(conv.get(), u_tolower(c), static_cast<unsigned char>(b));
    t.upper[b] = detail::icuByteOf(conv.get(), u_toupper(c), static_cast<unsigned char>(b));
  }
  return t;
}

}  // namespace borvantel::tools
