#include "categories/categories.h"

#include "text/working_files.h"
#include "text/codepage.h"
#include "text/collation.h"
#include "text/files.h"
#include "text/lines.h"

#include <algorithm>

namespace borvantel::categories {

std::vector<std::string> wypelnij_liste_kategorii(const text::RunPaths& paths) {
  std::vector<std::string> names;
  text::forEachRecord(paths.programFile(text::kKategorie), [&](std::string_view line) {
    std::string name(line);
    std::replace(name.begin(), name.end(), ' ', '_');
    if (!name.empty()) names.push_back(std::move(name));
    return true;
  });
  return names;
}

std::vector<std::string> categoryListAfterStart(const text::RunPaths& paths) {
  std::vector<std::string> names = wypelnij_liste_kategorii(paths);
  names.emplace_back(kBrakDefinicji);
  text::sortForList(names, text::TextKind::Text);
  return names;
}

std::string categoryNameFromTyped(std::string_view typed) {
  std::string name(typed);
  std::replace(name.begin(), name.end(), ' ', '_');
  return text::toUpper(name);
}

std::string dopisz_kategorie(const text::RunPaths& paths, std::string_view typed) {
  if (typed.empty()) throw text::Failure("Nazwa kategorii jest pusta.");
  if (!text::fitsOneLine(typed)) throw text::Failure("Nazwa kategorii nie może zawierać końca wiersza.");
  std::string name = categoryNameFromTyped(typed);
  std::string line = name;
  line.append(text::kLineEnd);
  text::appendRecords(paths.programFile(text::kKategorie), line);
  return name;
}

std::vector<std::string> wypelnij_liste_inc(const text::RunPaths& paths) {
  std::vector<std::string> items = text::readRecords(paths.workingFile(text::kPInc));
  text::sortForList(items, text::TextKind::FileName);
  return items;
}

}  // namespace borvantel::categories
