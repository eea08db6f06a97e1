// Whole conversion runs over temporary trees: the files they give, their
// dry runs and diffs, and what failures leave behind; and the convert command.
#include "categories/assignment.h"
#include "convert/assignment_table.h"
#include "convert/conversion.h"
#include "convert/include_file.h"
#include "convert/list_file.h"
#include "convert/scenery_file.h"
#include "convert/undo.h"
#include "convert/unified_diff.h"
#include "run/start.h"
#include "support/process.h"
#include "support/scenery_reference.h"
#include "support/conversion_trees.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/files.h"
#include "platform/os.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

namespace borvantel::convert {
namespace {

using testing::TempTree;
using testing::native;
using Call = testing::FailingOs::Call;

TEST(ConversionRun, ConvertsTheTreeByteExactAndReportsEachPhaseAndFile) {
  const TempTree tree;
  prepareTree(tree);
  tree.write("base/aaa.ccc", "user data");  // names other programs used for their temporary files
  tree.write("base/scenery/aaa.ccc", "more user data");
  const auto before = tree.allFiles();
  RecordingEvents progress;
  const ConversionResult result = runConversion(tree.runPaths(), progress);

  EXPECT_EQ(result.changedFiles, kChanged);
  EXPECT_EQ(result.includeFiles, 2u);
  EXPECT_EQ(result.sceneryFiles, 2u);
  EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
  EXPECT_EQ(tree.read("base/scenery/obiekty/plot.inc"), "//$infotype: MOST\r\na (p2) (p3) (p4)\r\n");
  EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
  EXPECT_EQ(tree.read("base/scenery/main.scn"),
            "include obiekty/dom.inc BUDYNKI_&type 1 2 end\r\ninclude tory/most1.inc MOST_&type 5 6 end\r\n");
  EXPECT_EQ(tree.read("base/scenery/tory/inny.inc"), "origin 0 0 0\r\n");
  EXPECT_EQ(tree.read("base/aaa.ccc"), "user data");
  EXPECT_EQ(tree.read("base/scenery/aaa.ccc"), "more user data");
  EXPECT_EQ(testing::withoutUndoSet(tree.allFiles()), before) << "a temporary file was left behind";

  // The scenery phase names every listed file, skipped ones included, and
  // then the include files that carried a category before (their include
  // lines are looked at too).
  const std::string s = tree.path("base/scenery/");
  const std::vector<std::string> want = {
      "include begins 2", "file obiekty\\plot.inc",      "file tory\\most1.inc",  "include ends",
      "scenery begins 5", "file " + s + native("tory/inny.inc"), "file " + s + native("tory/stacja.scn"),
      "file " + s + "main.scn", "file " + s + "pusty.scn", "file " + s + native("obiekty/dom.inc"),
      "scenery ends"};
  EXPECT_EQ(progress.calls, want);
}

TEST(ConversionRun, PhasesWithoutWorkShowNothing) {
  const TempTree tree;
  tree.write("base/scenery/a.scn", "include x.inc 1 2 3\r\n");
  run::runStart(tree.runPaths());  // no include file: empty table
  RecordingEvents progress;
  EXPECT_TRUE(runConversion(tree.runPaths(), progress).changedFiles.empty());
  EXPECT_TRUE(progress.calls.empty());
}

TEST(ConversionRun, SecondStartAndConversionChangeNothing) {
  const TempTree tree;
  prepareTree(tree);
  ConversionEvents progress;
  runConversion(tree.runPaths(), progress);
  tree.write("base/scenery/tory/stacja.scn", std::string(kStacjaDone) + "include  tory/most1.inc MOST_&type 1 end\r\n");
  const auto converted = tree.snapshot();
  const run::StartResult again = run::runStart(tree.runPaths());
  EXPECT_TRUE(again.wszystkie_inc_przypisane);
  const ConversionResult result = runConversion(tree.runPaths(), progress);
  EXPECT_TRUE(result.changedFiles.empty());
  for (const auto& [name, bytes] : converted) {
    if (name.find("scenery/") != std::string::npos) {
      EXPECT_EQ(tree.read(name), bytes) << name;
    }
  }
}

TEST(ConversionRun, UntouchedFilesKeepBytesAndTimeAndShortOrMissingOnesAreSkipped) {
  const TempTree tree;
  prepareTree(tree);
  tree.write("base/scenery/tory/stacja.scn", "include tory/inny.inc 1 2 3\n// include tory/most1.inc 1 2\n");
  const std::string path = tree.path("base/scenery/tory/stacja.scn");
  constexpr std::int64_t kOld = 1000000000;  // seconds since 1970
#ifdef _WIN32
  {
    const HANDLE file = ::CreateFileW(tree.systemPath("base/scenery/tory/stacja.scn").c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const auto ticks = static_cast<std::uint64_t>(kOld * 10000000 + 116444736000000000LL);  // 100 ns since 1601
    const FILETIME when{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(::SetFileTime(file, nullptr, &when, &when));
    ::CloseHandle(file);
  }
#else
  const timespec old[2] = {{kOld, 0}, {kOld, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
#endif
  tree.remove("base/scenery/main.scn");
  // A listed file whose directory has become a plain file since Start.
  tree.write("base/p_scn.txt", tree.read("base/p_scn.txt") + tree.path("base/scenery/linie/a.scn") + "\r\n");
  tree.write("base/scenery/linie", "include tory/most1.inc 1 end\r\n");
  ConversionEvents progress;
  const ConversionResult result = runConversion(tree.runPaths(), progress);
  EXPECT_EQ(result.sceneryListed, 6u);  // obiekty/dom.inc, which carries a header, too
  EXPECT_EQ(result.sceneryFiles, 0u);
  EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), "include tory/inny.inc 1 2 3\n// include tory/most1.inc 1 2\n");
  EXPECT_EQ(tree.read("base/scenery/pusty.scn"), "x");
  EXPECT_EQ(tree.read("base/scenery/linie"), "include tory/most1.inc 1 end\r\n");
  platform::FileStat st;
  ASSERT_EQ(platform::Os().stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.modifiedNs, kOld * 1000000000);
}

#ifndef _WIN32
// Linux permissions (Windows keeps only a read-only mark: see
// ReadOnlyFilesAreConvertedAndComeBackWritable).
TEST(ConversionRun, ReadOnlyIncludeBecomesWritableAndKeepsOtherPermissions) {
  const TempTree tree;
  prepareTree(tree);
  const std::string path = tree.path("base/scenery/tory/most1.inc");
  ASSERT_EQ(::chmod(path.c_str(), 0440), 0);
  ConversionEvents progress;
  runConversion(tree.runPaths(), progress);
  EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// The owner, the group and every mode bit stay. A file of another owner is
// given back to it (as root), and chown clears set-user-id and set-group-id,
// so those are set again after it.
TEST(ConversionRun, OwnerGroupAndSetUserGroupAndStickyBitsAreKept) {
  constexpr uid_t kOwner = 4242;
  constexpr gid_t kGroup = 4343;  // not the owner's number: the two must not be swapped
  const struct {
    mode_t mode;
    bool otherOwner;
    bool needsRoot;  // an ordinary user's write clears set-user-id and set-group-id
    const char* why;
  } rows[] = {
      {04755, false, true, "set-user-id"},
      {02755, false, true, "set-group-id"},
      {01644, false, false, "sticky"},
      {07775, false, true, "all three with group write"},
      {0640, true, true, "another owner and group"},
      {04755, true, true, "set-user-id of another owner"},
      {02755, true, true, "set-group-id of another owner"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    if (row.needsRoot && ::geteuid() != 0) continue;
    const TempTree tree;
    prepareTree(tree);
    const std::string path = tree.path("base/scenery/tory/most1.inc");
    if (row.otherOwner) {
      ASSERT_EQ(::chown(path.c_str(), kOwner, kGroup), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
    ConversionEvents progress;
    runConversion(tree.runPaths(), progress);
    EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, row.mode);
    EXPECT_EQ(st.st_uid, row.otherOwner ? kOwner : ::geteuid());
    EXPECT_EQ(st.st_gid, row.otherOwner ? kGroup : ::getegid());
  }
}

// Links (Linux only: on Windows making one takes a privilege).
TEST(ConversionRun, LinksAreRewrittenWhereTheyPointAndEachTargetOnce) {
  const TempTree tree;
  tree.write("base/shared/most.inc", kMost);
  tree.symlink("../../shared/most.inc", "base/scenery/tory/most1.inc");
  tree.symlink("../../shared/most.inc", "base/scenery/inne/most2.inc");
  tree.write("base/scenery/inne/zwykly.inc", "(p1) (p2) (p3)\r\ninclude tory/most1.inc 1 2\r\n");
  tree.symlink("../inne/zwykly.inc", "base/scenery/tory/widok.scn");  // an include file seen as a scenery file
  tree.write("base/inc_out.txt", "tory\\most1.inc most\r\ninne\\most2.inc inny\r\ninne\\zwykly.inc x\r\n");
  tree.write("base/p_scn.txt", tree.path("base/scenery/tory/widok.scn") + "\r\n");
  ConversionEvents progress;
  const ConversionResult result = runConversion(tree.runPaths(), progress);
  EXPECT_EQ(tree.read("base/shared/most.inc"), kMostDone);
  EXPECT_TRUE(std::filesystem::is_symlink(tree.path("base/scenery/tory/most1.inc")));
  EXPECT_TRUE(std::filesystem::is_symlink(tree.path("base/scenery/inne/most2.inc")));
  EXPECT_TRUE(std::filesystem::is_symlink(tree.path("base/scenery/tory/widok.scn")));
  // Renumbered by the first phase, then given the argument by the second.
  EXPECT_EQ(tree.read("base/scenery/inne/zwykly.inc"),
            "//$infotype: X\r\n(p2) (p3) (p4)\r\ninclude tory/most1.inc MOST_&type 1 2\r\n");
  EXPECT_EQ(result.changedFiles,
            (std::vector<std::string>{"scenery\\tory\\most1.inc", "scenery\\inne\\zwykly.inc"}));
}
#endif

#ifdef _WIN32
// Windows keeps one permission, the read-only mark: a read-only include or
// scenery file is converted and comes back writable; undo gives the bytes back.
TEST(ConversionRun, ReadOnlyFilesAreConvertedAndComeBackWritable) {
  const TempTree tree;
  prepareTree(tree);
  const char* const readOnly[] = {"base/scenery/tory/most1.inc", "base/scenery/tory/stacja.scn"};
  for (const char* file : readOnly) tree.setAttributes(file, FILE_ATTRIBUTE_READONLY);
  const auto before = tree.snapshot();
  ConversionEvents progress;
  EXPECT_EQ(runConversion(tree.runPaths(), progress).changedFiles, kChanged);
  EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
  EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
  for (const char* file : readOnly) {
    EXPECT_EQ(tree.attributes(file) & FILE_ATTRIBUTE_READONLY, 0u) << file;
  }
  EXPECT_EQ(undoConversion(tree.runPaths()).restoredFiles.size(), kChanged.size());
  EXPECT_EQ(testing::withoutUndoSet(tree.snapshot()), before);
}

// A file that another program holds open while the conversion runs. Whether
// the conversion can read it, replace it, or neither depends on what that
// program lets others do: a file it may not read stops the conversion before
// anything changed; one it may read but not replace is found only at its
// rename, and then every other file is converted and the message names that
// one, which stays as it was. Never is a byte of it lost, and once the other
// program lets go, Start and a conversion finish the tree.
TEST(ConversionRun, AFileHeldOpenElsewhereIsNamedAndNeverLost) {
  struct Row {
    DWORD share;      // what the other program lets others do
    bool readable;    // whether the conversion can read it then
    bool mayConvert;  // whether the system may let the file be replaced even so
    const char* why;
  };
  const Row rows[] = {
      {0, false, false, "held exclusively: it cannot even be read"},
      {FILE_SHARE_READ, true, false, "others may read it, not replace it"},
      {FILE_SHARE_READ | FILE_SHARE_WRITE, true, false, "others may read and write it, not replace it"},
      // Windows 10 renames over it where the file system allows; older
      // systems and Wine refuse while a handle is open.
      {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, true, "others may do anything"},
  };
  for (const char* held : {"base/scenery/tory/most1.inc", "base/scenery/tory/stacja.scn"}) {
    const std::string converted = std::string(held).ends_with(".inc") ? kMostDone : kStacjaDone;
    for (const Row& r : rows) {
      SCOPED_TRACE(std::string(held) + ": " + r.why);
      const TempTree tree;
      prepareTree(tree);
      const std::string original = tree.read(held);
      const HANDLE other = ::CreateFileW(tree.systemPath(held).c_str(), GENERIC_READ, r.share, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(other, INVALID_HANDLE_VALUE);
      std::string message;
      ConversionEvents progress;
      try {
        runConversion(tree.runPaths(), progress);
      } catch (const text::Failure& e) {
        message = e.what();
      }
      ::CloseHandle(other);
      const std::string now = tree.read(held);
      if (message.empty()) {
        EXPECT_TRUE(r.mayConvert) << "replaced while held";
        EXPECT_EQ(now, converted);
      } else {
        EXPECT_NE(message.find(native(std::string(held).substr(5))), std::string::npos) << message;
        EXPECT_EQ(now, original);
        // Unreadable: found while preparing, so no other file changed either.
        EXPECT_EQ(tree.read("base/scenery/obiekty/plot.inc") == "a (p1) (p2) (p3)", !r.readable);
      }
      for (const std::string& name : tree.allFiles()) EXPECT_FALSE(testing::isTemporaryFile(name)) << name;
      EXPECT_FALSE(tree.exists("base/.borvantel-journal"));

      // Let go: the next run finishes the tree, converting nothing twice.
      startAndAssignAll(tree.runPaths());
      runConversion(tree.runPaths(), progress);
      EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
      EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
      EXPECT_EQ(tree.read("base/scenery/obiekty/plot.inc"), "//$infotype: MOST\r\na (p2) (p3) (p4)\r\n");
    }
  }
}
#endif

TEST(ConversionRun, ShortAndLargeIncludeFilesAreReadWhole) {
  const TempTree tree;
  std::string big;
  for (int i = 0; i < 40000; ++i) big += "node (p" + std::to_string(i % 7) + ") x\n";
  tree.write("base/scenery/big.inc", big);
  tree.write("base/scenery/one.inc", "x");
  tree.write("base/scenery/empty.inc", "");
  tree.write("base/inc_out.txt", "big.inc a\r\none.inc b\r\nempty.inc c\r\n");
  ConversionEvents progress;
  runConversion(tree.runPaths(), progress);
  EXPECT_EQ(tree.read("base/scenery/big.inc"), convertIncludeText(big, "a"));
  EXPECT_EQ(tree.read("base/scenery/one.inc"), "//$infotype: B\r\nx\r\n");
  EXPECT_EQ(tree.read("base/scenery/empty.inc"), "//$infotype: C\r\n");
}

TEST(ConversionRun, LongSceneryFilesGiveTheSameTextWhateverTheLookahead) {
  std::string scn;
  for (int i = 0; i < 20000; ++i) scn += "node " + std::to_string(i) + " include\r\n";
  scn += "include tory/most1.inc 1 2\r\n";
  for (size_t lookahead : {size_t{0}, size_t{100}, size_t{1} << 20}) {
    const TempTree tree;
    tree.write("base/scenery/a.scn", scn);
    tree.write("base/inc_out1.txt", "tory\\most1.inc most\r\n");
    tree.write("base/p_scn.txt", tree.path("base/scenery/a.scn") + "\r\n");
    ConversionEvents progress;
    ConversionOptions options;
    options.sceneryLookahead = lookahead;
    EXPECT_EQ(runConversion(tree.runPaths(), progress, options).sceneryFiles, 1u);
    EXPECT_EQ(tree.read("base/scenery/a.scn"), *convertSceneryText(scn, demoTable())) << lookahead;
  }
}

TEST(ConversionRun, DryRunListsTheSameFilesAndChangesNothing) {
  const TempTree tree;
  prepareTree(tree);
  const auto before = tree.snapshot();
  ConversionEvents progress;
  ConversionOptions options;
  options.dryRun = true;
  RecordingOs os;
  {
    platform::ScopedOs guard(os);
    EXPECT_EQ(runConversion(tree.runPaths(), progress, options).changedFiles, kChanged);
  }
  EXPECT_TRUE(os.log.empty()) << "a dry run created, synced or renamed a file";
  EXPECT_EQ(tree.snapshot(), before);
}

TEST(ConversionRun, EveryTemporaryFileIsDurableBeforeTheFirstRename) {
  for (FlushMode mode : {FlushMode::PerFile, FlushMode::PerFileSystem}) {
    const TempTree tree;
    prepareTree(tree);
    RecordingOs os;
    ConversionEvents progress;
    ConversionOptions options;
    options.flush = mode;
    {
      platform::ScopedOs guard(os);
      runConversion(tree.runPaths(), progress, options);
    }
    EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
    const auto firstRename = std::find(os.log.begin(), os.log.end(), "rename");
    const auto lastRename = std::find(os.log.rbegin(), os.log.rend(), "rename").base();
    // The journal naming every rename is put in place, durable, before the first.
    const auto journal = std::find(os.log.begin(), os.log.end(), "rename journal");
    ASSERT_LT(journal, firstRename);
    const auto temps = std::count(os.log.begin(), os.log.end(), "mkstemp");
    ASSERT_EQ(temps, 4);
    if (mode == FlushMode::PerFile) {
      // Each temporary file, the undo set's manifest and its directory, the journal.
      EXPECT_EQ(std::count(os.log.begin(), journal, "fsync"), temps + 3);
      EXPECT_EQ(std::count(journal, firstRename, "fsync"), 1);              // its directory
      EXPECT_GT(std::count(lastRename, os.log.end(), "fsync"), 0);
    } else {
      EXPECT_EQ(std::count(os.log.begin(), journal, "syncfs"), 1);
      EXPECT_EQ(std::count(lastRename, os.log.end(), "syncfs"), 1);
      // The undo set's manifest and its directory, the journal.
      EXPECT_EQ(std::count(os.log.begin(), journal, "fsync"), 3);
    }
    EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
  }
}

// Each fault, set up on a fresh tree, must leave every file as it was, no
// temporary file behind, and an error that names `names`.
TEST(ConversionRun, FailuresBeforeTheRenamesLeaveTheTreeUntouched) {
  struct Fault {
    const char* what;
    std::function<void(const TempTree&, RecordingOs&)> arrange;
    const char* names;
  };
  std::vector<Fault> faults = {
      {"listed include deleted after the scan",
       [](const TempTree& t, RecordingOs&) { t.remove("base/scenery/tory/most1.inc"); }, "tory/most1.inc"},
      {"unwritable directory", [](const TempTree&, RecordingOs& os) { os.fail({Call::Mkstemp, EACCES, "/scenery/tory/"}); }, "tory/most1.inc"},
      {"disk full at once", [](const TempTree&, RecordingOs& os) { os.fail({Call::Write, ENOSPC}); }, "borvantel-journal"},
      {"disk full at the first file", [](const TempTree&, RecordingOs& os) { os.fail({Call::Write, ENOSPC, "/scenery/"}); }, "plot.inc"},
      {"disk full in the scenery phase", [](const TempTree&, RecordingOs& os) { os.fail({Call::Write, ENOSPC, "", "MOST_&type"}); }, "stacja.scn"},
      {"unreadable scenery file", [](const TempTree&, RecordingOs& os) { os.fail({Call::Read, EIO, "main.scn"}); }, "main.scn"},
      {"late write error on close",
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Close, EIO, "/tory/.borvantel-"}); }, "tory/most1.inc"},
      {"flush fails",
       [](const TempTree&, RecordingOs& os) {
         // The first flush: of the whole file system (Linux) or of the first temporary file (Windows).
         if (ConversionOptions().flush == FlushMode::PerFileSystem) {
           os.failSyncfsAt = 1;
         } else {
           os.fail({Call::Fsync, EIO, "/scenery/"});
         }
       },
       "scenery"},
      {"first rename fails", [](const TempTree&, RecordingOs& os) { os.fail({Call::Rename, EIO, "/scenery/"}); }, "plot.inc"},
      {"the journal cannot be put in place",
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Rename, EIO, "borvantel-journal"}); }, "borvantel-journal"},
      {"already converted",
       [](const TempTree& t, RecordingOs&) {
         t.write("base/scenery/tory/most1.inc", std::string(kMost) + "// //$InfoType: X\r\n");
       },
       "Start"},
      {"a header without a space gained after Start",
       [](const TempTree& t, RecordingOs&) { t.write("base/scenery/tory/most1.inc", "//$infotype:X\r\n" + std::string(kMost)); },
       "Start"},
      {"a listed scenery file that cannot be opened",
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Open, EACCES, "main.scn"}); }, "main.scn"},
      {"a listed include file that cannot be opened",
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Open, EACCES, "plot.inc"}); }, "plot.inc"},
      {"the size of a listed file cannot be read",
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Stat, EIO, "most1.inc"}); }, "most1.inc"},
      {"a directory's real place cannot be found",
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Realpath, EACCES, "/scenery/tory"}); }, "tory/most1.inc"},
      {"a long scenery file cannot be read again",
       [](const TempTree& t, RecordingOs& os) {
         // Past the look-ahead before its first converted line: read through, then again.
         std::string text;
         while (text.size() < (size_t{3} << 20) / 2) text += "node -1 0 none track normal 1.0 2.0 end\r\n";
         t.write("base/scenery/tory/stacja.scn", text + kStacja);
         os.fail({Call::Lseek, EIO, "stacja.scn"});
       },
       "stacja.scn"},
  };
