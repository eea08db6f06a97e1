// The window's side of the text rules: bytes of the core shown as QString,
// typed or chosen paths back to bytes, and design geometry in twips.
#pragma once

#include "text/codepage.h"

#include <QFile>
#include <QString>
#include <QtMath>

#include <string>
#include <string_view>

namespace borvantel::app {

// A file name or path as the file system gives it: UTF-8 where valid,
// otherwise Windows-1250.
inline QString fromFileName(std::string_view raw) { return QString::fromStdString(text::displayName(raw)); }

// Windows-1250 text of the tool's files (category names).
inline QString fromCp1250(std::string_view bytes) { return QString::fromStdString(text::decodeCp1250(bytes)); }

// A path as the file system takes it.
inline std::string toNativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Design geometry is in twips (1/1440 inch): 15 twips per pixel at 96 DPI.
inline int twipsToPixels(int twips, qreal logicalDpi) { return qRound(twips * logicalDpi / 1440.0); }

}  // namespace borvantel::app
