// The run layer: the Start sequence, the base-directory rules, and the stage
// table of a whole run driven as the window drives it.
#include "run/base_directory.h"
#include "run/run.h"
#include "run/start.h"
#include "support/failures.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/files.h"
#include "text/lines.h"
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace borvantel::run {

// How gtest shows the controls when a comparison fails.
void PrintTo(const Controls& c, std::ostream* os) {
  *os << "{Start " << c.start << ", assign " << c.assign << ", convert " << c.convert << ", save " << c.save
      << ", undo " << c.undo << ", changed files " << c.showChanges << ", review " << c.review << ", lists shown "
      << c.directoryChoice << ", Katalog: " << c.directoryCaption << ", Label5 '" << text::displayName(c.directoryLabel)
      << "', Label6 '" << c.summary << "'}";
}

namespace {

using testing::FailingOs, testing::TempTree, testing::failureOf, testing::linesOf;
using Call = FailingOs::Call;
using Lines = std::vector<std::string>;

using testing::kThreeMarkers;

// ---------------------------------------------------------------------------
// Start

TEST(Start, NothingToAssignSetsTheFlagAndLeavesTheListEmpty) {
  TempTree t;
  t.write("base/inc_out.txt", "stary.inc MOSTY\r\n");  // an earlier run's assignments
  t.write("base/inc_out1.txt", "stary.inc DROGI\r\n");
  t.write("base/scenery/a.scn", "include x.inc\r\n");
  t.write("base/scenery/few.inc", "(p1)(p2)");
  t.write("base/scenery/h.inc", "//$infotype: Las\r\n");
  const StartResult r = runStart(t.runPaths());
  EXPECT_TRUE(r.wszystkie_inc_przypisane);
  EXPECT_TRUE(r.fileList.empty());
  EXPECT_EQ(r.autoAssigned, 0u);
  EXPECT_EQ(t.read("base/p_inc.txt"), "");  // exists, 0 bytes
  EXPECT_EQ(t.read("base/inc_out.txt"), "");  // the earlier run's assignments are discarded
  EXPECT_EQ(t.read("base/inc_out1.txt"), "h.inc Las\r\n");
  EXPECT_FALSE(t.exists("base/p_inc1.txt"));
}

TEST(Start, EmptyTreeGivesEmptyWorkingFiles) {
  TempTree t;
  t.mkdir("base/scenery");
  const StartResult r = runStart(t.runPaths());
  EXPECT_TRUE(r.wszystkie_inc_przypisane);
  EXPECT_TRUE(r.fileList.empty());
  for (const char* f : {"base/p_inc.txt", "base/p_scn.txt", "base/inc_out1.txt", "base/inc_out.txt"}) {
    EXPECT_EQ(t.read(f), "") << f;
  }
}

TEST(Start, EveryFileCoveredByPredefLeavesNothingToAssign) {
  TempTree t;
  t.write("prog/predef.txt", "*most MOSTY\r\ndworzec.inc STACJE\r\n");
  t.write("base/inc_out.txt", "stary.inc X\r\n");
  t.write("base/scenery/linie/wiadukt_most2.inc", kThreeMarkers);
  t.write("base/scenery/Dworzec.inc", kThreeMarkers);
  const StartResult r = runStart(t.runPaths());
  EXPECT_TRUE(r.wszystkie_inc_przypisane);
  EXPECT_TRUE(r.fileList.empty());
  EXPECT_EQ(r.autoAssigned, 2u);
  EXPECT_EQ(t.read("base/p_inc.txt"), "");
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\wiadukt_most2.inc MOSTY\r\nDworzec.inc STACJE\r\n");
  EXPECT_FALSE(t.exists("base/p_inc1.txt"));
}

TEST(Start, FilesLeftAreListedInListOrderAsRelativePaths) {
  TempTree t;
  t.write("prog/predef.txt", "*most MOSTY\r\n");
  t.write("base/scenery/linie/b.inc", kThreeMarkers);
  t.write("base/scenery/linie/a.inc", kThreeMarkers);
  t.write("base/scenery/Dworzec.inc", kThreeMarkers);
  t.write("base/scenery/a/b/c.inc", kThreeMarkers);
  t.write("base/scenery/linie/most.inc", kThreeMarkers);
  t.write("base/scenery/x y/z.inc", kThreeMarkers);
  const StartResult r = runStart(t.runPaths());
  EXPECT_FALSE(r.wszystkie_inc_przypisane);
  EXPECT_EQ(r.fileList, (Lines{"a\\b\\c.inc", "Dworzec.inc", "linie\\a.inc", "linie\\b.inc"}));
  EXPECT_EQ(r.passedOver, Lines{"x y\\z.inc"});
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\n");
  // "p_inc.txt" keeps the scan order, now relative.
  EXPECT_EQ(std::set<std::string>(r.fileList.begin(), r.fileList.end()),
            [&] {
              const Lines l = linesOf(t.read("base/p_inc.txt"));
              return std::set<std::string>(l.begin(), l.end());
            }());
  EXPECT_EQ(linesOf(t.read("base/p_inc.txt")).back(), "Dworzec.inc");  // the root's file last
  EXPECT_FALSE(t.exists("base/p_inc1.txt"));
}

TEST(Start, FailureToEmptyIncOutIsReported) {
  TempTree t;
  t.write("base/scenery/a.inc", kThreeMarkers);
  t.write("base/inc_out.txt", "old.inc X\r\n");
  const auto before = t.snapshot();
  const std::string message =
      failureOf<text::FileError>({Call::Open, EROFS, "inc_out.txt"}, [&] { runStart(t.runPaths()); });
  EXPECT_NE(message.find("inc_out.txt"), std::string::npos) << message;
  EXPECT_EQ(t.snapshot(), before);
}

// ---------------------------------------------------------------------------
// Base directory

TEST(BaseDirectory, StartIsUsableOnlyBesideASceneryDirectory) {
  struct Row {
    std::vector<std::string> dirs;  // directories below root()
    std::string base;               // the base directory, below root()
    bool usable;
    const char* why;
  };
  const Row rows[] = {
      {{"trasa/scenery"}, "trasa", true, "the usual tree"},
      {{"trasa/SCENERY"}, "trasa", true, "another case"},
      {{"trasa/scenery_backup"}, "trasa", true, "a name containing the word"},
      {{"trasa/moja_Scenery"}, "trasa", true, "the word at the end of a name"},
      {{"trasa"}, "trasa", false, "an empty directory"},
      {{"trasa/modele", "trasa/tekstury"}, "trasa", false, "no subdirectory with the word"},
      {{"trasa/scenery/linie"}, "trasa/scenery", false, "the scenery directory itself"},
      {{"trasa/Scenery/linie"}, "trasa/Scenery/", false, "the scenery directory itself, other case, trailing /"},
      {{"scenery_stare/trasa/modele"}, "scenery_stare/trasa", true, "the word higher up in the path"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    for (const auto& d : r.dirs) t.mkdir(d);
    t.write(r.base + "/plik_scenery.txt", "x");  // a plain file never counts
    EXPECT_EQ(spr_exist_scenery(t.path(r.base), subdirectories(t.path(r.base))), r.usable);
    EXPECT_EQ(spr_exist_scenery(text::directoryWithSeparator(t.path(r.base)), subdirectories(t.path(r.base))), r.usable);
  }
  TempTree t;
  EXPECT_FALSE(spr_exist_scenery(t.path("missing"), subdirectories(t.path("missing"))));
}

TEST(BaseDirectory, CleanUpRemovesTheFourWorkingFilesOnly) {
  TempTree t;
  for (const char* f : {"inc_out.txt", "inc_out1.txt", "p_inc.txt", "p_scn.txt", "p_inc1.txt"}) {
    t.write(std::string("base/") + f, "x\r\n");
  }
  t.write("prog/predef.txt", "a b\r\n");
  t.write("base/scenery/a.inc", "x");
  removeWorkingFiles(t.runPaths());
  EXPECT_EQ(t.allFiles(), (Lines{"base/p_inc1.txt", "base/scenery/a.inc", "prog/predef.txt"}));
  EXPECT_NO_THROW(removeWorkingFiles(t.runPaths()));  // missing files are no error
}

TEST(BaseDirectory, CleanUpGoesOnPastAFailureAndNamesTheFile) {
  TempTree t;
  for (const char* f : {"inc_out.txt", "inc_out1.txt", "p_inc.txt", "p_scn.txt"}) t.write(std::string("base/") + f, "x");
  const std::string message =
      failureOf({Call::Unlink, EACCES, "inc_out1.txt"}, [&] { removeWorkingFiles(t.runPaths()); });
  EXPECT_NE(message.find("inc_out1.txt"), std::string::npos) << message;
  EXPECT_EQ(t.allFiles(), Lines{"base/inc_out1.txt"});
}



// ---------------------------------------------------------------------------
// A whole run, driven as the window drives it: the stage table after each event

// The controls of the stage table's rows, Label5 aside.
Controls choosing(bool start) { return {.start = start, .directoryLabel = {}, .summary = {}}; }
Controls assigning(std::string directory) {
  return {.assign = true, .directoryChoice = false, .directoryCaption = true, .directoryLabel = std::move(directory),
          .summary = {}};
}
Controls ready(bool convert, bool save) {
  return {.convert = convert, .save = save, .review = convert, .directoryChoice = false, .directoryCaption = false,
          .directoryLabel = {}, .summary = {}};
}
// After a conversion: undo offered, the files and the summary shown.
Controls converted(bool save, const convert::ConversionResult& result) {
  Controls c = ready(false, save);
  c.undo = c.showChanges = true;
  c.summary = run::conversionSummary(result);
  return c;
}

const std::string kRoot(text::kGlownyScenery);

// A run on `t` with Start done.
run::Run startedOn(const TempTree& t) {
  run::Run r(t.path("prog"), t.path("base"));
  r.start();
  return r;
}

// Every waiting file given the selected category, one at a time.
void assignAll(run::Run& r) {
  while (!r.fileList().empty()) r.assignSelectedFile();
}

// A small tree: four files wait, one is covered by predef.txt.
void layOut(const TempTree& t) {
  t.write("prog/kategorie.txt", "MOSTY\r\nAUTA\r\n");
  t.write("prog/predef.txt", "*most MOSTY\r\n");
  for (const char* f : {"linie/b.inc", "linie/a.inc", "linie/stare/c.inc", "dworzec.inc", "linie/most.inc"}) {
    t.write(std::string("base/scenery/") + f, kThreeMarkers);
  }
  t.write("base/scenery/trasa.scn", "include linie/a.inc 1 2 end\r\ninclude dworzec.inc 3 end\r\n");
}

std::string selectedCategory(const run::Run& r) { return r.categoryList().at(r.selectedCategory().value()); }

TEST(RunStages, ChoosingTheDirectoryFollowsSprExistScenery) {
  TempTree t;
  t.mkdir("base/scenery/linie");
  t.mkdir("kopia/scenery_backup");
  t.mkdir("pusty");
  t.mkdir("modele/tekstury");
  run::Run r(t.path("prog"), t.path("base"));
  EXPECT_EQ(r.stage(), Stage::ChoosingDirectory);
  EXPECT_FALSE(r.wszystkie_inc_przypisane());
  EXPECT_EQ(r.paths().sciezka_katalogu, t.path("base") + platform::kPathSeparator);
  EXPECT_EQ(r.paths().sciezka_programu, t.path("prog") + platform::kPathSeparator);
  EXPECT_EQ(r.controls(), choosing(true));
  EXPECT_EQ(r.directoryEntries(), Lines{t.path("base/scenery")});
  const struct {
    const char* dir;
    bool start;
    const char* why;
  } rows[] = {
      {"base/scenery", false, "the scenery directory itself, though it holds subdirectories"},
      {"kopia", true, "a subdirectory whose name merely contains the word"},
      {"pusty", false, "no subdirectory at all"},
      {"modele", false, "subdirectories without the word"},
      {"base", true, "back to the usual tree"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    r.changeDirectory(t.path(row.dir));
    EXPECT_EQ(r.paths().sciezka_katalogu, t.path(row.dir) + platform::kPathSeparator);
    EXPECT_EQ(r.controls(), choosing(row.start));
  }
  EXPECT_EQ(t.allFiles(), Lines{});  // choosing writes nothing
}

#ifdef _WIN32
// Windows names one directory in several ways: "/" for "\\", with or without
// a trailing separator, with "." and ".." steps, a drive letter in either
// case. Each is the same base: Start finds the same files and a whole run
// leaves the same scenery tree.
TEST(BaseDirectory, EveryWindowsFormOfTheBaseGivesTheSameRun) {
  struct Row {
    std::string (*form)(const TempTree&);
    const char* why;
  };
  const Row rows[] = {
      {[](const TempTree& t) { return t.path("base"); }, "as the system gives it"},
      {[](const TempTree& t) {
         std::string p = t.path("base");
         std::replace(p.begin(), p.end(), '\\', '/');
         return p;
       },
       "\"/\" for \"\\\""},
      {[](const TempTree& t) { return t.path("base") + "\\"; }, "a trailing separator"},
      {[](const TempTree& t) { return t.path("base") + "/"; }, "a trailing \"/\""},
      {[](const TempTree& t) { return t.path("prog/../base/."); }, "\".\" and \"..\" steps"},
      {[](const TempTree& t) {
         std::string p = t.path("base");
         p[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(p[0])));
         return p;
       },
       "a lower-case drive letter"},
  };
  std::optional<std::map<std::string, std::string>> first;
  for (const Row& row : rows) {
    TempTree t;
    const std::string base = row.form(t);
    SCOPED_TRACE(std::string(row.why) + ": " + base);
    layOut(t);
    run::Run r(t.path("prog"), base);
    EXPECT_TRUE(text::equalsIgnoreCase(r.paths().sciezka_katalogu, t.path("base") + "\\")) << r.paths().sciezka_katalogu;
    EXPECT_EQ(r.controls(), choosing(true));
    const StartResult started = r.start();
    EXPECT_EQ(started.fileList, (Lines{"dworzec.inc", "linie\\a.inc", "linie\\b.inc", "linie\\stare\\c.inc"}));
    while (!r.fileList().empty()) {
      r.selectFile(0);
      r.selectCategory(0);
      r.assignWholeDirectory();
    }
    convert::ConversionEvents events;
    EXPECT_EQ(r.convert(events).changedFiles.size(), 6u);
    std::map<std::string, std::string> scenery;
    for (const auto& [name, bytes] : t.snapshot()) {
      if (name.rfind("base/scenery/", 0) == 0) scenery.emplace(name, bytes);
    }
    if (!first) {
      first = scenery;
      EXPECT_EQ(scenery.at("base/scenery/trasa.scn"),
                "include linie/a.inc AUTA_&type 1 2 end\r\ninclude dworzec.inc AUTA_&type 3 end\r\n");
    }
    EXPECT_EQ(scenery, *first);
  }
}
#endif

TEST(RunStages, AWholeRunByHand) {
  TempTree t;
  layOut(t);
  t.write("prog/kategorie.txt", "MOSTY\r\nAUTA\r\n");
  run::Run r(t.path("prog"), t.path("base"));
  EXPECT_EQ(r.addCategory("przed startem"), "PRZED_STARTEM");  // works before Start, too
  EXPECT_EQ(r.categoryList(), Lines{"PRZED_STARTEM"});

  const StartResult started = r.start();
  EXPECT_EQ(started.autoAssigned, 1u);
  EXPECT_EQ(r.stage(), Stage::Assigning);
  EXPECT_FALSE(r.wszystkie_inc_przypisane());
  EXPECT_EQ(r.fileList(), (Lines{"dworzec.inc", "linie\\a.inc", "linie\\b.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(r.selectedFile(), 0u);
  EXPECT_EQ(r.categoryList(), (Lines{"AUTA", "BRAK_DEFINICJI", "MOSTY", "PRZED_STARTEM"}));
  EXPECT_EQ(selectedCategory(r), "AUTA");
  EXPECT_EQ(r.controls(), assigning(kRoot));
  r.changeDirectory(t.path("prog"));  // the directory is fixed once Start has run
  EXPECT_EQ(r.paths().sciezka_katalogu, t.path("base") + platform::kPathSeparator);

  r.selectFile(2);
  EXPECT_EQ(r.controls(), assigning("linie\\"));
  r.selectCategory(2);
  r.assignSelectedFile();
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\nlinie\\b.inc MOSTY\r\n");
  EXPECT_EQ(r.fileList(), (Lines{"dworzec.inc", "linie\\a.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(r.selectedFile(), 0u);  // the first remaining file
  EXPECT_EQ(r.controls(), assigning(kRoot));
  EXPECT_EQ(selectedCategory(r), "MOSTY");  // the category stays selected

  // A category added now takes its sorted place; the selection stays on MOSTY.
  EXPECT_EQ(r.addCategory("drogi"), "DROGI");
  EXPECT_EQ(r.categoryList(), (Lines{"AUTA", "BRAK_DEFINICJI", "DROGI", "MOSTY", "PRZED_STARTEM"}));
  EXPECT_EQ(selectedCategory(r), "MOSTY");
  EXPECT_EQ(t.read("prog/kategorie.txt"), "MOSTY\r\nAUTA\r\nPRZED_STARTEM\r\nDROGI\r\n");

  // The whole directory of linie\a.inc: only files lying directly in it.
  r.selectFile(1);
  r.selectCategory(2);
  EXPECT_EQ(r.assignWholeDirectory(), Lines{"linie\\a.inc"});
  EXPECT_EQ(r.fileList(), (Lines{"dworzec.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(r.controls(), assigning(kRoot));

  r.selectFile(1);
  r.selectCategory(1);
  r.assignSelectedFile();
  EXPECT_EQ(r.controls(), assigning(kRoot));
  EXPECT_FALSE(r.wszystkie_inc_przypisane());

  // The last file: ready to convert after assigning.
  r.selectCategory(2);
  r.assignWholeDirectory();
  EXPECT_EQ(r.stage(), Stage::ReadyAfterAssigning);
  EXPECT_TRUE(r.wszystkie_inc_przypisane());
  EXPECT_EQ(r.controls(), ready(true, true));
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\nlinie\\b.inc MOSTY\r\nlinie\\a.inc DROGI\r\n"
                                        "linie\\stare\\c.inc BRAK_DEFINICJI\r\ndworzec.inc DROGI\r\n");

  EXPECT_EQ(r.save(), 5u);
  EXPECT_EQ(r.controls(), ready(true, false));
  EXPECT_EQ(t.read("prog/predef.txt"), "*most MOSTY\r\nmost.inc MOSTY\r\nb.inc MOSTY\r\na.inc DROGI\r\n"
                                       "c.inc BRAK_DEFINICJI\r\ndworzec.inc DROGI\r\n");

  convert::ConversionEvents events;
  const convert::ConversionResult result = r.convert(events);
  EXPECT_EQ(result.includeFiles, 5u);
  EXPECT_EQ(r.controls(), converted(false, result));
  EXPECT_EQ(t.read("base/scenery/trasa.scn"),
            "include linie/a.inc DROGI_&type 1 2 end\r\ninclude dworzec.inc DROGI_&type 3 end\r\n");

  r.close();
  EXPECT_FALSE(t.exists("base/inc_out.txt"));
  EXPECT_FALSE(t.exists("base/inc_out1.txt"));
  EXPECT_FALSE(t.exists("base/p_inc.txt"));
  EXPECT_FALSE(t.exists("base/p_scn.txt"));
}

TEST(RunStages, ConvertingFirstLeavesSavingAvailable) {
  TempTree t;
  layOut(t);
  run::Run r = startedOn(t);
  assignAll(r);
  convert::ConversionEvents events;
  const convert::ConversionResult result = r.convert(events);
  EXPECT_EQ(r.controls(), converted(true, result));
  r.save();
  EXPECT_EQ(r.controls(), converted(false, result));
}

TEST(RunStages, StartWithNothingLeftGoesStraightToConverting) {
  const struct {
    const char* predef;
    const char* why;
  } rows[] = {
      {"*.inc AUTA\r\n", "predef.txt covers every file"},
      {"", "no predef.txt: the tree has no file that needs a category"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    TempTree t;
    layOut(t);
    if (*row.predef) {
      t.write("prog/predef.txt", row.predef);
    } else {
      for (const char* f : {"linie/b.inc", "linie/a.inc", "linie/stare/c.inc", "dworzec.inc", "linie/most.inc"}) {
        t.write(std::string("base/scenery/") + f, "//$infotype: X\r\n");
      }
    }
    run::Run r(t.path("prog"), t.path("base"));
    r.addCategory("nowa");
    r.start();
    EXPECT_EQ(r.stage(), Stage::ReadyNothingAssigned);
    EXPECT_TRUE(r.wszystkie_inc_przypisane());
    EXPECT_EQ(r.controls(), ready(true, false));
    EXPECT_EQ(r.fileList(), Lines{});
    EXPECT_EQ(r.categoryList(), Lines{});  // not even BRAK_DEFINICJI
    convert::ConversionEvents events;
    const convert::ConversionResult result = r.convert(events);
    EXPECT_EQ(r.controls(), converted(false, result));
  }
}

TEST(RunStages, AFailedStepLeavesTheStageAndTheListsAsTheyWere) {
  TempTree t;
  layOut(t);
  {
    SCOPED_TRACE("Start in a base directory where no working file can be written");
    run::Run r(t.path("prog"), t.path("base"));
    const std::string message = failureOf({Call::Open, EACCES, "inc_out.txt"}, [&] { r.start(); });
    EXPECT_NE(message.find(t.path("base/inc_out.txt")), std::string::npos) << message;
    EXPECT_EQ(r.stage(), Stage::ChoosingDirectory);
    EXPECT_EQ(r.controls(), choosing(true));  // the user may pick another directory or try again
  }
  run::Run r = startedOn(t);
  {
    SCOPED_TRACE("an assignment that cannot be written");
    const std::string incOut = t.read("base/inc_out.txt");
    const FailingOs::Rule full{Call::Write, ENOSPC, "inc_out.txt"};
    failureOf(full, [&] { r.assignSelectedFile(); });
    failureOf(full, [&] { r.assignWholeDirectory(); });
    EXPECT_EQ(r.fileList().size(), 4u);  // the files stay in the list
    EXPECT_EQ(r.controls(), assigning(kRoot));
    EXPECT_EQ(t.read("base/inc_out.txt"), incOut);
  }
  assignAll(r);
  {
    SCOPED_TRACE("a save that cannot be written: the button stays available");
    const std::string predef = t.read("prog/predef.txt");
    failureOf({Call::Write, EROFS, "predef.txt"}, [&] { r.save(); });
    EXPECT_EQ(r.controls(), ready(true, true));
    EXPECT_EQ(t.read("prog/predef.txt"), predef);
  }
  {
    SCOPED_TRACE("a conversion that fails before changing a file: the button stays available");
    const auto before = t.snapshot();
    convert::ConversionEvents events;
    failureOf({Call::Mkstemp, ENOSPC, "linie"}, [&] { r.convert(events); });
    EXPECT_EQ(r.controls(), ready(true, true));
    EXPECT_EQ(t.snapshot(), before);
  }
  {
    SCOPED_TRACE("a conversion that fails after changing files: converting again is not offered");
    convert::ConversionEvents events;
    failureOf<convert::IncompleteConversion>({Call::Rename, EIO, "trasa.scn"}, [&] { r.convert(events); });
    Controls expected = ready(false, true);
    expected.undo = true;  // the files replaced can be put back
    EXPECT_EQ(r.controls(), expected);
  }
}

TEST(RunStages, StartRefusesWhatIsNotABaseDirectory) {
  TempTree t;
  t.mkdir("base/modele");
  t.write("plik", "x");
  const struct {
    std::string dir;
    const char* says;
    const char* why;
  } rows[] = {
      {t.path("brak"), "nie istnieje", "a directory that does not exist"},
      {t.path("plik"), "nie jest katalogiem", "a plain file"},
      {t.path("base"), "niedostępny", "no scenery subdirectory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    run::Run r(t.path("prog"), row.dir);
    const std::string message = failureOf([&] { r.start(); });
    EXPECT_NE(message.find(row.says), std::string::npos) << message;
    EXPECT_NE(message.find(row.dir), std::string::npos) << message;
    EXPECT_EQ(r.stage(), Stage::ChoosingDirectory);
  }
  EXPECT_EQ(t.allFiles(), Lines{"plik"});
}

TEST(RunStages, AResumedRunContinuesWhereTheWindowLeftOff) {
  TempTree t;
  layOut(t);
  run::Run window(t.path("prog"), t.path("base"));
  window.start();
  window.selectFile(1);
  window.assignWholeDirectory();
  run::Run resumed = run::Run::resume(t.path("prog"), t.path("base"));
  EXPECT_EQ(resumed.fileList(), window.fileList());
  EXPECT_EQ(resumed.categoryList(), window.categoryList());
  EXPECT_EQ(resumed.controls(), window.controls());
  EXPECT_EQ(resumed.categoryIndex("mosty"), 2u);  // the list's spelling, found ignoring case
  EXPECT_THROW(resumed.categoryIndex("NIEZNANA"), text::Failure);
  EXPECT_EQ(resumed.fileIndex("linie/stare/c.inc"), 1u);  // "/" typed for "\"

  convert::ConversionEvents events;
  EXPECT_THROW(resumed.convert(events), FilesWaiting);
  EXPECT_THROW(run::Run::resume(t.path("prog"), t.path("prog")), NotStarted);
}

TEST(RunStages, Label5KeepsItsTextWhenTheSelectionGoesAway) {
  TempTree t;
  layOut(t);
  run::Run r = startedOn(t);
  r.selectFile(2);
  ASSERT_EQ(r.controls(), assigning("linie\\"));
  const struct {
    std::optional<size_t> index;
    const char* why;
  } rows[] = {
      {std::nullopt, "the selection cleared"},
      {99, "an entry past the list's end selects nothing"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    r.selectFile(row.index);
    EXPECT_EQ(r.selectedFile(), std::nullopt);
    EXPECT_EQ(r.controls(), assigning("linie\\"));
  }
}

TEST(RunStages, ADryRunLeavesTheConvertButtonAsItWas) {
  TempTree t;
  layOut(t);
  run::Run r = startedOn(t);
  assignAll(r);
  ASSERT_EQ(r.controls(), ready(true, true));
  const auto before = t.snapshot();
  convert::ConversionEvents events;
  convert::ConversionOptions dryRun;
  dryRun.dryRun = true;
  EXPECT_EQ(r.convert(events, dryRun).includeFiles, 5u);
  EXPECT_EQ(r.controls(), ready(true, true));
  EXPECT_EQ(t.snapshot(), before);
  const convert::ConversionResult result = r.convert(events);
  EXPECT_EQ(r.controls(), converted(true, result));
}

TEST(RunStages, AConversionRefusedWhileFilesWaitIsStillOfferedOnceTheyAreAssigned) {
  TempTree t;
  layOut(t);
  run::Run r = startedOn(t);
  convert::ConversionEvents events;
  EXPECT_THROW(r.convert(events), FilesWaiting);
  convert::ConversionOptions dryRun;
  dryRun.dryRun = true;
  EXPECT_THROW(r.convert(events, dryRun), FilesWaiting);
  assignAll(r);
  EXPECT_EQ(r.controls(), ready(true, true));
  const convert::ConversionResult result = r.convert(events);
  EXPECT_EQ(result.includeFiles, 5u);
  EXPECT_EQ(r.controls(), converted(true, result));
}

TEST(BaseDirectory, APickedVolumeReopensItsLastDirectoryElseItsRoot) {
  TempTree t;
  t.mkdir("vol1/a/b");
  t.mkdir("vol2");
  const std::string v1 = t.path("vol1");
  const std::string v2 = t.path("vol2");
  LastDirectories last;
  EXPECT_EQ(last.directoryFor(v1), v1) << "a volume not used yet: its root";
  last.opened(v1, t.path("vol1/a"));
  last.opened(v1, t.path("vol1/a/b"));
  last.opened(v2, v2);
  EXPECT_EQ(last.directoryFor(v1), t.path("vol1/a/b")) << "the directory opened last on it";
  EXPECT_EQ(last.directoryFor(v2), v2);
  ASSERT_EQ(platform::os().rmdir(t.path("vol1/a/b").c_str()), 0);
  EXPECT_EQ(last.directoryFor(v1), v1) << "that directory gone: the root";
  EXPECT_EQ(last.directoryFor(t.path("brak")), std::nullopt) << "a volume that cannot be opened";
}

TEST(RunStages, ATypedDirectoryStandsForItsTargetsInBothEncodings) {
  const std::string lakiUtf8 = "łąki\\";
  const struct {
    std::string typed;
    Lines targets;
    const char* why;
  } rows[] = {
      {"", {""}, "nothing typed: the scenery directory"},
      {"GŁÓWNY SCENERY", {""}, "the scenery directory's label"},
      {"główny scenery", {""}, "the label in another case"},
      {"linie", {"linie\\", "linie\\"}, "the final separator added"},
      {"linie/stare/", {"linie\\stare\\", "linie\\stare\\"}, "\"/\" for \"\\\""},
      {"łąki/", {lakiUtf8, testing::cp("łąki\\")}, "as typed, then in Windows-1250, a final \"/\" too"},
      {"日本", {"日本\\"}, "no Windows-1250 form"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(typedDirectoryTargets(row.typed), row.targets);
  }

  TempTree t;
  layOut(t);
  t.write("base/scenery/" + testing::cp("łąki") + "/x.inc", kThreeMarkers);
  run::Run r = startedOn(t);
  EXPECT_EQ(r.assignTypedDirectory("ŁĄKI/"), Lines{testing::cp("łąki\\x.inc")});
  EXPECT_THROW(r.assignTypedDirectory("inne"), text::Failure);
  EXPECT_EQ(r.assignTypedDirectory("Linie"), (Lines{"linie\\a.inc", "linie\\b.inc"}));
}

TEST(RunStages, TypedTextOutsideWindows1250IsRefusedNotReplaced) {
  TempTree t;
  t.write("prog/kategorie.txt", "AUTA\r\n");
  run::Run r(t.path("prog"), t.path("base"));
  const std::string message = failureOf([&] { r.addCategory("łąka 日本"); });
  EXPECT_NE(message.find("„日”"), std::string::npos) << message;           // names the character
  EXPECT_NE(message.find("„łąka 日本”"), std::string::npos) << message;  // and the text as typed
  EXPECT_EQ(t.read("prog/kategorie.txt"), "AUTA\r\n");
  EXPECT_EQ(r.categoryList(), Lines{});
  EXPECT_EQ(r.addCategory("łąka"), text::toUpper(testing::cp("łąka")));
}

TEST(RunStages, PassedOverFilesAreNamedUpToALimit) {
  const Lines many = {"a b.inc", "c d\\e.inc", "f g.inc"};
  const std::string all = passedOverMessage(many, 10);
  for (const auto& item : many) EXPECT_NE(all.find(item), std::string::npos) << all;
  const std::string some = passedOverMessage(many, 2);
  EXPECT_EQ(some.find("f g.inc"), std::string::npos) << some;
  EXPECT_NE(some.find("pozostałych: 1"), std::string::npos) << some;
  EXPECT_NE(some.find(": 3."), std::string::npos) << some;  // the count of all
}

}  // namespace
}  // namespace borvantel::run

// ---------------------------------------------------------------------------
// Undo, as the window offers it

namespace borvantel::run {
namespace {

using testing::TempTree;

// Records the undo's progress events.
struct UndoEvents : ConversionEvents {
  std::vector<std::string> calls;
  void phaseBegins(ConversionPhase phase, size_t files) override {
    calls.push_back((phase == ConversionPhase::Undo ? "undo begins " : "other begins ") + std::to_string(files));
  }
  void fileBegins(std::string_view label) override { calls.emplace_back(label); }
  void phaseEnds(ConversionPhase) noexcept override { calls.emplace_back("ends"); }
};

// The scenery tree alone (no working files, no undo set).
std::map<std::string, std::string> sceneryOf(const TempTree& t) {
  auto files = t.snapshot();
  std::erase_if(files, [](const auto& f) { return !f.first.starts_with("base/scenery/"); });
  return files;
}

// Two include files that need a category, a scenery file naming both, and an
// include file without a category whose include line the conversion changes
// (so it counts among the scenery files).
void layOutForUndo(const TempTree& t) {
  t.write("prog/kategorie.txt", "AUTA\r\n");
  for (const char* f : {"linie/a.inc", "dworzec.inc"}) t.write(std::string("base/scenery/") + f, "(p1)\r\n(p2)\r\n(p3)\r\n");
  t.write("base/scenery/trasa.scn", "include linie/a.inc 1 end\r\ninclude dworzec.inc 2 end\r\n");
  t.write("base/scenery/linie/tor.inc", "(p1)\r\ninclude linie/a.inc 1 end\r\n");
}

TEST(RunUndo, AConversionOfThisRunIsUndoneAndOfferedAgain) {
  TempTree t;
  layOutForUndo(t);
  run::Run r = startedOn(t);
  EXPECT_FALSE(r.controls().undo);  // nothing converted yet
  assignAll(r);
  const auto before = sceneryOf(t);
  ConversionEvents none;
  const ConversionResult converted = r.convert(none);
  EXPECT_EQ(converted.includeFiles, 2u);
  EXPECT_EQ(converted.sceneryFiles, 2u);
  ASSERT_TRUE(r.controls().undo);
  // Counted as the conversion counted them: linie\tor.inc among the scenery files.
  EXPECT_EQ(r.undoQuestion(),
            "Cofnąć konwersję? Pliki sprzed konwersji zostaną przywrócone (pliki *.inc: 2, pliki sceneryjne: 2); "
            "zmiany, które wprowadziła, znikną.");

  UndoEvents events;
  const UndoResult result = r.undo(events);
  EXPECT_EQ(sceneryOf(t), before);  // byte for byte
  EXPECT_EQ(result.includeFiles, 2u);
  EXPECT_EQ(result.sceneryFiles, 2u);
  EXPECT_EQ(result.restoredFiles, converted.changedFiles);
  const std::vector<std::string>& files = converted.changedFiles;
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(events.calls, (std::vector<std::string>{"undo begins 4", files[0], files[1], files[2], files[3], "ends"}));
  // Ready to convert again, with the assignments of this run; no undo set left.
  Controls expected{.convert = true, .save = true, .showChanges = true, .review = true, .directoryChoice = false,
                    .directoryCaption = false, .directoryLabel = {},
                    .summary = "Przywrócono pliki sprzed konwersji: pliki *.inc: 2, pliki sceneryjne: 2."};
  EXPECT_EQ(r.controls(), expected);
  ASSERT_TRUE(r.lastChanges());
  EXPECT_EQ(r.lastChanges()->kind, Changes::Kind::Restored);
  EXPECT_EQ(r.lastChanges()->files, files);
  EXPECT_EQ(r.convert(none).changedFiles, files);
  EXPECT_NE(sceneryOf(t), before);
}

TEST(RunUndo, AFileChangedSinceTheConversionRefusesTheUndoAndChangesNothing) {
  TempTree t;
  layOutForUndo(t);
  run::Run r = startedOn(t);
  assignAll(r);
  ConversionEvents none;
  r.convert(none);
  t.write("base/scenery/dworzec.inc", "zmieniony po konwersji\r\n");
  const auto before = t.snapshot();
  const Controls controls = r.controls();
  try {
    r.undo(none);
    FAIL() << "undo went ahead";
  } catch (const text::Failure& e) {
    EXPECT_NE(std::string(e.what()).find(t.path("base/scenery/dworzec.inc")), std::string::npos) << e.what();
  }
  EXPECT_EQ(t.snapshot(), before);
  EXPECT_EQ(r.controls(), controls);  // still converted, undo still offered
}

// Start on a tree converted by an earlier run offers the undo; the undo puts
// the files back and the scan runs again, so the files wait for categories.
TEST(RunUndo, StartOnAConvertedBaseOffersTheUndoAndScansAgainAfterIt) {
  TempTree t;
  layOutForUndo(t);
  const auto original = sceneryOf(t);
  {
    run::Run earlier(t.path("prog"), t.path("base"));
    earlier.start();
    while (!earlier.fileList().empty()) earlier.assignSelectedFile();
    ConversionEvents none;
    earlier.convert(none);
    earlier.close();
  }
  run::Run r = startedOn(t);
  EXPECT_EQ(r.stage(), Stage::ReadyNothingAssigned);  // the converted files carry their headers
  EXPECT_TRUE(r.controls().undo);
  EXPECT_FALSE(r.controls().showChanges);  // nothing changed by this run yet

  ConversionEvents none;
  r.undo(none);
  EXPECT_EQ(sceneryOf(t), original);
  EXPECT_EQ(r.stage(), Stage::Assigning);
  EXPECT_FALSE(r.wszystkie_inc_przypisane());
  EXPECT_EQ(r.fileList(), (std::vector<std::string>{"dworzec.inc", "linie\\a.inc"}));
  EXPECT_FALSE(r.controls().undo);
  EXPECT_EQ(r.controls().summary, "Przywrócono pliki sprzed konwersji: pliki *.inc: 2, pliki sceneryjne: 2.");
  EXPECT_THROW(r.undoQuestion(), text::Failure);  // nothing left to undo
}

}  // namespace
}  // namespace borvantel::run
