#include "support/process.h"

#include "text/codepage.h"

#include <cstdlib>

#ifdef _WIN32
#include "platform/process.h"
#include "platform/win32.h"

#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <thread>

extern char** environ;
#endif

namespace borvantel::testing {

#ifdef _WIN32

namespace {

// What TerminateProcess leaves as the exit code, told apart from a real exit.
constexpr UINT kKilledCode = 0xDEAD;

std::wstring argumentText(const std::string& arg) {
  if (!text::isValidUtf8(arg)) return platform::win32::widen(arg);
  std::wstring out(arg.size(), L'\0');
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), out.data(),
                                      static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

// Quoted so that the child's runtime (CommandLineToArgvW's rules) splits the
// command line back into the same arguments.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++backslashes;
      ++i;
    }
    if (i == arg.size()) {
      line.append(backslashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    line += arg[i];
  }
  line += L'"';
}

// An inheritable handle for one standard stream of the child.
HANDLE streamHandle(const std::string& file, bool input, DWORD parentStream) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  if (input || !file.empty()) {
    const std::wstring path = file.empty() ? std::wstring(L"NUL") : platform::win32::systemPath(file);
    return ::CreateFileW(path.c_str(), input ? GENERIC_READ : GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         input ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  const HANDLE own = ::GetStdHandle(parentStream);
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (own == nullptr || own == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return INVALID_HANDLE_VALUE;
  }
  return copy;
}

}  // namespace

Process::Process(const std::vector<std::string>& args, const Redirects& redirects) {
  if (args.empty()) return;
  std::wstring line;
  for (const std::string& arg : args) appendQuoted(line, argumentText(arg));
  const HANDLE streams[3] = {streamHandle(redirects.in, true, STD_INPUT_HANDLE),
                             streamHandle(redirects.out, false, STD_OUTPUT_HANDLE),
                             streamHandle(redirects.err, false, STD_ERROR_HANDLE)};
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = streams[0];
  startup.hStdOutput = streams[1];
  startup.hStdError = streams[2];
  PROCESS_INFORMATION info{};
  const std::wstring program = argumentText(args[0]);
  // Wine now and then fails a start with ERROR_INTERNAL_ERROR just after
  // another process was ended; a moment later the same start succeeds.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
      ::CloseHandle(info.hThread);
      process_ = info.hProcess;
      break;
    }
    startError_ = ::GetLastError();
    if (startError_ != ERROR_INTERNAL_ERROR) break;
    ::Sleep(200);
  }
  for (const HANDLE h : streams) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
}

Process::~Process() {
  if (!process_) return;
  if (!ended_) {
    kill();
    wait();
  }
  ::CloseHandle(process_);
}

bool Process::started() const noexcept { return process_ != nullptr; }

bool Process::running() {
  if (!process_ || ended_) return false;
  return ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

int Process::wait() {
  if (!process_) return kKilled;
  if (!ended_) {
    ::WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    ended_ = true;
    status_ = killed_ && code == kKilledCode ? kKilled : static_cast<int>(code);
  }
  return status_;
}

bool Process::waitFor(std::chrono::milliseconds timeout) {
  if (!process_ || ended_) return true;
  if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return false;
  wait();
  return true;
}

void Process::kill() {
  if (process_ && !ended_ && ::TerminateProcess(process_, kKilledCode)) killed_ = true;
}

std::string selfPath() { return platform::executablePath(nullptr); }

std::vector<std::string> ownArguments(int, char**) {
  std::vector<std::string> out;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return out;
  for (int i = 0; i < count; ++i) {
    const std::wstring_view arg = wide[i];
    if (auto bytes = platform::win32::narrow(arg)) {
      out.push_back(std::move(*bytes));
      continue;
    }
    std::string utf8(arg.size() * 4, '\0');
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), utf8.data(),
                                        static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(n > 0 ? static_cast<size_t>(n) : 0);
    out.push_back(std::move(utf8));
  }
  ::LocalFree(wide);
  return out;
}

#else

Process::Process(const std::vector<std::string>& args, const Redirects& redirects) {
  if (args.empty()) return;
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, redirects.in.empty() ? "/dev/null" : redirects.in.c_str(), O_RDONLY, 0);
  if (!redirects.out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, redirects.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  if (!redirects.err.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, redirects.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  if (error == 0) {
    pid_ = pid;
  } else {
    startError_ = static_cast<unsigned long>(error);
  }
  posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
  if (pid_ > 0 && !ended_) {
    kill();
    wait();
  }
}

bool Process::started() const noexcept { return pid_ > 0; }

namespace {
int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : Process::kKilled; }
}  // namespace

bool Process::running() {
  if (pid_ <= 0 || ended_) return false;
  int raw = 0;
  if (::waitpid(pid_, &raw, WNOHANG) != pid_) return true;
  ended_ = true;
  status_ = statusOf(raw);
  return false;
}

int Process::wait() {
  if (pid_ <= 0) return kKilled;
  if (!ended_) {
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
    }
    ended_ = true;
    status_ = statusOf(raw);
  }
  return status_;
}

bool Process::waitFor(std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void Process::kill() {
  if (pid_ > 0 && !ended_) ::kill(pid_, SIGKILL);
}

std::string selfPath() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> ownArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

#endif

int runProcess(const std::vector<std::string>& args, const Redirects& redirects) {
  Process child(args, redirects);
  return child.started() ? child.wait() : -1;
}

ScopedVariable::ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  set(value);
}

ScopedVariable::~ScopedVariable() { set(old_); }

void ScopedVariable::set(const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name_, value ? value->c_str() : "");  // "" removes it
#else
  if (value) {
    ::setenv(name_, value->c_str(), 1);
  } else {
    ::unsetenv(name_);
  }
#endif
}

}  // namespace borvantel::testing
