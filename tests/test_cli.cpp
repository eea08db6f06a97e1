// borvantel-cli as a user runs it: a separate process with --program-dir, its
// exit status, standard output and standard error, and the files it leaves.
#include "support/process.h"
#include "support/temp_tree.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace borvantel {
namespace {

using testing::TempTree;
using testing::cp;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the CLI with `args`; its output goes to files outside "base" and "prog".
CliRun cli(const TempTree& t, const std::vector<std::string>& args, bool programDir = true) {
  std::vector<std::string> all = {BORVANTEL_CLI};
  if (programDir) {
    all.emplace_back("--program-dir");
    all.push_back(t.path("prog"));
  }
  all.insert(all.end(), args.begin(), args.end());
  CliRun run;
  const int status = testing::runProcess(all, {"", t.path("cli.stdout"), t.path("cli.stderr")});
  if (status < 0) {
    ADD_FAILURE() << "the CLI could not be started or did not exit normally";
    return run;
  }
  run.status = status;
  run.out = t.read("cli.stdout");
  run.err = t.read("cli.stderr");
  t.remove("cli.stdout");
  t.remove("cli.stderr");
  return run;
}

std::string base(const TempTree& t) { return t.path("base"); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr const char* kThreeMarkers = "(p1)\r\n(p2)\r\n(p3)\r\n";

// A name as the file system holds it: on Linux a name is bytes (here UTF-8),
// on Windows the tool's names are Windows-1250.
std::string onDisk(std::string_view utf8) {
#ifdef _WIN32
  return cp(utf8);
#else
  return std::string(utf8);
#endif
}

// A scenery tree with six include files that need a category, one covered by
// "predef.txt", one whose path holds a space, and files that need none.
void layOutTree(const TempTree& t) {
  t.write("prog/predef.txt", "*most MOSTY\r\n");
  t.write("prog/kategorie.txt", "DROGI\r\nstacja kolejowa\r\nAUTA\r\n" + cp("łąki") + "\r\nMOSTY\r\nTORY\r\n");
  for (const char* f : {"linie/b.inc", "linie/a.inc", "Dworzec.inc", "a/b/c.inc", "linie/most.inc",
                        "x y/z.inc", "linie/stare/d.inc"}) {
    t.write(std::string("base/scenery/") + f, kThreeMarkers);
  }
  t.write("base/scenery/" + onDisk("łąka.inc"), kThreeMarkers);  // a UTF-8 file name on Linux
  t.write("base/scenery/" + cp("żółw.inc"), kThreeMarkers);  // a Windows-1250 file name
  t.write("base/scenery/linie/h.inc", "//$infotype: Budynki\r\n");
  t.write("base/scenery/trasa.scn", "include linie/a.inc\r\n");
}

const char* const kListAfterStart =
    "a\\b\\c.inc\n"
    "Dworzec.inc\n"
    "linie\\a.inc\n"
    "linie\\b.inc\n"
    "linie\\stare\\d.inc\n"
    "łąka.inc\n"
    "żółw.inc\n";

// ---------------------------------------------------------------------------
// Usage

TEST(Cli, HelpPrintsTheUsageAndSucceeds) {
  TempTree t;
  for (const char* flag : {"--help", "-h"}) {
    const CliRun r = cli(t, {flag});
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_TRUE(contains(r.out, "borvantel-cli")) << r.out;
    for (const char* command : {"start", "pending", "assign", "assign-dir", "categories", "add-category", "save", "clean"}) {
      EXPECT_TRUE(contains(r.out, command)) << command;
    }
    EXPECT_EQ(r.err, "");
  }
  // Also after a command, where it would otherwise be taken for an argument.
  const CliRun r = cli(t, {"start", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "borvantel-cli [--program-dir")) << r.out;
}

TEST(Cli, CommandsOnABaseWithoutStartSayWhyInsteadOfAnsweringNothing) {
  TempTree t;
  t.write("base/scenery/a.inc", kThreeMarkers);
  t.write("prog/kategorie.txt", "MOSTY\r\n");
  const std::string b = base(t);
  struct Row {
    std::vector<std::string> args;
    const char* errPart;
    const char* why;
  };
  const Row rows[] = {
      {{"pending", b}, "start", "start has not run: empty output would read as nothing waiting"},
      {{"assign", b, "a.inc", "MOSTY"}, "start", "start has not run"},
      {{"assign-dir", b, "", "MOSTY"}, "start", "start has not run"},
      {{"convert", b}, "start", "start has not run"},
      {{"pending", t.path("brak")}, "brak", "a base directory that does not exist"},
      {{"save", t.path("brak")}, "brak", "a base directory that does not exist"},
      {{"clean", t.path("brak")}, "brak", "a base directory that does not exist"},
  };
  const auto before = t.snapshot();
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    const CliRun run = cli(t, r.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, r.errPart)) << run.err;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(t.snapshot(), before);
}

TEST(Cli, WrongUsageExitsWithTwoAndTheUsage) {
  TempTree t;
  const std::string b = base(t);
  struct Row {
    std::vector<std::string> args;
    bool programDir;
    const char* why;
  };
  const Row rows[] = {
      {{}, true, "no command"},
      {{"frobnicate"}, true, "unknown command"},
      {{"START", b}, true, "commands are case-sensitive"},
      {{"start"}, true, "missing base directory"},
      {{"start", b, b}, true, "one argument too many"},
      {{"pending"}, true, "missing base directory"},
      {{"assign", b, "a.inc"}, true, "missing category"},
      {{"assign-dir", b, "linie\\"}, true, "missing category"},
      {{"categories", "x"}, true, "categories takes no argument"},
      {{"add-category"}, true, "missing name"},
      {{"save"}, true, "missing base directory"},
      {{"clean", b, "x"}, true, "one argument too many"},
      {{"--program-dir"}, false, "--program-dir without a directory"},
      {{"start", ""}, true, "an empty base directory"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    const CliRun run = cli(t, r.args, r.programDir);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "borvantel-cli [--program-dir")) << run.err;  // the usage text
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(t.allFiles(), std::vector<std::string>{});  // nothing written anywhere
}

// ---------------------------------------------------------------------------
// start and pending

TEST(Cli, StartRefusesABaseWithoutSceneryAndWritesNothing) {
  struct Row {
    const char* mkdir;
    const char* base;
    const char* why;
  };
  const Row rows[] = {
      {"trasa/modele", "trasa", "no scenery subdirectory"},
      {"trasa/scenery/linie", "trasa/scenery", "the scenery directory itself"},
      {"trasa", "brak", "a base directory that does not exist"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    t.mkdir(r.mkdir);
    t.write(std::string(r.mkdir) + "/x.inc", kThreeMarkers);
    const auto before = t.snapshot();
    const CliRun run = cli(t, {"start", t.path(r.base)});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, t.path(r.base))) << run.err;  // names the directory
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(t.snapshot(), before);
  }
}

