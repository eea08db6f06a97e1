// The line rules of both rewrites (renumbering, the scenery line) and the
// assignment table they look categories up in.
#include "convert/assignment_table.h"
#include "convert/include_file.h"
#include "convert/scenery_file.h"
#include "support/conversion_trees.h"
#include "support/scenery_reference.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace borvantel::convert {
namespace {

using testing::TempTree;
using testing::cp;

// ---------------------------------------------------------------- line rules

TEST(Renumbering, IncrementsDecimalStringsOfAnyLength) {
  const std::pair<const char*, const char*> rows[] = {
      {"0", "1"},   {"1", "2"},     {"9", "10"},  {"007", "8"}, {"099", "100"}, {"000", "1"},
      {"123456789012345678901234567890", "123456789012345678901234567891"},
      {"999999999999999999999999999999", "1000000000000000000000000000000"},
  };
  for (const auto& [in, want] : rows) {
    std::string out = "x";
    appendIncremented(out, in);
    EXPECT_EQ(out, std::string("x") + want) << in;
  }
}

TEST(Renumbering, IncludeLinesFollowTheStateTables) {
  const std::pair<std::string, std::string> rows[] = {
      {"(p01)", "(p2)"},
      {"(P3)", "(P4)"},
      {"tex(p1).bmp", "tex(p2).bmp"},
      {"(p1)(p2)(P10)", "(p2)(p3)(P11)"},
      {"(a p5)", "(a p6)"},  // state 1 is left only by a p
      {"// p9", "// p10"},   // a number at the line end still counts in a comment
      {"// p 1", "// p 2"},
      {"// p\t1", "// p\t1"},  // a tab cancels the marker
      {"// p1p2", "// p2p3"},
      {"//P007x pp3", "//P8x pp4"},
      {"// no marker", "// no marker"},
      {"  // p1 (p1)", "  // p1 (p2)"},  // indented: not a comment
      {"  // p1 only", "  // p1 only"},
      {"(p)", "(p)"},  // not a number: written as it stood
      {"(p x) (p-1) (p 1)", "(p x) (p-1) (p 1)"},
      {"(stone.bmp)", "(stone.bmp)"},
      {"f(x) (p12", "f(x) (p12"},  // still collecting at the line end
      {"(p1(p2)", "(p1(p3)"},      // a "(" while collecting keeps what was collected
      {"(p123456789012345678901234567890)", "(p123456789012345678901234567891)"},
      {"\xB9(p1)\xEA\xF3", "\xB9(p2)\xEA\xF3"},  // other bytes untouched
      {"p (1) x", "p (1) x"},
      {"", ""},
  };
  for (const auto& [in, want] : rows) {
    std::string out;
    appendIncludeLine(in, out);
    EXPECT_EQ(out, want) << "line: " << in;
  }
}

// Where the reference table is fully defined (every collected number a digit
// run closed by ")"), the renumbering must give exactly what it gives.
TEST(Renumbering, ReferencesMatchTheStateTableStepByStep) {
  std::mt19937 rng(3);
  const char alphabet[] = "()pP01x ";
  int compared = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    for (size_t n = rng() % 14; n > 0; --n) line += alphabet[rng() % 8];
    std::string want;
    std::string buffer;
    int state = 0;
    bool defined = true;
    for (char c : line) {
      if (state == 2 && c == ')') {  // step 1
        if (!isDigitRun(buffer)) defined = false;
        appendIncremented(want, buffer);
        state = 0;
        buffer.clear();
      }
      if (state == 0 || state == 1) want += c;             // step 2
      if (state == 2 && c != ')') buffer += c;             // step 3
      if (state == 2 && c == '(') defined = false;         // "(" collected
      if (state == 1 && (c == 'p' || c == 'P')) state = 2;  // step 4
      if (c == '(') state = 1;                             // step 5
    }
    if (state == 2 || !defined) continue;
    ++compared;
    std::string got;
    renumberReferences(line, got);
    ASSERT_EQ(got, want) << "line: " << line;
  }
  EXPECT_GT(compared, 5000);
}

TEST(Renumbering, WorkedExampleByteExact) {
  const std::string in =
      "// p1 = wysokosc, p2 = dlugosc\r\nnode -1 0 (p1) track normal (p2) 1.435 end\r\norigin 0 0 0";
  EXPECT_EQ(convertIncludeText(in, "most"),
            "//$infotype: MOST\r\n// p2 = wysokosc, p3 = dlugosc\r\nnode -1 0 (p2) track normal (p3) 1.435 end\r\n"
            "origin 0 0 0\r\n");
  EXPECT_EQ(convertIncludeText("a\nb\rc\r\n", "\xB3\xF3\x64\x9F"), "//$infotype: \xA3\xD3\x44\x8F\r\na\r\nb\r\nc\r\n");
  EXPECT_TRUE(carriesHeader("x //$INFOTYPE: a"));
  EXPECT_FALSE(carriesHeader("//$infotype a"));
}