#ifndef _WIN32
  // A listed file that a link takes outside the base directory: elsewhere,
  // or into a sibling directory whose name begins with the base directory's.
  for (const auto& link :
       {std::pair{"poza", "a link outside the base directory"},
        std::pair{"base2", "a link into a sibling directory named like the base directory"}}) {
    const char* outside = link.first;
    faults.push_back({link.second,
                      [outside](const TempTree& t, RecordingOs&) {
                        t.write(std::string(outside) + "/most.inc", kMost);
                        t.remove("base/scenery/tory/most1.inc");
                        t.symlink("../../../" + std::string(outside) + "/most.inc", "base/scenery/tory/most1.inc");
                      },
                      "poza katalogiem"});
  }
#endif
  for (const Fault& fault : faults) {
    const TempTree tree;
    prepareTree(tree);
    RecordingOs os;
    fault.arrange(tree, os);
    const auto before = tree.snapshot();
    ConversionEvents progress;
    try {
      platform::ScopedOs guard(os);
      runConversion(tree.runPaths(), progress);
      ADD_FAILURE() << fault.what << ": no failure reported";
    } catch (const IncompleteConversion& e) {
      ADD_FAILURE() << fault.what << ": " << e.what();
    } catch (const text::Failure& e) {
      EXPECT_NE(std::string(e.what()).find(native(fault.names)), std::string::npos) << fault.what << ": " << e.what();
    }
    EXPECT_EQ(tree.snapshot(), before) << fault.what;
  }
}

