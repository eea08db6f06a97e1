// The scan of the scenery tree.
#include "scan/scan.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/files.h"
#include "text/lines.h"
#include "platform/os.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace borvantel::scan {
namespace {

using testing::FailingOs, testing::TempTree, testing::linesOf, testing::cp, testing::native;
using Call = FailingOs::Call;
using Lines = std::vector<std::string>;

using testing::kThreeMarkers;

// The scenery directory's full path prefix as the scan writes it (native
// separators: expected paths below it are "/" separated and go through native()).
std::string sceneryPrefix(const TempTree& t) { return t.runPaths().sciezka_katalogu + "scenery" + platform::kPathSeparator; }

// ---------------------------------------------------------------------------
// Reading one include file

TEST(IncludeExamination, TakesTheCategoryOnlyFromATwoWordHeader) {
  struct Row {
    const char* line;
    std::optional<std::string> category;
    const char* why;
  };
  const Row rows[] = {
      {"//$infotype: Budynki", "Budynki", "one space, one word: case kept"},
      {"  //$infotype:   las  ", "las", "runs of spaces collapsed, outer spaces removed"},
      {"//$INFOTYPE: drogi", "drogi", "the tag in other case"},
      {"//$infotype:las", std::nullopt, "no space after the colon: one word"},
      {"//$infotype: las mieszany", std::nullopt, "two category words"},
      {"//$infotype:", std::nullopt, "no category at all"},
      {"//$infotype:\tlas", std::nullopt, "a tab is part of the word"},
      {"x = 1 //$infotype: las", std::nullopt, "text before the tag: four words"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    const auto found = examineIncludeText(r.line);
    EXPECT_EQ(found.kind, IncludeExamination::Kind::Header);
    EXPECT_EQ(found.category, r.category);
    EXPECT_EQ(headerCategory(r.line), r.category);
  }
}

TEST(IncludeExamination, CountsDifferentMarkersOutsideCommentLines) {
  using K = IncludeExamination::Kind;
  struct Row {
    std::string text;
    K kind;
    const char* why;
  };
  const Row rows[] = {
      {"(p1)\r\n(p2)\r\n(p3)\r\n", K::NeedsCategory, "three different markers"},
      {"(P1)\r\n(p2)\r\n(p4)\r\n", K::NeedsCategory, "a marker in capitals counts"},
      {"(p1)(p2)", K::FewMarkers, "two markers"},
      {std::string(40 * 6, ' ') + "(p1)(p1)(p1)(p1)\r\n(p1)", K::FewMarkers, "kinds count, not occurrences"},
      {"//(p1)\r\n//(p2) (p3)\r\n", K::FewMarkers, "markers only in lines beginning with //"},
      {"  //(p1)\r\nx //(p2)\r\n (p3)", K::NeedsCategory, "indented comments and trailing comments count"},
      {"/ /(p1)(p2)(p3)", K::NeedsCategory, "\"/ /\" is no comment"},
      {"(p0)(p7)(p1)(p2)", K::FewMarkers, "only (p1) to (p6) are markers"},
      {"(p1 )(p 2)(pp3)", K::FewMarkers, "malformed markers"},
      {"(p4)(p5)(p6)", K::NeedsCategory, "the upper three"},
      {"(p1)\n//(p2)(p3)\n(p4)\n", K::FewMarkers, "LF-only file: the comment line is its own line"},
      {"(p1)\r//(p2)(p3)\r(p4)", K::FewMarkers, "CR-only file: the same"},
      {"(p1)(p2)(p3)\r\n//$infotype: las", K::Header, "a header wins over markers before it"},
      {std::string("(p1)\0(p2)\0(p3)", 14), K::NeedsCategory, "NUL bytes between markers"},
      {"", K::FewMarkers, "nothing"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    EXPECT_EQ(examineIncludeText(r.text).kind, r.kind);
  }
}

// ---------------------------------------------------------------------------
// The walk

TEST(Scan, WalkVisitsSubdirectoriesBreadthFirstAndRootLast) {
  TempTree t;
  for (const char* scn : {"root.scn", "A/a.scn", "A/A1/a1.scn", "A/A1/A11/a11.scn", "B/b.scn", "B/B1/b1.scn"}) {
    t.write(std::string("base/scenery/") + scn, "x");
  }
  t.write("base/scenery/C/c.inc", kThreeMarkers);
  t.write("base/scenery/A/A1/h.inc", "//$infotype: Mosty\r\n");
  t.write("base/scenery/root.inc", "//$infotype: Drogi\r\n");
  t.mkdir("base/scenery/Empty");

  const ScanResult r = wypisz_pliki(t.runPaths());
  const std::string s = sceneryPrefix(t);
  // A, B, C (the root's subdirectories), then A1, B1, then A11, then the root.
  EXPECT_EQ(t.read("base/p_scn.txt"), native(s + "A/a.scn\r\n" + s + "B/b.scn\r\n" + s + "A/A1/a1.scn\r\n" + s +
                                                 "B/B1/b1.scn\r\n" + s + "A/A1/A11/a11.scn\r\n" + s + "root.scn\r\n"));
  EXPECT_EQ(t.read("base/p_inc.txt"), native(s + "C/c.inc\r\n"));
  EXPECT_EQ(t.read("base/inc_out1.txt"), "A\\A1\\h.inc Mosty\r\nroot.inc Drogi\r\n");
  EXPECT_EQ(r.sceneryFiles, 6u);
  EXPECT_EQ(r.needCategory, 1u);
  EXPECT_EQ(r.categorised, 2u);
  EXPECT_TRUE(r.passedOver.empty());
  EXPECT_EQ(t.allFiles(), (Lines{"base/inc_out1.txt", "base/p_inc.txt", "base/p_scn.txt", "base/scenery/A/A1/A11/a11.scn",
                                 "base/scenery/A/A1/a1.scn", "base/scenery/A/A1/h.inc", "base/scenery/A/a.scn",
                                 "base/scenery/B/B1/b1.scn", "base/scenery/B/b.scn", "base/scenery/C/c.inc",
                                 "base/scenery/root.inc", "base/scenery/root.scn"}));
}

TEST(Scan, KeepsTheFilesOfOneDirectoryTogether) {
  TempTree t;
  for (const char* name : {"z.scn", "a.scm", "M.ctr", "b.SCN"}) {
    t.write(std::string("base/scenery/A/") + name, "x");
    t.write(std::string("base/scenery/") + name, "x");
  }
  wypisz_pliki(t.runPaths());
  const Lines lines = linesOf(t.read("base/p_scn.txt"));
  ASSERT_EQ(lines.size(), 8u);
  const std::string a = native(sceneryPrefix(t) + "A/");
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[i].rfind(a, 0), 0u) << lines[i];  // A's four first
  for (size_t i = 4; i < 8; ++i) EXPECT_EQ(lines[i].find(native("/A/")), std::string::npos) << lines[i];
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.begin() + 4),
            (std::set<std::string>{a + "z.scn", a + "a.scm", a + "M.ctr", a + "b.SCN"}));
}

