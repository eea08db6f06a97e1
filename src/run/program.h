// Where the program finds "kategorie.txt" and "predef.txt": the directory of
// its executable, unless the command line names another with --program-dir.
// Both front ends read their options through here.
#pragma once

#include "text/files.h"

#include <string>
#include <vector>

namespace borvantel::run {

// Wrong use of a front end's command line: told with the usage text, exit
// status 2.
class UsageError : public text::Failure {
 public:
  using text::Failure::Failure;
};

// The directory of the running executable (from `argv0` when the system
// cannot tell).
std::string executableDirectory(const char* argv0);

struct ProgramOptions {
  std::string programDir;  // empty: the executable's directory
  size_t next = 0;         // index of the first argument after the options
};

// Reads the leading "--program-dir DIR" or "--program-dir=DIR" options of
// `args`. Throws UsageError for an option without its directory.
ProgramOptions readProgramOptions(const std::vector<std::string>& args);

}  // namespace borvantel::run
