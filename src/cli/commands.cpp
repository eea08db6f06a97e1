#include "cli/commands.h"

#include "categories/categories.h"
#include "convert/conversion.h"
#include "platform/names.h"
#include "platform/process.h"
#include "run/base_directory.h"
#include "run/check.h"
#include "run/program.h"
#include "run/run.h"
#include "run/start.h"
#include "text/codepage.h"
#include "text/files.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>

namespace borvantel::cli {

const char* const kUsage =
    "Użycie: borvantel-cli [--program-dir KATALOG] POLECENIE ARGUMENTY...\n"
    "       borvantel-cli --help | --version\n"
    "\n"
    "  start BAZA                        skanuje BAZA/scenery, przypisuje kategorie z predef.txt,\n"
    "                                    wypisuje pliki *.inc czekające na kategorię\n"
    "  pending BAZA                      wypisuje pliki wciąż czekające na kategorię\n"
    "  assign BAZA PLIK KATEGORIA        przypisuje KATEGORIA czekającemu plikowi PLIK\n"
    "  assign-dir BAZA KATALOG KATEGORIA przypisuje KATEGORIA wszystkim czekającym plikom\n"
    "                                    katalogu (np. linie\\; \"GŁÓWNY SCENERY\" lub \"\"\n"
    "                                    oznacza sam katalog scenery)\n"
    "  categories                        wypisuje listę kategorii\n"
    "  add-category NAZWA                dopisuje kategorię do kategorie.txt\n"
    "  save BAZA                         dopisuje przypisania tego przebiegu do predef.txt\n"
    "  convert [--dry-run | --diff] [--no-undo] BAZA\n"
    "                                    przerabia pliki *.inc i sceneryjne (gdy żaden plik nie czeka\n"
    "                                    na kategorię), wypisuje zmienione pliki; --dry-run tylko\n"
    "                                    wypisuje pliki, które by zmienił, i niczego nie zmienia;\n"
    "                                    --diff niczego nie zmienia i wypisuje wszystkie zmiany jako\n"
    "                                    różnice (unified diff dla patch -p1 w katalogu BAZA): na\n"
    "                                    terminal w UTF-8 i w kolorze (bez koloru przy NO_COLOR), do\n"
    "                                    pliku lub potoku bajty plików bez zmian (Windows-1250, CR LF);\n"
    "                                    --no-undo nie zachowuje oryginałów do cofnięcia\n"
    "  undo [--discard] BAZA             przywraca pliki sprzed ostatniej konwersji i wypisuje je;\n"
    "                                    --discard tylko usuwa zachowane oryginały\n"
    "  clean BAZA                        usuwa pliki robocze z katalogu BAZA (oryginały do cofnięcia\n"
    "                                    zostają)\n"
    "  check BAZA                        czyta drzewo tak, jak symulator, i wypisuje dyrektywy include,\n"
    "                                    przez które plik odczyta parametry przesunięte (kategoria\n"
    "                                    nie jako parametr 1, kategoria dla pliku bez nagłówka, brak\n"
    "                                    pliku); niczego nie zmienia i nie wymaga start\n"
    "\n"
    "  --help, -h                        wypisuje ten opis\n"
    "  --version                         wypisuje wersję programu\n"
    "\n"
    "--program-dir wskazuje katalog z kategorie.txt i predef.txt. Bez niej program używa\n"
    "własnego katalogu, jeśli leży w nim kategorie.txt, a poza tym katalogu borvantel\n"
    "w katalogu danych użytkownika; tworzy go przy pierwszym użyciu i kopiuje do niego\n"
    "brakujące pliki z domyślnych (share/borvantel obok katalogu programu).\n"
    "Kody wyjścia: 0 sukces, 1 błąd lub odmowa, 2 złe użycie, 3 check znalazł uwagi.\n";

std::string pathArgument(const std::string& arg) {
  if (!platform::kNamesAreCodePage) return arg;
  // Arguments arrive as UTF-8 there (see main); the tool's paths are Windows-1250.
  if (auto bytes = text::encodeCp1250(arg)) return std::move(*bytes);
  throw text::Failure("Ścieżka „" + arg + "” zawiera znak spoza strony kodowej Windows-1250; "
                      "program nie może jej użyć.");
}

namespace {

using run::Run;

void expectArgs(const std::vector<std::string>& args, size_t n, const char* what) {
  if (args.size() != n) throw run::UsageError(std::string("polecenie ") + what + ": zła liczba argumentów");
}

void expectBase(const std::string& base) {
  if (base.empty()) throw run::UsageError("katalog BAZA nie może być pusty");
}

// The run on a base directory that must exist.
Run existing(const Context& ctx, const std::string& base) {
  expectBase(base);
  Run r(ctx.programDir, pathArgument(base));
  run::checkBaseDirectory(r.paths().sciezka_katalogu);
  const std::string recovered = r.recover();
  if (!recovered.empty()) ctx.err << recovered << '\n';
  return r;
}

// The run on a base directory on which start has run, so that an empty answer
// means "nothing waits" and never "nothing was scanned".
Run resumed(const Context& ctx, const std::string& base) {
  expectBase(base);
  try {
    Run r = Run::resume(ctx.programDir, pathArgument(base));
    if (!r.recovered().empty()) ctx.err << r.recovered() << '\n';
    return r;
  } catch (const run::NotStarted& e) {
    throw text::Failure(std::string(e.what()) + " Uruchom najpierw: borvantel-cli start BAZA.");
  }
}

// A category typed on the command line, selected on the run's category list:
// like the window, which offers only that list, the name must be on it.
void selectCategory(Run& r, const std::string& utf8) {
  try {
    r.selectCategory(r.categoryIndex(utf8));
  } catch (const text::Failure& e) {
    throw text::Failure(std::string(e.what()) +
                        " Sprawdź: borvantel-cli categories; nową dopisuje borvantel-cli add-category.");
  }
}

void printPaths(std::ostream& out, const std::vector<std::string>& items) {
  for (const auto& item : items) out << text::displayName(item) << '\n';
}

int cmdStart(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "start");
  expectBase(args[0]);
  Run r(ctx.programDir, pathArgument(args[0]));
  const run::StartResult result = r.start();
  if (!result.recovered.empty()) ctx.err << result.recovered << '\n';
  printPaths(ctx.out, result.fileList);
  ctx.err << "Pliki *.inc do kategoryzacji: " << result.scan.needCategory
          << ", przypisane automatycznie: " << result.autoAssigned
          << ", do ręcznego przypisania: " << result.fileList.size()
          << ", z kategorią w nagłówku: " << result.scan.categorised
          << ", pliki sceneryjne: " << result.scan.sceneryFiles << ".\n";
  if (!result.passedOver.empty()) {
    ctx.err << run::passedOverMessage(result.passedOver, result.passedOver.size()) << '\n';
  }
  return 0;
}

int cmdPending(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "pending");
  printPaths(ctx.out, resumed(ctx, args[0]).fileList());
  return 0;
}

