// The window on Linux.
#include "app/platform.h"

#include <QFile>

#include <unistd.h>

namespace borvantel::app {

QString temporaryLockName() { return QString("borvantel-%1.lock").arg(::getuid()); }

SessionLock takeSessionLock(void*&) { return SessionLock::Unavailable; }

void releaseSessionLock(void*) noexcept {}

std::string toNativePath(const QString& path) { return QFile::encodeName(path).toStdString(); }

std::vector<std::string> programArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

}  // namespace borvantel::app
