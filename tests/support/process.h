// Test support: child processes on Linux and Windows alike, for running the
// command line tool and for running this test program again in a child mode
// that a test stops or kills half-way.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace borvantel::testing {

// Where a child's standard streams go. `in`: a file to read, "" for an empty
// input (the null device). `out`, `err`: files created or emptied, "" to
// share the parent's.
struct Redirects {
  std::string in;
  std::string out;
  std::string err;
};

// A child process. Arguments are bytes as on Linux; on Windows each one goes
// to the child as UTF-8 text when it is valid UTF-8 and as Windows-1250 (a
// path in the tool's form) otherwise.
class Process {
 public:
  // Starts args[0] with `args`; started() is false when it could not be.
  explicit Process(const std::vector<std::string>& args, const Redirects& redirects = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const noexcept;
  // Why it could not be started: the system's error code.
  unsigned long startError() const noexcept { return startError_; }
  // Whether the child is still running (false once it has ended).
  bool running();
  // Waits for the end: the exit status, or kKilled when it was killed.
  int wait();
  // Waits at most `timeout`; true when the child has ended (wait() then
  // answers at once).
  bool waitFor(std::chrono::milliseconds timeout);
  // Ends the child at once, as a crash or a power cut of the program would:
  // SIGKILL, TerminateProcess.
  void kill();

  static constexpr int kKilled = -1;

 private:
#ifdef _WIN32
  void* process_ = nullptr;
  bool killed_ = false;
#else
  int pid_ = -1;
#endif
  bool ended_ = false;
  int status_ = kKilled;
  unsigned long startError_ = 0;
};

// Runs `args` to its end: the exit status, or -1 when it could not be
// started or was killed.
int runProcess(const std::vector<std::string>& args, const Redirects& redirects = {});

// Sets an environment variable (or removes it, for nullopt) for this
// process and the children it starts, and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void set(const std::optional<std::string>& value);
  const char* name_;
  std::optional<std::string> old_;
};

// This program's own file, to start it again in a child mode.
std::string selfPath();

// The arguments of this program as the tool takes paths (see Process):
// Windows-1250 bytes where they fit, UTF-8 otherwise; on Linux argv itself.
std::vector<std::string> ownArguments(int argc, char** argv);

}  // namespace borvantel::testing
