// The window on Windows.
#include "app/platform.h"

#include "text/codepage.h"

#include <QCoreApplication>
#include <QStringList>

#include <windows.h>

namespace borvantel::app {

// The temporary directory is the user's own.
QString temporaryLockName() { return QStringLiteral("borvantel.lock"); }

SessionLock takeSessionLock(void*& handle) {
  if (!handle) handle = ::CreateMutexW(nullptr, FALSE, L"Local\\borvantel-single-instance");
  if (!handle) return SessionLock::Unavailable;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(handle);
    handle = nullptr;
    return SessionLock::HeldByAnother;
  }
  return SessionLock::Taken;
}

void releaseSessionLock(void* handle) noexcept {
  if (handle) ::CloseHandle(handle);
}

namespace {

std::string toCp1250(const QString& text) {
  if (auto bytes = text::encodeCp1250(text.toStdString())) return *bytes;
  std::string shown;
  for (const QChar c : text) shown += text::encodeCp1250(QString(c).toStdString()).value_or("?");
  return shown;
}

}  // namespace

std::string toNativePath(const QString& path) {
  QString native = path;
  native.replace(QChar('/'), QChar('\\'));
  return toCp1250(native);
}

// Qt's own arguments are gone from the list too: it reads the wide command
// line and leaves out what it took from argv.
std::vector<std::string> programArguments(int, char**) {
  const QStringList arguments = QCoreApplication::arguments();
  std::vector<std::string> out;
  for (qsizetype i = 1; i < arguments.size(); ++i) out.push_back(toCp1250(arguments[i]));
  return out;
}

}  // namespace borvantel::app
