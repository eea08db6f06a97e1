// The program as both front ends start it: its options, its version, and
// where it finds "kategorie.txt" and "predef.txt" (the program files).
//
// Errors: wrong use of the command line throws UsageError; a program
// directory that cannot be had or made throws text::Failure (a FileError
// where a file is named), with a message that names the directory.
#pragma once

#include "text/files.h"

#include <string>
#include <string_view>
#include <vector>

namespace borvantel::run {

// Wrong use of a front end's command line: told with the usage text, exit
// status 2.
class UsageError : public text::Failure {
 public:
  using text::Failure::Failure;
};

// The version of the build ("0.1"), the project's one version.
const char* version();
// What --version prints: "PROGRAM VERSION" and a line end.
std::string versionText(std::string_view program);

// What a command line asks for before anything else: --help or -h, or
// --version, wherever it stands (the first of them wins).
enum class InfoRequest { None, Help, Version };
InfoRequest infoRequest(const std::vector<std::string>& args);

// The directory of the running executable (from `argv0` when the system
// cannot tell).
std::string executableDirectory(const char* argv0);

struct ProgramOptions {
  std::string programDir;  // empty: chosen by the rule below
  size_t next = 0;         // index of the first argument after the options
};

// Reads the leading "--program-dir DIR" or "--program-dir=DIR" options of
// `args`. Throws UsageError for an option without its directory.
ProgramOptions readProgramOptions(const std::vector<std::string>& args);

// Where the program files are, by one rule for both programs:
//   1. the directory named by --program-dir;
//   2. otherwise the executable's own directory when it holds kategorie.txt
//      (the build tree, the Windows zip, a copy carried around);
//   3. otherwise "borvantel" in the user's data directory ($XDG_DATA_HOME,
//      by default ~/.local/share, on Linux; %APPDATA% on Windows), made on
//      first use and given each program file it lacks from the installed
//      defaults: share/borvantel beside the executable's directory
//      (/usr/share/borvantel for /usr/bin).
enum class ProgramDirSource { Option, BesideExecutable, UserData };

struct ProgramDirectory {
  std::string path;
  ProgramDirSource source = ProgramDirSource::Option;
  std::string defaults;  // UserData: where missing program files come from
};

// What the rule looks at, apart from the command line.
struct ProgramPlaces {
  std::string executableDir;
  std::string userDataHome;  // empty: the system names none
};
// The places of this process (its executable, its user's data directory).
ProgramPlaces systemProgramPlaces(const char* argv0);

// Chooses by the rule; creates nothing. Throws text::Failure when the rule
// comes to the user's data directory and the system names none.
ProgramDirectory chooseProgramDirectory(const std::string& option, const ProgramPlaces& places);

// For the user's data directory: makes it (and its missing parents, private
// to the user) and copies each program file it lacks from the defaults,
// whole or not at all; a file already there is never replaced. Returns the
// names of the files copied. Does nothing for the other sources. Throws
// text::Failure naming the directory (or the file) and the reason.
std::vector<std::string> prepareProgramDirectory(const ProgramDirectory& dir);

// A line for --help that says which directory is used and why (UTF-8).
std::string describeProgramDirectory(const ProgramDirectory& dir);
// The same for the directory the rule would choose, or the reason why none
// can be had; `option` is --program-dir's directory (empty: not given).
std::string programDirectoryHelp(const std::string& option, const ProgramPlaces& places);
// The note for the user once files were copied (UTF-8); empty when none were.
std::string seededNote(const ProgramDirectory& dir, const std::vector<std::string>& copied);

}  // namespace borvantel::run