TEST(SceneryLines, CandidatesAreNormalisedAndConvertedByTheTable) {
  struct Row {
    const char* in;
    const char* out;
    SceneryLine kind;
  } rows[] = {
      {"include\ttory/most1.inc 12.5;3 end", "include tory/most1.inc MOST_&type 12.5 3 end", SceneryLine::Converted},
      {"include tory/inny.inc  1 end", "include tory/inny.inc  1 end", SceneryLine::AsRead},
      {"// include tory/most1.inc 1 end", "// include tory/most1.inc 1 end", SceneryLine::AsRead},
      {"//include tory/most1.inc 1 end", "//include tory/most1.inc 1 end", SceneryLine::AsRead},  // no space either
      {"//INCLUDE\ttory/most1.inc 1 2 3", "//INCLUDE\ttory/most1.inc 1 2 3", SceneryLine::AsRead},
      {"include  tory/most1.inc\tend", "include  tory/most1.inc\tend", SceneryLine::AsRead},  // three fields
      {"include  tory/most1.inc\tMOST_&TYPE 1 end", "include tory/most1.inc MOST_&TYPE 1 end",
       SceneryLine::Normalised},
      {"  INCLUDE TORY/Most1.INC 1 end  ", "INCLUDE TORY/Most1.INC MOST_&type 1 end", SceneryLine::Converted},
      {"include tory\\most1.inc 1 end", "include tory\\most1.inc MOST_&type 1 end", SceneryLine::Converted},
      {"include;obiekty/dom.inc;;1;end", "include obiekty/dom.inc BUDYNKI_&type 1 end", SceneryLine::Converted},
      {"sinclude_x tory/most1.inc 1 2", "sinclude_x tory/most1.inc MOST_&type 1 2", SceneryLine::Converted},
      {"  // tory/most1.inc 1 include", "// tory/most1.inc MOST_&type 1 include", SceneryLine::Converted},
      {"  // include tory/most1.inc 1", "  // include tory/most1.inc 1", SceneryLine::AsRead},
      {"origin tory/most1.inc 0 0", "origin tory/most1.inc 0 0", SceneryLine::AsRead},
  };
  const AssignmentTable table = demoTable();
  SceneryLineRewriter rewriter(table);
  for (const auto& row : rows) {
    std::string out = ">";
    EXPECT_EQ(rewriter.append(row.in, out), row.kind) << row.in;
    EXPECT_EQ(out, std::string(">") + row.out) << row.in;
  }
}

// Lines built from the pieces that matter (the word in any case, every kind of
// separator and run of them, keys in the table under other case and "/", the
// type suffix, Polish letters, comments, too few fields), rewritten by the
// conversion and by the plain reference rule: always the same bytes.
TEST(SceneryLines, OnePassRewriteAgreesWithThePlainRule) {
  const AssignmentTable table({{"tory\\most1.inc", "MOST"}, {"obiekty\\dom.inc", "BUDYNKI"},
                               {cp("łąka\\źdźbło.inc"), cp("ŁĄKI")}});
  const std::vector<std::string> pieces = {
      "include", "INCLUDE", "InClUdE", "xinclude", "inclu", "//", "/", "tory/most1.inc", "TORY\\MOST1.INC",
      "obiekty/dom.inc", "tory/inny.inc", cp("ŁĄKA/ŹDŹBŁO.INC"), "MOST_&type", "_&TYPE", "1", "12.5", "end",
      cp("żółw"), "\x01", "\xff"};
  const std::vector<std::string> separators = {" ", "  ", "\t", ";", " ;\t", ""};
  std::mt19937 rng(5);
  SceneryLineRewriter rewriter(table);
  size_t converted = 0;
  std::vector<std::string> lines;
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    const size_t parts = rng() % 8;
    for (size_t k = 0; k < parts; ++k) {
      line += separators[rng() % separators.size()];
      line += pieces[rng() % pieces.size()];
    }
    if (rng() % 3 == 0) line += separators[rng() % separators.size()];
    std::string fast = ">";
    std::string plain = ">";
    const SceneryLine kind = rewriter.append(line, fast);
    ASSERT_EQ(kind, testing::referenceSceneryLine(table, line, plain)) << line;
    ASSERT_EQ(fast, plain) << line;
    converted += kind == SceneryLine::Converted;
    lines.push_back(std::move(line));
  }
  EXPECT_GT(converted, 500u);  // the mix reaches the interesting case often

  // The same lines looked at in batches of any size, then written one by one.
  for (size_t at = 0; at < lines.size();) {
    const size_t n = std::min<size_t>(1 + rng() % 70, lines.size() - at);
    const std::vector<std::string_view> batch(lines.begin() + static_cast<std::ptrdiff_t>(at),
                                              lines.begin() + static_cast<std::ptrdiff_t>(at + n));
    rewriter.look(batch);
    for (size_t j = 0; j < n; ++j) {
      std::string fast;
      std::string plain;
      ASSERT_EQ(rewriter.appendLooked(j, fast), testing::referenceSceneryLine(table, batch[j], plain)) << batch[j];
      ASSERT_EQ(fast, plain) << batch[j];
    }
    at += n;
  }
}

