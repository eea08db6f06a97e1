// The Linux side of the process.
#include "platform/process.h"

#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace borvantel::platform {

std::string executablePath(const char* argv0) {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) exe = std::filesystem::absolute(argv0 ? argv0 : "", ec);
  return exe.string();
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void useUtf8Output() {}

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool standardOutputShowsColour() {
  const char* term = std::getenv("TERM");
  return standardOutputIsTerminal() && !(term && std::string_view(term) == "dumb");
}

namespace {

bool isAbsolute(const char* path) { return path && path[0] == '/'; }

std::string homeDirectory() {
  const char* home = std::getenv("HOME");
  if (isAbsolute(home)) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      isAbsolute(found->pw_dir)) {
    return found->pw_dir;
  }
  return {};
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string userDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (isAbsolute(xdg)) return withoutTrailingSlashes(xdg);
  const std::string home = homeDirectory();
  if (home.empty()) return {};
  return withoutTrailingSlashes(home) + "/.local/share";
}

std::uint32_t processUser() { return ::geteuid(); }
std::uint32_t processGroup() { return ::getegid(); }

mode_t processUmask() {
  static const mode_t mask = [] {
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
      char line[128];
      unsigned value = 0;
      bool found = false;
      while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &value) == 1;
      std::fclose(status);
      if (found) return static_cast<mode_t>(value & 0777);
    }
    const mode_t old = ::umask(022);
    ::umask(old);
    return old;
  }();
  return mask;
}

std::uint64_t randomSeed() {
  std::uint64_t seed = 0;
  if (::getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) seed = 0;
  if (seed == 0) {
    thread_local char here;
    seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^ reinterpret_cast<std::uintptr_t>(&here);
  }
  return seed;
}

}  // namespace borvantel::platform
