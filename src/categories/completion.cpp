#include "categories/completion.h"

#include "categories/predef.h"
#include "text/working_files.h"
#include "text/files.h"
#include "text/lines.h"
#include "text/records.h"
#include "platform/os.h"

#include <fcntl.h>

#include <cerrno>
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
  const int raw = platform::os().open(pInc1.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (raw < 0) throw text::FileError(text::FileOp::Create, pInc1, errno);
  platform::Fd fd(raw);
  try {
    text::writeAll(fd.get(), left, pInc1);
    if (platform::os().fsync(fd.get()) != 0) throw text::FileError(text::FileOp::Sync, pInc1, errno);
    if (fd.close() != 0) throw text::FileError(text::FileOp::Write, pInc1, errno);
  } catch (...) {
    fd.close();
    platform::os().unlink(pInc1.c_str());
    throw;
  }
}

// Takes appended assignments back out of "inc_out.txt": cut to its old size,
// or removed where there was none.
void takeBack(const std::string& incOut, const std::optional<std::uint64_t>& oldSize) {
  if (!oldSize) {
    platform::os().unlink(incOut.c_str());
  } else if (const int raw = platform::os().open(incOut.c_str(), O_WRONLY, 0); raw >= 0) {
    platform::Fd fd(raw);
    (void)platform::os().ftruncate(fd.get(), static_cast<std::int64_t>(*oldSize));
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
    platform::os().unlink(pInc1.c_str());
    throw;
  }
  try {
    text::renameOver(pInc1, pInc);
  } catch (...) {
    // "p_inc.txt" still lists every file: take the new assignments back out of
    // "inc_out.txt" and leave no "p_inc1.txt", so the working files agree.
    platform::os().unlink(pInc1.c_str());
    if (!m.assigned.empty()) takeBack(incOut, incOutSize);
    throw;
  }
  return m.counts;
}

}  // namespace borvantel::categories