TEST(ConversionRun, EveryThreadCountGivesTheSameFilesResultEventsAndMessage) {
  struct Case {
    const char* what;
    void (*prepare)(const TempTree&);
    std::function<void(const TempTree&, RecordingOs&)> arrange;
  };
  const auto none = [](const TempTree&, RecordingOs&) {};
  const Case cases[] = {
      {"small tree", [](const TempTree& tree) { prepareTree(tree); }, none},
      {"busy tree", prepareBusyTree, none},
      {"busy tree, dry run", prepareBusyTree, none},
      {"disk full everywhere", prepareBusyTree, [](const TempTree&, RecordingOs& os) { os.fail({Call::Write, ENOSPC}); }},
      {"two unreadable files", prepareBusyTree,
       [](const TempTree&, RecordingOs& os) {
         os.fail({Call::Read, EIO, "d7/f4.scn"});
         os.fail({Call::Read, EIO, "d2/f8.scn"});
       }},
      {"an include file converted after Start", prepareBusyTree,
       [](const TempTree& t, RecordingOs&) { t.write("base/scenery/d9/f6.inc", "//$infotype: X\r\n"); }},
      {"a scenery file gone, another unopenable", prepareBusyTree,
       [](const TempTree& t, RecordingOs& os) {
         t.remove("base/scenery/d3/f5.scn");
         os.fail({Call::Open, EACCES, "d8/f2.scn"});
       }},
      {"rename failing part-way", prepareBusyTree,
       [](const TempTree&, RecordingOs& os) { os.fail({Call::Rename, EIO, "d5/f1.scn"}); }},
  };
  struct Outcome {
    std::map<std::string, std::string> files;
    std::vector<std::string> events;
    std::string message;
    std::vector<std::string> changed;
    std::vector<std::uint64_t> counts;
  };
  for (const Case& c : cases) {
    const bool dryRun = std::string(c.what).find("dry run") != std::string::npos;
    std::optional<Outcome> first;
    for (const unsigned threads : {1u, 2u, 3u, 8u}) {
      SCOPED_TRACE(std::string(c.what) + ", threads " + std::to_string(threads));
      const TempTree tree(TempTree::Where::InMemory);
      c.prepare(tree);
      RecordingOs os;
      c.arrange(tree, os);
      RecordingEvents events;
      Outcome out;
      // The trees lie in different places.
      const auto unrooted = [&](std::string text) {
        for (size_t at; (at = text.find(tree.root())) != std::string::npos;) text.replace(at, tree.root().size(), "ROOT");
        return text;
      };
      ConversionOptions options;
      options.threads = threads;
      options.dryRun = dryRun;
      try {
        platform::ScopedOs guard(os);
        const ConversionResult r = runConversion(tree.runPaths(), events, options);
        out.changed = r.changedFiles;
        out.counts = {r.includeFiles, r.sceneryListed, r.sceneryFiles, r.bytesRead, r.bytesWritten};
      } catch (const text::Failure& e) {
        out.message = unrooted(e.what());
      }
      for (const auto& [name, bytes] : testing::withoutUndoSet(tree.snapshot())) out.files.emplace(name, unrooted(bytes));
      for (const std::string& call : events.calls) out.events.push_back(unrooted(call));
      if (!first) {
        first = out;
        continue;
      }
      EXPECT_EQ(out.message, first->message);
      EXPECT_EQ(out.changed, first->changed);
      EXPECT_EQ(out.counts, first->counts);
      EXPECT_EQ(out.events, first->events);
      EXPECT_EQ(out.files, first->files);
    }
    // Each case does what it says: the faults fail, the others convert.
    const bool fails = std::string(c.what).find("tree") == std::string::npos;
    EXPECT_EQ(!first->message.empty(), fails) << c.what << ": " << first->message;
    if (!fails) {
      EXPECT_FALSE(first->changed.empty()) << c.what;
    }
  }
}

