#include "categories/assignment.h"

#include "categories/categories.h"
#include "text/working_files.h"
#include "text/files.h"
#include "text/lines.h"
#include "text/records.h"

#include <unordered_set>

namespace borvantel::categories {
namespace {

void checkCategory(std::string_view category) {
  if (category.empty() || category.find_first_of(" \r\n") != std::string_view::npos) {
    throw text::Failure("Nazwa kategorii nie może być pusta ani zawierać spacji.");
  }
}

void checkItem(std::string_view item) {
  if (item.empty() || item.find_first_of(" \r\n") != std::string_view::npos) {
    throw text::Failure("Ścieżki " + text::quotedPath(item) + " nie można zapisać w pliku inc_out.txt.");
  }
}

}  // namespace

void przypisz_plik(const text::RunPaths& paths, std::string_view item, std::string_view category) {
  checkItem(item);
  checkCategory(category);
  std::string line;
  text::appendRecord(line, item, category);
  text::appendRecords(paths.workingFile(text::kIncOut), line);
}

std::vector<std::string> przypisz_katalog(const text::RunPaths& paths, std::vector<std::string>& list,
                                          std::string_view target, std::string_view category) {
  checkCategory(category);
  // Decided and written first, moved only then: on failure the list is as before.
  std::vector<char> belongs(list.size());
  std::string lines;
  size_t count = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!text::belongsToDirectory(list[i], target)) continue;
    checkItem(list[i]);
    text::appendRecord(lines, list[i], category);
    belongs[i] = 1;
    ++count;
  }
  text::appendRecords(paths.workingFile(text::kIncOut), lines);
  std::vector<std::string> assigned;
  assigned.reserve(count);
  size_t kept = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    if (belongs[i]) {
      assigned.push_back(std::move(list[i]));
    } else if (kept++ != i) {
      list[kept - 1] = std::move(list[i]);
    }
  }
  list.resize(kept);
  return assigned;
}

std::vector<std::string> pendingFiles(const text::RunPaths& paths) {
  std::unordered_set<std::string> done;
  text::forEachRecord(paths.workingFile(text::kIncOut), [&](std::string_view line) {
    done.emplace(line.substr(0, line.find(' ')));
    return true;
  });
  std::vector<std::string> items = wypelnij_liste_inc(paths);
  std::erase_if(items, [&](const std::string& item) { return done.count(item) != 0; });
  return items;
}

}  // namespace borvantel::categories