TEST(Scan, ListsEachDirectoryInOrderIgnoringCaseWhateverTheByteOrder) {
  // In byte order "B" and "D" would come before "a" and "c".
  TempTree t;
  for (const char* name : {"D.scn", "B.scn", "c.scn", "a.scn"}) t.write(std::string("base/scenery/") + name, "x");
  t.write("base/scenery/B/b.scn", "x");
  t.write("base/scenery/a/a.scn", "x");
  wypisz_pliki(t.runPaths());
  const std::string s = sceneryPrefix(t);
  EXPECT_EQ(linesOf(t.read("base/p_scn.txt")),
            (Lines{s + native("a/a.scn"), s + native("B/b.scn"), s + "a.scn", s + "B.scn", s + "c.scn", s + "D.scn"}));
}

#ifndef _WIN32
// Only where names differ by case can a file and a directory share a name.
TEST(Scan, ADirectoryBesideAFileOfTheSameNameIgnoringCaseIsNotEntered) {
  struct Row {
    std::string file;
    std::string directory;
    bool entered;
    const char* why;
  };
  const Row rows[] = {
      {"linie", "LINIE", false, "ASCII letters in another case"},
      {cp("Łąki"), cp("łĄKI"), false, "Polish letters in another case"},
      {"linie", "linie2", true, "a name that merely begins like the file's"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    TempTree t;
    t.write("base/scenery/" + row.file, "a plain file");
    t.write("base/scenery/" + row.directory + "/w.inc", kThreeMarkers);
    t.write("base/scenery/" + row.directory + "/w.scn", "x");
    const ScanResult r = wypisz_pliki(t.runPaths());
    const std::string dir = sceneryPrefix(t) + row.directory + "/";
    EXPECT_EQ(t.read("base/p_inc.txt"), row.entered ? dir + "w.inc\r\n" : "");
    EXPECT_EQ(t.read("base/p_scn.txt"), row.entered ? dir + "w.scn\r\n" : "");
    EXPECT_EQ(r.needCategory + r.sceneryFiles, row.entered ? 2u : 0u);
  }
}
#endif

TEST(Scan, ClassifiesEveryKindOfFile) {
  enum Out { PInc, PScn, IncOut1, None };
  struct Row {
    std::string name;
    std::string content;
    Out out;
    const char* category;
    const char* why;
  };
  const std::string longLine(2 * 1024 * 1024, 'q');
  std::string binary(200000, '\0');
  std::mt19937 rng(99);
  for (char& c : binary) c = static_cast<char>(rng() % 256);
  for (size_t i = 0; i < binary.size(); ++i) {
    if (binary[i] == '(') binary[i] = '[';  // no accidental marker
    if (binary[i] == '$') binary[i] = '#';  // no accidental header
  }
  const Row rows[] = {
      {"x.INC", kThreeMarkers, PInc, "", "upper-case extension counts as .inc"},
      {"readme.inc.bak", kThreeMarkers, None, "", "not ending in .inc"},
      {".scn", "", PScn, "", "a name that is only the extension; scenery files have no size test"},
      {"empty.scm", "", PScn, "", "an empty scenery file is listed"},
      {"y.CtR", "x", PScn, "", ".ctr in any case"},
      {"notes.txt", kThreeMarkers, None, "", "other files ignored"},
      {"inc", kThreeMarkers, None, "", "shorter than four characters"},
      {"one.inc", "(", None, "", "1 byte: ignored completely"},
      {"zero.inc", "", None, "", "0 bytes: ignored completely"},
      {"two.inc", "\r\n", PScn, "", "2 bytes, only a line end: read, no markers"},
      {"third.inc", "a\r\nb\r\n//$infotype: drogi\r\n(p1)(p2)(p3)(p4)(p5)(p6)\r\n", IncOut1, "drogi",
       "header on the third line; the markers after it are never read"},
      {"budynki.inc", "//$infotype: Budynki\r\n", IncOut1, "Budynki", "category case kept"},
      {"comments.inc", "//(p1)\r\n//(p2)\r\n// (p3)\r\n", PScn, "", "markers only in comment lines"},
      {"caps.inc", "(P1)\r\nx(p2)\r\n(p4)y\r\n", PInc, "", "(P1), (p2), (p4)"},
      {"spaced.inc", "  //$infotype:   las  \r\n", IncOut1, "las", "spaces collapsed and trimmed"},
      {"nospace.inc", "//$infotype:las\r\n(p1)(p2)(p3)", None, "", "header without space: no file at all"},
      {"twowords.inc", "//$infotype: las mieszany\r\n", None, "", "header with two words: no file at all"},
      {"lf.inc", "(p1)\n//(p2)(p3)\n(p4)\n", PScn, "", "LF-only: comment lines recognised per line"},
      {"lfhdr.inc", "x\n//$infotype: Lf\n", IncOut1, "Lf", "LF-only: header on the second line"},
      {"nul.inc", std::string("(p1)\0\0(p2)\0\r\n\0(p3)", 18), PInc, "", "NUL bytes are ordinary bytes"},
      {"long.inc", longLine + "(p1)\r\n" + longLine + "(p2)\r\n(p3)", PInc, "", "very long lines"},
      {"binary.inc", binary, PScn, "", "binary content: no crash, no markers"},
      {".old.inc", kThreeMarkers, PInc, "", "a dot file is examined like any other"},
  };
  TempTree t;
  for (const auto& r : rows) {
    t.write("base/scenery/" + r.name, r.content);
    t.write("base/scenery/sub/" + r.name, r.content);
  }
#ifdef _WIN32
  // Windows passes over what is marked hidden, not what a name begins with;
  // some systems (Wine) mark dot files hidden whatever is asked, and then
  // such a file is rightly passed over.
  std::vector<Row> seen;
  for (Row r : rows) {
    for (const std::string dir : {"base/scenery/", "base/scenery/sub/"}) {
      t.setAttributes(dir + r.name, FILE_ATTRIBUTE_NORMAL);
      if (t.attributes(dir + r.name) & FILE_ATTRIBUTE_HIDDEN) r.out = None;
    }
    seen.push_back(r);
  }
#else
  const std::vector<Row> seen(std::begin(rows), std::end(rows));
#endif
  const ScanResult result = wypisz_pliki(t.runPaths());
  const Lines pInc = linesOf(t.read("base/p_inc.txt"));
  const Lines pScn = linesOf(t.read("base/p_scn.txt"));
  const Lines incOut1 = linesOf(t.read("base/inc_out1.txt"));
  auto has = [](const Lines& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  };
  for (const auto& r : seen) {
    SCOPED_TRACE(r.name + ": " + r.why);
    for (const std::string_view dir : {"", "sub/"}) {
      const std::string full = sceneryPrefix(t) + native(dir) + r.name;
      const std::string rel = (dir.empty() ? "" : "sub\\") + r.name;
      EXPECT_EQ(has(pInc, full), r.out == PInc ? 1 : 0);
      EXPECT_EQ(has(pScn, full), r.out == PScn ? 1 : 0);
      EXPECT_EQ(has(incOut1, rel + " " + r.category), r.out == IncOut1 ? 1 : 0);
      if (r.out != IncOut1) {
        for (const auto& line : incOut1) EXPECT_NE(line.substr(0, line.find(' ')), rel);
      }
    }
  }
  // Nothing else is listed.
  const auto count = [&](Out o) { return 2 * std::count_if(seen.begin(), seen.end(), [&](const Row& r) { return r.out == o; }); };
  EXPECT_EQ(static_cast<std::ptrdiff_t>(pInc.size()), count(PInc));
  EXPECT_EQ(static_cast<std::ptrdiff_t>(pScn.size()), count(PScn));
  EXPECT_EQ(static_cast<std::ptrdiff_t>(incOut1.size()), count(IncOut1));
  EXPECT_EQ(static_cast<std::ptrdiff_t>(result.needCategory), count(PInc));
  EXPECT_TRUE(result.passedOver.empty());
}

TEST(Scan, HeaderOnTheThirdLineListsTheFileOnlyInIncOut1) {
  TempTree t;
  t.write("base/scenery/linie/drogi.inc", "// opis\r\nx = 1\r\n//$infotype: drogi\r\n(p1)\r\n(p2)\r\n(p3)\r\n(p4)\r\n(p5)\r\n(p6)\r\n");
  wypisz_pliki(t.runPaths());
  EXPECT_EQ(t.read("base/inc_out1.txt"), "linie\\drogi.inc drogi\r\n");
  EXPECT_EQ(t.read("base/p_inc.txt"), "");
  EXPECT_EQ(t.read("base/p_scn.txt"), "");
}

TEST(Scan, HiddenDirectoriesAreNotWalked) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows hides by attribute, not by a leading dot: see HiddenAndSystemEntriesArePassedOver";
#endif
  TempTree t;
  t.write("base/scenery/.git/x.inc", kThreeMarkers);
  t.write("base/scenery/.git/y.scn", "x");
  t.write("base/scenery/.old.inc", kThreeMarkers);
  t.write("base/scenery/a/.hidden/z.scn", "x");
  wypisz_pliki(t.runPaths());
  EXPECT_EQ(t.read("base/p_inc.txt"), sceneryPrefix(t) + ".old.inc\r\n");
  EXPECT_EQ(t.read("base/p_scn.txt"), "");
}

