#include "run/program.h"

#include "platform/names.h"
#include "platform/os.h"
#include "platform/process.h"
#include "text/files.h"
#include "text/working_files.h"
#include "text/file_calls.h"

#include <cerrno>
#include <string_view>

#ifndef BORVANTEL_VERSION
#error "BORVANTEL_VERSION comes from the project's version in CMake"
#endif

namespace borvantel::run {

const char* version() { return BORVANTEL_VERSION; }

std::string versionText(std::string_view program) { return std::string(program) + ' ' + version() + '\n'; }

InfoRequest infoRequest(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") return InfoRequest::Help;
    if (arg == "--version") return InfoRequest::Version;
  }
  return InfoRequest::None;
}

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

namespace {

constexpr std::string_view kProgramFiles[] = {text::kKategorie, text::kPredef};

std::string joined(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (path.empty() || !platform::isPathSeparator(path.back())) path += platform::kPathSeparator;
  return path.append(name);
}

bool isRegularFile(const std::string& path) {
  const auto st = text::statQuietly(path);
  return st && st->isRegular();
}

bool isDirectory(const std::string& path) {
  const auto st = text::statQuietly(path);
  return st && st->isDirectory();
}

[[noreturn]] void cannotMake(const std::string& dir, const std::string& part, int err) {
  std::string message = "Nie można utworzyć katalogu plików programu " + text::quotedPath(dir) + ": " +
                        text::reasonText(err);
  if (part != dir) message += " (" + text::quotedPath(part) + ")";
  throw text::Failure(message + '.');
}

// Makes `dir` and each missing parent, private to the user as the XDG rule
// asks of a data directory. A directory made meanwhile by another copy of
// the program is as good as one made here.
void makeDirectories(const std::string& dir) {
  std::vector<std::string> missing;
  for (std::string part = dir;; part = text::parentDirectory(part)) {
    try {
      if (!text::statOf(part).isDirectory()) cannotMake(dir, part, ENOTDIR);
      break;
    } catch (const text::FileError& e) {
      if (e.error() != ENOENT) cannotMake(dir, part, e.error());
    }
    missing.push_back(part);
    if (text::parentDirectory(part) == part) break;
  }
  for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
    try {
      text::makeDirectory(*part, 0700);
    } catch (const text::FileError& e) {
      if (e.error() == EEXIST && isDirectory(*part)) continue;
      cannotMake(dir, *part, e.error() == EEXIST ? ENOTDIR : e.error());
    }
  }
}

}  // namespace

ProgramPlaces systemProgramPlaces(const char* argv0) {
  return ProgramPlaces{executableDirectory(argv0), platform::userDataHome()};
}

ProgramDirectory chooseProgramDirectory(const std::string& option, const ProgramPlaces& places) {
  if (!option.empty()) return ProgramDirectory{option, ProgramDirSource::Option, {}};
  if (isRegularFile(joined(places.executableDir, text::kKategorie))) {
    return ProgramDirectory{places.executableDir, ProgramDirSource::BesideExecutable, {}};
  }
  if (places.userDataHome.empty()) {
    throw text::Failure("Nie wiadomo, gdzie trzymać pliki programu (kategorie.txt, predef.txt): system nie "
                        "podaje katalogu danych użytkownika. Wskaż katalog opcją --program-dir.");
  }
  const std::string prefix = text::parentDirectory(places.executableDir);
  return ProgramDirectory{joined(places.userDataHome, "borvantel"), ProgramDirSource::UserData,
                          joined(joined(prefix, "share"), "borvantel")};
}

std::vector<std::string> prepareProgramDirectory(const ProgramDirectory& dir) {
  std::vector<std::string> copied;
  if (dir.source != ProgramDirSource::UserData) return copied;
  makeDirectories(dir.path);
  for (std::string_view name : kProgramFiles) {
    const std::string target = joined(dir.path, name);
    const std::string source = joined(dir.defaults, name);
    // The user's own file, whatever it holds, stays as it is.
    if (text::fileSize(target) || !text::fileSize(source)) continue;
    if (text::writeNewFile(target, text::readWholeFile(source))) copied.emplace_back(name);
  }
  return copied;
}

std::string describeProgramDirectory(const ProgramDirectory& dir) {
  std::string line = "Pliki programu (kategorie.txt, predef.txt): " + text::quotedPath(dir.path);
  switch (dir.source) {
    case ProgramDirSource::Option: return line + " (wskazany opcją --program-dir).";
    case ProgramDirSource::BesideExecutable: return line + " (katalog programu, bo leży w nim kategorie.txt).";
    case ProgramDirSource::UserData: break;
  }
  return line + " (katalog danych użytkownika; plik, którego tam brak, jest kopiowany z " +
         text::quotedPath(dir.defaults) + ").";
}

std::string programDirectoryHelp(const std::string& option, const ProgramPlaces& places) {
  try {
    return describeProgramDirectory(chooseProgramDirectory(option, places));
  } catch (const text::Failure& e) {
    return e.what();
  }
}

std::string seededNote(const ProgramDirectory& dir, const std::vector<std::string>& copied) {
  if (copied.empty()) return {};
  std::string names;
  for (const std::string& name : copied) names += (names.empty() ? "" : ", ") + name;
  return "Skopiowano " + names + " z " + text::quotedPath(dir.defaults) + " do " + text::quotedPath(dir.path) + ".";
}

}  // namespace borvantel::run
