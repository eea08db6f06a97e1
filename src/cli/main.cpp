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

using namespace borvantel;

namespace {

// The option's directory as the tool's bytes; empty when none is given.
std::string programDirOption(const run::ProgramOptions& options) {
  return options.programDir.empty() ? std::string() : cli::pathArgument(options.programDir);
}

// The usage, and which program directory the same command line would use.
void printHelp(const std::vector<std::string>& args, const char* argv0) {
  std::cout << cli::kUsage << '\n';
  std::string option;
  try {
    option = programDirOption(run::readProgramOptions(args));
  } catch (const text::Failure&) {  // "--program-dir" without its directory: as if not given
  }
  std::cout << run::programDirectoryHelp(option, run::systemProgramPlaces(argv0)) << '\n';
}

// The program directory chosen by the rule, made and seeded on first use.
std::string programDirectory(const run::ProgramOptions& options, const char* argv0) {
  const run::ProgramDirectory dir =
      run::chooseProgramDirectory(programDirOption(options), run::systemProgramPlaces(argv0));
  const std::string note = run::seededNote(dir, run::prepareProgramDirectory(dir));
  if (!note.empty()) std::cerr << "borvantel-cli: " << note << '\n';
  return dir.path;
}

}  // namespace

int main(int argc, char** argv) {
  // Messages and lists are UTF-8 with "\n" line ends on both systems, and
  // so are the arguments, whatever the console's code page.
  platform::useUtf8Output();
  const std::vector<std::string> args = platform::commandLineArguments(argc, argv);
  // --help and --version win wherever they stand, also after a command.
  switch (run::infoRequest(args)) {
    case run::InfoRequest::Help: printHelp(args, argv[0]); return 0;
    case run::InfoRequest::Version: std::cout << run::versionText("borvantel-cli"); return 0;
    case run::InfoRequest::None: break;
  }
  try {
    const run::ProgramOptions options = run::readProgramOptions(args);
    const size_t i = options.next;
    if (i >= args.size()) throw run::UsageError("brak polecenia");
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    cli::Context ctx{programDirectory(options, argv[0]), std::cout, std::cerr};
    const int status = cli::runCommand(ctx, args[i], rest);
    // A list cut short (a full disk, say) is a failure, not a success.
    errno = 0;
    if (!std::cout.flush()) {
      throw text::Failure("Nie udało się wypisać wyniku na standardowe wyjście" +
                          (errno ? " (" + text::reasonText(errno) + ")." : std::string(".")));
    }
    return status;
  } catch (const run::UsageError& e) {
    std::cerr << "borvantel-cli: " << e.what() << '\n' << cli::kUsage;
    return 2;
  } catch (const text::Failure& e) {
    std::cerr << "borvantel-cli: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "borvantel-cli: błąd: " << e.what() << '\n';
    return 1;
  }
}