#ifdef _WIN32
// What the user or the system marked hidden or system is passed over, files
// and directories alike; read-only is no such mark.
TEST(Scan, HiddenAndSystemEntriesArePassedOver) {
  struct Row {
    const char* file;    // below the scenery directory
    const char* marked;  // the file or the directory that gets `attributes`
    DWORD attributes;
    bool listed;
    const char* why;
  };
  const Row rows[] = {
      {"a.inc", "a.inc", FILE_ATTRIBUTE_HIDDEN, false, "a hidden include file"},
      {"b.scn", "b.scn", FILE_ATTRIBUTE_SYSTEM, false, "a system scenery file"},
      {"c.inc", "c.inc", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY, false, "all three"},
      {"d.inc", "d.inc", FILE_ATTRIBUTE_READONLY, true, "read-only only"},
      {"e.scn", "e.scn", FILE_ATTRIBUTE_ARCHIVE, true, "no mark"},
      {"ukryty/f.inc", "ukryty", FILE_ATTRIBUTE_HIDDEN, false, "in a hidden directory"},
      {"ukryty/g/h.scn", "ukryty", FILE_ATTRIBUTE_HIDDEN, false, "below a hidden directory"},
      {"systemowy/i.scn", "systemowy", FILE_ATTRIBUTE_SYSTEM, false, "in a system directory"},
      {"zwykly/j.inc", "zwykly", FILE_ATTRIBUTE_READONLY, true, "in a read-only directory"},
      {"zwykly/k.scn", "zwykly/k.scn", FILE_ATTRIBUTE_HIDDEN, false, "hidden in a plain directory"},
  };
  TempTree t;
  for (const Row& r : rows) t.write(std::string("base/scenery/") + r.file, std::string(r.file).ends_with(".inc") ? kThreeMarkers : "x");
  for (const Row& r : rows) t.setAttributes(std::string("base/scenery/") + r.marked, r.attributes);
  const ScanResult result = wypisz_pliki(t.runPaths());
  const Lines pInc = linesOf(t.read("base/p_inc.txt"));
  const Lines pScn = linesOf(t.read("base/p_scn.txt"));
  size_t listed = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.why);
    const std::string full = sceneryPrefix(t) + native(r.file);
    const Lines& list = std::string(r.file).ends_with(".inc") ? pInc : pScn;
    EXPECT_EQ(std::count(list.begin(), list.end(), full), r.listed ? 1 : 0);
    listed += r.listed ? 1 : 0;
  }
  EXPECT_EQ(pInc.size() + pScn.size(), listed);  // nothing else
  EXPECT_TRUE(result.passedOver.empty());         // hidden is no reason to tell the user
}

