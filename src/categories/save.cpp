#include "categories/save.h"

#include "text/working_files.h"
#include "text/files.h"
#include "text/lines.h"
#include "text/paths.h"
#include "text/records.h"

namespace borvantel::categories {

size_t zapisz_predef(const text::RunPaths& paths) {
  std::string lines;
  size_t count = 0;
  text::forEachRecord(paths.workingFile(text::kIncOut), [&](std::string_view line) {
    text::TwoFields fields;
    if (text::exactlyTwoFields(line, fields)) {
      text::appendRecord(lines, text::fileNameOf(fields.first), fields.second);
      ++count;
    }
    return true;
  });
  text::appendRecords(paths.programFile(text::kPredef), lines);
  return count;
}

}  // namespace borvantel::categories