// What a dry run hands to its ChangeSink, kept.
struct RecordedChange {
  std::string path, before, after;
};
struct RecordingSink : ChangeSink {
  std::vector<RecordedChange> changes;
  void fileChanges(const FileChange& c) override {
    changes.push_back({std::string(c.path), std::string(c.before), std::string(c.after)});
  }
};

std::map<std::string, std::string> sceneryFiles(const TempTree& tree) {
  std::map<std::string, std::string> files = tree.snapshot();
  std::erase_if(files, [](const auto& file) { return !file.first.starts_with("base/scenery/"); });
  return files;
}

// Applied one by one to the tree as it was, the changes of a dry run give
// the tree the conversion gives, on any number of threads; a file reached
// under two names (links on Linux) is named where it really is.
TEST(ConversionRun, ChangesOfADryRunAppliedInOrderGiveTheConvertedTree) {
  const TempTree converted(TempTree::Where::InMemory);
  prepareBusyTree(converted);
  ConversionEvents progress;
  const ConversionResult real = runConversion(converted.runPaths(), progress);
  for (const unsigned threads : {1u, 3u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const TempTree tree(TempTree::Where::InMemory);
    prepareBusyTree(tree);
    const auto before = tree.snapshot();
    RecordingSink sink;
    ConversionOptions options;
    options.threads = threads;
    options.changes = &sink;  // a dry run without saying so
    RecordingOs os;
    ConversionResult result;
    {
      platform::ScopedOs guard(os);
      result = runConversion(tree.runPaths(), progress, options);
    }
    EXPECT_TRUE(os.log.empty()) << "the dry run created, synced or renamed a file";
    EXPECT_EQ(tree.snapshot(), before);
    EXPECT_EQ(result.changedFiles, real.changedFiles);
    std::map<std::string, int> times;
    for (const RecordedChange& c : sink.changes) {
      ASSERT_EQ(tree.read("base/" + c.path), c.before) << c.path;
      tree.write("base/" + c.path, c.after);
      ++times[c.path];
    }
    EXPECT_EQ(sceneryFiles(tree), sceneryFiles(converted));
#ifndef _WIN32
    EXPECT_EQ(times.count("scenery/d1/link.inc"), 0u) << "a link named instead of the file it points to";
    // Its include lines got their categories with its renumbering, so the
    // scenery phase finds nothing left to change in it.
    EXPECT_EQ(times["scenery/d2/f3.inc"], 1) << "an include file listed as a scenery file changes once";
#endif
    EXPECT_EQ(sink.changes.size(), real.changedFiles.size());
  }
}

TEST(ConversionRun, AChangeSinkThatThrowsStopsTheDryRun) {
  const TempTree tree;
  prepareTree(tree);
  const auto before = tree.snapshot();
  struct Refusing : ChangeSink {
    int calls = 0;
    void fileChanges(const FileChange&) override {
      if (++calls == 2) throw text::Failure("zapis przerwany");
    }
  } sink;
  ConversionEvents progress;
  ConversionOptions options;
  options.changes = &sink;
  try {
    runConversion(tree.runPaths(), progress, options);
    ADD_FAILURE() << "no failure reported";
  } catch (const text::Failure& e) {
    EXPECT_STREQ(e.what(), "zapis przerwany");
  }
  EXPECT_EQ(sink.calls, 2);
  EXPECT_EQ(tree.snapshot(), before);
}

// Links, one file under two names, an include file listed as a scenery file:
// undo still puts back exactly what was there.
TEST(ConversionRun, UndoOfABusyTreeGivesBackEveryByte) {
  const TempTree tree(TempTree::Where::InMemory);
  prepareBusyTree(tree);
  const auto scenery = [&] {
    std::map<std::string, std::string> out;
    for (const auto& [name, bytes] : tree.snapshot()) {
      if (name.rfind("base/scenery/", 0) == 0) out.emplace(name, bytes);
    }
    return out;
  };
  const auto before = scenery();
  ConversionEvents events;
  const ConversionResult result = runConversion(tree.runPaths(), events);
  ASSERT_NE(scenery(), before);
  EXPECT_EQ(undoConversion(tree.runPaths()).restoredFiles.size(), result.changedFiles.size());
  EXPECT_EQ(scenery(), before);
}

// An owner that may not be kept (an ordinary user cannot give files away) is
// no reason to stop; any other failure to set it is.
TEST(ConversionRun, AnOwnerThatCannotBeKeptIsNoFailureButAnErrorIs) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows files have no owner the tool carries over";
#else
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another owner";
  for (const int err : {EPERM, EIO}) {
    SCOPED_TRACE(err);
    const TempTree tree;
    prepareTree(tree);
    ASSERT_EQ(::chown(tree.path("base/scenery/tory/most1.inc").c_str(), 4242, 4242), 0);
    const auto before = tree.snapshot();
    RecordingOs os;
    os.fail({Call::Fchown, err, "/tory/"});
    ConversionEvents progress;
    try {
      platform::ScopedOs guard(os);
      runConversion(tree.runPaths(), progress);
      EXPECT_EQ(err, EPERM) << "no failure reported";
      EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
    } catch (const text::Failure& e) {
      EXPECT_EQ(err, EIO) << e.what();
      EXPECT_NE(std::string(e.what()).find("most1.inc"), std::string::npos) << e.what();
      EXPECT_EQ(tree.snapshot(), before);
    }
    EXPECT_GE(os.failures(), 1u);
  }
#endif
}

