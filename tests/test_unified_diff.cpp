// The unified diff of a file's change: its exact form, and that applying it
// as patch does gives back the new text byte for byte.
#include "convert/unified_diff.h"

#include <gtest/gtest.h>

#include <charconv>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace borvantel::convert {
namespace {

std::string diff(std::string_view before, std::string_view after, DiffStyle style = {}) {
  std::string out;
  appendUnifiedDiff("scenery/a.inc", before, after, style, out);
  return out;
}

// Lines "1" to "n" with CR LF, line `changed` (1-based, 0 for none) as "x"
// and the same for `changed2`.
std::string numbered(int n, int changed = 0, int changed2 = 0) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i == changed || i == changed2 ? "x" : std::to_string(i)) + "\r\n";
  return s;
}

constexpr const char* kHeader = "diff --git a/scenery/a.inc b/scenery/a.inc\n--- a/scenery/a.inc\n+++ b/scenery/a.inc\n";

TEST(UnifiedDiff, HunksOfTheChangesWithThreeLinesOfContext) {
  struct Row {
    const char* why;
    std::string before, after, hunks;
  };
  const Row rows[] = {
      {"one line in the middle", numbered(10), numbered(10, 5),
       "@@ -2,7 +2,7 @@\n 2\r\n 3\r\n 4\r\n-5\r\n+x\r\n 6\r\n 7\r\n 8\r\n"},
      {"a header added at the top, the rest paired one down", "a\r\nb\r\n", "H\r\na\r\nb\r\n",
       "@@ -1,2 +1,3 @@\n+H\r\n a\r\n b\r\n"},
      {"a header added and the first line changed: removed before added", "(p1)\r\nx\r\n",
       "H\r\n(p2)\r\nx\r\n", "@@ -1,2 +1,3 @@\n-(p1)\r\n+H\r\n+(p2)\r\n x\r\n"},
      {"the first line: no context before it", numbered(10), numbered(10, 1),
       "@@ -1,4 +1,4 @@\n-1\r\n+x\r\n 2\r\n 3\r\n 4\r\n"},
      {"the second line: one line of context before", numbered(10), numbered(10, 2),
       "@@ -1,5 +1,5 @@\n 1\r\n-2\r\n+x\r\n 3\r\n 4\r\n 5\r\n"},
      {"the last line: no context after it", numbered(10), numbered(10, 10),
       "@@ -7,4 +7,4 @@\n 7\r\n 8\r\n 9\r\n-10\r\n+x\r\n"},
      {"a line changed only in its end: LF becomes CR LF", "a\nb\n", "a\r\nb\n", "@@ -1,2 +1,2 @@\n-a\n+a\r\n b\n"},
      {"a lone CR ends a line: one old line becomes two", "a\rb\r\nc\r\n", "a\r\nb\r\nc\r\n",
       "@@ -1,2 +1,3 @@\n-a\rb\r\n+a\r\n+b\r\n c\r\n"},
      {"a lone CR in a later line: the lines before stay paired", numbered(6) + "a\rb\n" + numbered(2),
       numbered(6) + "a\r\nb\r\n" + numbered(2),
       "@@ -4,6 +4,7 @@\n 4\r\n 5\r\n 6\r\n-a\rb\n+a\r\n+b\r\n 1\r\n 2\r\n"},
      {"a last line without line end gains one", "a\r\nb", "a\r\nb\r\n",
       "@@ -1,2 +1,2 @@\n a\r\n-b\n\\ No newline at end of file\n+b\r\n"},
      {"an unchanged last line without line end", "a\r\nb", "A\r\nb",
       "@@ -1,2 +1,2 @@\n-a\r\n+A\r\n b\n\\ No newline at end of file\n"},
      {"a last line ending in a lone CR: one line, still paired", "a\r\nb\r", "a\r\nb\r\n",
       "@@ -1,2 +1,2 @@\n a\r\n-b\r\n\\ No newline at end of file\n+b\r\n"},
      {"an empty file gains a line", "", "H\r\n", "@@ -0,0 +1 @@\n+H\r\n"},
      {"lines removed at the top", "a\r\nb\r\nc\r\n", "c\r\n", "@@ -1,3 +1 @@\n-a\r\n-b\r\n c\r\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(diff(row.before, row.after), kHeader + row.hunks) << row.why;
  }
}

TEST(UnifiedDiff, ChangesSixLinesApartShareAHunkAndSevenApartDoNot) {
  // Lines 3 and 10: six unchanged lines between, the contexts touch.
  EXPECT_EQ(diff(numbered(14), numbered(14, 3, 10)),
            std::string(kHeader) +
                "@@ -1,13 +1,13 @@\n 1\r\n 2\r\n-3\r\n+x\r\n 4\r\n 5\r\n 6\r\n 7\r\n 8\r\n 9\r\n-10\r\n+x\r\n"
                " 11\r\n 12\r\n 13\r\n");
  // Lines 3 and 11: seven between, two hunks.
  EXPECT_EQ(diff(numbered(15), numbered(15, 3, 11)),
            std::string(kHeader) + "@@ -1,6 +1,6 @@\n 1\r\n 2\r\n-3\r\n+x\r\n 4\r\n 5\r\n 6\r\n" +
                "@@ -8,7 +8,7 @@\n 8\r\n 9\r\n 10\r\n-11\r\n+x\r\n 12\r\n 13\r\n 14\r\n");
}

TEST(UnifiedDiff, EqualTextsGiveNothing) {
  EXPECT_EQ(diff("", ""), "");
  EXPECT_EQ(diff(numbered(5), numbered(5)), "");
}

TEST(UnifiedDiff, PathsAreWrittenSoThatPatchTakesThemWhole) {
  const std::pair<const char*, const char*> rows[] = {
      // A space: a tab ends the name on the --- and +++ lines, as git writes it.
      {"scenery/stare linie/a.scn",
       "diff --git a/scenery/stare linie/a.scn b/scenery/stare linie/a.scn\n"
       "--- a/scenery/stare linie/a.scn\t\n+++ b/scenery/stare linie/a.scn\t\n"},
      // A tab, a quote or a backslash: quoted as git quotes.
      {"scenery/a\tb\".scn",
       "diff --git \"a/scenery/a\\tb\\\".scn\" \"b/scenery/a\\tb\\\".scn\"\n"
       "--- \"a/scenery/a\\tb\\\".scn\"\n+++ \"b/scenery/a\\tb\\\".scn\"\n"},
      {"scenery/a\x1b\\.scn",
       "diff --git \"a/scenery/a\\033\\\\.scn\" \"b/scenery/a\\033\\\\.scn\"\n"
       "--- \"a/scenery/a\\033\\\\.scn\"\n+++ \"b/scenery/a\\033\\\\.scn\"\n"},
      // Other bytes as they are.
      {"scenery/\xB3\xB9ka.scn",
       "diff --git a/scenery/\xB3\xB9ka.scn b/scenery/\xB3\xB9ka.scn\n"
       "--- a/scenery/\xB3\xB9ka.scn\n+++ b/scenery/\xB3\xB9ka.scn\n"},
  };
  for (const auto& [path, header] : rows) {
    std::string out;
    appendUnifiedDiff(path, "a\r\n", "b\r\n", {}, out);
    EXPECT_EQ(out, std::string(header) + "@@ -1 +1 @@\n-a\r\n+b\r\n") << path;
  }
}

TEST(UnifiedDiff, ColourOnlyWhenAsked) {
  const DiffStyle colour{.colour = true, .forReading = false};
  EXPECT_EQ(diff("a\r\nb\r\n", "a\r\nB\r\n", colour),
            "\033[1mdiff --git a/scenery/a.inc b/scenery/a.inc\033[m\n"
            "\033[1m--- a/scenery/a.inc\033[m\n"
            "\033[1m+++ b/scenery/a.inc\033[m\n"
            "\033[36m@@ -1,2 +1,2 @@\033[m\n"
            " a\r\n"
            "\033[31m-b\033[m\r\n"
            "\033[32m+B\033[m\r\n");
  // The reset before the line end, and before the line that marks its absence.
  EXPECT_NE(diff("a", "b", colour).find("\n\033[31m-a\033[m\n\\ No newline at end of file\n"), std::string::npos);
  EXPECT_EQ(diff("a\r\nb\r\n", "a\r\nB\r\n").find('\033'), std::string::npos);
}

TEST(UnifiedDiff, ForReadingTheTextIsDecodedAndControlCharactersShown) {
  const DiffStyle reading{.colour = false, .forReading = true};
  std::string out;
  // The name in Windows-1250, as on Windows (on Linux not valid UTF-8, so
  // shown as Windows-1250 too).
  appendUnifiedDiff("scenery/\xB3\xB9ka.inc", "\xB3\xB9ka\x1b[2J\r\nz\rq\n", "\xA3\xA5KA\r\nz\r\nq\r\n", reading, out);
  EXPECT_EQ(out,
            "diff --git a/scenery/łąka.inc b/scenery/łąka.inc\n--- a/scenery/łąka.inc\n+++ b/scenery/łąka.inc\n"
            "@@ -1,2 +1,3 @@\n-łąka^[[2J\r\n-z^Mq\n+ŁĄKA\r\n+z\r\n+q\r\n");
}

// ------------------------------------------------ applied as patch applies it

// The lines of a text as patch reads them: up to and including each LF.
std::vector<std::string> patchLines(std::string_view s) {
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < s.size();) {
    const size_t lf = s.find('\n', pos);
    const size_t stop = lf == std::string_view::npos ? s.size() : lf + 1;
    lines.emplace_back(s.substr(pos, stop - pos));
    pos = stop;
  }
  return lines;
}

