// borvantel-cli check: a scenery tree read as the simulator will read it
// (convert/directive.h), for trees converted earlier, edited by hand since,
// or put together from several authors' parts. It finds the include
// directives whose files would not get what they expect:
//
// 1. a directive naming a file that carries a category header, whose first
//    parameter is not a category: the file reads its parameters one place off
//    (DirectiveProblem::NoCategory, or NoParameters, or Split where the
//    directive runs on past its line);
// 2. a directive passing a category to a file without a header
//    (CategoryWithoutHeader);
// 3. a directive naming a file that does not exist below "scenery",
//    ignoring case and with "/" or "\" (MissingFile).
//
// A file carries a category header as the scan takes it: its first line
// holding "//$infotype:" has exactly two words. The check reads every
// include and scenery file of the scan's walk and nothing else; it changes
// no file, writes no file and needs no Start.
#pragma once

#include "convert/directive.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::run {

struct Finding {
  std::string file;  // holding the directive: relative to the base directory, "\" separated (raw bytes)
  size_t line = 0;   // of the keyword
  convert::DirectiveProblem problem = convert::DirectiveProblem::NoCategory;
  // The file it names: relative to "scenery" ("\" separated) where it
  // exists, else as written.
  std::string named;
};

// "scenery\linie\a.scn:120: ..." (UTF-8), one line.
std::string findingText(const Finding& finding);

struct CheckResult {
  // In the walk's order of the files (the scenery directory's own last),
  // each file's in line order.
  std::vector<Finding> findings;
  size_t filesRead = 0;
  size_t directives = 0;
};

// Checks the tree below `baseDir` + "scenery". `threads` read files at once
// (0: one per hardware thread); the result is the same for any number.
// Throws text::Failure naming the file and the reason when the base directory
// or a file cannot be read.
CheckResult checkTree(std::string_view baseDir, unsigned threads = 0);

// "Sprawdzono plików: 12, dyrektyw include: 40, uwag: 1." (UTF-8)
std::string checkSummary(const CheckResult& result);

}  // namespace borvantel::run