int cmdAssign(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 3, "assign");
  Run r = resumed(ctx, args[0]);
  r.selectFile(r.fileIndex(pathArgument(args[1])));
  selectCategory(r, args[2]);
  r.assignSelectedFile();
  return 0;
}

int cmdAssignDir(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 3, "assign-dir");
  Run r = resumed(ctx, args[0]);
  selectCategory(r, args[2]);
  printPaths(ctx.out, r.assignTypedDirectory(args[1]));
  return 0;
}

int cmdCategories(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 0, "categories");
  const text::RunPaths paths = text::RunPaths::make(ctx.programDir, ".");
  for (const auto& name : categories::categoryListAfterStart(paths)) ctx.out << text::decodeCp1250(name) << '\n';
  return 0;
}

int cmdAddCategory(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "add-category");
  Run r(ctx.programDir, ".");
  ctx.out << text::decodeCp1250(r.addCategory(args[0])) << '\n';
  return 0;
}

int cmdSave(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "save");
  const size_t n = existing(ctx, args[0]).save();
  ctx.err << "Dopisano do predef.txt wierszy: " << n << ".\n";
  return 0;
}

struct ConvertRequest {
  bool dryRun = false;
  bool diff = false;
  bool keepUndo = true;
  std::string base;
};

ConvertRequest convertRequest(const std::vector<std::string>& args) {
  ConvertRequest request;
  std::vector<std::string> rest = args;
  for (; !rest.empty() && rest.front().starts_with("--"); rest.erase(rest.begin())) {
    if (rest.front() == "--dry-run") {
      request.dryRun = true;
    } else if (rest.front() == "--diff") {
      request.diff = request.dryRun = true;
    } else if (rest.front() == "--no-undo") {
      request.keepUndo = false;
    } else {
      throw run::UsageError("polecenie convert: nieznana opcja „" + rest.front() + "”");
    }
  }
  expectArgs(rest, 1, "convert");
  request.base = rest[0];
  return request;
}