// Names that Windows-1250 cannot hold cannot stand in a working file: the
// include and scenery files and the directories among them are named to the
// user (each such character shown as "?"), everything else goes on as usual.
TEST(Scan, NamesWindows1250CannotHoldAreReportedAndPassedOver) {
  TempTree t;
  t.write("base/scenery/linie/dobry.inc", kThreeMarkers);
  t.write("base/scenery/s.scn", "x");
  t.writeNamed("base/scenery", L"\u4E2D.inc", kThreeMarkers);
  t.writeNamed("base/scenery", L"a\u4E2D.scn", "x");
  t.writeNamed("base/scenery", L"\u4E2D.txt", "x");  // no file the tool reads: not named
  t.mkdirNamed("base/scenery/linie", L"\u4E2D\u6587");
  t.writeNamed("base/scenery/linie", L"\u4E2D\u6587\\w.inc", kThreeMarkers);  // in it: never reached
  t.writeNamed("base/scenery", L"ukryty\u4E2D.inc", kThreeMarkers, FILE_ATTRIBUTE_HIDDEN);  // hidden: not named
  const ScanResult r = wypisz_pliki(t.runPaths());
  EXPECT_EQ(std::set<std::string>(r.passedOver.begin(), r.passedOver.end()),
            (std::set<std::string>{"?.inc", "a?.scn", "linie\\??\\"}));
  EXPECT_EQ(r.passedOver.size(), 3u);
  EXPECT_EQ(t.read("base/p_inc.txt"), sceneryPrefix(t) + native("linie/dobry.inc") + "\r\n");
  EXPECT_EQ(t.read("base/p_scn.txt"), sceneryPrefix(t) + "s.scn\r\n");
  EXPECT_EQ(t.read("base/inc_out1.txt"), "");
}
#endif

