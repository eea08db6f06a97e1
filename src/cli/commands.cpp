#include "cli/commands.h"

#include "app/base_dir.h"
#include "categories/assignment.h"
#include "categories/categories.h"
#include "categories/save.h"
#include "convert/conversion.h"
#include "scan/start.h"
#include "scan/working_files.h"
#include "text/codepage.h"
#include "text/files.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>

namespace borvantel::cli {

const char* const kUsage =
    "Użycie: borvantel-cli [--program-dir KATALOG] POLECENIE ARGUMENTY...\n"
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
    "  convert [--dry-run] BAZA          przerabia pliki *.inc i sceneryjne (gdy żaden plik nie czeka\n"
    "                                    na kategorię), wypisuje zmienione pliki; --dry-run tylko\n"
    "                                    wypisuje pliki, które by zmienił, i niczego nie zmienia\n"
    "  clean BAZA                        usuwa pliki robocze z katalogu BAZA\n"
    "\n"
    "--program-dir wskazuje katalog z kategorie.txt i predef.txt (domyślnie katalog programu).\n"
    "Kody wyjścia: 0 sukces, 1 błąd lub odmowa, 2 złe użycie.\n";

namespace {

using text::RunPaths;

void expectArgs(const std::vector<std::string>& args, size_t n, const char* what) {
  if (args.size() != n) throw UsageError{std::string("polecenie ") + what + ": zła liczba argumentów"};
}

RunPaths pathsFor(const Context& ctx, const std::string& base) {
  if (base.empty()) throw UsageError{"katalog BAZA nie może być pusty"};
  return RunPaths::make(ctx.programDir, base);
}

// Paths of a base directory that must exist.
RunPaths existingBase(const Context& ctx, const std::string& base) {
  RunPaths paths = pathsFor(ctx, base);
  struct stat st {};
  if (::stat(paths.sciezka_katalogu.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw text::Failure("Katalog " + text::quotedPath(paths.sciezka_katalogu) + " nie istnieje.");
  }
  return paths;
}

// Paths of a base directory on which start has run, so that an empty answer
// means "nothing waits" and never "nothing was scanned".
RunPaths startedBase(const Context& ctx, const std::string& base) {
  RunPaths paths = existingBase(ctx, base);
  if (!text::fileSize(paths.workingFile(scan::kPInc))) {
    throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) +
                        " nie uruchomiono polecenia start; uruchom najpierw: borvantel-cli start BAZA.");
  }
  return paths;
}

// A category typed on the command line, as it stands on the category list
// (Windows-1250 bytes). Like the window, which offers only that list, it must
// be on it; typed in another case it takes the list's spelling.
std::string categoryArgument(const RunPaths& paths, const std::string& utf8) {
  const auto encoded = text::encodeCp1250(utf8);
  if (!encoded) {
    throw text::Failure("Nazwy kategorii „" + utf8 + "” nie da się zapisać w kodowaniu Windows-1250.");
  }
  const auto names = categories::categoryListAfterStart(paths);
  const auto exact = std::find(names.begin(), names.end(), *encoded);
  if (exact != names.end()) return *exact;
  const auto folded = std::find_if(names.begin(), names.end(),
                                   [&](const std::string& name) { return text::equalsIgnoreCase(name, *encoded); });
  if (folded != names.end()) return *folded;
  {
    throw text::Failure("Kategorii „" + utf8 + "” nie ma na liście kategorii (sprawdź: borvantel-cli categories; " +
                        "nową dopisuje borvantel-cli add-category).");
  }
}

std::string withBackslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

void printPaths(std::ostream& out, const std::vector<std::string>& items) {
  for (const auto& item : items) out << text::displayName(item) << '\n';
}

int cmdStart(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "start");
  const RunPaths paths = pathsFor(ctx, args[0]);
  if (!app::spr_exist_scenery(paths.sciezka_katalogu)) {
    throw text::Failure("Start jest niedostępny dla " + text::quotedPath(paths.sciezka_katalogu) +
                        ": to katalog scenery albo nie ma w nim podkatalogu scenery.");
  }
  const scan::StartResult result = scan::runStart(paths);
  printPaths(ctx.out, result.fileList);
  ctx.err << "Pliki *.inc do kategoryzacji: " << result.scan.needCategory
          << ", przypisane automatycznie: " << result.autoAssigned
          << ", do ręcznego przypisania: " << result.fileList.size()
          << ", z kategorią w nagłówku: " << result.scan.categorised
          << ", pliki sceneryjne: " << result.scan.sceneryFiles << ".\n";
  if (!result.passedOver.empty()) {
    ctx.err << "Pominięto " << result.passedOver.size()
            << " plików *.inc, których ścieżki nie da się zapisać (spacja, \\ lub koniec wiersza w nazwie):\n";
    for (const auto& item : result.passedOver) ctx.err << "  " << text::displayName(item) << '\n';
  }
  return 0;
}

int cmdPending(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "pending");
  printPaths(ctx.out, categories::pendingFiles(startedBase(ctx, args[0])));
  return 0;
}

