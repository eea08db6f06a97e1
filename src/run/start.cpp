#include "run/start.h"

#include "categories/categories.h"
#include "categories/completion.h"
#include "text/codepage.h"
#include "text/files.h"
#include "text/working_files.h"

namespace borvantel::run {

StartResult runStart(const text::RunPaths& paths) {
  StartResult result;
  text::createEmpty(paths.workingFile(text::kIncOut));
  text::createEmpty(paths.workingFile(text::kIncOut1));
  result.scan = scan::wypisz_pliki(paths);
  result.passedOver = result.scan.passedOver;
  const std::string pInc = paths.workingFile(text::kPInc);
  if (text::holdsRecords(pInc)) {
    result.autoAssigned = categories::automatycznie_uzupelnij_inc(paths).assigned;
  }
  if (text::holdsRecords(pInc)) {
    result.fileList = categories::wypelnij_liste_inc(paths);
  } else {
    result.wszystkie_inc_przypisane = true;
  }
  return result;
}

std::string passedOverMessage(const std::vector<std::string>& passedOver, size_t limit) {
  std::string text = "Pominięto pliki *.inc, których ścieżki nie da się zapisać w plikach roboczych "
                     "(spacja, „\\” lub koniec wiersza w nazwie, albo znak spoza strony kodowej Windows-1250); "
                     "nie dostaną kategorii. Liczba plików: " +
                     std::to_string(passedOver.size()) + ".";
  size_t shown = 0;
  for (const auto& item : passedOver) {
    if (shown == limit) {
      text += "\n… (pozostałych: " + std::to_string(passedOver.size() - shown) + ")";
      break;
    }
    text += '\n';
    text += text::displayName(item);
    ++shown;
  }
  return text;
}

}  // namespace borvantel::run