TEST(Scan, MissingSceneryDirectoryGivesThreeEmptyFiles) {
  TempTree t;
  t.write("base/p_inc.txt", "old\r\n");  // an earlier run's files are replaced
  t.write("base/p_scn.txt", "old\r\n");
  t.write("base/other/x.scn", "x");      // not below scenery
  const ScanResult r = wypisz_pliki(t.runPaths());
  EXPECT_EQ(t.read("base/p_inc.txt"), "");
  EXPECT_EQ(t.read("base/p_scn.txt"), "");
  EXPECT_EQ(t.read("base/inc_out1.txt"), "");
  EXPECT_EQ(r.needCategory + r.sceneryFiles + r.categorised, 0u);
  EXPECT_EQ(t.allFiles(), (Lines{"base/inc_out1.txt", "base/other/x.scn", "base/p_inc.txt", "base/p_scn.txt"}));
}

TEST(Scan, SceneryDirectoryInAnotherCaseIsScanned) {
  TempTree t;
  t.write("base/Scenery/linie/a.inc", kThreeMarkers);
  t.write("base/Scenery/linie/h.inc", "//$infotype: Mosty\r\n");
  t.write("base/Scenery/s.scn", "x");
  wypisz_pliki(t.runPaths());
  const std::string s = t.runPaths().sciezka_katalogu + "Scenery" + platform::kPathSeparator;
  EXPECT_EQ(t.read("base/p_inc.txt"), s + native("linie/a.inc") + "\r\n");
  EXPECT_EQ(t.read("base/p_scn.txt"), s + "s.scn\r\n");
  EXPECT_EQ(t.read("base/inc_out1.txt"), "linie\\h.inc Mosty\r\n");
}

