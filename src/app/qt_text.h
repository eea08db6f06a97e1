// The window's side of the text rules: bytes of the core shown as QString.
#pragma once

#include "text/codepage.h"

#include <QString>

#include <string>
#include <string_view>

namespace borvantel::app {

// A file name or path as the file system gives it: UTF-8 where valid,
// otherwise Windows-1250.
inline QString fromFileName(std::string_view raw) { return QString::fromStdString(text::displayName(raw)); }

// Windows-1250 text of the tool's files (category names).
inline QString fromCp1250(std::string_view bytes) { return QString::fromStdString(text::decodeCp1250(bytes)); }

}  // namespace borvantel::app