// convert --diff: for a terminal the text decoded and (unless NO_COLOR is
// set) coloured; for a pipe or a file the files' own bytes, so that a saved
// diff applies exactly.
run::ConversionResult printDiff(const Context& ctx, Run& r, run::ConversionEvents& events) {
  const bool terminal = platform::standardOutputIsTerminal();
  run::DiffStyle style;
  style.forReading = terminal;
  style.colour = terminal && std::getenv("NO_COLOR") == nullptr && platform::standardOutputShowsColour();
  const auto cannotWrite = [] { return text::Failure("Nie udało się wypisać różnic na standardowe wyjście."); };
  run::ConversionResult result = r.diff(events, style, [&](std::string_view chunk) {
    if (!ctx.out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()))) throw cannotWrite();
  });
  if (!ctx.out.flush()) throw cannotWrite();
  return result;
}

int cmdConvert(const Context& ctx, const std::vector<std::string>& args) {
  const ConvertRequest request = convertRequest(args);
  Run r = resumed(ctx, request.base);
  run::ConversionEvents events;
  run::ConversionResult result;
  try {
    if (request.diff) {
      result = printDiff(ctx, r, events);
    } else {
      result = request.dryRun ? r.dryRun(events) : request.keepUndo ? r.convert(events) : r.convertWithoutUndo(events);
    }
  } catch (const run::FilesWaiting& e) {
    throw text::Failure(std::string(e.what()) + " Sprawdź: borvantel-cli pending.");
  } catch (const run::UndoUnavailable& e) {
    throw text::Failure(std::string(e.what()) +
                        " Nie zmieniono żadnego pliku. Bez możliwości cofnięcia: borvantel-cli convert --no-undo BAZA.");
  } catch (const convert::IncompleteConversion& e) {
    printPaths(ctx.out, e.replaced());
    throw;
  }
  if (!request.diff) printPaths(ctx.out, result.changedFiles);
  // On standard error, also after a diff: what standard output holds stays a patch.
  for (const std::string& warning : run::warningLines(result)) ctx.err << warning << '\n';
  ctx.err << run::conversionSummary(result, request.dryRun) << '\n';
  return 0;
}

int cmdUndo(const Context& ctx, const std::vector<std::string>& args) {
  std::vector<std::string> rest = args;
  const bool discard = !rest.empty() && rest.front() == "--discard";
  if (discard) rest.erase(rest.begin());
  expectArgs(rest, 1, "undo");
  Run r = existing(ctx, rest[0]);
  if (discard) {
    r.discardUndoSet();
    ctx.err << "Usunięto oryginały zachowane do cofnięcia konwersji.\n";
  } else {
    run::ConversionEvents events;
    const run::UndoResult result = r.undo(events);
    printPaths(ctx.out, result.restoredFiles);
    ctx.err << run::undoSummary(result) << '\n';
  }
  return 0;
}

int cmdCheck(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "check");
  expectBase(args[0]);
  const run::CheckResult result = run::checkTree(pathArgument(args[0]));
  for (const run::Finding& finding : result.findings) ctx.out << run::findingText(finding) << '\n';
  ctx.err << run::checkSummary(result) << '\n';
  return result.findings.empty() ? 0 : kFindings;
}

int cmdClean(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "clean");
  existing(ctx, args[0]).close();
  return 0;
}

}  // namespace

int runCommand(const Context& ctx, const std::string& command, const std::vector<std::string>& args) {
  using Handler = std::function<int(const Context&, const std::vector<std::string>&)>;
  static const std::map<std::string, Handler> handlers = {
      {"start", cmdStart},       {"pending", cmdPending},           {"assign", cmdAssign},
      {"assign-dir", cmdAssignDir}, {"categories", cmdCategories}, {"add-category", cmdAddCategory},
      {"save", cmdSave},         {"clean", cmdClean},               {"convert", cmdConvert},
      {"undo", cmdUndo},         {"check", cmdCheck},
  };
  const auto it = handlers.find(command);
  if (it == handlers.end()) throw run::UsageError("nieznane polecenie „" + command + "”");
  return it->second(ctx, args);
}

}  // namespace borvantel::cli
