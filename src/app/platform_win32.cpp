// The window on Windows.
#include "app/platform.h"

#include "text/codepage.h"

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

std::string toNativePath(const QString& path) {
  QString native = path;
  native.replace(QChar('/'), QChar('\\'));
  if (auto bytes = text::encodeCp1250(native.toStdString())) return *bytes;
  std::string shown;
  for (const QChar c : native) shown += text::encodeCp1250(QString(c).toStdString()).value_or("?");
  return shown;
}

}  // namespace borvantel::app