// Applies a diff of one file strictly (no fuzz, no offset): the new text, or
// nullopt where a hunk does not fit.
std::optional<std::string> applyStrictly(std::string_view before, std::string_view patch) {
  const std::vector<std::string> old = patchLines(before);
  const std::vector<std::string> p = patchLines(patch);
  std::string out;
  size_t at = 0;  // old lines used
  size_t k = 3;   // after the three header lines
  while (k < p.size()) {
    size_t from = 0, count = 1;
    const char* head = p[k].data();
    const char* stop = head + p[k].size();
    if (!p[k].starts_with("@@ -")) return std::nullopt;
    const auto [next, error] = std::from_chars(head + 4, stop, from);
    if (error != std::errc() || (*next == ',' && std::from_chars(next + 1, stop, count).ec != std::errc())) {
      return std::nullopt;
    }
    if (count == 0) ++from;  // "-l,0" names the line before
    if (from == 0 || from - 1 < at) return std::nullopt;
    for (; at < from - 1; ++at) out += old[at];
    for (++k; k < p.size() && p[k][0] != '@'; ++k) {
      if (p[k][0] == '\\') continue;  // "\ No newline at end of file"
      std::string body = p[k].substr(1);
      if (k + 1 < p.size() && p[k + 1].starts_with("\\ No newline")) body.pop_back();
      if (p[k][0] != '+' && (at >= old.size() || old[at++] != body)) return std::nullopt;
      if (p[k][0] != '-') out += body;
    }
  }
  for (; at < old.size(); ++at) out += old[at];
  return out;
}

