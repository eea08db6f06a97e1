// borvantel-cli: the batch front end over the core, for scripts and whole-tree tests.
#include "cli/commands.h"
#include "text/files.h"

#include <unistd.h>

#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string executableDirectory(const char* argv0) {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) exe = std::filesystem::absolute(argv0, ec);
  return exe.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  using borvantel::cli::kUsage;
  std::vector<std::string> args(argv + 1, argv + argc);
  // --help wins wherever it stands, also after a command.
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  std::string programDir;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--program-dir") {
      if (i + 1 >= args.size()) {
        std::cerr << "borvantel-cli: po --program-dir brakuje katalogu\n" << kUsage;
        return 2;
      }
      programDir = args[++i];
    } else if (args[i].rfind("--program-dir=", 0) == 0) {
      programDir = args[i].substr(std::strlen("--program-dir="));
    } else {
      break;
    }
  }
  if (i >= args.size()) {
    std::cerr << "borvantel-cli: brak polecenia\n" << kUsage;
    return 2;
  }
  if (programDir.empty()) programDir = executableDirectory(argv[0]);
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  borvantel::cli::Context ctx{programDir, std::cout, std::cerr};
  try {
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
