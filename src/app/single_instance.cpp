#include "app/single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace borvantel::app {

SingleInstance::SingleInstance() : lock_(std::make_unique<QLockFile>(lockPath())) {
  // Only a lock whose owner is gone counts as stale, however old it is.
  lock_->setStaleLockTime(0);
}

QString SingleInstance::lockPath() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()) {
    return QDir(runtime).filePath("borvantel.lock");
  }
  return QDir(QDir::tempPath()).filePath(QString("borvantel-%1.lock").arg(::getuid()));
}

bool SingleInstance::acquire() { return lock_->tryLock(0); }

}  // namespace borvantel::app
