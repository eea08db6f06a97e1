// The text of the preview: the first lines of an include file, joined by
// CR LF, as Windows-1250 bytes. Reading stops at the last line shown, so a
// file of gigabytes opens as fast as a small one.
//
// Errors, for the preview layer: a file that cannot be shown is thrown as
// text::Failure (text::FileError where reading it failed); the layout itself
// cannot fail.
#pragma once

#include <cstddef>
#include <string>

namespace borvantel::preview {

inline constexpr size_t kPreviewLines = 400;
// Bytes read at most: a file without line ends shows its beginning only.
inline constexpr size_t kPreviewBytes = size_t{16} << 20;

// The first `maxLines` lines of the file (lines end at CR LF, a lone CR or a
// lone LF), joined by CR LF, without a line end after the last. Throws
// text::FileError when the file cannot be opened or read, and text::Failure
// when it has no line at all (shorter than 2 bytes).
std::string previewText(const std::string& path, size_t maxLines = kPreviewLines, size_t maxBytes = kPreviewBytes);

}  // namespace borvantel::preview