TEST(ConversionRun, RenameFailingPartWaySaysWhatWasAlreadyReplaced) {
  const TempTree tree;
  prepareTree(tree);
  RecordingOs os;
  os.fail({Call::Rename, EIO, "stacja.scn"});
  const auto before = tree.allFiles();
  ConversionEvents progress;
  try {
    platform::ScopedOs guard(os);
    runConversion(tree.runPaths(), progress);
    ADD_FAILURE() << "no failure reported";
  } catch (const IncompleteConversion& e) {
    // Every other rename is still tried: the failure is the only file left as it was.
    EXPECT_EQ(e.replaced(), (std::vector<std::string>{kChanged[0], kChanged[1], kChanged[3]}));
    EXPECT_NE(std::string(e.what()).find("stacja.scn"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("3 z 4"), std::string::npos) << e.what();
  }
  EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMostDone);
  EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacja);
  EXPECT_EQ(testing::withoutUndoSet(tree.allFiles()), before) << "a temporary file was left behind";
}


TEST(ConversionRun, FlushFailingAfterTheRenamesIsNotReportedAsSuccess) {
  for (const FlushMode mode : {FlushMode::PerFileSystem, FlushMode::PerFile}) {
    SCOPED_TRACE(mode == FlushMode::PerFile ? "per file" : "per file system");
    const TempTree tree;
    prepareTree(tree);
    RecordingOs os;
    if (mode == FlushMode::PerFileSystem) {
      os.failSyncfsAt = 2;
    } else {
      os.failFsyncAfterRenames = true;  // the directories' flush
    }
    ConversionEvents progress;
    ConversionOptions options;
    options.flush = mode;
    try {
      platform::ScopedOs guard(os);
      runConversion(tree.runPaths(), progress, options);
      ADD_FAILURE() << "no failure reported";
    } catch (const IncompleteConversion& e) {
      EXPECT_EQ(e.replaced(), kChanged);
    }
    EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
  }
}

