// Windows-1250 byte text: case mapping over the whole code page, and the
// conversions to and from UTF-8 that the front ends need for display and input.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace borvantel::text {

// Lower-case partner of a Windows-1250 byte (itself when it has none).
unsigned char foldByte(unsigned char c) noexcept;
// Upper-case partner of a Windows-1250 byte (itself when it has none).
unsigned char upperByte(unsigned char c) noexcept;

std::string toUpper(std::string_view s);
std::string toFolded(std::string_view s);

bool equalsIgnoreCase(std::string_view a, std::string_view b) noexcept;
bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) noexcept;
bool endsWithIgnoreCase(std::string_view s, std::string_view suffix) noexcept;
bool containsIgnoreCase(std::string_view haystack, std::string_view needle) noexcept;
// Three-way comparison of the case-folded bytes.
int compareIgnoreCase(std::string_view a, std::string_view b) noexcept;

// The character of a Windows-1250 byte; U+FFFD where the page defines none.
char16_t unicodeOfByte(unsigned char c) noexcept;
// Windows-1250 bytes to UTF-8 (every byte decodes to something).
std::string decodeCp1250(std::string_view bytes);
// UTF-8 to Windows-1250; nullopt when a character has no place in the code page
// or the input is not UTF-8. Invisible default-ignorable characters (zero-width
// space, direction marks, the byte order mark ...) are left out, not refused.
std::optional<std::string> encodeCp1250(std::string_view utf8);

// Text typed by the user (UTF-8) as Windows-1250 bytes. Throws Failure
// naming the first character the code page cannot hold: nothing typed is
// ever silently replaced.
std::string encodeTyped(std::string_view utf8);

bool isValidUtf8(std::string_view s) noexcept;
// How a file name is shown: UTF-8 where it is valid UTF-8, otherwise
// Windows-1250. On Windows file names are always Windows-1250 bytes, so there
// they are always decoded as Windows-1250.
std::string displayName(std::string_view raw);

}  // namespace borvantel::text