TEST(Cli, StartPrintsTheFilesLeftInListOrderWithBackslashes) {
  TempTree t;
  layOutTree(t);
  const CliRun r = cli(t, {"start", base(t)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kListAfterStart);
  EXPECT_TRUE(contains(r.err, "x y\\z.inc")) << r.err;  // the passed-over file is named
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\n");
  EXPECT_EQ(t.read("base/inc_out1.txt"), "linie\\h.inc Budynki\r\n");
  EXPECT_FALSE(t.exists("base/p_inc1.txt"));
  EXPECT_EQ(r.out, cli(t, {"pending", base(t)}).out);  // pending right after start: the same list
}

// A base directory whose name holds Polish letters, given as UTF-8 like every
// argument (on Windows also with "/" for "\\"): scanned, assigned and
// converted, and named as typed in messages.
TEST(Cli, ABaseDirectoryWithPolishLettersInItsNameWorks) {
  std::vector<std::string (*)(const std::string&)> forms = {[](const std::string& p) { return p; }};
#ifdef _WIN32
  forms.push_back([](const std::string& p) {
    std::string slashed = p;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    return slashed;
  });
#endif
  for (const auto form : forms) {
    TempTree t;
    const std::string dir = onDisk("Łódź");
    t.write("prog/kategorie.txt", "MOSTY\r\n");
    t.write(dir + "/scenery/" + onDisk("żuraw.inc"), kThreeMarkers);
    t.write(dir + "/scenery/trasa.scn", "include " + onDisk("żuraw.inc") + " 1 2\r\n");
    const std::string base = form(text::displayName(t.path(dir)));  // the path as the user types it
    SCOPED_TRACE(base);
    CliRun r = cli(t, {"start", base});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "żuraw.inc\n");
    r = cli(t, {"assign", base, "żuraw.inc", "MOSTY"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = cli(t, {"convert", base});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(t.read(dir + "/scenery/" + onDisk("żuraw.inc")), "//$infotype: MOSTY\r\n(p2)\r\n(p3)\r\n(p4)\r\n");
    EXPECT_EQ(t.read(dir + "/scenery/trasa.scn"), "include " + onDisk("żuraw.inc") + " MOSTY_&type 1 2\r\n");
    // Named as typed: a directory beside it that does not exist.
    r = cli(t, {"pending", form(text::displayName(t.path(onDisk("Żółć"))))});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Żółć")) << r.err;
  }
}

TEST(Cli, StartPrintsNothingWhenNothingIsLeft) {
  TempTree t;
  t.write("prog/predef.txt", "* RESZTA\r\n");
  t.write("base/scenery/a.inc", kThreeMarkers);
  t.write("base/scenery/b.scn", "x");
  const CliRun r = cli(t, {"start", base(t)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(t.read("base/p_inc.txt"), "");
  EXPECT_EQ(t.read("base/inc_out.txt"), "a.inc RESZTA\r\n");
  EXPECT_EQ(cli(t, {"pending", base(t)}).out, "");
}

TEST(Cli, StartReportsAWorkingFileThatCannotBeWritten) {
  TempTree t;
  t.write("base/scenery/a.inc", kThreeMarkers);
  t.mkdir("base/inc_out.txt");  // a directory where the working file must go
  const CliRun r = cli(t, {"start", base(t)});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "inc_out.txt")) << r.err;
  EXPECT_EQ(r.out, "");
}

// ---------------------------------------------------------------------------
// assign, assign-dir

TEST(Cli, AssignRecordsAWaitingFileAndPendingShowsTheRest) {
  TempTree t;
  layOutTree(t);
  ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
  struct Step {
    std::vector<std::string> args;
    int status;
    std::string incOut;   // inc_out.txt afterwards
    const char* errPart;  // the message must name this
    const char* why;
  };
  const std::string start = "linie\\most.inc MOSTY\r\n";
  const Step steps[] = {
      {{"linie\\a.inc", "MOSTY"}, 0, start + "linie\\a.inc MOSTY\r\n", "", "a waiting file"},
      {{"linie\\a.inc", "DROGI"}, 1, start + "linie\\a.inc MOSTY\r\n", "linie\\a.inc", "already assigned"},
      {{"linie/b.inc", "BRAK_DEFINICJI"}, 0, start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n", "",
       "\"/\" typed for \"\\\"; BRAK_DEFINICJI like any category"},
      {{"linie\\most.inc", "X"}, 1, start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n", "linie\\most.inc",
       "assigned automatically: not waiting"},
      {{"nie_ma.inc", "X"}, 1, start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n", "nie_ma.inc",
       "not in the list at all"},
      {{"żółw.inc", "ŁĄKI"}, 0,
       start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n" + cp("żółw.inc łąki") + "\r\n", "",
       "a Windows-1250 name given as shown; the category typed in other case stored as listed, in Windows-1250"},
      {{"Dworzec.inc", "NIEZNANA"}, 1,
       start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n" + cp("żółw.inc łąki") + "\r\n", "NIEZNANA",
       "a category that is not on the list"},
      {{"Dworzec.inc", "DWA SLOWA"}, 1,
       start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n" + cp("żółw.inc łąki") + "\r\n", "", "a space in the category"},
      {{"Dworzec.inc", "日本"}, 1,
       start + "linie\\a.inc MOSTY\r\nlinie\\b.inc BRAK_DEFINICJI\r\n" + cp("żółw.inc łąki") + "\r\n", "日本",
       "a category outside Windows-1250"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.why);
    std::vector<std::string> args = {"assign", base(t)};
    args.insert(args.end(), s.args.begin(), s.args.end());
    const CliRun r = cli(t, args);
    EXPECT_EQ(r.status, s.status) << r.err;
    EXPECT_EQ(t.read("base/inc_out.txt"), s.incOut);
    if (s.status != 0) {
      EXPECT_FALSE(r.err.empty());
      EXPECT_TRUE(contains(r.err, s.errPart)) << r.err;
    }
  }
  EXPECT_EQ(cli(t, {"pending", base(t)}).out, "a\\b\\c.inc\nDworzec.inc\nlinie\\stare\\d.inc\nłąka.inc\n");
}

TEST(Cli, OddFileNamesArePrintedAsUtf8AndAssignableAsPrinted) {
  TempTree t;
  // Bytes that are neither UTF-8 nor Windows-1250 letters (0x98 is unassigned
  // in the code page), and a Windows-1250 name.
  const std::string odd = "x\x98\x81y.inc";
  t.write("prog/kategorie.txt", "X\r\n");
  t.write("base/scenery/" + odd, kThreeMarkers);
  t.write("base/scenery/" + cp("źródło.inc"), kThreeMarkers);
  const CliRun r = cli(t, {"start", base(t)});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(text::isValidUtf8(r.out)) << r.out;
  ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2);
  const std::string first = r.out.substr(0, r.out.find('\n'));
  const std::string second = r.out.substr(first.size() + 1, r.out.size() - first.size() - 2);
  EXPECT_TRUE(first == "źródło.inc" || second == "źródło.inc") << r.out;
  for (const std::string& printed : {first, second}) {
    const CliRun a = cli(t, {"assign", base(t), printed, "X"});
    EXPECT_EQ(a.status, 0) << a.err;
  }
  // The records hold the names' own bytes.
  const std::string incOut = t.read("base/inc_out.txt");
  EXPECT_TRUE(incOut == odd + " X\r\n" + cp("źródło.inc") + " X\r\n" || incOut == cp("źródło.inc") + " X\r\n" + odd + " X\r\n")
      << incOut;
  EXPECT_EQ(cli(t, {"pending", base(t)}).out, "");
}

TEST(Cli, AssignDirectoryTakesTheFilesDirectlyInIt) {
  struct Row {
    std::string dir;
    std::string printed;  // the files assigned, in list order
    std::string added;    // lines added to inc_out.txt
    std::string pending;
    const char* why;
  };
  const Row rows[] = {
      {"linie\\", "linie\\a.inc\nlinie\\b.inc\n", "linie\\a.inc MOSTY\r\nlinie\\b.inc MOSTY\r\n",
       "a\\b\\c.inc\nDworzec.inc\nlinie\\stare\\d.inc\nłąka.inc\nżółw.inc\n", "the subdirectory stays"},
      {"LINIE", "linie\\a.inc\nlinie\\b.inc\n", "linie\\a.inc MOSTY\r\nlinie\\b.inc MOSTY\r\n",
       "a\\b\\c.inc\nDworzec.inc\nlinie\\stare\\d.inc\nłąka.inc\nżółw.inc\n", "other case, no trailing \\"},
      {"linie/stare/", "linie\\stare\\d.inc\n", "linie\\stare\\d.inc MOSTY\r\n",
       "a\\b\\c.inc\nDworzec.inc\nlinie\\a.inc\nlinie\\b.inc\nłąka.inc\nżółw.inc\n", "\"/\" typed for \"\\\""},
      {"GŁÓWNY SCENERY", "Dworzec.inc\nłąka.inc\nżółw.inc\n",
       "Dworzec.inc MOSTY\r\n" + onDisk("łąka.inc") + " MOSTY\r\n" + cp("żółw.inc") + " MOSTY\r\n",
       "a\\b\\c.inc\nlinie\\a.inc\nlinie\\b.inc\nlinie\\stare\\d.inc\n", "the scenery directory by its label"},
      {"główny scenery", "Dworzec.inc\nłąka.inc\nżółw.inc\n",
       "Dworzec.inc MOSTY\r\n" + onDisk("łąka.inc") + " MOSTY\r\n" + cp("żółw.inc") + " MOSTY\r\n",
       "a\\b\\c.inc\nlinie\\a.inc\nlinie\\b.inc\nlinie\\stare\\d.inc\n", "the label ignoring case"},
      {"", "Dworzec.inc\nłąka.inc\nżółw.inc\n", "Dworzec.inc MOSTY\r\n" + onDisk("łąka.inc") + " MOSTY\r\n" + cp("żółw.inc") + " MOSTY\r\n",
       "a\\b\\c.inc\nlinie\\a.inc\nlinie\\b.inc\nlinie\\stare\\d.inc\n", "an empty argument"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    layOutTree(t);
    ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
    const CliRun run = cli(t, {"assign-dir", base(t), r.dir, "MOSTY"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, r.printed);
    EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\n" + r.added);
    EXPECT_EQ(cli(t, {"pending", base(t)}).out, r.pending);
  }
}

TEST(Cli, AssignDirectoryWithoutWaitingFilesFails) {
  TempTree t;
  layOutTree(t);
  ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
  const std::string incOut = t.read("base/inc_out.txt");
  const CliRun r = cli(t, {"assign-dir", base(t), "inne\\", "MOSTY"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "inne\\")) << r.err;
  EXPECT_EQ(t.read("base/inc_out.txt"), incOut);
}

// ---------------------------------------------------------------------------
// categories, add-category

TEST(Cli, CategoriesPrintsTheListAsAfterStart) {
  TempTree t;
  EXPECT_EQ(cli(t, {"categories"}).out, "BRAK_DEFINICJI\n");  // no kategorie.txt
  layOutTree(t);
  const CliRun r = cli(t, {"categories"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "AUTA\nBRAK_DEFINICJI\nDROGI\nłąki\nMOSTY\nstacja_kolejowa\nTORY\n");
}

TEST(Cli, AddCategoryAppendsTheUpperCaseName) {
  TempTree t;
  t.write("prog/kategorie.txt", "AUTA");
  CliRun r = cli(t, {"add-category", "Nowa kategoria"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "NOWA_KATEGORIA\n");
  r = cli(t, {"add-category", "żółta łąka"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ŻÓŁTA_ŁĄKA\n");
  EXPECT_EQ(t.read("prog/kategorie.txt"), "AUTA\r\nNOWA_KATEGORIA\r\n" + cp("ŻÓŁTA_ŁĄKA") + "\r\n");
  EXPECT_EQ(cli(t, {"categories"}).out, "AUTA\nBRAK_DEFINICJI\nNOWA_KATEGORIA\nŻÓŁTA_ŁĄKA\n");
}

TEST(Cli, AddCategoryRefusesWhatCannotBeStored) {
  TempTree t;
  t.write("prog/kategorie.txt", "AUTA\r\n");
  for (const char* name : {"日本", ""}) {
    const CliRun r = cli(t, {"add-category", name});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(t.read("prog/kategorie.txt"), "AUTA\r\n");

  // A program directory that does not exist: the message names the file.
  const CliRun r = cli(t, {"--program-dir", t.path("brak"), "add-category", "X"}, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "kategorie.txt")) << r.err;
  EXPECT_FALSE(t.exists("brak"));
}

// ---------------------------------------------------------------------------
// save, clean

TEST(Cli, SaveAppendsTheAssignmentsToPredef) {
  TempTree t;
  layOutTree(t);
  ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
  ASSERT_EQ(cli(t, {"assign-dir", base(t), "linie\\", "TORY"}).status, 0);
  const CliRun r = cli(t, {"save", base(t)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(t.read("prog/predef.txt"), "*most MOSTY\r\nmost.inc MOSTY\r\na.inc TORY\r\nb.inc TORY\r\n");
}

TEST(Cli, SaveWithoutAssignmentsLeavesPredefUnchanged) {
  TempTree t;
  t.write("prog/predef.txt", "*most MOSTY");
  t.mkdir("base/scenery");
  const CliRun r = cli(t, {"save", base(t)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(t.read("prog/predef.txt"), "*most MOSTY");
}

TEST(Cli, CleanRemovesTheFourWorkingFiles) {
  TempTree t;
  layOutTree(t);
  ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
  t.write("base/p_inc1.txt", "x\r\n");
  auto before = t.snapshot();
  const CliRun r = cli(t, {"clean", base(t)});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* f : {"base/inc_out.txt", "base/inc_out1.txt", "base/p_inc.txt", "base/p_scn.txt"}) {
    EXPECT_FALSE(t.exists(f)) << f;
    before.erase(f);
  }
  EXPECT_EQ(t.snapshot(), before);  // everything else as it was, p_inc1.txt included
  EXPECT_EQ(cli(t, {"clean", base(t)}).status, 0);  // nothing left to remove is no error
}

// undo prints what it put back as convert prints what it changed, and sums
// it up in the window's words.
TEST(Cli, UndoPutsBackAndPrintsTheFilesTheConversionChanged) {
  TempTree t;
  t.write("prog/kategorie.txt", "AUTA\r\n");
  t.write("base/scenery/linie/a.inc", kThreeMarkers);
  t.write("base/scenery/trasa.scn", "include linie/a.inc 1 end\r\n");
  const auto before = t.snapshot();
  ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
  ASSERT_EQ(cli(t, {"assign", base(t), "linie\\a.inc", "AUTA"}).status, 0);
  const CliRun converted = cli(t, {"convert", base(t)});
  ASSERT_EQ(converted.status, 0) << converted.err;
  ASSERT_EQ(cli(t, {"clean", base(t)}).status, 0);

  const CliRun undone = cli(t, {"undo", base(t)});
  EXPECT_EQ(undone.status, 0) << undone.err;
  EXPECT_EQ(undone.out, converted.out);
  EXPECT_EQ(undone.out, "scenery\\linie\\a.inc\nscenery\\trasa.scn\n");
  EXPECT_EQ(undone.err, "Przywrócono pliki sprzed konwersji: pliki *.inc: 1, pliki sceneryjne: 1.\n");
  EXPECT_EQ(t.snapshot(), before);
  const CliRun again = cli(t, {"undo", base(t)});
  EXPECT_EQ(again.status, 1);
  EXPECT_TRUE(contains(again.err, "nie ma kopii do cofnięcia")) << again.err;
}

// check: findings on standard output and exit status 3, the summary on
// standard error, a failure apart (1); no Start needed and nothing written.
TEST(Cli, CheckTellsFindingsFromAFailureAndWritesNothing) {
  TempTree t;
  t.write("base/scenery/linie/a.inc", "//$infotype: AUTA\r\nnode (p2)\r\n");
  t.write("base/scenery/trasa.scn", "include linie/a.inc AUTA_&type 1 end\r\n");
  const CliRun ok = cli(t, {"check", base(t)});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "");
  EXPECT_EQ(ok.err, "Sprawdzono plików: 2, dyrektyw include: 1, uwag: 0.\n");

  t.write("base/scenery/trasa.scn", "include linie/a.inc AUTA_&type 1 end\r\ninclude linie\\a.inc 2 end\r\n");
  const auto before = t.snapshot();
  const CliRun found = cli(t, {"check", base(t)});
  EXPECT_EQ(found.status, 3) << found.err;
  EXPECT_EQ(found.out, "scenery\\trasa.scn:2: plik „linie\\a.inc” ma kategorię, a pierwszym parametrem dyrektywy "
                       "include nie jest kategoria (…_&type): plik odczyta parametry o jedno miejsce dalej\n");
  EXPECT_EQ(found.err, "Sprawdzono plików: 2, dyrektyw include: 2, uwag: 1.\n");
  EXPECT_EQ(t.snapshot(), before);

  const CliRun failed = cli(t, {"check", t.path("brak")});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_TRUE(contains(failed.err, "nie istnieje")) << failed.err;
  EXPECT_EQ(cli(t, {"check"}).status, 2);
}

#ifndef _WIN32
// Output that could not be written (here a full disk) is a failure, told as
// such, never a success with a list cut short.
TEST(Cli, OutputThatCannotBeWrittenIsAFailure) {
  TempTree t;
  layOutTree(t);
  ASSERT_EQ(cli(t, {"start", base(t)}).status, 0);
  for (const char* command : {"pending", "categories"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {BORVANTEL_CLI, "--program-dir", t.path("prog"), command};
    if (std::string(command) == "pending") args.push_back(base(t));
    const int status = testing::runProcess(args, {"", "/dev/full", t.path("cli.stderr")});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(contains(t.read("cli.stderr"), "standardowe wyjście")) << t.read("cli.stderr");
  }
}
#endif

}  // namespace
}  // namespace borvantel