TEST(SceneryLines, NormalisedFormIsWrittenOnlyWhenAnotherLineConverts) {
  const AssignmentTable table = demoTable();
  const std::string done = "include  tory/most1.inc MOST_&type 1 end\n";
  EXPECT_FALSE(convertSceneryText(done + "// x\n", table));
  EXPECT_EQ(convertSceneryText(done + "include\ttory/most1.inc 12.5;3 end\ninclude tory/inny.inc  1 end\n"
                               "// include tory/most1.inc 1 end", table),
            "include tory/most1.inc MOST_&type 1 end\r\ninclude tory/most1.inc MOST_&type 12.5 3 end\r\n"
            "include tory/inny.inc  1 end\r\n// include tory/most1.inc 1 end\r\n");
}

// ---------------------------------------------------------- assignment table

TEST(AssignmentTableTest, CaseDuplicatesFindTheExchangeSortRow) {
  // Exchange sort: [a Z, B Y, b X]; the search probes row 2 first.
  const AssignmentTable table({{"b", "X"}, {"B", "Y"}, {"a", "Z"}});
  EXPECT_TRUE(table.usedExchangeSort());
  ASSERT_TRUE(table.find("b"));
  EXPECT_EQ(table.find("b")->category, "Y");
  EXPECT_EQ(table.find("A")->category, "Z");
  EXPECT_FALSE(table.find("c"));
  EXPECT_FALSE(AssignmentTable().find("a"));
  EXPECT_FALSE(AssignmentTable({{"a", "X"}, {"A", "X"}}).usedExchangeSort());
}

TEST(AssignmentTableTest, MatchesTheLiteralExchangeSortOnRandomTables) {
  std::mt19937 rng(7);
  const std::vector<std::string> paths = {"a\\x.inc", "A\\X.inc", "a\\X.INC", "b.inc", "B.inc", "c\\d.inc",
                                          "\xB1.inc", "\xA1.inc", "e.inc", "f\\g.inc", "F\\G.inc"};
  for (int round = 0; round < 300; ++round) {
    const size_t n = rng() % 40;
    const bool oneCategoryPerPath = round % 2 == 0;
    std::vector<AssignmentRow> rows;
    for (size_t i = 0; i < n; ++i) {
      const std::string& p = paths[rng() % paths.size()];
      rows.push_back({p, oneCategoryPerPath ? text::toUpper(p) : std::string(1, char('A' + rng() % 3))});
    }
    // The literal exchange sort, on the strings themselves.
    std::vector<AssignmentRow> literal = rows;
    for (size_t i = 0; i + 1 < literal.size(); ++i) {
      for (size_t j = i + 1; j < literal.size(); ++j) {
        if (text::compareIgnoreCase(literal[j].path, literal[i].path) < 0) std::swap(literal[i], literal[j]);
      }
    }
    const AssignmentTable table(rows);
    if (table.usedExchangeSort()) {
      ASSERT_EQ(table.rows().size(), literal.size());
      for (size_t i = 0; i < literal.size(); ++i) {
        EXPECT_EQ(table.rows()[i].path, literal[i].path) << "round " << round << " row " << i;
        EXPECT_EQ(table.rows()[i].category, literal[i].category) << "round " << round << " row " << i;
      }
    }
    for (const auto& p : paths) {
      const AssignmentRow* found = table.find(p);
      const bool present = std::any_of(rows.begin(), rows.end(),
                                       [&](const AssignmentRow& r) { return text::equalsIgnoreCase(r.path, p); });
      ASSERT_EQ(found != nullptr, present) << p;
      EXPECT_EQ(table.findFolded(text::toFolded(p)), found) << p;
      const std::string* category = table.categoryFolded(text::toFolded(p));
      ASSERT_EQ(category != nullptr, found != nullptr) << p;
      if (found) {
        EXPECT_EQ(*category, found->category) << p;
      }
      if (found && !table.usedExchangeSort()) {
        // Fast path only when equal paths agree: any of them gives the answer.
        EXPECT_TRUE(text::equalsIgnoreCase(found->path, p));
        for (const auto& r : rows) {
          if (text::equalsIgnoreCase(r.path, p)) {
            EXPECT_EQ(r.category, found->category);
          }
        }
      }
    }
  }
}

TEST(AssignmentTableTest, RefusesLinesWithoutBothFieldsOrWithUnsafePaths) {
  const TempTree tree;
  const std::string file = tree.path("base/inc_out.txt");
  for (const char* bad : {"a.inc", "a.inc ", "..\\x.inc K", "/abs.inc K", "\\abs.inc K", "x\\..\\y.inc K"}) {
    tree.write("base/inc_out.txt", std::string("ok.inc k extra\r\n") + bad + "\r\n");
    std::vector<AssignmentRow> rows;
    try {
      loadAssignments(file, rows);
      ADD_FAILURE() << "accepted: " << bad;
    } catch (const text::Failure& e) {
      EXPECT_NE(std::string(e.what()).find("Wiersz 2"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("inc_out.txt"), std::string::npos) << e.what();
    }
  }
  tree.write("base/inc_out.txt", "ok.inc k\xB9 extra\r\n");
  std::vector<AssignmentRow> rows;
  loadAssignments(file, rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].category, "K\xA5");
}

}  // namespace
}  // namespace borvantel::convert
