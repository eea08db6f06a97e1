// The system's Polish collation: ICU's on Linux, Windows' own sort keys on
// Windows (one file each, chosen by the build).
#pragma once

#include <string>
#include <string_view>

namespace borvantel::platform {

// The Polish sort key of a UTF-8 text, case ignored and accents counted (ą
// after a), without its final NUL; comparing keys byte by byte orders the
// texts. The two systems agree on letters, digits and case; the order among
// punctuation marks and among accents foreign to Polish (ě, ë) may differ.
// Throws std::runtime_error where the system has no Polish collation at all.
std::string polishSortKey(std::string_view utf8);

}  // namespace borvantel::platform
