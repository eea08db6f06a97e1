// How the system writes the name of a file: the separator between the parts
// of a path, where the root of a path ends, which names count as hidden, and
// what the bytes of a name are. The layers above ask here instead of asking
// which system they run on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace borvantel::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif
// Windows also takes "/" between the parts of a path.
constexpr bool isPathSeparator(char c) noexcept {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// Names are Windows-1250 bytes, as the files' text (Windows, whose names the
// seam turns into UTF-16 and back), rather than the file system's own bytes,
// UTF-8 where valid (Linux).
#ifdef _WIN32
inline constexpr bool kNamesAreCodePage = true;
#else
inline constexpr bool kNamesAreCodePage = false;
#endif

// Where the system has no hidden mark (Linux), a name beginning with "."
// stands for one; Windows marks hidden entries by an attribute.
#ifdef _WIN32
inline constexpr bool kDotMarksHidden = false;
#else
inline constexpr bool kDotMarksHidden = true;
#endif

// How many bytes of `path` its root takes: "/" (1), a drive "D:\" (3, or the
// 2 of a bare "D:"), "\" on the current drive (1); 0 for a relative path.
constexpr size_t rootLength(std::string_view path) noexcept {
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 ? 3 : 2;
#endif
  return !path.empty() && isPathSeparator(path[0]) ? 1 : 0;
}

// A directory's path without separators at its end; a root keeps its own
// ("/", "D:\"), and a bare drive "D:" (the drive's current directory) gets
// one, so that it names the drive's root.
std::string withoutTrailingSeparator(std::string_view dir);

// The absolute form of `path` by the system's rules, without "." or ".."
// parts (Windows: drive letters, "\\server\share", "/" for "\"), in `out`.
// -1 with errno when it cannot be had (EILSEQ: a part has no Windows-1250
// name); `out` then holds the path to name in a message.
int absolutePath(std::string_view path, std::string& out);

}  // namespace borvantel::platform
