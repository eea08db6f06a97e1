// The commands of borvantel-cli. Arguments and output are UTF-8; the files
// stay Windows-1250 bytes.
#pragma once

#include "text/paths.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace borvantel::cli {

// Wrong use of the command line: exit status 2 with the usage text.
struct UsageError {
  std::string message;
};

struct Context {
  std::string programDir;
  std::ostream& out;
  std::ostream& err;
};

// A path given on the command line as the tool's own bytes: as given on Linux,
// Windows-1250 on Windows (throws text::Failure for a character it cannot hold).
std::string pathArgument(const std::string& arg);

// Runs one command; returns the exit status. Throws UsageError or text::Failure.
int runCommand(const Context& ctx, const std::string& command, const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace borvantel::cli
