// Category list, "predef.txt" patterns, automatic completion, manual
// assignment and saving the assignments.
#include "categories/assignment.h"
#include "categories/categories.h"
#include "categories/completion.h"
#include "categories/predef.h"
#include "categories/save.h"
#include "support/failures.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/files.h"
#include "platform/os.h"
#include "text/paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace borvantel::categories {
namespace {

using testing::FailingOs, testing::TempTree, testing::cp, testing::failureOf;
using Call = FailingOs::Call;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// "kategorie.txt"

// What `read` gives beside a kategorie.txt holding `file` (none for nullopt).
Lines withCategoryFile(const std::optional<std::string>& file, Lines (*read)(const text::RunPaths&)) {
  const TempTree t;
  if (file) t.write("prog/kategorie.txt", *file);
  return read(t.runPaths());
}

TEST(CategoryList, ReadsNamesWithSpacesTurnedIntoUnderscores) {
  struct Row {
    std::optional<std::string> file;
    Lines names;
    const char* why;
  };
  const Row rows[] = {
      {"stacja kolejowa\r\n", {"stacja_kolejowa"}, "a space becomes _"},
      {"AUTA\r\n\r\nDROGI\r\n", {"AUTA", "DROGI"}, "an empty line adds nothing"},
      {"  \r\n", {"__"}, "two spaces give two underscores"},
      {" Las \r\n", {"_Las_"}, "nothing trimmed, case kept"},
      {"X", {}, "a 1-byte file counts as missing"},
      {std::nullopt, {}, "missing"},
      {"", {}, "empty"},
      {"a\nb\rc", {"a", "b", "c"}, "LF and CR line ends"},
      {cp("Łąki\r\nżwir"), {cp("Łąki"), cp("żwir")}, "Windows-1250 bytes kept"},
  };
  for (const auto& r : rows) EXPECT_EQ(withCategoryFile(r.file, wypelnij_liste_kategorii), r.names) << r.why;
}

TEST(CategoryList, AfterStartHoldsTheNamesAndBrakDefinicjiInListOrder) {
  struct Row {
    std::optional<std::string> file;
    Lines list;
    const char* why;
  };
  const Row rows[] = {
      {"DROGI\r\nAUTA\r\n", {"AUTA", "BRAK_DEFINICJI", "DROGI"}, "BRAK_DEFINICJI takes its sorted place"},
      {"DROGI\r\n", {"BRAK_DEFINICJI", "DROGI"}, "BRAK_DEFINICJI first"},
      {"X", {"BRAK_DEFINICJI"}, "a 1-byte file counts as missing"},
      {std::nullopt, {"BRAK_DEFINICJI"}, "missing"},
      {"auta\r\nAUTA\r\n", {"AUTA", "auta", "BRAK_DEFINICJI"}, "duplicates ignoring case are kept"},
      {cp("łąki\r\nLas\r\nŁAD\r\n"), {"BRAK_DEFINICJI", "Las", cp("ŁAD"), cp("łąki")}, "ł after l"},
  };
  for (const auto& r : rows) EXPECT_EQ(withCategoryFile(r.file, categoryListAfterStart), r.list) << r.why;
}

TEST(CategoryList, AddAppendsTheUpperCaseNameOnItsOwnLine) {
  struct Row {
    std::optional<std::string> before;
    std::string typed;
    std::string name;
    std::string after;
    const char* why;
  };
  const Row rows[] = {
      {std::nullopt, "Nowa kategoria", "NOWA_KATEGORIA", "NOWA_KATEGORIA\r\n", "a missing file is created"},
      {"AUTA\r\n", cp("żółta łąka"), cp("ŻÓŁTA_ŁĄKA"), "AUTA\r\n" + cp("ŻÓŁTA_ŁĄKA") + "\r\n",
       "Polish small letters upper-cased"},
      {"AUTA", "auta", "AUTA", "AUTA\r\nAUTA\r\n", "last line without line end; duplicates kept"},
      {"", "  x ", "__X_", "__X_\r\n", "leading and trailing spaces become underscores"},
      {"A\n", cp("čeština"), cp("ČEŠTINA"), "A\n" + cp("ČEŠTINA") + "\r\n", "other letters of the page"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    if (r.before) t.write("prog/kategorie.txt", *r.before);
    EXPECT_EQ(dopisz_kategorie(t.runPaths(), r.typed), r.name);
    EXPECT_EQ(t.read("prog/kategorie.txt"), r.after);
  }
  EXPECT_EQ(categoryNameFromTyped("Nowa kategoria"), "NOWA_KATEGORIA");
}

TEST(CategoryList, AddRefusesWhatCannotBeWrittenAndLeavesTheFile) {
  struct Row {
    std::string typed;
    std::optional<FailingOs::Rule> rule;
    const char* why;
  };
  const Row rows[] = {
      {"", std::nullopt, "an empty name"},
      {"a\r\nb", std::nullopt, "a line end inside the name"},
      {"NOWA", FailingOs::Rule{Call::Write, ENOSPC}, "disk full"},
      {"NOWA", FailingOs::Rule{Call::Open, EACCES}, "the program directory cannot be written"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    for (const bool exists : {true, false}) {
      TempTree t;
      if (exists) t.write("prog/kategorie.txt", "AUTA");
      const auto before = t.snapshot();
      FailingOs fos;
      if (r.rule) fos.fail(*r.rule);
      {
        platform::ScopedOs guard(fos);
        EXPECT_THROW(dopisz_kategorie(t.runPaths(), r.typed), text::Failure);
      }
      EXPECT_EQ(t.snapshot(), before);
    }
  }
}

// ---------------------------------------------------------------------------
// "predef.txt"

TEST(Predef, ReadsNormalisedLinesOfExactlyTwoFields) {
  TempTree t;
  t.write("prog/predef.txt",
          "   *most    MOSTY  \r\n"  // pattern *most, category MOSTY
          "a b c\r\n"                // three fields: ignored
          "abc\r\n"                  // one field: ignored
          "\r\n"                     // empty: ignored
          "     \r\n"                // only spaces: ignored
          "tor*\tx Tory\r\n"         // a tab is part of the pattern
          "DWORZEC.INC stacje\n"     // LF line end; case kept
          "x.inc\tKAT\r\n"           // a tab does not separate: one field
          "ostatni.inc OSTATNIA");   // no line end at the end
  const std::vector<PredefRow> rows = wczytaj_predef(t.path("prog/predef.txt"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].pattern, "*most");
  EXPECT_EQ(rows[0].category, "MOSTY");
  EXPECT_EQ(rows[1].pattern, "tor*\tx");
  EXPECT_EQ(rows[1].category, "Tory");
  EXPECT_EQ(rows[2].pattern, "DWORZEC.INC");
  EXPECT_EQ(rows[2].category, "stacje");
  EXPECT_EQ(rows[3].pattern, "ostatni.inc");
  EXPECT_EQ(rows[3].category, "OSTATNIA");

  t.write("prog/short.txt", "x");
  EXPECT_TRUE(wczytaj_predef(t.path("prog/short.txt")).empty());  // 1 byte: no rows
  EXPECT_TRUE(wczytaj_predef(t.path("prog/missing.txt")).empty());
}

TEST(Predef, PatternFormsMatchTheFileName) {
  struct Row {
    const char* pattern;
    std::string name;
    bool matches;
    const char* why;
  };
  const Row rows[] = {
      {"tor*", "Tory_1.inc", true, "begins with, ignoring case"},
      {"tor*", "stary_tor.inc", false, "does not begin with tor"},
      {"*tor", "Tory_1.inc", true, "contains"},
      {"*tor", "stary_tor.inc", true, "contains"},
      {"*tor", "trasa.inc", false, "does not contain"},
      {"tory_1.inc", "TORY_1.INC", true, "exact, ignoring case"},
      {"tory_1.inc", "tory_1.inc.bak", false, "exact means the whole name"},
      {"tory_1.inc", "xtory_1.inc", false, "exact means the whole name"},
      {"to*ry", "tory", false, "* in the middle matches nothing"},
      {"to*ry", "to*ry", false, "not even the pattern itself"},
      {"*", "anything.inc", true, "* alone matches every name"},
      {"*", "", true, "even an empty one"},
      {"a*b", "ab", false, "* in the middle"},
      {"a*b", "axxb", false, "* in the middle"},
      {"**", "x.inc", false, "** matches nothing"},
      {"*tor*", "stary_tor.inc", false, "* at both ends matches nothing"},
      {"*most", "wiadukt_most2.inc", true, "contains, not ends with"},
      {"*MOST", "wiadukt_most2.inc", true, "contains ignoring case"},
      {"*ŁĄKA", cp("stara_łąka.inc"), false, "pattern given as UTF-8 here, name as Windows-1250: no match"},
      {"linie*", "a.inc", false, "the directory is never compared"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.pattern) + " vs " + r.name + ": " + r.why);
    EXPECT_EQ(patternMatches(r.pattern, r.name), r.matches);
    const PredefMatcher matcher(std::vector<PredefRow>{{r.pattern, "K"}});
    EXPECT_EQ(matcher.firstMatch(r.name) != nullptr, r.matches);
  }
  // Polish letters compare ignoring case too.
  EXPECT_TRUE(patternMatches(cp("*ŁĄKA"), cp("stara_łąka.inc")));
  EXPECT_TRUE(patternMatches(cp("ŻWIR*"), cp("żwirownia.inc")));
  EXPECT_FALSE(patternMatches(cp("*łąka"), "laka.inc"));
}

TEST(Predef, FirstMatchingLineWins) {
  const PredefMatcher matcher(std::vector<PredefRow>{{"*most", "MOSTY"},
                               {"wiadukt_most2.inc", "WIADUKTY"},
                               {"wiad*", "W"},
                               {"*", "RESZTA"},
                               {"dworzec.inc", "STACJE"}});
  EXPECT_EQ(matcher.firstMatch("wiadukt_most2.inc")->category, "MOSTY");    // a general line above wins
  EXPECT_EQ(matcher.firstMatch("wiadukt.inc")->category, "W");
  EXPECT_EQ(matcher.firstMatch("dworzec.inc")->category, "RESZTA");         // "*" above the exact name
  EXPECT_EQ(PredefMatcher(std::vector<PredefRow>{}).firstMatch("x.inc"), nullptr);
  EXPECT_EQ(PredefMatcher(std::vector<PredefRow>{{"a*b", "X"}, {"**", "Y"}}).firstMatch("ab"), nullptr);
}

// The plain rule: try the rows in order.
const PredefRow* firstByTrying(const std::vector<PredefRow>& rows, std::string_view name) {
  for (const auto& row : rows) {
    if (patternMatches(row.pattern, name)) return &row;
  }
  return nullptr;
}

TEST(Predef, MatcherAgreesWithTryingEveryRowInOrder) {
  std::mt19937 rng(12345);  // fixed seed: the same rows and names on every run
  const std::string letters = std::string("abAB_.") + "\xB3\xA3\xB9\xA5";  // ł Ł ą Ą as Windows-1250
  auto word = [&](size_t maxLen) {
    std::string w(rng() % (maxLen + 1), 'a');
    for (char& c : w) c = letters[rng() % letters.size()];
    return w;
  };
  for (const size_t containsCount : {size_t{3}, size_t{32}, size_t{33}, size_t{200}}) {
    for (int round = 0; round < 20; ++round) {
      std::vector<PredefRow> rows;
      size_t contains = 0;
      while (contains < containsCount) {
        const std::string w = word(4);
        std::string pattern;
        switch (rng() % 6) {
          case 0: pattern = "*" + w; ++contains; break;  // contains
          case 1: pattern = w + "*"; break;              // begins with
          case 2: pattern = w.empty() ? "x" : w; break;  // exact
          case 3: pattern = w + "*" + word(2); break;    // * inside or at the end
          case 4: pattern = "*" + w + "*"; ++contains; break;  // both ends
          default:  // "*" alone, now and then
            if (rng() % 4 != 0) continue;
            pattern = "*";
            ++contains;
            break;
        }
        rows.push_back({pattern, "K" + std::to_string(rows.size())});
      }
      const PredefMatcher matcher(rows);
      for (int n = 0; n < 300; ++n) {
        const std::string name = word(8);
        const PredefRow* expected = firstByTrying(rows, name);
        const PredefRow* got = matcher.firstMatch(name);
        ASSERT_EQ(got == nullptr, expected == nullptr) << "name " << name << " contains " << containsCount;
        if (expected) {
          ASSERT_EQ(got->category, expected->category) << "name " << name << " contains " << containsCount;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Automatic completion, with the base directory ".../trasa"

struct Trasa {
  TempTree t;
  text::RunPaths paths = text::RunPaths::make(t.path("prog"), t.path("trasa"));
  std::string full(std::string_view rel) const {
    return paths.sciezka_katalogu + "scenery" + platform::kPathSeparator + testing::native(rel);
  }
  void pInc(const Lines& rels) const {
    std::string s;
    for (const auto& r : rels) s += full(r) + "\r\n";
    t.write("trasa/p_inc.txt", s);
  }
};

TEST(Completion, WritesMatchesToIncOutAndLeavesTheRestAsRelativePaths) {
  struct Row {
    std::optional<std::string> predef;
    Lines pInc;
    std::string incOut;  // after
    std::string pIncAfter;
    const char* why;
  };
  const Row rows[] = {
      {"*most MOSTY\r\n", {"linie/wiadukt_most2.inc"}, "linie\\wiadukt_most2.inc MOSTY\r\n", "",
       "contains pattern; every file matched: p_inc.txt is 0 bytes"},
      {"DWORZEC.INC STACJE\r\n", {"dworzec.inc"}, "dworzec.inc STACJE\r\n", "",
       "exact name ignoring case; a root file's relative path is its bare name"},
      {"*most MOSTY\r\nwiadukt_most2.inc WIADUKTY\r\n", {"linie/wiadukt_most2.inc"},
       "linie\\wiadukt_most2.inc MOSTY\r\n", "", "the first matching line wins"},
      {"linie* LINIE\r\n", {"linie/a.inc"}, "", "linie\\a.inc\r\n", "only the file name is compared"},
      {std::nullopt, {"linie/a.inc", "b.inc"}, "", "linie\\a.inc\r\nb.inc\r\n", "no predef.txt: all left, relative"},
      {"x", {"linie/a.inc"}, "", "linie\\a.inc\r\n", "a 1-byte predef.txt counts as missing"},
      {"* WSZYSTKO\r\n", {"a/b/c.inc", "d.inc"}, "a\\b\\c.inc WSZYSTKO\r\nd.inc WSZYSTKO\r\n", "", "* gives every file"},
      {"a*b X\r\n", {"ab.inc", "a.b"}, "", "ab.inc\r\na.b\r\n", "a*b gives none"},
      {"*most MOSTY\r\ndworzec.inc STACJE\r\n", {"linie/z.inc", "linie/most.inc", "a.inc", "dworzec.inc"},
       "linie\\most.inc MOSTY\r\ndworzec.inc STACJE\r\n", "linie\\z.inc\r\na.inc\r\n",
       "both outputs keep the order of p_inc.txt"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    Trasa tr;
    if (r.predef) tr.t.write("prog/predef.txt", *r.predef);
    tr.pInc(r.pInc);
    const CompletionResult res = automatycznie_uzupelnij_inc(tr.paths);
    EXPECT_EQ(tr.t.exists("trasa/inc_out.txt") ? tr.t.read("trasa/inc_out.txt") : "", r.incOut);
    EXPECT_EQ(tr.t.read("trasa/p_inc.txt"), r.pIncAfter);
    EXPECT_FALSE(tr.t.exists("trasa/p_inc1.txt"));
    EXPECT_EQ(res.assigned + res.left, r.pInc.size());
    EXPECT_EQ(res.left == 0, r.pIncAfter.empty());
  }
}

TEST(Completion, AppendsAfterEarlierAssignments) {
  Trasa tr;
  tr.t.write("prog/predef.txt", "*most MOSTY\r\n");
  tr.t.write("trasa/inc_out.txt", "stary.inc DROGI");  // no line end
  tr.pInc({"most.inc"});
  automatycznie_uzupelnij_inc(tr.paths);
  EXPECT_EQ(tr.t.read("trasa/inc_out.txt"), "stary.inc DROGI\r\nmost.inc MOSTY\r\n");
}

TEST(Completion, UsesMoreRowsThanTheOldCapacity) {
  Trasa tr;
  std::string predef;
  for (int i = 0; i < 70000; ++i) predef += "plik" + std::to_string(i) + ".inc K" + std::to_string(i) + "\r\n";
  tr.t.write("prog/predef.txt", predef);
  tr.pInc({"plik69999.inc", "plik0.inc", "inny.inc"});
  automatycznie_uzupelnij_inc(tr.paths);
  EXPECT_EQ(tr.t.read("trasa/inc_out.txt"), "plik69999.inc K69999\r\nplik0.inc K0\r\n");
  EXPECT_EQ(tr.t.read("trasa/p_inc.txt"), "inny.inc\r\n");
}

TEST(Completion, NeverLosesPIncWhenAStepFails) {
  struct Row {
    FailingOs::Rule rule;
    const char* failingFile;
    const char* why;
  };
  const Row rows[] = {
      // p_inc1.txt is written whole beside itself first, then renamed.
      {{Call::Write, ENOSPC, "trasa/.borvantel-"}, "p_inc1.txt", "disk full while writing p_inc1.txt"},
      {{Call::Mkstemp, EACCES, "trasa/.borvantel-"}, "p_inc1.txt", "p_inc1.txt cannot be created"},
      {{Call::Fsync, EIO, "trasa/.borvantel-"}, "p_inc1.txt", "p_inc1.txt cannot be made durable"},
      {{Call::Rename, EIO, "p_inc1.txt"}, "p_inc1.txt", "p_inc1.txt cannot be put in place"},
      {{Call::Write, ENOSPC, "inc_out.txt"}, "inc_out.txt", "disk full while appending to inc_out.txt"},
      {{Call::Rename, EACCES, "p_inc.txt"}, "p_inc.txt", "the rename over p_inc.txt fails"},
      {{Call::Read, EIO, "p_inc.txt"}, "p_inc.txt", "p_inc.txt cannot be read"},
  };
  for (const auto& r : rows) {
    for (const bool incOutExists : {true, false}) {
      SCOPED_TRACE(r.why);
      SCOPED_TRACE(incOutExists ? "inc_out.txt holds an earlier line" : "no inc_out.txt yet");
      Trasa tr;
      tr.t.write("prog/predef.txt", "*most MOSTY\r\n");
      if (incOutExists) tr.t.write("trasa/inc_out.txt", "wczesniej.inc DROGI\r\n");
      tr.pInc({"linie/most.inc", "linie/a.inc"});
      const auto before = tr.t.snapshot();
      FailingOs fos;
      fos.fail(r.rule);
      const std::string message = failureOf<text::FileError>(fos, [&] { automatycznie_uzupelnij_inc(tr.paths); });
      EXPECT_NE(message.find(r.failingFile), std::string::npos) << message;
      EXPECT_EQ(fos.failures(), 1u);
      // p_inc.txt as it was, no p_inc1.txt left, inc_out.txt without the new lines.
      EXPECT_EQ(tr.t.snapshot(), before);
    }
  }
}

TEST(Completion, RefusesAPIncLineOutsideTheSceneryDirectory) {
  Trasa tr;
  tr.t.write("trasa/p_inc.txt", "linie\\a.inc\r\n");  // already relative: not a scan result
  const auto before = tr.t.snapshot();
  EXPECT_THROW(automatycznie_uzupelnij_inc(tr.paths), text::Failure);
  EXPECT_EQ(tr.t.snapshot(), before);
}

// ---------------------------------------------------------------------------
// Manual assignment

TEST(Assignment, OneFileAppendsItsLine) {
  TempTree t;
  const auto p = t.runPaths();
  przypisz_plik(p, "linie\\a.inc", "MOSTY");
  przypisz_plik(p, "dworzec.inc", "BRAK_DEFINICJI");  // recorded like any category
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\a.inc MOSTY\r\ndworzec.inc BRAK_DEFINICJI\r\n");

  t.write("base/inc_out.txt", "x.inc A");  // an earlier line without line end
  przypisz_plik(p, cp("łąka.inc"), cp("ŁĄKI"));
  EXPECT_EQ(t.read("base/inc_out.txt"), "x.inc A\r\n" + cp("łąka.inc ŁĄKI") + "\r\n");
}

TEST(Assignment, OneFileRefusesWhatCannotStandInARecord) {
  struct Row {
    std::string item;
    std::string category;
    const char* why;
  };
  const Row rows[] = {
      {"a b.inc", "MOSTY", "a space in the path"},
      {"a.inc", "DWA SLOWA", "a space in the category"},
      {"a.inc", "", "an empty category"},
      {"", "MOSTY", "an empty path"},
      {"a\r\nb.inc", "MOSTY", "a line end in the path"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    t.write("base/inc_out.txt", "x.inc A\r\n");
    EXPECT_THROW(przypisz_plik(t.runPaths(), r.item, r.category), text::Failure);
    EXPECT_EQ(t.read("base/inc_out.txt"), "x.inc A\r\n");
  }
}

TEST(Assignment, WholeDirectoryTakesExactlyTheFilesDirectlyInIt) {
  const Lines items = {"dworzec.inc", "linie\\a.inc", "linie\\b.inc", "linie\\stare\\c.inc", "most.inc"};
  struct Row {
    std::string target;
    std::string incOut;
    Lines left;
    const char* why;
  };
  const Row rows[] = {
      {"linie\\", "linie\\a.inc MOSTY\r\nlinie\\b.inc MOSTY\r\n", {"dworzec.inc", "linie\\stare\\c.inc", "most.inc"},
       "the directory's files in list order; its subdirectory stays"},
      {"LINIE\\", "linie\\a.inc MOSTY\r\nlinie\\b.inc MOSTY\r\n", {"dworzec.inc", "linie\\stare\\c.inc", "most.inc"},
       "the target compared ignoring case"},
      {"", "dworzec.inc MOSTY\r\nmost.inc MOSTY\r\n", {"linie\\a.inc", "linie\\b.inc", "linie\\stare\\c.inc"},
       "the scenery directory: exactly the items without \\"},
      {"linie\\stare\\", "linie\\stare\\c.inc MOSTY\r\n", {"dworzec.inc", "linie\\a.inc", "linie\\b.inc", "most.inc"},
       "a two-level directory"},
      {"inne\\", "", items, "no item in the directory: nothing written"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    Lines list = items;
    const Lines assigned = przypisz_katalog(t.runPaths(), list, r.target, "MOSTY");
    EXPECT_EQ(t.exists("base/inc_out.txt") ? t.read("base/inc_out.txt") : "", r.incOut);
    EXPECT_EQ(list, r.left);
    EXPECT_EQ(assigned.size() + list.size(), items.size());
  }
}

TEST(Assignment, WholeDirectoryWithTheSceneryLabelAndBrakDefinicji) {
  TempTree t;
  Lines list = {"a.inc", "b\\c.inc", "d.inc"};
  przypisz_katalog(t.runPaths(), list, text::targetFromLabel(text::directoryLabel("a.inc")), "BRAK_DEFINICJI");
  EXPECT_EQ(t.read("base/inc_out.txt"), "a.inc BRAK_DEFINICJI\r\nd.inc BRAK_DEFINICJI\r\n");
  EXPECT_EQ(list, Lines{"b\\c.inc"});
}

TEST(Assignment, WholeDirectoryFailureChangesNeitherListNorFile) {
  struct Row {
    Lines items;
    std::optional<FailingOs::Rule> rule;
    const char* why;
  };
  const Row rows[] = {
      {{"linie\\a.inc", "linie\\b.inc"}, FailingOs::Rule{Call::Write, ENOSPC}, "disk full"},
      {{"linie\\a.inc", "linie\\b c.inc"}, std::nullopt, "an item that cannot stand in a record"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    t.write("base/inc_out.txt", "x.inc A");
    const auto before = t.snapshot();
    Lines list = r.items;
    FailingOs fos;
    if (r.rule) fos.fail(*r.rule);
    {
      platform::ScopedOs guard(fos);
      EXPECT_THROW(przypisz_katalog(t.runPaths(), list, "linie\\", "MOSTY"), text::Failure);
    }
    EXPECT_EQ(list, r.items);
    EXPECT_EQ(t.snapshot(), before);
  }
}

TEST(Assignment, PendingFilesAreThoseWithoutALineInIncOut) {
  TempTree t;
  t.write("base/p_inc.txt", "linie\\b.inc\r\nlinie\\a.inc\r\ndworzec.inc\r\n");
  t.write("base/inc_out.txt", "auto.inc MOSTY\r\nlinie\\a.inc DROGI\r\n");
  EXPECT_EQ(pendingFiles(t.runPaths()), (Lines{"dworzec.inc", "linie\\b.inc"}));
  t.write("base/inc_out.txt", "x");  // 1 byte: no assignments
  EXPECT_EQ(pendingFiles(t.runPaths()), (Lines{"dworzec.inc", "linie\\a.inc", "linie\\b.inc"}));
  EXPECT_EQ(wypelnij_liste_inc(t.runPaths()), (Lines{"dworzec.inc", "linie\\a.inc", "linie\\b.inc"}));
}

// ---------------------------------------------------------------------------
// Saving

TEST(Save, AppendsFileNamesAndCategoriesAfterTheExistingLines) {
  struct Row {
    std::optional<std::string> incOut;
    std::optional<std::string> predef;
    std::optional<std::string> after;  // nullopt: predef.txt does not exist afterwards
    size_t count;
    const char* why;
  };
  const Row rows[] = {
      {"linie\\a.inc MOSTY\r\ndworzec.inc STACJE\r\n", "*most MOSTY\r\n",
       "*most MOSTY\r\na.inc MOSTY\r\ndworzec.inc STACJE\r\n", 2, "the directory is dropped"},
      {"a\\b\\c.inc X\r\n", "stary", "stary\r\nc.inc X\r\n", 1, "last line without line end: CR LF first"},
      {"moje linie\\a.inc X\r\nb.inc  Y\r\nc.inc Z \r\nd.inc\r\ne.inc E\r\n", "",
       "e.inc E\r\n", 1, "three fields, two adjacent spaces, one field: skipped"},
      {"a.inc X\r\n", std::nullopt, "a.inc X\r\n", 1, "a missing predef.txt is created"},
      {std::nullopt, "p X\r\n", "p X\r\n", 0, "missing inc_out.txt: unchanged"},
      {"x", "p X\r\n", "p X\r\n", 0, "1-byte inc_out.txt: unchanged"},
      {"x", std::nullopt, std::nullopt, 0, "1-byte inc_out.txt: predef.txt not even created"},
      {"a.inc X\r\na.inc X\r\n", "a.inc X\r\n", "a.inc X\r\na.inc X\r\na.inc X\r\n", 2, "duplicates not removed"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    if (r.incOut) t.write("base/inc_out.txt", *r.incOut);
    if (r.predef) t.write("prog/predef.txt", *r.predef);
    EXPECT_EQ(zapisz_predef(t.runPaths()), r.count);
    EXPECT_EQ(t.exists("prog/predef.txt"), r.after.has_value());
    if (r.after) {
      EXPECT_EQ(t.read("prog/predef.txt"), *r.after);
    }
    if (r.incOut) {
      EXPECT_EQ(t.read("base/inc_out.txt"), *r.incOut);  // read only
    }
  }
}

TEST(Save, FailureLeavesPredefAsItWas) {
  TempTree t;
  t.write("base/inc_out.txt", "linie\\a.inc MOSTY\r\n");
  t.write("prog/predef.txt", "*most MOSTY");
  const auto before = t.snapshot();
  const std::string message =
      failureOf<text::FileError>({Call::Write, ENOSPC, "predef.txt"}, [&] { zapisz_predef(t.runPaths()); });
  EXPECT_NE(message.find("predef.txt"), std::string::npos) << message;
  EXPECT_EQ(t.snapshot(), before);
}

TEST(Save, SavedAssignmentsGiveTheSameCategoriesInALaterRun) {
  Trasa tr;
  tr.t.write("trasa/inc_out.txt", "linie\\wiadukt.inc MOSTY\r\ndworzec.inc STACJE\r\n");
  zapisz_predef(tr.paths);
  tr.t.write("trasa/inc_out.txt", "");
  tr.pInc({"inna/wiadukt.inc", "DWORZEC.INC", "nowy.inc"});
  automatycznie_uzupelnij_inc(tr.paths);
  EXPECT_EQ(tr.t.read("trasa/inc_out.txt"), "inna\\wiadukt.inc MOSTY\r\nDWORZEC.INC STACJE\r\n");
  EXPECT_EQ(tr.t.read("trasa/p_inc.txt"), "nowy.inc\r\n");
}

}  // namespace
}  // namespace borvantel::categories
