// borvantel-cli: the batch front end over the core, for scripts and whole-tree tests.
#include "cli/commands.h"
#include "platform/process.h"
#include "run/program.h"
#include "text/files.h"

#include <cerrno>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  using borvantel::cli::kUsage;
  // Messages and lists are UTF-8 with "\n" line ends on both systems, and
  // so are the arguments, whatever the console's code page.
  borvantel::platform::useUtf8Output();
  const std::vector<std::string> args = borvantel::platform::commandLineArguments(argc, argv);
  // --help wins wherever it stands, also after a command.
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
  }
  try {
    const borvantel::run::ProgramOptions options = borvantel::run::readProgramOptions(args);
    const size_t i = options.next;
    if (i >= args.size()) throw borvantel::run::UsageError("brak polecenia");
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    const std::string programDir = options.programDir.empty() ? borvantel::run::executableDirectory(argv[0])
                                                              : borvantel::cli::pathArgument(options.programDir);
    borvantel::cli::Context ctx{programDir, std::cout, std::cerr};
    const int status = borvantel::cli::runCommand(ctx, args[i], rest);
    // A list cut short (a full disk, say) is a failure, not a success.
    errno = 0;
    if (!std::cout.flush()) {
      throw borvantel::text::Failure("Nie udało się wypisać wyniku na standardowe wyjście" +
                                     (errno ? " (" + borvantel::text::reasonText(errno) + ")." : std::string(".")));
    }
    return status;
  } catch (const borvantel::run::UsageError& e) {
    std::cerr << "borvantel-cli: " << e.what() << '\n' << kUsage;
    return 2;
  } catch (const borvantel::text::Failure& e) {
    std::cerr << "borvantel-cli: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "borvantel-cli: błąd: " << e.what() << '\n';
    return 1;
  }
}
