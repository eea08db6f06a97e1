// Windows helpers below the seam: the tool's paths are Windows-1250 bytes, the
// system's are UTF-16; errors become errno values so that every message is
// made in one place for both systems.
#pragma once

#ifdef _WIN32

#include <optional>
#include <string>
#include <string_view>

namespace borvantel::platform::win32 {

// Windows-1250 bytes as UTF-16 (every byte has a character).
std::wstring widen(std::string_view bytes);
// UTF-16 as Windows-1250 bytes; nullopt when a character has no place there.
std::optional<std::string> narrow(std::wstring_view text);
// The same, "?" standing for each character without a place (for messages).
std::string narrowShown(std::wstring_view text);

// A path for the wide file calls: "/" becomes "\", and an absolute path
// without "." or ".." parts gets the "\\?\" prefix that lifts the 260
// character limit.
std::wstring systemPath(std::string_view path);

// The errno value for a Windows error code.
int errnoOf(unsigned long error);
// Sets errno from GetLastError() and returns -1.
int failed();

}  // namespace borvantel::platform::win32

#endif
