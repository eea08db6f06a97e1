// borvantel: the window. One copy per user; Dir1 opens on the current
// directory; --program-dir DIR names the directory of "kategorie.txt" and
// "predef.txt" (default: the directory of the executable).
#include "app/form1.h"
#include "app/platform.h"
#include "app/qt_polish.h"
#include "app/single_instance.h"
#include "run/program.h"
#include "text/files.h"
#include "platform/os.h"
#include "text/paths.h"

#include <QApplication>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  // A second copy ends here, silently, before it opens anything.
  borvantel::app::SingleInstance instance;
  if (!instance.acquire()) return 0;

  QApplication app(argc, argv);
  borvantel::app::installPolishQtTexts(app);
  const std::vector<std::string> args = borvantel::app::programArguments(argc, argv);
  std::string programDir;
  try {
    const borvantel::run::ProgramOptions options = borvantel::run::readProgramOptions(args);
    if (options.next != args.size()) throw borvantel::run::UsageError("nieznany argument " + args[options.next]);
    programDir = options.programDir.empty() ? borvantel::run::executableDirectory(argv[0]) : options.programDir;
  } catch (const borvantel::run::UsageError& e) {
    std::cerr << "borvantel: " << e.what() << "\nUżycie: borvantel [--program-dir KATALOG]\n";
    return 2;
  }
  // The current directory in the tool's own form (Windows-1250 on Windows).
  std::string startDir;
  try {
    startDir = borvantel::text::directoryWithSeparator(".");
  } catch (const std::exception&) {  // no current directory any more
    startDir = std::string(1, borvantel::platform::kPathSeparator);
  }
  startDir = borvantel::platform::withoutTrailingSeparator(startDir);

  borvantel::app::Form1 form(programDir, startDir);
  form.show();
  return app.exec();
}
