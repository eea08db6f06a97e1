// borvantel-cli: the batch front end over the core, for scripts and whole-tree tests.
#include "cli/commands.h"
#include "run/program.h"
#include "text/files.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace {

// The arguments as UTF-8, whatever the system's "ANSI" code page: the same
// text the Linux build receives.
std::vector<std::string> utf8Arguments() {
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

}  // namespace
#endif

int main(int argc, char** argv) {
  using borvantel::cli::kUsage;
#ifdef _WIN32
  // Messages and lists are UTF-8, as on Linux; the console shows them so.
  ::SetConsoleOutputCP(CP_UTF8);
  // Lines end with "\n" as on Linux, so scripts read the same output on both.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  std::vector<std::string> args = utf8Arguments();
  (void)argc;
#else
  std::vector<std::string> args(argv + 1, argv + argc);
#endif
  // --help wins wherever it stands, also after a command.
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  const borvantel::run::ProgramOptions options = borvantel::run::readProgramOptions(args);
  if (!options.error.empty()) {
    std::cerr << "borvantel-cli: " << options.error << '\n' << kUsage;
    return 2;
  }
  const size_t i = options.next;
  if (i >= args.size()) {
    std::cerr << "borvantel-cli: brak polecenia\n" << kUsage;
    return 2;
  }
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  try {
    const std::string programDir = options.programDir.empty() ? borvantel::run::executableDirectory(argv[0])
                                                              : borvantel::cli::pathArgument(options.programDir);
    borvantel::cli::Context ctx{programDir, std::cout, std::cerr};
    return borvantel::cli::runCommand(ctx, command, rest);
  } catch (const borvantel::cli::UsageError& e) {
    std::cerr << "borvantel-cli: " << e.message << '\n' << kUsage;
    return 2;
  } catch (const borvantel::text::Failure& e) {
    std::cerr << "borvantel-cli: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "borvantel-cli: błąd: " << e.what() << '\n';
    return 1;
  }
}
