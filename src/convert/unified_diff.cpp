#include "convert/unified_diff.h"

#include "text/codepage.h"
#include "text/lines.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace borvantel::convert {
namespace {

// One line as patch reads it: its bytes up to an LF, and the end.
struct DiffLine {
  std::string_view text;  // without the end; a lone CR inside stays here
  std::string_view end;   // "\r\n", "\n", or "" for a last line without LF
  // How many lines the tool's own rule counts in it (a CR LF, a lone CR
  // and a lone LF each end one): at least 1.
  std::uint32_t toolLines;
};

// One pass over the text for both CR and LF.
std::vector<DiffLine> splitLines(std::string_view s) {
  std::vector<DiffLine> lines;
  const char* const end = s.data() + s.size();
  const char* start = s.data();  // of the line at hand
  std::uint32_t loneCrs = 0;
  for (const char* p = start; p < end;) {
    const char* e = p + text::findLineEnd(p, static_cast<size_t>(end - p));
    if (e == end) break;
    const size_t endSize = *e == '\n' ? 1 : e + 1 < end && e[1] == '\n' ? 2 : 0;
    p = e + (endSize == 0 ? 1 : endSize);
    if (endSize == 0) {
      ++loneCrs;
      continue;
    }
    lines.push_back({std::string_view(start, static_cast<size_t>(e - start)), std::string_view(e, endSize), loneCrs + 1});
    start = p;
    loneCrs = 0;
  }
  // A last line without LF; text after its last lone CR is one line more.
  if (start < end) {
    lines.push_back({std::string_view(start, static_cast<size_t>(end - start)), {}, loneCrs + (end[-1] != '\r')});
  }
  return lines;
}

bool sameLine(const DiffLine& a, const DiffLine& b) { return a.text == b.text && a.end == b.end; }

// Lines [oldBegin, oldEnd) of the old text become [newBegin, newEnd) of the new.
struct Change {
  size_t oldBegin, oldEnd, newBegin, newEnd;
};

// The changes, in order, none adjacent to the next. The conversion rewrites
// each of a file's lines into exactly one line (by the tool's line rule) and
// may add lines at the top, so the tool's lines are paired by position, the
// difference in their number taken as lines added (or removed) at the top:
// whatever the texts, that is a correct edit script, and a linear one, where
// a general longest-common-subsequence diff would be quadratic for a large
// file whose every line changes. Diff lines (LF-ended) group the tool's
// lines, so the pairing is cut into blocks where both sides reach a line
// boundary together; a block of one equal line each way is unchanged.
std::vector<Change> pairLines(const std::vector<DiffLine>& a, const std::vector<DiffLine>& b) {
  std::int64_t atA = 0;  // where the next old line starts, in new tool lines
  std::int64_t atB = 0;
  for (const DiffLine& l : b) atA += l.toolLines;
  for (const DiffLine& l : a) atA -= l.toolLines;
  std::vector<Change> changes;
  size_t i = 0, j = 0, i0 = 0, j0 = 0;
  while (i < a.size() || j < b.size()) {
    if (atA <= atB && i < a.size()) atA += a[i++].toolLines;
    if (atB < atA && j < b.size()) atB += b[j++].toolLines;
    if (atA != atB) continue;
    if (i - i0 == 1 && j - j0 == 1 && sameLine(a[i0], b[j0])) {
      // unchanged
    } else if (!changes.empty() && changes.back().oldEnd == i0 && changes.back().newEnd == j0) {
      changes.back().oldEnd = i;
      changes.back().newEnd = j;
    } else {
      changes.push_back({i0, i, j0, j});
    }
    i0 = i;
    j0 = j;
  }
  return changes;
}

constexpr std::string_view kBold = "\033[1m";
constexpr std::string_view kCyan = "\033[36m";
constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kGreen = "\033[32m";
constexpr std::string_view kReset = "\033[m";

bool isControl(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7F; }

// Bytes decoded from Windows-1250, control characters as ^X.
void appendReadable(std::string_view bytes, std::string& out) {
  size_t run = 0;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i < bytes.size() && !isControl(static_cast<unsigned char>(bytes[i]))) continue;
    out.append(text::decodeCp1250(bytes.substr(run, i - run)));
    if (i < bytes.size()) {
      out.push_back('^');
      out.push_back(static_cast<char>(bytes[i] ^ 0x40));
    }
    run = i + 1;
  }
}

// "a/" or "b/" and the path, quoted as git quotes a name that needs it.
std::string shownPath(std::string_view prefix, std::string_view path) {
  const bool quote = std::any_of(path.begin(), path.end(), [](char c) {
    return c == '"' || c == '\\' || isControl(static_cast<unsigned char>(c)) || c == '\t';
  });
  if (!quote) return std::string(prefix).append(path);
  std::string q = "\"";
  q.append(prefix);
  for (const char c : path) {
    static constexpr std::string_view kEscaped = "\a\b\t\n\v\f\r\"\\";
    static constexpr std::string_view kLetter = "abtnvfr\"\\";
    if (const size_t k = kEscaped.find(c); k != std::string_view::npos) {
      q.push_back('\\');
      q.push_back(kLetter[k]);
    } else if (isControl(static_cast<unsigned char>(c))) {
      const auto u = static_cast<unsigned char>(c);
      q.append({'\\', static_cast<char>('0' + (u >> 6)), static_cast<char>('0' + ((u >> 3) & 7)),
                static_cast<char>('0' + (u & 7))});
    } else {
      q.push_back(c);
    }
  }
  q.push_back('"');
  return q;
}