int cmdAssign(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 3, "assign");
  const RunPaths paths = startedBase(ctx, args[0]);
  const std::string wanted = withBackslashes(args[1]);
  const auto pending = categories::pendingFiles(paths);
  const auto it = std::find_if(pending.begin(), pending.end(), [&](const std::string& item) {
    return item == wanted || text::displayName(item) == wanted;
  });
  if (it == pending.end()) {
    throw text::Failure("Plik „" + args[1] + "” nie czeka na kategorię (sprawdź: borvantel-cli pending).");
  }
  categories::przypisz_plik(paths, *it, categoryArgument(paths, args[2]));
  return 0;
}

int cmdAssignDir(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 3, "assign-dir");
  const RunPaths paths = startedBase(ctx, args[0]);
  const std::string category = categoryArgument(paths, args[2]);
  std::vector<std::string> pending = categories::pendingFiles(paths);

  // The directory as bytes: the scenery directory itself, or a relative
  // directory as typed (UTF-8 names) or in Windows-1250 (older names).
  std::vector<std::string> targets;
  const auto encoded = text::encodeCp1250(args[1]);
  const bool isRoot = args[1].empty() || (encoded && text::targetFromLabel(*encoded).empty());
  if (isRoot) {
    targets.emplace_back();
  } else {
    std::string dir = withBackslashes(args[1]);
    if (dir.back() != '\\') dir += '\\';
    targets.push_back(dir);
    if (encoded) targets.push_back(withBackslashes(*encoded + (encoded->back() == '\\' ? "" : "\\")));
  }
  for (const auto& target : targets) {
    const bool any = std::any_of(pending.begin(), pending.end(),
                                 [&](const std::string& item) { return text::belongsToDirectory(item, target); });
    if (!any) continue;
    printPaths(ctx.out, categories::przypisz_katalog(paths, pending, target, category));
    return 0;
  }
  throw text::Failure("Żaden plik czekający na kategorię nie leży w katalogu „" + args[1] + "”.");
}

int cmdCategories(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 0, "categories");
  const RunPaths paths = RunPaths::make(ctx.programDir, ".");
  for (const auto& name : categories::categoryListAfterStart(paths)) ctx.out << text::decodeCp1250(name) << '\n';
  return 0;
}

int cmdAddCategory(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "add-category");
  const auto encoded = text::encodeCp1250(args[0]);
  if (!encoded) {
    throw text::Failure("Nazwy kategorii „" + args[0] + "” nie da się zapisać w kodowaniu Windows-1250.");
  }
  const RunPaths paths = RunPaths::make(ctx.programDir, ".");
  ctx.out << text::decodeCp1250(categories::dopisz_kategorie(paths, *encoded)) << '\n';
  return 0;
}

int cmdSave(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "save");
  const size_t n = categories::zapisz_predef(existingBase(ctx, args[0]));
  ctx.err << "Dopisano do predef.txt wierszy: " << n << ".\n";
  return 0;
}

int cmdConvert(const Context& ctx, const std::vector<std::string>& args) {
  convert::ConversionOptions options;
  std::vector<std::string> rest = args;
  if (!rest.empty() && rest.front() == "--dry-run") {
    options.dryRun = true;
    rest.erase(rest.begin());
  }
  expectArgs(rest, 1, "convert");
  const RunPaths paths = startedBase(ctx, rest[0]);
  const size_t waiting = categories::pendingFiles(paths).size();
  if (waiting > 0) {
    throw text::Failure("Na kategorię czeka jeszcze plików *.inc: " + std::to_string(waiting) +
                        "; przypisz je przed konwersją (sprawdź: borvantel-cli pending).");
  }
  convert::NullProgress progress;
  convert::ConversionResult result;
  try {
    result = convert::runConversion(paths, progress, options);
  } catch (const convert::IncompleteConversion& e) {
    printPaths(ctx.out, e.replaced());
    throw;
  }
  printPaths(ctx.out, result.changedFiles);
  ctx.err << (options.dryRun ? "Do przerobienia (nic nie zmieniono): pliki *.inc: " : "Przerobiono pliki *.inc: ")
          << result.includeFiles << ", pliki sceneryjne: " << result.sceneryFiles << " z "
          << result.sceneryListed << " sprawdzonych.\n";
  return 0;
}

int cmdClean(const Context& ctx, const std::vector<std::string>& args) {
  expectArgs(args, 1, "clean");
  app::removeWorkingFiles(existingBase(ctx, args[0]));
  return 0;
}

}  // namespace

int runCommand(const Context& ctx, const std::string& command, const std::vector<std::string>& args) {
  using Handler = std::function<int(const Context&, const std::vector<std::string>&)>;
  static const std::map<std::string, Handler> handlers = {
      {"start", cmdStart},       {"pending", cmdPending},           {"assign", cmdAssign},
      {"assign-dir", cmdAssignDir}, {"categories", cmdCategories}, {"add-category", cmdAddCategory},
      {"save", cmdSave},         {"clean", cmdClean},               {"convert", cmdConvert},
  };
  const auto it = handlers.find(command);
  if (it == handlers.end()) throw UsageError{"nieznane polecenie „" + command + "”"};
  return it->second(ctx, args);
}

}  // namespace borvantel::cli
