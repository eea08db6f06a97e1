#include "categories/completion.h"

#include "categories/predef.h"
#include "text/working_files.h"
#include "text/files.h"
#include "text/lines.h"
#include "text/records.h"
#include "text/file_calls.h"
#include "platform/os.h"

#include <cstdint>
#include <optional>
#include <string>

namespace borvantel::categories {

using text::kIncOut;
using text::kPInc;
using text::kPInc1;
using text::kPredef;

namespace {

// What matching "p_inc.txt" against "predef.txt" gave.
struct Matched {
  CompletionResult counts;
  std::string assigned;  // lines for "inc_out.txt", appended in one write
  std::string left;      // lines of "p_inc1.txt"
};

// The matching alone: every line of "p_inc.txt" either assigned by the first
// matching pattern or left, now as a relative path. Writes nothing.
Matched matchWaitingFiles(const text::RunPaths& paths, const std::string& pInc) {
  const PredefMatcher matcher(wczytaj_predef(paths.programFile(kPredef)));
  const size_t offset = paths.relativeOffset();
  Matched m;
  size_t lineNo = 0;
  text::forEachRecord(pInc, [&](std::string_view full) {
    ++lineNo;
    if (full.size() <= offset || full.compare(0, paths.sciezka_katalogu.size(), paths.sciezka_katalogu) != 0) {
      throw text::Failure("Wiersz " + std::to_string(lineNo) + " pliku " + text::quotedPath(pInc) +
                          " nie jest ścieżką pliku w katalogu scenery. Uruchom Start ponownie.");
    }
    const std::string relative = text::nativeToRelative(full.substr(offset));
    if (const PredefRow* row = matcher.firstMatch(text::fileNameOf(relative))) {
      text::appendRecord(m.assigned, relative, row->category);
      ++m.counts.assigned;
    } else {
      text::appendLine(m.left, relative);
      ++m.counts.left;
    }
    return true;
  });
  return m;
}

// Writes "p_inc1.txt" complete and flushed; on failure none is left.
void writeWaiting(const std::string& pInc1, const std::string& left) {
  text::removeQuietly(pInc1);  // one left by an earlier failure must not stand for this one
  text::AtomicFile file(pInc1);
  file.write(left);
  file.commit();
}

// Takes appended assignments back out of "inc_out.txt": cut to its old size,
// or removed where there was none.
void takeBack(const std::string& incOut, const std::optional<std::uint64_t>& oldSize) {
  if (!oldSize) {
    text::removeQuietly(incOut);
  } else {
    text::truncateQuietly(incOut, *oldSize);
  }
}

}  // namespace

CompletionResult automatycznie_uzupelnij_inc(const text::RunPaths& paths) {
  const std::string pInc = paths.workingFile(kPInc);
  const std::string pInc1 = paths.workingFile(kPInc1);
  const Matched m = matchWaitingFiles(paths, pInc);
  // "p_inc1.txt" complete and flushed first; then the assignments; then one
  // rename puts it over "p_inc.txt".
  writeWaiting(pInc1, m.left);
  const std::string incOut = paths.workingFile(kIncOut);
  const std::optional<std::uint64_t> incOutSize = text::fileSize(incOut);
  try {
    text::appendRecords(incOut, m.assigned);
  } catch (...) {
    text::removeQuietly(pInc1);
    throw;
  }
  try {
    text::renameOver(pInc1, pInc);
  } catch (...) {
    // "p_inc.txt" still lists every file: take the new assignments back out of
    // "inc_out.txt" and leave no "p_inc1.txt", so the working files agree.
    text::removeQuietly(pInc1);
    if (!m.assigned.empty()) takeBack(incOut, incOutSize);
    throw;
  }
  return m.counts;
}

}  // namespace borvantel::categories
