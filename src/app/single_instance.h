// One copy of the window per user: a lock file in the user's runtime
// directory (XDG_RUNTIME_DIR), or in the temporary directory with the user's
// id in its name. A lock left by a copy that died is taken over. On Windows
// a named mutex of the user's session (the lock file only if it cannot be made).
#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace borvantel::app {

class SingleInstance {
 public:
  SingleInstance();
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  // False when another copy holds the lock.
  bool acquire();
  static QString lockPath();

 private:
  std::unique_ptr<QLockFile> lock_;
  void* session_ = nullptr;  // the system's lock, where it has one (see takeSessionLock)
};

}  // namespace borvantel::app
