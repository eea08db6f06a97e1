#include "preview/preview_text.h"

#include "text/files.h"
#include "text/lines.h"
#include "platform/os.h"
#include "text/file_calls.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace borvantel::preview {
namespace {

constexpr size_t kBlock = 64 * 1024;

// Counts the lines of `text` that are complete from `pos` on, up to `wanted`;
// moves `pos` past them. A CR at the very end may still be the first half of
// CR LF, so it completes a line only at the end of the file.
size_t completeLines(std::string_view text, size_t& pos, size_t wanted, bool atEnd) {
  size_t found = 0;
  while (found < wanted && pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) break;
    if (text[end] == '\r' && end + 1 == text.size() && !atEnd) break;
    pos = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? end + 2 : end + 1;
    ++found;
  }
  return found;
}

}  // namespace

std::string previewText(const std::string& path, size_t maxLines, size_t maxBytes) {
  const platform::Fd fd = text::openForReading(path);
  if (text::statOf(fd.get(), path).size < 2) throw text::Failure("Plik " + text::quotedPath(path) + " jest pusty: nie ma czego pokazać.");

  // Read until the wanted lines are complete, the file ends or the cap is reached.
  std::string content;
  size_t scanned = 0;
  size_t lines = 0;
  bool atEnd = false;
  while (lines < maxLines && content.size() < maxBytes && !atEnd) {
    const size_t old = content.size();
    content.resize(old + std::min(kBlock, maxBytes - old));
    const size_t got = text::readSome(fd.get(), content.data() + old, content.size() - old, path);
    content.resize(old + got);
    atEnd = got == 0;
    lines += completeLines(content, scanned, maxLines - lines, atEnd);
  }

  std::string shown;
  text::LineSplitter splitter(content);
  std::string_view line;
  for (size_t n = 0; n < maxLines && splitter.next(line); ++n) {
    if (n > 0) shown.append(text::kLineEnd);
    shown.append(line);
  }
  return shown;
}

}  // namespace borvantel::preview
