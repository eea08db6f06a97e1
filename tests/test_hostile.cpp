// Odd and hostile trees through a whole run (Start, every file assigned,
// conversion): no crash, a clear message where something cannot be done, and
// never a temporary file or a half-written file left behind.
#include "run/run.h"
#include "support/temp_tree.h"
#include "text/files.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>

namespace borvantel {
namespace {

using testing::TempTree;

struct Outcome {
  std::string failure;  // the message of the step that failed, or ""
  std::string passedOver;
  size_t waiting = 0;
  size_t changed = 0;
};

// Start, every waiting file assigned a directory at a time, the conversion.
Outcome wholeRun(const TempTree& tree, bool listable = true) {
  Outcome out;
  try {
    run::Run r(tree.path("prog"), tree.path("base"));
    const run::StartResult started = r.start();
    out.waiting = started.fileList.size();
    if (!started.passedOver.empty()) out.passedOver = run::passedOverMessage(started.passedOver, 20);
    while (!r.fileList().empty()) {
      r.selectFile(0);
      r.selectCategory(0);
      r.assignWholeDirectory();
    }
    convert::ConversionEvents events;
    out.changed = r.convert(events).changedFiles.size();
  } catch (const text::Failure& e) {
    out.failure = e.what();
  }
  if (!listable) return out;
  for (const std::string& name : tree.allFiles()) {
    EXPECT_FALSE(testing::isTemporaryFile(name)) << name << " left behind";
  }
  return out;
}

void prepareProgram(const TempTree& tree) {
  tree.write("prog/kategorie.txt", "MOSTY\r\n   \r\nDROGI\r\n");  // a line of spaces too
  tree.write("prog/predef.txt", "");
}

// A program directory beside an empty base directory.
class Hostile : public ::testing::Test {
 protected:
  explicit Hostile(TempTree::Where where = TempTree::Where::TempDir) : tree(where) { prepareProgram(tree); }

  // A whole run that must succeed.
  Outcome convertAll() {
    Outcome out = wholeRun(tree);
    EXPECT_EQ(out.failure, "");
    return out;
  }

