// The commands of borvantel-cli. Arguments and output are UTF-8; the files
// stay Windows-1250 bytes.
//
// Errors: a command that fails or refuses throws text::Failure, wrong use of
// the command line run::UsageError (one of them); main turns the first into
// exit status 1, the second into 2 with the usage text, each with its message
// on standard error.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace borvantel::cli {

struct Context {
  std::string programDir;
  std::ostream& out;
  std::ostream& err;
};

// A path given on the command line as the tool's own bytes: as given on Linux,
// Windows-1250 on Windows (throws text::Failure for a character it cannot hold).
std::string pathArgument(const std::string& arg);

// The exit status of a check that ran and found something to report (0 is
// none; 1 and 2 are a failure and wrong usage, as for every command).
inline constexpr int kFindings = 3;

// Runs one command; returns the exit status.
int runCommand(const Context& ctx, const std::string& command, const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace borvantel::cli
