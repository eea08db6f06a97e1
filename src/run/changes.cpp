#include "run/changes.h"

#include <utility>

namespace borvantel::run {
namespace {

std::string counts(size_t includeFiles, size_t sceneryFiles) {
  return "pliki *.inc: " + std::to_string(includeFiles) + ", pliki sceneryjne: " + std::to_string(sceneryFiles);
}

}  // namespace

std::string conversionSummary(const ConversionResult& result, bool dryRun) {
  std::string summary = std::string(dryRun ? "Do przerobienia (nic nie zmieniono): " : "Przerobiono ") +
                        counts(result.includeFiles, result.sceneryFiles) + " z " +
                        std::to_string(result.sceneryListed) + " sprawdzonych.";
  if (!result.warnings.empty()) summary += " Ostrzeżenia: " + std::to_string(result.warnings.size()) + ".";
  return summary;
}

std::vector<std::string> warningLines(const ConversionResult& result) {
  std::vector<std::string> lines;
  lines.reserve(result.warnings.size());
  for (const convert::ConversionWarning& warning : result.warnings) lines.push_back(convert::warningText(warning));
  return lines;
}

std::string undoSummary(const UndoResult& result) {
  return "Przywrócono pliki sprzed konwersji: " + counts(result.includeFiles, result.sceneryFiles) + ".";
}

std::string undoQuestion(size_t includeFiles, size_t sceneryFiles) {
  return "Cofnąć konwersję? Pliki sprzed konwersji zostaną przywrócone (" + counts(includeFiles, sceneryFiles) +
         "); zmiany, które wprowadziła, znikną.";
}

Changes changesOf(const ConversionResult& result) {
  return Changes{Changes::Kind::Converted, conversionSummary(result), result.changedFiles, warningLines(result)};
}

Changes changesOf(UndoResult result) {
  std::string summary = undoSummary(result);
  return Changes{Changes::Kind::Restored, std::move(summary), std::move(result.restoredFiles), {}};
}

}  // namespace borvantel::run
