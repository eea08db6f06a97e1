#include "app/single_instance.h"

#include "app/platform.h"

#include <QDir>
#include <QFileInfo>

namespace borvantel::app {

SingleInstance::SingleInstance() : lock_(std::make_unique<QLockFile>(lockPath())) {
  // Only a lock whose owner is gone counts as stale, however old it is.
  lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() { releaseSessionLock(session_); }

QString SingleInstance::lockPath() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()) {
    return QDir(runtime).filePath("borvantel.lock");
  }
  return QDir(QDir::tempPath()).filePath(temporaryLockName());
}

bool SingleInstance::acquire() {
  switch (takeSessionLock(session_)) {
    case SessionLock::Taken: return true;
    case SessionLock::HeldByAnother: return false;
    case SessionLock::Unavailable: break;
  }
  return lock_->tryLock(0);
}

}  // namespace borvantel::app
