// What the simulator reads (tokens and include directives), and the
// conversion's promise built on it: include lines inside categorised include
// files get their categories, and every directive the line rule cannot reach
// is reported as a warning, the same by a conversion, a dry run and a diff.
#include "categories/assignment.h"
#include "convert/conversion.h"
#include "convert/directive.h"
#include "convert/undo.h"
#include "run/start.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/files.h"
#include "text/lines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace borvantel::convert {
namespace {

using testing::TempTree;

// --------------------------------------------------------------- tokens

std::vector<std::string> tokensOf(const std::vector<std::string>& lines) {
  Tokenizer t;
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    t.line(line, [&](std::string_view token) { out.emplace_back(token); });
    out.push_back("|");  // the line end, to see where each token stood
  }
  return out;
}

TEST(Tokenizer, SeparatorsAndCommentsAsTheSimulatorReadsThem) {
  const struct {
    std::vector<std::string> lines;
    std::vector<std::string> tokens;
  } rows[] = {
      // Space, tab and ";" separate; runs of them count once.
      {{"include\tx.inc;1.5 ;\t2 end"}, {"include", "x.inc", "1.5", "2", "end", "|"}},
      {{"  a  "}, {"a", "|"}},
      // "//" ends the line, also inside a token; "/" alone is part of one.
      {{"a b//c d", "tory/most.inc // x"}, {"a", "b", "|", "tory/most.inc", "|"}},
      {{"// include x.inc 1 end"}, {"|"}},
      // "/* */" anywhere, across lines; "//" inside it means nothing.
      {{"a /* b", "c // d", "e */ f"}, {"a", "|", "|", "f", "|"}},
      {{"a/*b*/c"}, {"a", "c", "|"}},
      {{"/**/x /* */ y"}, {"x", "y", "|"}},
      // A lone "*/" outside a comment is an ordinary token.
      {{"*/ a"}, {"*/", "a", "|"}},
      {{""}, {"|"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lines.front());
    EXPECT_EQ(tokensOf(row.lines), row.tokens);
  }
}

// ------------------------------------------------------------ directives

struct Seen {
  size_t line;
  std::string file;
  bool hasParameters, passesCategory, endsOnItsLine, ended;
  bool operator==(const Seen&) const = default;
};
void PrintTo(const Seen& s, std::ostream* os) {
  *os << "{" << s.line << " '" << s.file << "' params " << s.hasParameters << " category " << s.passesCategory
      << " own line " << s.endsOnItsLine << " ended " << s.ended << "}";
}

std::vector<Seen> directivesOf(const std::vector<std::string>& lines) {
  DirectiveReader reader;
  std::vector<Seen> out;
  const auto keep = [&](const Directive& d) {
    out.push_back({d.line, std::string(d.file), d.hasParameters, d.passesCategory, d.endsOnItsLine, d.ended});
  };
  for (const std::string& line : lines) reader.line(line, keep);
  reader.finish(keep);
  return out;
}

TEST(DirectiveReader, ReadsEachDirectiveWithWhatTheWarningsNeed) {
  const struct {
    const char* why;
    std::vector<std::string> lines;
    std::vector<Seen> directives;
  } rows[] = {
      {"one line", {"include a.inc 1 2 end"}, {{1, "a.inc", true, false, true, true}}},
      {"keyword and end in any case", {"INCLUDE a.inc 1 End"}, {{1, "a.inc", true, false, true, true}}},
      {"the category as parameter 1", {"include a.inc TORY_&type 1 end"}, {{1, "a.inc", true, true, true, true}}},
      {"a category anywhere else is no category", {"include a.inc 1 TORY_&type end"},
       {{1, "a.inc", true, false, true, true}}},
      {"no parameters", {"x", "include a.inc end"}, {{2, "a.inc", false, false, true, true}}},
      {"split after the name", {"include a.inc", "1 2 end"}, {{1, "a.inc", true, false, false, true}}},
      {"split before the name", {"include", "a.inc 1 end"}, {{1, "a.inc", true, false, false, true}}},
      {"split with no parameters", {"include a.inc", "end"}, {{1, "a.inc", false, false, false, true}}},
      {"split after a parameter", {"include a.inc 1", "end"}, {{1, "a.inc", true, false, false, true}}},
      {"not at the start of its line", {"node 1 include a.inc 2 end"}, {{1, "a.inc", true, false, true, true}}},
      {"two on a line", {"include a.inc 1 end include b.inc end"},
       {{1, "a.inc", true, false, true, true}, {1, "b.inc", false, false, true, true}}},
      {"the word inside another token is no keyword", {"includes a.inc 1 end"}, {}},
      {"\"include\" among the parameters is a parameter", {"include a.inc include end"},
       {{1, "a.inc", true, false, true, true}}},
      {"commented out", {"// include a.inc 1 end", "/* include b.inc", "1 end */"}, {}},
      {"the text ends first", {"include a.inc 1"}, {{1, "a.inc", true, false, false, false}}},
      {"the text ends before a name", {"include"}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(directivesOf(row.lines), row.directives);
  }
}

TEST(DirectiveReader, SkippedLinesCountAndALineWithoutMarksCannotMatter) {
  const struct {
    std::string line;
    unsigned includes;
    bool commentOpener, lineComment;
  } rows[] = {
      {"include a.inc 1 end", 1, false, false},
      {"   InClUdE", 1, false, false},
      {"include a include b include", 2, false, false},
      {"a /* b", 0, true, false},
      {"x // include /*", 1, true, true},
      {"node 1 2 3 end", 0, false, false},
      {"a/b.inc", 0, false, false},
      {"inclu", 0, false, false},
      {"*/", 0, false, false},
      // Past the first sixteen bytes, and across their edge.
      {std::string(40, 'x') + "INCLUDE" + std::string(40, 'y') + "/*", 1, true, false},
      {std::string(13, ' ') + "include", 1, false, false},
      {std::string(15, ' ') + "/" + "/", 0, false, true},
  };
  for (const auto& row : rows) {
    const LineMarks marks = marksOf(row.line);
    EXPECT_EQ(marks.includes, row.includes) << row.line;
    EXPECT_EQ(marks.commentOpener, row.commentOpener) << row.line;
    EXPECT_EQ(marks.lineComment, row.lineComment) << row.line;
  }
  // The quick tests take a byte for a letter of "include" or "end" by its
  // 0x20 bit: exact only while no other byte of the code page folds to one.
  for (int b = 0; b < 256; ++b) {
    const auto c = static_cast<unsigned char>(b);
    for (const char letter : std::string_view("includ")) {
      EXPECT_EQ(text::foldByte(c) == letter, (c | 0x20) == letter) << b << " " << letter;
    }
  }
  // Against the plain count, on random lines of every length.
  std::mt19937 rng(11);
  const std::string_view alphabet = "iInNcludeE/* x;";
  for (int k = 0; k < 20000; ++k) {
    std::string line;
    const size_t length = rng() % 60;
    while (line.size() < length) {
      if (rng() % 8 == 0) {
        line += rng() % 2 ? "include" : "INCLUDE";
      } else {
        line += alphabet[rng() % alphabet.size()];
      }
    }
    LineMarks plain;
    for (size_t i = 0; i < line.size(); ++i) {
      if (text::equalsIgnoreCase(std::string_view(line).substr(i, 7), "include")) ++plain.includes;
      plain.commentOpener |= line.compare(i, 2, "/*") == 0;
      plain.lineComment |= line.compare(i, 2, "//") == 0;
    }
    const LineMarks quick = marksOf(line);
    ASSERT_EQ(quick.includes, std::min(plain.includes, 2u)) << line;
    ASSERT_EQ(quick.commentOpener, plain.commentOpener) << line;
    ASSERT_EQ(quick.lineComment, plain.lineComment) << line;
  }
  DirectiveReader reader;
  std::vector<size_t> lines;
  reader.skipLine();
  reader.skipLine();
  reader.line("include a.inc end", [&](const Directive& d) { lines.push_back(d.line); });
  EXPECT_EQ(lines, std::vector<size_t>{3});
  reader.line("include b.inc", [](const Directive&) {});
  EXPECT_FALSE(reader.idle()) << "a directive is open: the next line matters";
  reader.reset();
  EXPECT_TRUE(reader.idle());
  EXPECT_EQ(reader.lineNumber(), 0u);
}

// A plain line read without the tokenizer gives the directive the tokenizer
// gives: random lines fed to two readers, one told each line's marks.
TEST(DirectiveReader, PlainLinesReadWithoutTheTokenizerReadTheSame) {
  std::mt19937 rng(17);
  const std::vector<std::string> words = {"include", "INCLUDE", "end", "End", "a.inc", "b/c.inc", "1", "tory_&type",
                                          "//", "/*", "*/", "x", " ", "\t", ";", "  "};
  for (int text = 0; text < 2000; ++text) {
    DirectiveReader quick, plain;
    std::vector<Seen> fromQuick, fromPlain;
    const auto into = [](std::vector<Seen>& seen) {
      return [&seen](const Directive& d) {
        seen.push_back({d.line, std::string(d.file), d.hasParameters, d.passesCategory, d.endsOnItsLine, d.ended});
      };
    };
    for (int l = 0; l < 6; ++l) {
      std::string line;
      const int length = static_cast<int>(rng() % 9);
      if (rng() % 2) line = "include " + words[4 + rng() % 3] + " ";
      for (int w = 0; w < length; ++w) line += words[rng() % words.size()] + (rng() % 3 ? " " : "");
      if (rng() % 2) line += " end";
      quick.line(line, marksOf(line), into(fromQuick));
      plain.line(line, into(fromPlain));
      ASSERT_EQ(quick.idle(), plain.idle()) << line;
    }
    quick.finish(into(fromQuick));
    plain.finish(into(fromPlain));
    ASSERT_EQ(fromQuick, fromPlain);
  }
  // What makes a line plain.
  const struct {
    const char* line;
    bool plain;
  } rows[] = {
      {"include a.inc 1 end", true},        {"  include\ta.inc;1;END ;", true},
      {"include a.inc end", true},          {"include a.inc end x end", true},
      {"include a.inc", false},             {"include a.inc 1", false},
      {"x include a.inc 1 end", false},     {"includex a.inc 1 end", false},
      {"include a.inc 1 end // x", false},  {"include a.inc /* 1 */ end", false},
      {"include a.inc include end", false},
  };
  for (const auto& row : rows) EXPECT_EQ(plainDirective(row.line, marksOf(row.line)).has_value(), row.plain) << row.line;
}

// The marks of a whole text, handed out a line at a time, are those of each
// line on its own; and the next opener is the first line that has one.
TEST(DirectiveReader, MarksOfAWholeTextAreThoseOfItsLines) {
  std::mt19937 rng(5);
  const std::string_view alphabet = "iInNcludeE/* \r\n";
  for (int k = 0; k < 3000; ++k) {
    std::string text;
    const size_t length = rng() % 200;
    while (text.size() < length) text += rng() % 6 == 0 ? "include" : std::string(1, alphabet[rng() % alphabet.size()]);
    TextMarks whole;
    whole.find(text);
    text::LineSplitter lines(text);
    size_t firstOpener = std::string_view::npos;
    for (std::string_view line; lines.next(line);) {
      const size_t begin = static_cast<size_t>(line.data() - text.data());
      const LineMarks one = marksOf(line);
      if (firstOpener == std::string_view::npos && one.any()) firstOpener = begin;
      const LineMarks fromWhole = whole.marksIn(begin, begin + line.size());
      ASSERT_EQ(fromWhole.includes, one.includes) << text;
      ASSERT_EQ(fromWhole.commentOpener, one.commentOpener) << text;
      ASSERT_EQ(fromWhole.lineComment, one.lineComment) << text;
    }
    TextMarks again;
    again.find(text);
    const size_t opener = again.nextOpener(0);
    if (firstOpener == std::string_view::npos) {
      ASSERT_EQ(opener, std::string_view::npos) << text;
    } else {
      // Within the first line that has one.
      ASSERT_GE(opener, firstOpener) << text;
      ASSERT_EQ(text.find_first_of("\r\n", firstOpener), text.find_first_of("\r\n", opener)) << text;
    }
  }
}

TEST(DirectiveProblems, EachShapeOfDirectiveHasItsProblem) {
  const auto d = [](bool params, bool category, bool ownLine) {
    Directive x;
    x.hasParameters = params;
    x.passesCategory = category;
    x.endsOnItsLine = ownLine;
    return x;
  };
  using P = DirectiveProblem;
  const struct {
    Directive directive;
    bool categorised;
    std::optional<P> problem;
  } rows[] = {
      {d(true, true, true), true, std::nullopt},      // as converted
      {d(true, true, false), true, std::nullopt},     // split, but the category is there
      {d(true, false, true), true, P::NoCategory},    // the line rule did not reach it
      {d(false, false, true), true, P::NoParameters},
      {d(true, false, false), true, P::Split},
      {d(false, false, false), true, P::Split},
      {d(true, false, true), false, std::nullopt},    // an uncategorised file, as before
      {d(true, true, true), false, P::CategoryWithoutHeader},
  };
  for (const auto& row : rows) EXPECT_EQ(problemOf(row.directive, row.categorised), row.problem);
  EXPECT_EQ(problemLine("scenery\\linie\\a.scn", 120, P::MissingFile, "x/b.inc"),
            "scenery\\linie\\a.scn:120: dyrektywa include wskazuje plik „x/b.inc”, którego nie ma w katalogu scenery");
}

// ------------------------------------------------- the conversion of a tree

// Start and the categories of `categories` (relative path -> category)
// assigned; every other waiting file gets "inne".
void startAndAssign(const TempTree& tree, const std::map<std::string, std::string>& categories) {
  const text::RunPaths paths = tree.runPaths();
  run::runStart(paths);
  for (const std::string& file : categories::pendingFiles(paths)) {
    const auto it = categories.find(file);
    categories::przypisz_plik(paths, file, it == categories.end() ? "inne" : it->second);
  }
}

std::map<std::string, std::string> sceneryOf(const TempTree& tree) {
  std::map<std::string, std::string> files = tree.snapshot();
  std::erase_if(files, [](const auto& file) { return !file.first.starts_with("base/scenery/"); });
  return files;
}

ConversionResult convertTree(const TempTree& tree, bool dryRun = false) {
  ConversionEvents events;
  ConversionOptions options;
  options.dryRun = dryRun;
  return runConversion(tree.runPaths(), events, options);
}

std::vector<std::string> warningsOf(const ConversionResult& result) {
  std::vector<std::string> lines;
  for (const ConversionWarning& w : result.warnings) {
    lines.push_back(w.file + ":" + std::to_string(w.line) + " " + w.named);
  }
  return lines;
}

const char* const kKomora = "// komora: p1 = x, p2 = y, p3 = z\r\nnode (p1) (p2) (p3)\r\n";
const char* const kKomoraDone = "//$infotype: TORY\r\n// komora: p2 = x, p3 = y, p4 = z\r\nnode (p2) (p3) (p4)\r\n";

TEST(NestedIncludes, AnIncludeLineInACategorisedIncludeFileGetsTheCategoryAfterTheRenumbering) {
  const TempTree tree;
  tree.write("base/scenery/semafor.inc", "a (p1) (p2) (p3)\r\ninclude sy/komora.inc (p1) 0.0 3.5 0.0 end\r\n"
                                         "include sy/inny.inc (p2) 1 end\r\n");
  tree.write("base/scenery/sy/komora.inc", kKomora);
  tree.write("base/scenery/sy/inny.inc", "node (p1)\r\n");  // too few markers: no category
  startAndAssign(tree, {{"semafor.inc", "sem"}, {"sy\\komora.inc", "tory"}});
  const ConversionResult result = convertTree(tree);
  EXPECT_EQ(tree.read("base/scenery/semafor.inc"),
            "//$infotype: SEM\r\na (p2) (p3) (p4)\r\ninclude sy/komora.inc TORY_&type (p2) 0.0 3.5 0.0 end\r\n"
            // A file without a category: only the renumbering.
            "include sy/inny.inc (p3) 1 end\r\n");
  EXPECT_EQ(tree.read("base/scenery/sy/komora.inc"), kKomoraDone);
  EXPECT_TRUE(result.warnings.empty());

  // Start and the conversion again: no second category, no second header.
  const auto converted = sceneryOf(tree);
  run::runStart(tree.runPaths());
  EXPECT_TRUE(convertTree(tree).changedFiles.empty());
  EXPECT_EQ(sceneryOf(tree), converted);
}

TEST(NestedIncludes, ALineThatAlreadyPassesACategoryIsOnlyRenumbered) {
  const TempTree tree;
  tree.write("base/scenery/semafor.inc", "a (p1) (p2) (p3)\r\ninclude\tsy/komora.inc;tory_&type;(p1) 1 end\r\n");
  tree.write("base/scenery/sy/komora.inc", kKomora);
  startAndAssign(tree, {{"semafor.inc", "sem"}, {"sy\\komora.inc", "tory"}});
  convertTree(tree);
  // Written in its normalised form, as a scenery file's converted line is.
  EXPECT_EQ(tree.read("base/scenery/semafor.inc"),
            "//$infotype: SEM\r\na (p2) (p3) (p4)\r\ninclude sy/komora.inc tory_&type (p2) 1 end\r\n");
}

TEST(NestedIncludes, AFileWithAHeaderFromAnEarlierRunChangesOnlyWhereItNamesACategorisedFile) {
  const TempTree tree;
  // Converted before: its references are renumbered already.
  tree.write("base/scenery/stary.inc", "//$infotype: SEM\r\nnode (p2) (p3)\r\ninclude sy/komora.inc (p2) 1 2 end\r\n"
                                       "include sy/inny.inc 5 end\r\n");
  tree.write("base/scenery/sam.inc", "//$infotype: SEM\r\ninclude sy/inny.inc 5 end\r\n");
  tree.write("base/scenery/sy/komora.inc", kKomora);
  tree.write("base/scenery/sy/inny.inc", "node (p1)\r\n");
  startAndAssign(tree, {{"sy\\komora.inc", "tory"}});
  const auto before = sceneryOf(tree);
  platform::FileStat untouched;
  ASSERT_EQ(platform::os().stat(tree.path("base/scenery/sam.inc").c_str(), &untouched), 0);

  const ConversionResult result = convertTree(tree);
  EXPECT_EQ(tree.read("base/scenery/stary.inc"),
            "//$infotype: SEM\r\nnode (p2) (p3)\r\ninclude sy/komora.inc TORY_&type (p2) 1 2 end\r\n"
            "include sy/inny.inc 5 end\r\n");
  EXPECT_EQ(tree.read("base/scenery/sam.inc"), before.at("base/scenery/sam.inc"));
  platform::FileStat st;
  ASSERT_EQ(platform::os().stat(tree.path("base/scenery/sam.inc").c_str(), &st), 0);
  EXPECT_EQ(st.modifiedNs, untouched.modifiedNs) << "a file with nothing to convert was rewritten";
  EXPECT_EQ(result.changedFiles, (std::vector<std::string>{"scenery\\sy\\komora.inc", "scenery\\stary.inc"}));
  EXPECT_EQ(result.includeFiles, 1u);
  EXPECT_EQ(result.sceneryFiles, 1u);  // counted with the files changed for their include lines

  // Undo puts it back with the rest, byte for byte.
  const UndoResult undone = undoConversion(tree.runPaths());
  EXPECT_EQ(undone.restoredFiles, result.changedFiles);
  EXPECT_EQ(undone.sceneryFiles, 1u);
  EXPECT_EQ(sceneryOf(tree), before);
}

// Takes a dry run's changes and keeps none: only the warnings are looked at.
struct DiscardingSink : ChangeSink {
  void fileChanges(const FileChange&) override {}
};

TEST(ConversionWarnings, EveryDirectiveTheLineRuleCannotReachIsNamedByAllThreeRuns) {
  const TempTree tree;
  tree.write("base/scenery/sy/komora.inc", kKomora);
  tree.write("base/scenery/sy/inny.inc", "node (p1)\r\n");
  // Two lines a conversion cannot reach in a scenery file, one it can and
  // one that needs nothing.
  tree.write("base/scenery/a.scn", "// naglowek\r\ninclude sy/komora.inc\r\n  1 2 3 end\r\n"
                                   "include sy/komora.inc 1 2 3 end\r\ninclude SY\\KOMORA.INC end\r\n"
                                   "include sy/inny.inc end\r\n/* include sy/komora.inc end */\r\n");
  // In a categorised include file the numbers are those of the file as
  // converted: its header comes first.
  tree.write("base/scenery/semafor.inc", "a (p1) (p2) (p3)\r\nnode 0 include sy/komora.inc (p1) 1 2 end\r\n");
  // A scenery file without anything to convert is still read for them.
  tree.write("base/scenery/b.scn", "include sy/komora.inc 1\r\n2 3 end\r\n");
  startAndAssign(tree, {{"semafor.inc", "sem"}, {"sy\\komora.inc", "tory"}});
  const auto before = tree.snapshot();

  const std::vector<std::string> want = {
      "scenery\\semafor.inc:3 sy\\komora.inc", "scenery\\a.scn:2 sy\\komora.inc", "scenery\\a.scn:5 sy\\komora.inc",
      "scenery\\b.scn:1 sy\\komora.inc"};
  const ConversionResult dry = convertTree(tree, true);
  EXPECT_EQ(warningsOf(dry), want);
  DiscardingSink sink;
  ConversionEvents events;
  ConversionOptions options;
  options.changes = &sink;
  const ConversionResult diff = runConversion(tree.runPaths(), events, options);
  EXPECT_EQ(warningsOf(diff), want);
  EXPECT_EQ(tree.snapshot(), before);
  const ConversionResult real = convertTree(tree);
  EXPECT_EQ(warningsOf(real), want);
  using P = DirectiveProblem;
  std::vector<P> problems;
  for (const ConversionWarning& w : real.warnings) problems.push_back(w.problem);
  EXPECT_EQ(problems, (std::vector<P>{P::NoCategory, P::Split, P::NoParameters, P::Split}));
  EXPECT_EQ(warningText(real.warnings[2]),
            // The file by its name in the tree, however the line spells it.
            "scenery\\a.scn:5: dyrektywa include pliku „sy\\komora.inc”, który ma kategorię, nie przekazuje "
            "parametrów, więc nie przekaże mu też kategorii jako parametru 1");
  // Warnings stop nothing: the lines that could be converted were.
  EXPECT_NE(tree.read("base/scenery/a.scn").find("include sy/komora.inc TORY_&type 1 2 3 end"), std::string::npos);
}

TEST(ConversionWarnings, ALongSceneryFileIsWatchedWholeWhateverTheLookahead) {
  const TempTree tree;
  tree.write("base/scenery/sy/komora.inc", kKomora);
  std::string scn;
  for (int i = 0; i < 300; ++i) scn += "node 1 2 3 end\r\n";
  scn += "include sy/komora.inc 1 2 3 end\r\n";  // converted: past a small look-ahead the file is read again
  for (int i = 0; i < 300; ++i) scn += "node 1 2 3 end\r\n";
  scn += "include sy/komora.inc end\r\n";
  tree.write("base/scenery/a.scn", scn);
  startAndAssign(tree, {{"sy\\komora.inc", "tory"}});
  // Dry runs first: the last run converts the tree.
  const struct {
    size_t lookahead;
    bool dryRun;
  } runs[] = {{64, true}, {size_t{1} << 20, true}, {64, false}};
  for (const auto& r : runs) {
    SCOPED_TRACE("look-ahead " + std::to_string(r.lookahead) + (r.dryRun ? ", dry run" : ""));
    ConversionEvents events;
    ConversionOptions options;
    options.sceneryLookahead = r.lookahead;
    options.dryRun = r.dryRun;
    EXPECT_EQ(warningsOf(runConversion(tree.runPaths(), events, options)),
              std::vector<std::string>{"scenery\\a.scn:602 sy\\komora.inc"});
  }
}

}  // namespace
}  // namespace borvantel::convert