TEST(ConversionRun, RefusesWorkingFilesThatPointOutsideTheTree) {
  const TempTree tree;
  prepareTree(tree);
  tree.write("base/p_scn.txt", "/etc/passwd\r\n");
  ConversionEvents progress;
  EXPECT_THROW(runConversion(tree.runPaths(), progress), text::Failure);
  tree.write("base/p_scn.txt", "");
  tree.write("base/inc_out.txt", "..\\..\\x.inc A\r\n");
  EXPECT_THROW(runConversion(tree.runPaths(), progress), text::Failure);
}

// ------------------------------------------------------------------ the CLI

// Runs the command line tool; its output lands in `out`, standard error in
// the file "err.txt" of `logs`.
int runCli(const TempTree& logs, std::vector<std::string> args, std::string& out) {
  args.insert(args.begin(), BORVANTEL_CLI);
  const int status = testing::runProcess(args, {"", logs.path("out.txt"), logs.path("err.txt")});
  out = logs.read("out.txt");
  return status;
}

TEST(ConvertCommand, RefusesWhileFilesWaitThenConvertsAndDryRunAndDiffChangeNothing) {
  const TempTree tree;
  const TempTree logs;
  prepareTree(tree);
  tree.write("prog/kategorie.txt", "most\r\n");
  const std::string base = tree.path("base");
  const std::string prog = tree.path("prog");
  std::string out;
  ASSERT_EQ(runCli(logs, {"--program-dir", prog, "start", base}, out), 0) << out;
  EXPECT_EQ(runCli(logs, {"--program-dir", prog, "convert", base}, out), 1);
  EXPECT_NE(logs.read("err.txt").find("czeka jeszcze plików *.inc: 2"), std::string::npos) << logs.read("err.txt");
  EXPECT_EQ(runCli(logs, {"--program-dir", prog, "convert", "--diff", base}, out), 1);
  EXPECT_NE(logs.read("err.txt").find("czeka jeszcze plików *.inc: 2"), std::string::npos) << logs.read("err.txt");
  EXPECT_EQ(out, "");
  ASSERT_EQ(runCli(logs, {"--program-dir", prog, "assign-dir", base, "obiekty\\", "most"}, out), 0)
      << logs.read("err.txt");
  ASSERT_EQ(runCli(logs, {"--program-dir", prog, "assign-dir", base, "tory\\", "most"}, out), 0) << logs.read("err.txt");

  const std::string listing =
      "scenery\\obiekty\\plot.inc\nscenery\\tory\\most1.inc\nscenery\\tory\\stacja.scn\nscenery\\main.scn\n";
  const auto before = tree.snapshot();
  ASSERT_EQ(runCli(logs, {"--program-dir", prog, "convert", "--dry-run", base}, out), 0) << logs.read("err.txt");
  EXPECT_EQ(tree.snapshot(), before);
  EXPECT_EQ(out, listing);
  std::string diff;
  ASSERT_EQ(runCli(logs, {"--program-dir", prog, "convert", "--diff", base}, diff), 0) << logs.read("err.txt");
  EXPECT_EQ(tree.snapshot(), before);
  EXPECT_EQ(logs.read("err.txt"), "Do przerobienia (nic nie zmieniono): pliki *.inc: 2, pliki sceneryjne: 2 z 5 sprawdzonych.\n");

  ASSERT_EQ(runCli(logs, {"--program-dir", prog, "convert", base}, out), 0) << logs.read("err.txt");
  EXPECT_EQ(out, listing);
  EXPECT_EQ(logs.read("err.txt"), "Przerobiono pliki *.inc: 2, pliki sceneryjne: 2 z 5 sprawdzonych.\n");
  EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
  // Not a terminal: the files' own bytes, no colour, each changed file in
  // the order listed.
  std::string want;
  for (std::string file : kChanged) {
    std::replace(file.begin(), file.end(), '\\', '/');
    appendUnifiedDiff(file, before.at("base/" + file), tree.read("base/" + file), {}, want);
  }
  EXPECT_EQ(diff, want);
}

}  // namespace
}  // namespace borvantel::convert