#ifndef _WIN32
// Links (Linux only: on Windows making one takes a privilege).
TEST(Scan, DirectoryLinksAreNotFollowed) {
  TempTree t;
  t.write("base/scenery/A/a.inc", kThreeMarkers);
  t.write("base/scenery/A/a.scn", "x");
  t.symlink("..", "base/scenery/A/up");            // loops back to the scenery directory
  t.symlink(".", "base/scenery/A/self");           // loops onto itself
  t.symlink(t.path("outside"), "base/scenery/out");  // leaves the tree
  t.write("outside/o.inc", kThreeMarkers);
  t.symlink("missing", "base/scenery/broken.inc");  // a dangling link is no file
  const ScanResult r = wypisz_pliki(t.runPaths());
  const std::string s = sceneryPrefix(t);
  EXPECT_EQ(t.read("base/p_inc.txt"), s + "A/a.inc\r\n");
  EXPECT_EQ(t.read("base/p_scn.txt"), s + "A/a.scn\r\n");
  EXPECT_TRUE(r.passedOver.empty());
}

TEST(Scan, LinkToAPlainIncludeFileIsExamined) {
  TempTree t;
  t.write("outside/real.inc", kThreeMarkers);
  t.write("outside/hdr.inc", "//$infotype: Las\r\n");
  t.symlink(t.path("outside/real.inc"), "base/scenery/linked.inc");
  t.symlink("../../outside/hdr.inc", "base/scenery/hdr.inc");
  wypisz_pliki(t.runPaths());
  EXPECT_EQ(t.read("base/p_inc.txt"), sceneryPrefix(t) + "linked.inc\r\n");
  EXPECT_EQ(t.read("base/inc_out1.txt"), "hdr.inc Las\r\n");
}
#endif

TEST(Scan, OnlyPlainFilesAreExamined) {
  TempTree t;
  t.write("base/scenery/dir.inc/inner.inc", kThreeMarkers);  // a directory named like an include file
  t.write("base/scenery/dir.scn/inner.scn", "x");
  t.mkdir("base/scenery/empty.inc");
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(t.path("base/scenery/pipe.inc").c_str(), 0644), 0);  // would block if opened
  ASSERT_EQ(::mkfifo(t.path("base/scenery/pipe.scn").c_str(), 0644), 0);
#endif
  const ScanResult r = wypisz_pliki(t.runPaths());
  const std::string s = sceneryPrefix(t);
  EXPECT_EQ(t.read("base/p_inc.txt"), s + native("dir.inc/inner.inc") + "\r\n");
  EXPECT_EQ(t.read("base/p_scn.txt"), s + native("dir.scn/inner.scn") + "\r\n");
  EXPECT_EQ(r.needCategory + r.sceneryFiles + r.categorised, 2u);
}

TEST(Scan, IncludeFilesWhosePathHoldsASpaceArePassedOverAndReported) {
  TempTree t;
  t.write("base/scenery/moje linie/a.inc", kThreeMarkers);        // directory with a space
  t.write("base/scenery/moje linie/h.inc", "//$infotype: Mosty\r\n");
  t.write("base/scenery/b c.inc", kThreeMarkers);                 // file name with a space
  t.write("base/scenery/d e.inc", "//$infotype: Las\r\n");
  t.write("base/scenery/ok.inc", kThreeMarkers);
  t.write("base/scenery/moje linie/s.scn", "x");                  // scenery files are listed by full path
  const ScanResult r = wypisz_pliki(t.runPaths());
  const std::string s = sceneryPrefix(t);
  EXPECT_EQ(t.read("base/p_inc.txt"), s + "ok.inc\r\n");
  EXPECT_EQ(t.read("base/inc_out1.txt"), "");
  EXPECT_EQ(t.read("base/p_scn.txt"), s + native("moje linie/s.scn") + "\r\n");
  EXPECT_EQ(std::set<std::string>(r.passedOver.begin(), r.passedOver.end()),
            (std::set<std::string>{"moje linie\\a.inc", "moje linie\\h.inc", "b c.inc", "d e.inc"}));
  EXPECT_EQ(r.passedOver.size(), 4u);
}

