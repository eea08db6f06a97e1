// What the window does differently on Linux and on Windows: one file for
// each system (platform_posix.cpp, platform_win32.cpp), chosen by the build,
// so that the rest of the window reads the same on both.
#pragma once

#include <QString>

#include <string>
#include <vector>

namespace borvantel::app {

// The name of the lock file that keeps one copy per user when the user has no
// runtime directory: with the user's id where users share the temporary
// directory (Linux), plain where it is the user's own (Windows).
QString temporaryLockName();

// One copy per logged-on user by the system's own means where it has them:
// Windows' named mutex of the session, released by the system however the
// copy ends. Unavailable: the system has none, or it could not be made (the
// lock file then decides).
enum class SessionLock { Taken, HeldByAnother, Unavailable };
// Takes the lock into `handle` (kept until releaseSessionLock).
SessionLock takeSessionLock(void*& handle);
void releaseSessionLock(void* handle) noexcept;

// A path Qt gives, as the tool takes it: the file system's bytes on Linux; on
// Windows Windows-1250 with "\" (Qt gives "C:/"), "?" for a character the code
// page cannot hold (such a path then fails to open, with a message).
std::string toNativePath(const QString& path);

// The program's arguments once Qt has taken its own (-platform ...), as the
// tool takes them: argv's bytes on Linux (a directory name need not be valid
// UTF-8); on Windows the wide command line in Windows-1250, whatever the
// system's ANSI code page ("?" for a character Windows-1250 cannot hold).
// Call after the QApplication exists.
std::vector<std::string> programArguments(int argc, char** argv);

}  // namespace borvantel::app
