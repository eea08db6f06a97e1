#include "text/codepage.h"

#include "platform/names.h"
#include "text/files.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace borvantel::text {
namespace {

// The page's characters and its case tables, generated from ICU's
// windows-1250 converter and checked in, so that every platform (Windows has
// no ICU) maps and folds the same bytes the same way. Case covers every letter
// of the page (Polish, Czech, ...), not only ASCII.
#include "platform/cp1250_table.inc"

constexpr char16_t kNoCharacter = 0xFFFD;

// Character -> byte, sorted by character; where two bytes gave the same
// character the lower byte comes first and wins. Built at compile time from
// the 256 values, so encoding needs no start-up work.
struct ReverseEntry {
  char16_t unicode;
  unsigned char byte;
};

constexpr std::array<ReverseEntry, 256> kReverse = [] {
  std::array<ReverseEntry, 256> r{};
  for (int b = 0; b < 256; ++b) r[b] = {kCp1250Unicode[b], static_cast<unsigned char>(b)};
  std::sort(r.begin(), r.end(), [](const ReverseEntry& x, const ReverseEntry& y) {
    return x.unicode != y.unicode ? x.unicode < y.unicode : x.byte < y.byte;
  });
  return r;
}();

// The byte for a character, or -1 where the page has none. U+FFFD stands for
// "no character" in the table and is never itself a character of the page.
int byteOf(char32_t c) noexcept {
  if (c > 0xFFFF || c == kNoCharacter) return -1;
  const auto it = std::lower_bound(kReverse.begin(), kReverse.end(), c,
                                   [](const ReverseEntry& e, char32_t v) { return e.unicode < v; });
  return (it != kReverse.end() && it->unicode == c) ? it->byte : -1;
}

// Invisible characters (zero-width space, direction marks, variation
// selectors, the byte order mark ...) that encoding drops rather than
// refuses, as ICU's converter did when the program encoded through it.
bool leftOut(char32_t c) noexcept {
  return std::any_of(std::begin(kCp1250LeftOut), std::end(kCp1250LeftOut),
                     [c](const char32_t (&range)[2]) { return c >= range[0] && c <= range[1]; });
}

// The code point that starts at s[i], moving i past it; nullopt (i left as it
// was) where s is not UTF-8 there: a bad lead or continuation byte, a
// sequence cut short, an overlong form, a surrogate, a value past U+10FFFF.
std::optional<char32_t> nextCodePoint(std::string_view s, size_t& i) noexcept {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c;
  }
  size_t len;
  char32_t cp;
  if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
  else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
  else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
  else return std::nullopt;
  if (len > s.size() - i) return std::nullopt;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
      cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return std::nullopt;
  }
  i += len;
  return cp;
}

}  // namespace

char16_t unicodeOfByte(unsigned char c) noexcept { return kCp1250Unicode[c]; }

unsigned char foldByte(unsigned char c) noexcept { return kCp1250Lower[c]; }
unsigned char upperByte(unsigned char c) noexcept { return kCp1250Upper[c]; }

std::string toUpper(std::string_view s) {
  const auto& t = kCp1250Upper;
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(t[static_cast<unsigned char>(ch)]);
  return out;
}

std::string toFolded(std::string_view s) {
  const auto& t = kCp1250Lower;
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(t[static_cast<unsigned char>(ch)]);
  return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  const auto& t = kCp1250Lower;
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
  const auto& t = kCp1250Lower;
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
  const auto& t = kCp1250Lower;
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
  const auto& u = kCp1250Unicode;
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
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const std::optional<char32_t> c = nextCodePoint(utf8, i);
    if (!c) return std::nullopt;
    const int b = byteOf(*c);
    if (b >= 0) {
      out.push_back(static_cast<char>(b));
    } else if (!leftOut(*c)) {
      return std::nullopt;
    }
  }
  return out;
}

std::string encodeTyped(std::string_view utf8) {
  if (auto encoded = encodeCp1250(utf8)) return std::move(*encoded);
  // Typed text is UTF-8 on every system (displayName would take it for
  // Windows-1250 where names are).
  const std::string typed = isValidUtf8(utf8) ? std::string(utf8) : decodeCp1250(utf8);
  // Name the first character that has no place in the code page.
  for (size_t i = 0; i < utf8.size();) {
    const size_t at = i;
    const std::optional<char32_t> c = nextCodePoint(utf8, i);
    if (c && (byteOf(*c) >= 0 || leftOut(*c))) continue;
    const std::string shown = c ? std::string(utf8.substr(at, i - at)) : std::string("\xEF\xBF\xBD");
    throw Failure("Znaku „" + shown + "” w „" + typed +
                  "” nie da się zapisać w kodowaniu Windows-1250; usuń go lub zastąp innym.");
  }
  throw Failure("Tekstu „" + typed + "” nie da się zapisać w kodowaniu Windows-1250.");
}

bool isValidUtf8(std::string_view s) noexcept {
  for (size_t i = 0; i < s.size();) {
    if (!nextCodePoint(s, i)) return false;
  }
  return true;
}

std::string displayName(std::string_view raw) {
  // Where names are Windows-1250 (Windows), a name whose bytes happen to form
  // UTF-8 ("Ĺ‚", whose bytes are those of a UTF-8 "ł") is still Windows-1250.
  if (!platform::kNamesAreCodePage && isValidUtf8(raw)) return std::string(raw);
  return decodeCp1250(raw);
}

}  // namespace borvantel::text