TEST(Scan, LiftsTheOldCapacityOfNamesPerDirectory) {
  if (testing::underWine()) {
    GTEST_SKIP() << "Wine compares each new name with every name in the directory: creating 65,000 files "
                    "there takes many minutes (Windows itself runs this case)";
  }
  TempTree t;
  t.mkdir("base/scenery/big");
  const size_t n = 65536 + 40;
  platform::Os system;  // the plain calls: one each, on both systems
  for (size_t i = 0; i < n; ++i) {
    const std::string p = t.path("base/scenery/big/f" + std::to_string(i) + ".scn");
    const int fd = system.open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << p;
    system.close(fd);
  }
  t.write("base/scenery/last.scn", "x");
  const ScanResult r = wypisz_pliki(t.runPaths());
  EXPECT_EQ(r.sceneryFiles, n + 1);
  const Lines lines = linesOf(t.read("base/p_scn.txt"));
  ASSERT_EQ(lines.size(), n + 1);
  EXPECT_EQ(lines.back(), sceneryPrefix(t) + "last.scn");  // the root still last
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), n + 1);  // no name twice
}

// ---------------------------------------------------------------------------
// Failures of the scan

struct ScanFailure {
  FailingOs::Rule rule;
  const char* failingFile;  // the file the error must name
  const char* why;
};

TEST(Scan, FailureLeavesThePreviousWorkingFilesAndNoTemporaryFile) {
  std::vector<ScanFailure> rows = {
      {{Call::Write, ENOSPC, "", "s.scn"}, "p_scn.txt", "disk full while writing p_scn.txt"},
      {{Call::Write, ENOSPC, "", "a.inc"}, "p_inc.txt", "disk full while writing p_inc.txt"},
      {{Call::Fsync, EIO}, "p_inc.txt", "the outputs cannot be made durable"},
      {{Call::Mkstemp, EACCES, "", "", 2}, "inc_out1.txt", "the third output cannot be created"},
      {{Call::Read, EIO, "a.inc"}, "a.inc", "an include file cannot be read"},
      {{Call::Open, EACCES, "a.inc"}, "a.inc", "an include file cannot be opened"},
      {{Call::Stat, EIO, "a.inc"}, "a.inc", "an include file's size cannot be read"},
      {{Call::Stat, EIO, "scenery/linie"}, "linie", "a directory met in the walk cannot be examined"},
      {{Call::List, EIO, "scenery/linie"}, "linie", "a directory cannot be listed"},
  };
#ifndef _WIN32
  rows.push_back({{Call::Stat, EIO, "odnosnik.inc"}, "odnosnik.inc", "a link met in the walk cannot be examined"});
#endif
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    t.write("base/scenery/linie/a.inc", kThreeMarkers);
    t.write("base/scenery/linie/s.scn", "x");
#ifndef _WIN32
    t.symlink("a.inc", "base/scenery/linie/odnosnik.inc");
#endif
    t.write("base/scenery/h.inc", "//$infotype: Las\r\n");
    t.write("base/p_inc.txt", "old p_inc\r\n");
    t.write("base/p_scn.txt", "old p_scn\r\n");
    t.write("base/inc_out1.txt", "old inc_out1\r\n");
    const auto before = t.snapshot();
    FailingOs fos;
    fos.fail(r.rule);
    {
      platform::ScopedOs guard(fos);
      try {
        wypisz_pliki(t.runPaths());
        ADD_FAILURE() << "no error";
      } catch (const text::FileError& e) {
        EXPECT_NE(e.path().find(r.failingFile), std::string::npos) << e.path();
        EXPECT_NE(std::string(e.what()).find(r.failingFile), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(fos.failures(), 1u);
    EXPECT_EQ(t.snapshot(), before);
  }
}

}  // namespace
}  // namespace borvantel::scan
