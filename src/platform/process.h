// The running program as the system sees it: its file, its arguments and
// output, its user, its umask and a seed for names nobody can guess.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace borvantel::platform {

// This program's file; from `argv0` where the system cannot tell (Linux
// without /proc), empty where even that is unknown. Windows: a character of
// its path that Windows-1250 cannot hold is shown as "?".
std::string executablePath(const char* argv0);

// The program's arguments after its name, as UTF-8 text on Windows (read from
// the wide command line, whatever the "ANSI" code page) and as the bytes they
// are on Linux.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Standard output and error take UTF-8 with "\n" line ends, as on Linux, so
// that scripts read the same output on both systems (Windows: the console's
// code page and the streams' binary mode).
void useUtf8Output();

// Whether standard output goes to a terminal (a console on Windows) rather
// than to a pipe or a file.
bool standardOutputIsTerminal();
// Whether the terminal of standard output shows ANSI colour sequences,
// turned on where the system must be asked (the Windows console); false
// where standard output is no terminal or a dumb one.
bool standardOutputShowsColour();

// Where the user's own data files belong by the system's convention, without
// a separator at its end: Linux $XDG_DATA_HOME when it is an absolute path
// (the XDG rule ignores a relative one), else $HOME/.local/share (the home
// from the user database when HOME is unset or relative); Windows %APPDATA%.
// Empty when the system names none (or, on Windows, when Windows-1250 cannot
// hold its name). Nothing is created.
std::string userDataHome();

// The effective user and group of the process (0 where there are none).
std::uint32_t processUser();
std::uint32_t processGroup();

// The process's umask, read without changing it where the system allows
// (files are created on several threads at once); 0 where the system keeps
// no permission bits but the read-only mark (Windows).
mode_t processUmask();

// Random bits for seeding the names of temporary files: from the system, or
// where it gives none from the process and the calling thread; never 0.
std::uint64_t randomSeed();

}  // namespace borvantel::platform
