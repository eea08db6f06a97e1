#include "app/single_instance.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <QDir>
#include <QFileInfo>

namespace borvantel::app {

SingleInstance::SingleInstance() : lock_(std::make_unique<QLockFile>(lockPath())) {
  // Only a lock whose owner is gone counts as stale, however old it is.
  lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
#ifdef _WIN32
  if (mutex_) ::CloseHandle(mutex_);
#endif
}

QString SingleInstance::lockPath() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()) {
    return QDir(runtime).filePath("borvantel.lock");
  }
#ifdef _WIN32
  return QDir(QDir::tempPath()).filePath("borvantel.lock");  // the temporary directory is the user's own
#else
  return QDir(QDir::tempPath()).filePath(QString("borvantel-%1.lock").arg(::getuid()));
#endif
}

bool SingleInstance::acquire() {
#ifdef _WIN32
  // A named mutex in the session's namespace: one copy per logged-on user,
  // released by the system however the copy ends.
  if (!mutex_) mutex_ = ::CreateMutexW(nullptr, FALSE, L"Local\\borvantel-single-instance");
  if (mutex_ && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex_);
    mutex_ = nullptr;
    return false;
  }
  if (mutex_) return true;
#endif
  return lock_->tryLock(0);
}

}  // namespace borvantel::app
