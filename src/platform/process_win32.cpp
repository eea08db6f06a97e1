// The Windows side of the process.
#include "platform/process.h"

#include "platform/win32.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <shellapi.h>
#include <stdlib.h>

#include <cstdio>

namespace borvantel::platform {

std::string executablePath(const char*) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return win32::narrowShown(std::wstring_view(buffer.data(), n));
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> commandLineArguments(int, char**) {
  std::vector<std::string> out;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return out;
  for (int i = 1; i < count; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(n > 0 ? static_cast<size_t>(n) : 1, '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), n, nullptr, nullptr);
    arg.resize(arg.size() - 1);  // the terminating NUL
    out.push_back(std::move(arg));
  }
  ::LocalFree(wide);
  return out;
}

void useUtf8Output() {
  ::SetConsoleOutputCP(CP_UTF8);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool standardOutputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool standardOutputShowsColour() {
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
  constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(out, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string userDataHome() {
  const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  const DWORD written = ::GetEnvironmentVariableW(L"APPDATA", value.data(), n);
  if (written == 0 || written >= n) return {};
  value.resize(written);
  while (value.size() > 3 && (value.back() == L'\\' || value.back() == L'/')) value.pop_back();
  // A name the tool's paths cannot hold is no place at all: the caller says so.
  return win32::narrow(value).value_or(std::string());
}

std::uint32_t processUser() { return 0; }
std::uint32_t processGroup() { return 0; }

mode_t processUmask() { return 0; }

std::uint64_t randomSeed() {
  unsigned int high = 0;
  unsigned int low = 0;
  std::uint64_t seed = 0;
  if (::rand_s(&high) == 0 && ::rand_s(&low) == 0) seed = std::uint64_t{high} << 32 | low;
  if (seed == 0) {
    thread_local char here;
    seed = static_cast<std::uint64_t>(::_getpid()) * 0x9E3779B97F4A7C15ull ^ reinterpret_cast<std::uintptr_t>(&here);
  }
  return seed;
}

}  // namespace borvantel::platform
