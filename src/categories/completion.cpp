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

CompletionResult automatycznie_uzupelnij_inc(const text::RunPaths& paths) {
  const PredefMatcher matcher(wczytaj_predef(paths.programFile(kPredef)));
  const std::string pInc = paths.workingFile(kPInc);
  const std::string pInc1 = paths.workingFile(kPInc1);
  const size_t offset = paths.relativeOffset();

  CompletionResult result;
  std::string assigned;  // lines for "inc_out.txt", appended in one write
  std::string left;      // lines of "p_inc1.txt"
  size_t lineNo = 0;
  text::forEachRecord(pInc, [&](std::string_view full) {
    ++lineNo;
    if (full.size() <= offset || full.compare(0, paths.sciezka_katalogu.size(), paths.sciezka_katalogu) != 0) {
      throw text::Failure("Wiersz " + std::to_string(lineNo) + " pliku " + text::quotedPath(pInc) +
                          " nie jest ścieżką pliku w katalogu scenery. Uruchom Start ponownie.");
    }
    const std::string relative = text::nativeToRelative(full.substr(offset));
    if (const PredefRow* row = matcher.firstMatch(text::fileNameOf(relative))) {
      text::appendRecord(assigned, relative, row->category);
      ++result.assigned;
    } else {
      text::appendLine(left, relative);
      ++result.left;
    }
    return true;
  });

  // "p_inc1.txt" complete and flushed first; then the assignments; then one
  // rename puts it over "p_inc.txt".
  {
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
  const std::string incOut = paths.workingFile(kIncOut);
  const std::optional<std::uint64_t> incOutSize = text::fileSize(incOut);
  try {
    text::appendRecords(incOut, assigned);
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
    if (!assigned.empty()) {
      if (!incOutSize) {
        platform::os().unlink(incOut.c_str());
      } else if (const int raw = platform::os().open(incOut.c_str(), O_WRONLY, 0); raw >= 0) {
        platform::Fd fd(raw);
        (void)platform::os().ftruncate(fd.get(), static_cast<off_t>(*incOutSize));
      }
    }
    throw;
  }
  return result;
}

}  // namespace borvantel::categories
