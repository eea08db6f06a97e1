// The unified diff of one file's change, in the form `git diff` writes and
// `patch -p1` and `git apply` take. A line of the diff is what those tools
// call a line: the bytes up to and including an LF. So every CR stays in the
// line it stands in, each line carries its own end bytes, and a patch gives
// back the new bytes exactly. Pure: text in, text out, nothing thrown but
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace borvantel::convert {

// Lines of unchanged text shown around each change.
inline constexpr size_t kDiffContext = 3;

struct DiffStyle {
  // git's colours: bold file headers, cyan hunk heads, red removed lines,
  // green added lines.
  bool colour = false;
  // For a person at a terminal: the path is shown as the lists show file
  // names, the lines are decoded from Windows-1250 to UTF-8, and control
  // characters inside a line (a lone CR too) are shown as ^X rather than
  // sent to the terminal. Off, every byte of the files is written unchanged.
  bool forReading = false;
};

// Appends the diff that turns `before` into `after` to `out`: the lines
// "diff --git a/P b/P", "--- a/P" and "+++ b/P", then hunks with
// kDiffContext lines of context, two changes whose context would touch or
// overlap sharing one hunk. A last line without line end is followed by
// "\ No newline at end of file". Appends nothing when the texts are equal.
// `path` is relative, "/" between its parts; a path holding a control
// character, a quote or a backslash is written quoted, as git quotes it.
//
// Meant for a change that rewrites lines in place and may add or remove
// lines at the top (the conversion's kind): lines are paired by position,
// not searched for, so the cost is linear however many lines change.
void appendUnifiedDiff(std::string_view path, std::string_view before, std::string_view after,
                       const DiffStyle& style, std::string& out);

// How many lines that diff removes ("-") and adds ("+"), without writing it.
struct DiffCounts {
  size_t removed = 0;
  size_t added = 0;
};
DiffCounts countDiffLines(std::string_view before, std::string_view after);

}  // namespace borvantel::convert