  const TempTree tree;
};

class HostileInMemory : public Hostile {
 protected:
  HostileInMemory() : Hostile(TempTree::Where::InMemory) {}
};

TEST_F(Hostile, BinaryAndNulBytesAreTextLikeAnyOther) {
  std::mt19937 rng(5);
  std::string binary(64 * 1024, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  tree.write("base/scenery/bin/losowy.inc", binary);
  tree.write("base/scenery/bin/zera.inc", std::string(4096, '\0'));
  tree.write("base/scenery/bin/nul.inc", std::string("node\0(p1) (p2) (p3)\r\n", 21));
  tree.write("base/scenery/bin/sc.scn", std::string("include bin/nul.inc\0x 1 2 3\r\ninclude bin/nul.inc 1 2\r\n", 55));
  const Outcome out = convertAll();
  // The NUL stays where it was; the references are renumbered around it.
  EXPECT_EQ(tree.read("base/scenery/bin/nul.inc"), std::string("//$infotype: ___\r\nnode\0(p2) (p3) (p4)\r\n", 39));
}

TEST_F(Hostile, LineEndsOfEveryKindAndNoLineEndAtAll) {
  tree.write("base/scenery/a/cr.inc", "(p1) (p2)\r(p3)\r");
  tree.write("base/scenery/a/lf.inc", "(p1) (p2)\n(p3)\n");
  tree.write("base/scenery/a/brak.inc", "(p1) (p2) (p3)");
  const Outcome out = convertAll();
  for (const char* name : {"cr", "lf"}) {
    EXPECT_EQ(tree.read(std::string("base/scenery/a/") + name + ".inc"), "//$infotype: ___\r\n(p2) (p3)\r\n(p4)\r\n");
  }
  EXPECT_EQ(tree.read("base/scenery/a/brak.inc"), "//$infotype: ___\r\n(p2) (p3) (p4)\r\n");
}

TEST_F(HostileInMemory, AVeryLongLineIsConvertedWhole) {
  // 200 MB without a line end: the whole line is one line.
  std::string line = "(p1) (p2) (p3) ";
  line.reserve(200u << 20);
  while (line.size() < (200u << 20)) line += "node (p4) 1 2 3 ";
  tree.write("base/scenery/dlugi.inc", line);
  const Outcome out = convertAll();
  const std::string converted = tree.read("base/scenery/dlugi.inc");
  ASSERT_GT(converted.size(), line.size());
  EXPECT_EQ(converted.substr(0, 40), "//$infotype: ___\r\n(p2) (p3) (p4) node (p");
  EXPECT_EQ(converted.substr(converted.size() - 18), "node (p5) 1 2 3 \r\n");
}

#ifndef _WIN32
// Linux only: "\" in a name, names that are not UTF-8, links, and paths past
// PATH_MAX have no counterpart in a Windows file system.
TEST_F(Hostile, NamesThatCannotStandInARecordArePassedOverAndNamed) {
  const std::string markers = "(p1) (p2) (p3)\r\n";
  tree.write("base/scenery/a/ukos\\nik.inc", markers);  // "\" in a POSIX name
  tree.write("base/scenery/a/spacja w nazwie.inc", markers);
  tree.write("base/scenery/a/\xff\xfe zle.inc", markers);       // not UTF-8, and a space
  tree.write("base/scenery/a/\xff\xfe.inc", markers);           // not UTF-8
  tree.write("base/scenery/a/dobry.inc", markers);
  const Outcome out = convertAll();
  EXPECT_NE(out.passedOver.find("ukos\\nik.inc"), std::string::npos) << out.passedOver;
  EXPECT_NE(out.passedOver.find("spacja w nazwie.inc"), std::string::npos) << out.passedOver;
  EXPECT_EQ(tree.read("base/scenery/a/ukos\\nik.inc"), markers);  // passed over: untouched
  EXPECT_EQ(tree.read("base/scenery/a/\xff\xfe.inc"), "//$infotype: ___\r\n(p2) (p3) (p4)\r\n");
  EXPECT_EQ(out.changed, 2u);
}

TEST_F(Hostile, DirectoryLinkLoopsAreNotFollowed) {
  tree.write("base/scenery/a/b/most.inc", "(p1) (p2) (p3)\r\n");
  tree.symlink("..", "base/scenery/a/b/wstecz");
  tree.symlink("../../..", "base/scenery/a/b/wyzej");
  const Outcome out = convertAll();
  EXPECT_EQ(out.waiting, 1u);
  EXPECT_EQ(out.changed, 1u);
}

TEST_F(Hostile, DirectoriesDeeperThanAPathCanBeGiveAMessage) {
  tree.write("base/scenery/plytki.inc", "(p1) (p2) (p3)\r\n");
  // Built a step at a time, relative to the last directory: as a whole the
  // path is longer than the system allows.
  int dir = ::open(tree.path("base/scenery").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  const std::string name(200, 'g');
  for (int depth = 0; depth < 25; ++depth) {
    ASSERT_EQ(::mkdirat(dir, name.c_str(), 0755), 0);
    const int next = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(dir);
    ASSERT_GE(next, 0);
    dir = next;
  }
  const int file = ::openat(dir, "gleboki.inc", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::write(file, "(p1) (p2) (p3)\r\n", 16), 16);
  ::close(file);
  ::close(dir);
  const Outcome out = wholeRun(tree, false);
  EXPECT_NE(out.failure.find("za długa nazwa"), std::string::npos) << out.failure;
  EXPECT_EQ(tree.read("base/scenery/plytki.inc"), "(p1) (p2) (p3)\r\n");  // nothing converted
  // std::filesystem cannot list or remove what a path cannot name; rm can.
  ASSERT_EQ(std::system(("rm -rf '" + tree.path("base/scenery/" + name) + "'").c_str()), 0);
  for (const std::string& left : tree.allFiles()) EXPECT_FALSE(testing::isTemporaryFile(left)) << left;
}
#endif

#ifdef _WIN32
// Windows: paths past the old limit of 260 characters, and names Windows-1250
// cannot hold, through a whole run.

// An undo through the run, no progress shown.
run::UndoResult undoAll(run::Run& r) {
  run::ConversionEvents none;
  return r.undo(none);
}

// An include file and a scenery file in `dir` (below the scenery directory,
// "/" separated), both with long names, through a whole run.
void expectLongPathsConverted(const TempTree& tree, const std::string& dir) {
  const std::string name(60, 'n');
  tree.write("base/scenery/" + dir + name + ".inc", "(p1) (p2) (p3)\r\n");
  tree.write("base/scenery/" + dir + name + ".scn", "include " + dir + name + ".inc 1 2\r\n");
  ASSERT_GT(tree.path("base/scenery/" + dir + name + ".scn").size(), 280u);
  const Outcome out = wholeRun(tree);
  ASSERT_EQ(out.failure, "");
  EXPECT_EQ(out.waiting, 1u);
  EXPECT_EQ(out.changed, 2u);
  EXPECT_EQ(tree.read("base/scenery/" + dir + name + ".inc"), "//$infotype: ___\r\n(p2) (p3) (p4)\r\n");
  // The category "___" (the line of spaces), and after it "_&type".
  EXPECT_EQ(tree.read("base/scenery/" + dir + name + ".scn"), "include " + dir + name + ".inc ____&type 1 2\r\n");
  // The undo set holds them too.
  run::Run r = run::Run::resume(tree.path("prog"), tree.path("base"));
  EXPECT_EQ(undoAll(r).restoredFiles.size(), 2u);
  EXPECT_EQ(tree.read("base/scenery/" + dir + name + ".inc"), "(p1) (p2) (p3)\r\n");
}

TEST_F(Hostile, FilesWhosePathsPass260CharactersAreScannedAndConverted) {
  // Directories up to about 240 characters, the files' paths past 280.
  std::string dir;
  while (tree.path("base/scenery/" + dir).size() < 230) {
    dir += std::string(std::min<size_t>(60, 240 - tree.path("base/scenery/" + dir).size()), 'd') + "/";
  }
  expectLongPathsConverted(tree, dir);
}

TEST_F(Hostile, DirectoriesWhosePathsPass260CharactersAreScannedAndConverted) {
  if (testing::underWine()) {
    GTEST_SKIP() << "Wine's GetFinalPathNameByHandleW names no directory past about 260 characters "
                    "(ERROR_MORE_DATA whatever the buffer); Windows itself runs this case";
  }
  const std::string part(90, 'd');
  expectLongPathsConverted(tree, part + "/" + part + "/" + part + "/");
}

TEST_F(Hostile, NamesWindows1250CannotHoldArePassedOverAndNamed) {
  const std::string markers = "(p1) (p2) (p3)\r\n";
  tree.writeNamed("base/scenery/a", L"\u4E2D.inc", markers);
  tree.writeNamed("base/scenery/a", L"\u4E2D.scn", "include a/dobry.inc 1 2\r\n");
  tree.mkdirNamed("base/scenery", L"\u6587");
  tree.writeNamed("base/scenery", L"\u6587\\w.inc", markers);
  tree.write("base/scenery/a/dobry.inc", markers);
  tree.write("base/scenery/a/dobry.scn", "include a/dobry.inc 1 2\r\n");
  const auto before = tree.snapshot();
  const Outcome out = convertAll();
  for (const char* named : {"a\\?.inc", "a\\?.scn", "?\\"}) {
    EXPECT_NE(out.passedOver.find(named), std::string::npos) << named << " in " << out.passedOver;
  }
  EXPECT_EQ(out.changed, 2u);
  EXPECT_EQ(tree.read("base/scenery/a/dobry.inc"), "//$infotype: ___\r\n(p2) (p3) (p4)\r\n");
  // Passed over: untouched.
  const auto after = tree.snapshot();
  for (const char* untouched : {"base/scenery/a/?.inc", "base/scenery/a/?.scn", "base/scenery/?/w.inc"}) {
    ASSERT_EQ(after.count(untouched), 1u) << untouched;
    EXPECT_EQ(after.at(untouched), before.at(untouched)) << untouched;
  }
}
#endif

TEST_F(Hostile, AHundredThousandPredefinedNamesAreMatchedQuickly) {
  std::string predef;
  for (int i = 0; i < 100000; ++i) {
    predef += "*wzor" + std::to_string(i) + " MOSTY\r\nnazwa" + std::to_string(i) + ".inc DROGI\r\n";
  }
  predef += "*most.inc MOSTY\r\n";
  tree.write("prog/predef.txt", predef);
  for (int i = 0; i < 2000; ++i) {
    tree.write("base/scenery/d" + std::to_string(i % 20) + "/" + (i % 2 ? "most" : "inny") + std::to_string(i) +
                   (i % 2 ? "most.inc" : ".inc"),
               "(p1) (p2) (p3)\r\n");
  }
  tree.write("base/scenery/nazwa77.inc", "(p1) (p2) (p3)\r\n");
  run::Run r(tree.path("prog"), tree.path("base"));
  const run::StartResult started = r.start();
  EXPECT_EQ(started.autoAssigned, 1001u);  // the "most" half and nazwa77.inc
  EXPECT_EQ(started.fileList.size(), 1000u);
}

// A working file edited by hand to point outside the base directory.
struct EditedFile {
  const char* file;
  std::string (*line)(const TempTree&);
};

void PrintTo(const EditedFile& e, std::ostream* os) { *os << e.file; }

class WorkingFileEditedByHand : public Hostile, public ::testing::WithParamInterface<EditedFile> {};

TEST_P(WorkingFileEditedByHand, IsRefusedNamingTheLine) {
  const EditedFile& c = GetParam();
  tree.write("base/scenery/a.scn", "include a.inc 1 2\r\n");
  tree.write("prog/kategorie.txt", "K\r\n");
  tree.write("base/p_inc.txt", "");
  tree.write("base/inc_out.txt", "");
  tree.write(std::string("base/") + c.file, c.line(tree));
  SCOPED_TRACE(std::string(c.file) + ": " + c.line(tree));
  const auto before = tree.snapshot();
  try {
    run::Run r = run::Run::resume(tree.path("prog"), tree.path("base"));
    convert::ConversionEvents events;
    r.convert(events);
    ADD_FAILURE() << "followed";
  } catch (const text::Failure& e) {
    EXPECT_NE(std::string(e.what()).find(c.file), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("1"), std::string::npos) << e.what();
  }
  EXPECT_EQ(tree.snapshot(), before);
}

const EditedFile kEdited[] = {
    {"inc_out.txt", [](const TempTree&) { return std::string("/etc/passwd.inc MOSTY\r\n"); }},
    {"inc_out.txt", [](const TempTree&) { return std::string("..\\..\\prog\\kategorie.txt MOSTY\r\n"); }},
    {"inc_out1.txt", [](const TempTree&) { return std::string("a\\..\\..\\x.inc MOSTY\r\n"); }},
    {"p_scn.txt", [](const TempTree& t) { return t.path("prog/kategorie.txt") + "\r\n"; }},
    {"p_scn.txt", [](const TempTree& t) { return t.path("base/scenery/../../prog/kategorie.txt") + "\r\n"; }},
    {"p_scn.txt", [](const TempTree&) { return std::string("scenery/a.scn\r\n"); }},
};
INSTANTIATE_TEST_SUITE_P(OutsideTheBase, WorkingFileEditedByHand, ::testing::ValuesIn(kEdited));

}  // namespace
}  // namespace borvantel
