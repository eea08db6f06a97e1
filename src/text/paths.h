// Paths of a run. Full paths are native ("/" on Linux, "\" on Windows); relative paths
// below the scenery directory always use "\" between components, in working
// files, lists and "predef.txt", and become native only to open a file.
#pragma once

#include <string>
#include <string_view>

namespace borvantel::text {

// The label shown for the scenery directory itself, as Windows-1250 bytes.
inline constexpr std::string_view kGlownyScenery = "G\xA3\xD3WNY SCENERY";

// The run-wide directory values, each ending with the native separator.
struct RunPaths {
  std::string sciezka_programu;  // home of "kategorie.txt" and "predef.txt"
  std::string sciezka_katalogu;  // the base directory, home of the working files

  static RunPaths make(std::string_view programDir, std::string_view baseDir);

  std::string programFile(std::string_view name) const { return sciezka_programu + std::string(name); }
  std::string workingFile(std::string_view name) const { return sciezka_katalogu + std::string(name); }
  // The scenery directory: the base directory's subdirectory named "scenery"
  // ignoring case (an exact "scenery" wins); without trailing separator.
  std::string sceneryRoot() const;
  // Length of sciezka_katalogu + "scenery" and a separator: what a full path loses to become relative.
  size_t relativeOffset() const { return sciezka_katalogu.size() + 8; }
};

// `dir` made absolute, without "." or ".." parts, ending with the separator.
// Throws FileError when it cannot be had (the working directory is gone, or
// on Windows a part has no Windows-1250 name).
std::string directoryWithSeparator(std::string_view dir);

// Relative path helpers ("\" separated).
std::string_view fileNameOf(std::string_view relative) noexcept;       // after the last "\"
std::string_view directoryPartOf(std::string_view relative) noexcept;  // up to and with the last "\"
// The directory label rule: the directory part, or kGlownyScenery when empty.
std::string directoryLabel(std::string_view relative);
// The target directory a label stands for: empty for the scenery directory.
std::string_view targetFromLabel(std::string_view label) noexcept;
// Whether `item` lies directly in `target` (empty: the scenery directory), ignoring case.
bool belongsToDirectory(std::string_view item, std::string_view target) noexcept;

// The full path of a relative path below `sceneryRoot` (see RunPaths::sceneryRoot).
std::string fullPath(std::string_view sceneryRoot, std::string_view relative);

std::string nativeToRelative(std::string_view native);
std::string relativeToNative(std::string_view relative);

// A relative path that may be opened: not empty, not absolute, no ".." part, no NUL.
bool isSafeRelative(std::string_view relative) noexcept;
// Whether a native relative path can stand as one field of a two-field record.
bool fitsRecordField(std::string_view nativeRelative) noexcept;
// Whether a text can stand on one line of a working file.
bool fitsOneLine(std::string_view text) noexcept;

}  // namespace borvantel::text
