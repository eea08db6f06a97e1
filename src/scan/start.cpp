#include "scan/start.h"

#include "categories/categories.h"
#include "categories/completion.h"
#include "scan/working_files.h"
#include "text/files.h"

namespace borvantel::scan {

StartResult runStart(const text::RunPaths& paths) {
  StartResult result;
  text::createEmpty(paths.workingFile(kIncOut));
  text::createEmpty(paths.workingFile(kIncOut1));
  result.scan = wypisz_pliki(paths);
  result.passedOver = result.scan.passedOver;
  const std::string pInc = paths.workingFile(kPInc);
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

}  // namespace borvantel::scan
