// The window's side of the text rules: bytes of the core shown as QString,
// and chosen paths back to bytes.
#pragma once

#include "text/codepage.h"
#include "platform/os.h"

#include <QFile>
#include <QString>

#include <string>
#include <string_view>

namespace borvantel::app {

// A file name or path as the file system gives it: UTF-8 where valid,
// otherwise Windows-1250.
inline QString fromFileName(std::string_view raw) { return QString::fromStdString(text::displayName(raw)); }

// Windows-1250 text of the tool's files (category names).
inline QString fromCp1250(std::string_view bytes) { return QString::fromStdString(text::decodeCp1250(bytes)); }

// A path as the tool takes it: the file system's bytes on Linux; on Windows
// Windows-1250 with "\" (Qt gives "C:/"), "?" for a character the code page
// cannot hold (such a path then fails to open, with a message).
inline std::string toNativePath(const QString& path) {
#ifdef _WIN32
  QString native = path;
  native.replace(QChar('/'), QChar('\\'));
  if (auto bytes = text::encodeCp1250(native.toStdString())) return *bytes;
  std::string shown;
  for (const QChar c : native) shown += text::encodeCp1250(QString(c).toStdString()).value_or("?");
  return shown;
#else
  return QFile::encodeName(path).toStdString();
#endif
}

}  // namespace borvantel::app
