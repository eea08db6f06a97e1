#include "run/program.h"

#include "platform/process.h"
#include "text/files.h"

#include <string_view>

namespace borvantel::run {

std::string executableDirectory(const char* argv0) {
  return text::parentDirectory(platform::executablePath(argv0));
}

ProgramOptions readProgramOptions(const std::vector<std::string>& args) {
  static constexpr std::string_view kOption = "--program-dir";
  static constexpr const char* kMissing = "po --program-dir brakuje katalogu";
  ProgramOptions options;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == kOption) {
      if (i + 1 >= args.size() || args[i + 1].empty()) throw UsageError(kMissing);
      options.programDir = args[++i];
    } else if (arg.size() > kOption.size() && arg.compare(0, kOption.size(), kOption) == 0 &&
               arg[kOption.size()] == '=') {
      options.programDir = arg.substr(kOption.size() + 1);
      if (options.programDir.empty()) throw UsageError(kMissing);
    } else {
      break;
    }
  }
  options.next = i;
  return options;
}

}  // namespace borvantel::run