// Texts with every kind of line end, bytes of the code page's upper half, a
// last line with or without end; the new text is the old one changed as the
// conversion changes files (a header, some lines rewritten, every line end
// CR LF) or changed anyhow.
TEST(UnifiedDiff, AppliedStrictlyItGivesTheNewTextExactly) {
  std::mt19937 rng(18);
  const std::string ends[] = {"\r\n", "\n", "\r"};
  const std::string alphabet = "ab(p1) \t\xB3\xB9\xEA\x9C";
  for (int round = 0; round < 3000; ++round) {
    const auto line = [&] {
      std::string s;
      for (size_t n = rng() % 6; n > 0; --n) s += alphabet[rng() % alphabet.size()];
      return s;
    };
    std::string before, after;
    const bool likeConversion = round % 3 != 0;
    if (likeConversion && rng() % 2) after = "//$infotype: X\r\n";
    for (size_t n = rng() % 40; n > 0; --n) {
      const std::string l = line();
      before += l + (n == 1 && rng() % 3 == 0 ? "" : ends[rng() % 3]);
      if (likeConversion) after += (rng() % 4 == 0 ? l + "!" : l) + "\r\n";
    }
    if (!likeConversion) {
      for (size_t n = rng() % 40; n > 0; --n) after += line() + ends[rng() % 3];
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string d = diff(before, after);
    ASSERT_EQ(d.empty(), before == after);
    if (d.empty()) continue;
    ASSERT_EQ(applyStrictly(before, d), after) << d;
  }
}

// Where every line changes in place, the diff has each line once removed
// and once added: nothing else is searched for.
TEST(UnifiedDiff, ALargeFileWhoseEveryLineChangesIsOneHunkOfPairs) {
  std::string before, after;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    before += "(p" + std::to_string(i) + ")\r\n";
    after += "(p" + std::to_string(i + 1) + ")\r\n";
  }
  const std::string d = diff(before, "H\r\n" + after);
  size_t removed = 0, added = 0, hunks = 0;
  for (const std::string& l : patchLines(d)) {
    hunks += l.starts_with("@@ -1,200000 +1,200001 @@\n");
    removed += l[0] == '-' && l[1] != '-';
    added += l[0] == '+' && l[1] != '+';
  }
  EXPECT_EQ(removed, size_t(n));
  EXPECT_EQ(added, size_t(n) + 1);
  EXPECT_EQ(hunks, 1u);
}

}  // namespace
}  // namespace borvantel::convert
