// What a conversion or an undo changed, told to the user in the same words by
// the command line (on standard error, the files on standard output) and by
// the window (its summary line, the files in a list window).
#pragma once

#include "convert/conversion.h"
#include "convert/undo.h"

#include <string>
#include <vector>

namespace borvantel::run {

using convert::ConversionResult;
using convert::UndoResult;

struct Changes {
  enum class Kind { Converted, Restored };
  Kind kind = Kind::Converted;
  std::string summary;             // Polish UTF-8, one line
  std::vector<std::string> files;  // relative to the base directory, "\" separated (raw bytes)
  // The conversion's warnings, "FILE:LINE: ..." (UTF-8): directives it
  // could not give their category.
  std::vector<std::string> warnings;
};

// "Przerobiono pliki *.inc: 2, pliki sceneryjne: 2 z 4 sprawdzonych." (a dry
// run: what would be converted, nothing changed), and " Ostrzeżenia: N."
// when the conversion warned.
std::string conversionSummary(const ConversionResult& result, bool dryRun = false);
// "Przywrócono pliki sprzed konwersji: pliki *.inc: 2, pliki sceneryjne: 1."
std::string undoSummary(const UndoResult& result);
// The question before an undo, with what the undo set would put back.
std::string undoQuestion(size_t includeFiles, size_t sceneryFiles);

// Each warning of a conversion as its line (convert::warningText).
std::vector<std::string> warningLines(const ConversionResult& result);

Changes changesOf(const ConversionResult& result);
Changes changesOf(UndoResult result);

}  // namespace borvantel::run