class DiffWriter {
 public:
  DiffWriter(const DiffStyle& style, std::string& out) : style_(style), out_(out) {}

  void fileHeader(std::string_view path) {
    const std::string shown = style_.forReading ? text::displayName(path) : std::string(path);
    const std::string a = shownPath("a/", shown);
    const std::string b = shownPath("b/", shown);
    // git ends a name that holds a space with a tab, so that patch takes the
    // whole name.
    const std::string_view tab = a.front() != '"' && a.find(' ') != std::string::npos ? "\t" : "";
    meta("diff --git " + a + " " + b);
    meta("--- " + a + std::string(tab));
    meta("+++ " + b + std::string(tab));
  }

  void hunkHeader(size_t oldFrom, size_t oldCount, size_t newFrom, size_t newCount) {
    std::string head = "@@ -" + range(oldFrom, oldCount) + " +" + range(newFrom, newCount) + " @@";
    if (style_.colour) head = std::string(kCyan) + head + std::string(kReset);
    out_.append(head).push_back('\n');
  }

  void line(char marker, const DiffLine& l) {
    const std::string_view colour = marker == '-' ? kRed : marker == '+' ? kGreen : std::string_view();
    if (style_.colour) out_.append(colour);
    out_.push_back(marker);
    if (style_.forReading) {
      appendReadable(l.text, out_);
    } else {
      out_.append(l.text);
    }
    if (style_.colour && !colour.empty()) out_.append(kReset);
    if (l.end.empty()) {
      out_.append("\n\\ No newline at end of file\n");
    } else {
      out_.append(l.end);
    }
  }

 private:
  void meta(const std::string& text) {
    if (style_.colour) out_.append(kBold);
    out_.append(text);
    if (style_.colour) out_.append(kReset);
    out_.push_back('\n');
  }

  // A hunk's range: its first line (1-based; for no lines, the line before
  // them) and its count, which is left out when it is 1.
  static std::string range(size_t from, size_t count) {
    if (count == 1) return std::to_string(from + 1);
    return std::to_string(count == 0 ? from : from + 1) + "," + std::to_string(count);
  }

  const DiffStyle& style_;
  std::string& out_;
};

void appendHunks(const std::vector<DiffLine>& a, const std::vector<DiffLine>& b, const std::vector<Change>& changes,
                 DiffWriter& w) {
  for (size_t k = 0; k < changes.size();) {
    // Changes at most twice the context apart share a hunk.
    size_t last = k;
    while (last + 1 < changes.size() && changes[last + 1].oldBegin - changes[last].oldEnd <= 2 * kDiffContext) ++last;
    // Unchanged lines pair one to one, so the context is the same both ways.
    const size_t lead = std::min(kDiffContext, changes[k].oldBegin);
    const size_t trail = std::min(kDiffContext, a.size() - changes[last].oldEnd);
    const size_t oldFrom = changes[k].oldBegin - lead;
    const size_t oldTo = changes[last].oldEnd + trail;
    const size_t newFrom = changes[k].newBegin - lead;
    w.hunkHeader(oldFrom, oldTo - oldFrom, newFrom, changes[last].newEnd + trail - newFrom);
    size_t at = oldFrom;
    for (; k <= last; ++k) {
      const Change& c = changes[k];
      for (; at < c.oldBegin; ++at) w.line(' ', a[at]);
      for (size_t i = c.oldBegin; i < c.oldEnd; ++i) w.line('-', a[i]);
      for (size_t j = c.newBegin; j < c.newEnd; ++j) w.line('+', b[j]);
      at = c.oldEnd;
    }
    for (; at < oldTo; ++at) w.line(' ', a[at]);
  }
}

}  // namespace

void appendUnifiedDiff(std::string_view path, std::string_view before, std::string_view after,
                       const DiffStyle& style, std::string& out) {
  if (before == after) return;
  const std::vector<DiffLine> a = splitLines(before);
  const std::vector<DiffLine> b = splitLines(after);
  DiffWriter w(style, out);
  w.fileHeader(path);
  appendHunks(a, b, pairLines(a, b), w);
}

DiffCounts countDiffLines(std::string_view before, std::string_view after) {
  DiffCounts counts;
  if (before == after) return counts;
  const std::vector<DiffLine> a = splitLines(before);
  const std::vector<DiffLine> b = splitLines(after);
  for (const Change& c : pairLines(a, b)) {
    counts.removed += c.oldEnd - c.oldBegin;
    counts.added += c.newEnd - c.newBegin;
  }
  return counts;
}

}  // namespace borvantel::convert
