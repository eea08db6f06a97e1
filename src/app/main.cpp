// borvantel: the window. One copy per user; Dir1 opens on the current
// directory; the program files ("kategorie.txt", "predef.txt") are where
// run's rule finds them, or in the directory --program-dir names.
#include "app/form1.h"
#include "app/platform.h"
#include "app/qt_polish.h"
#include "app/single_instance.h"
#include "run/program.h"
#include "text/files.h"
#include "platform/os.h"
#include "text/paths.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace borvantel;

namespace {

// The name of the desktop entry, the icon and the AppStream component.
constexpr const char* kDesktopId = "pl.borvantel.Borvantel";

const char* const kUsage =
    "Użycie: borvantel [--program-dir KATALOG] [OPCJE QT...]\n"
    "       borvantel --help | --version\n"
    "\n"
    "Okno programu: wyszukuje w scenerii pliki *.inc czekające na kategorię, pozwala ją przypisać\n"
    "i przerabia scenerię. Lista katalogów otwiera się na bieżącym katalogu: wybierz w niej katalog\n"
    "bazowy (ten, w którym jest katalog scenery) i naciśnij Start.\n"
    "\n"
    "  --program-dir KATALOG  katalog z kategorie.txt i predef.txt\n"
    "  --help, -h             wypisuje ten opis\n"
    "  --version              wypisuje wersję programu\n"
    "Przyjmuje też opcje Qt, np. -style NAZWA i -platform NAZWA.\n"
    "\n"
    "Bez --program-dir program używa własnego katalogu, jeśli leży w nim kategorie.txt, a poza tym\n"
    "katalogu borvantel w katalogu danych użytkownika; tworzy go przy pierwszym użyciu i kopiuje do\n"
    "niego brakujące pliki z domyślnych (share/borvantel obok katalogu programu).\n";

// --help and --version need no display, so they are answered before the
// window's application exists (the arguments need only the core one).
int answerInfo(int argc, char** argv, run::InfoRequest request) {
  if (request == run::InfoRequest::Version) {
    std::cout << run::versionText("borvantel");
    return 0;
  }
  QCoreApplication core(argc, argv);
  std::string option;
  try {
    option = run::readProgramOptions(app::programArguments(argc, argv)).programDir;
  } catch (const run::UsageError&) {  // "--program-dir" without its directory: as if not given
  }
  std::cout << kUsage << '\n' << run::programDirectoryHelp(option, run::systemProgramPlaces(argv[0])) << '\n';
  return 0;
}

// The program directory by the rule, made and seeded on first use; nullopt
// once the user has been told why there is none.
std::optional<std::string> programDirectory(const std::string& option, const char* argv0) {
  try {
    const run::ProgramDirectory dir = run::chooseProgramDirectory(option, run::systemProgramPlaces(argv0));
    const std::string note = run::seededNote(dir, run::prepareProgramDirectory(dir));
    if (!note.empty()) std::cerr << "borvantel: " << note << '\n';
    return dir.path;
  } catch (const text::Failure& e) {
    std::cerr << "borvantel: " << e.what() << '\n';
    QMessageBox::critical(nullptr, "Borvantel", QString::fromUtf8(e.what()));
    return std::nullopt;
  }
}

// The current directory in the tool's own form (Windows-1250 on Windows).
std::string currentDirectory() {
  std::string dir;
  try {
    dir = text::directoryWithSeparator(".");
  } catch (const std::exception&) {  // no current directory any more
    dir = std::string(1, platform::kPathSeparator);
  }
  return platform::withoutTrailingSeparator(dir);
}

}  // namespace

int main(int argc, char** argv) {
  const run::InfoRequest request = run::infoRequest(std::vector<std::string>(argv + 1, argv + argc));
  if (request != run::InfoRequest::None) return answerInfo(argc, argv, request);

  // A second copy ends here, silently, before it opens anything.
  app::SingleInstance instance;
  if (!instance.acquire()) return 0;

  QApplication application(argc, argv);
  app::installPolishQtTexts(application);
  // The menu entry's name and icon also for the window's title bar and the
  // task bar, where the icon theme holds the icon (an installed program).
  QGuiApplication::setDesktopFileName(kDesktopId);
  QApplication::setWindowIcon(QIcon::fromTheme(kDesktopId));
  std::string option;
  try {
    const std::vector<std::string> args = app::programArguments(argc, argv);
    const run::ProgramOptions options = run::readProgramOptions(args);
    if (options.next != args.size()) throw run::UsageError("nieznany argument " + args[options.next]);
    option = options.programDir;
  } catch (const run::UsageError& e) {
    std::cerr << "borvantel: " << e.what() << '\n' << kUsage;
    return 2;
  }
  const std::optional<std::string> programDir = programDirectory(option, argv[0]);
  if (!programDir) return 1;

  app::Form1 form(*programDir, currentDirectory());
  form.show();
  return application.exec();
}
