// A conversion stopped at any moment, and the next run: every user file is
// byte for byte as before or as fully converted, the tree wholly one or the
// other, and no temporary file or journal is left.
#include "convert/conversion.h"
#include "convert/journal.h"
#include "convert/undo.h"
#include "run/run.h"
#include "support/temp_tree.h"
#include "text/os.h"
#include "text/working_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

namespace borvantel {
namespace {

using testing::TempTree;
using Files = std::map<std::string, std::string>;

// Ends the process at its k-th file operation, as a crash there would.
class StoppingOs : public text::Os {
 public:
  explicit StoppingOs(long stopAt) : left_(stopAt) {}
  int open(const char* p, int f, mode_t m) override { return tick(), Os::open(p, f, m); }
  int createExclusive(const char* p, mode_t m) override { return tick(), Os::createExclusive(p, m); }
  ssize_t read(int fd, void* b, size_t n) override { return tick(), Os::read(fd, b, n); }
  ssize_t write(int fd, const void* b, size_t n) override { return tick(), Os::write(fd, b, n); }
  int close(int fd) override { return tick(), Os::close(fd); }
  int fsync(int fd) override { return tick(), Os::fsync(fd); }
  int syncfs(int fd) override { return tick(), Os::syncfs(fd); }
  int fchmod(int fd, mode_t m) override { return tick(), Os::fchmod(fd, m); }
  int rename(const char* a, const char* b) override { return tick(), Os::rename(a, b); }
  int unlink(const char* p) override { return tick(), Os::unlink(p); }

 private:
  void tick() {
    if (--left_ == 0) ::_exit(kStopped);
  }
  std::atomic<long> left_;

 public:
  static constexpr int kStopped = 77;
};

// A tree of `dirs` x 30 files whose working files are written as Start and a
// whole-tree assignment leave them; the same bytes wherever it lies.
void layOut(const TempTree& tree, int dirs) {
  std::mt19937 rng(11);
  const std::string most = "// p1 = a, p2 = b\r\nnode (p1) track (p2) end\r\nnode (p3) end\r\n";
  std::string incOut;
  std::string pScn;
  for (int d = 0; d < dirs; ++d) {
    for (int f = 0; f < 30; ++f) {
      const std::string rel = "d" + std::to_string(d) + "/f" + std::to_string(f) + (f % 3 == 0 ? ".inc" : ".scn");
      std::string text = f % 3 == 0 ? most : std::string();
      for (int k = 0; k < 12; ++k) {
        text += "include d" + std::to_string(rng() % dirs) + "/f" + std::to_string(rng() % 10 * 3) + ".inc 1 2\r\n";
      }
      tree.write("base/scenery/" + rel, text);
      if (f % 3 == 0) {
        incOut += "d" + std::to_string(d) + "\\f" + std::to_string(f) + ".inc kat\r\n";
      } else {
        pScn += tree.path("base/scenery/" + rel) + "\r\n";
      }
    }
  }
  tree.write("base/p_inc.txt", "");
  tree.write("base/inc_out.txt", incOut);
  tree.write("base/p_scn.txt", pScn);
}

// The scenery files only, with the place of the tree taken out.
Files sceneryOf(const TempTree& tree) {
  Files out;
  for (const auto& [name, bytes] : tree.snapshot()) {
    if (name.rfind("base/scenery/", 0) == 0) out.emplace(name, bytes);
  }
  return out;
}

bool anyTemporaryFile(const TempTree& tree) {
  for (const std::string& name : tree.allFiles()) {
    if (testing::isTemporaryFile(name) || name.find(".borvantel-undo.new") != std::string::npos) return true;
  }
  return false;
}

// Runs the conversion in a child process; true when it was stopped.
bool convertInChild(const TempTree& tree, long stopAt, int killAfterMicros = -1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    StoppingOs os(stopAt);
    std::optional<text::ScopedOs> guard;
    if (stopAt > 0) guard.emplace(os);
    convert::ConversionEvents events;
    convert::ConversionOptions options;
    options.threads = 2;
    try {
      convert::runConversion(tree.runPaths(), events, options);
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  if (killAfterMicros >= 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicros));
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return true;
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 1) << "the conversion failed";
  return WEXITSTATUS(status) == StoppingOs::kStopped;
}

struct Expected {
  Files before;
  Files after;
};

Expected expectedFor(int dirs) {
  const TempTree tree(TempTree::Where::InMemory);
  layOut(tree, dirs);
  Expected e{sceneryOf(tree), {}};
  convert::ConversionEvents events;
  convert::runConversion(tree.runPaths(), events);
  e.after = sceneryOf(tree);
  return e;
}

// After the next run: one message, and the tree wholly before or after.
void expectWholeAfterRecovery(const TempTree& tree, const Expected& e, bool stopped, std::string& kind) {
  std::string message;
  ASSERT_NO_THROW(message = convert::recoverInterruptedConversion(tree.runPaths()).message);
  const Files now = sceneryOf(tree);
  EXPECT_TRUE(now == e.before || now == e.after) << "a tree half converted";
  EXPECT_FALSE(anyTemporaryFile(tree));
  EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
  if (!stopped) {
    EXPECT_EQ(now, e.after);
  }
  kind = now == e.after ? "after" : "before";
  if (stopped && message.empty() && now == e.before) kind += " (stopped before the journal)";
}

TEST(Recovery, StoppedAtEveryFileOperationTheNextRunLeavesTheTreeWhole) {
  const Expected e = expectedFor(2);
  std::map<std::string, int> seen;
  long k = 1;
  for (;; ++k) {
    SCOPED_TRACE("stopped at operation " + std::to_string(k));
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, 2);
    const bool stopped = convertInChild(tree, k);
    std::string kind;
    expectWholeAfterRecovery(tree, e, stopped, kind);
    ++seen[kind];
    if (!stopped || ::testing::Test::HasFailure()) break;
  }
  // Both outcomes happened: stops before the journal's commit and after it.
  EXPECT_GT(seen["after"], 0);
  EXPECT_GT(seen["before"] + seen["before (stopped before the journal)"], 0);
  std::printf("stop points tried: %ld\n", k);
}

TEST(Recovery, KilledAtRandomMomentsTheNextRunLeavesTheTreeWhole) {
  constexpr int kDirs = 70;  // 2,100 files
  const Expected e = expectedFor(kDirs);
  // How long a whole conversion takes here, to spread the kills over it.
  long micros = 0;
  {
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, kDirs);
    const auto start = std::chrono::steady_clock::now();
    convertInChild(tree, 0);
    micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  }
  std::mt19937 rng(3);
  std::map<std::string, int> seen;
  for (int round = 0; round < 12; ++round) {
    const int delay = static_cast<int>(rng() % static_cast<unsigned>(micros + 1));
    SCOPED_TRACE("killed after " + std::to_string(delay) + " us");
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, kDirs);
    const bool stopped = convertInChild(tree, 0, delay);
    std::string kind;
    expectWholeAfterRecovery(tree, e, stopped, kind);
    ++seen[kind];
  }
  for (const auto& [kind, n] : seen) std::printf("%s: %d\n", kind.c_str(), n);
}

TEST(Recovery, JournalsThatCannotBeFollowedAreRefusedAndNothingChanges) {
  struct Case {
    const char* what;
    std::string (*content)(const TempTree&);
  };
  // A committed journal of one rename, and a preparation log of one file.
  static const auto commit = [](const std::string& temp, const std::string& target, const std::string& end) {
    return "borvantel journal 1 COMMIT\n" + temp + std::string(1, '\0') + target + std::string(1, '\0') + end;
  };
  const Case cases[] = {
      {"unknown", [](const TempTree&) { return std::string("something else\n"); }},
      {"commit without its end",
       [](const TempTree& t) { return commit(t.path("base/scenery/.borvantel-AAAAAA"), t.path("base/scenery/a.inc"), ""); }},
      {"a count that does not match",
       [](const TempTree& t) {
         return commit(t.path("base/scenery/.borvantel-AAAAAA"), t.path("base/scenery/a.inc"), "END 2\n");
       }},
      {"a target outside the tree",
       [](const TempTree& t) { return commit(t.path("prog/.borvantel-AAAAAA"), t.path("prog/kategorie.txt"), "END 1\n"); }},
      {"a rename that is not a temporary file",
       [](const TempTree& t) { return commit(t.path("base/scenery/b.inc"), t.path("base/scenery/a.inc"), "END 1\n"); }},
      {"a climb out with ..",
       [](const TempTree& t) {
         return commit(t.path("base/scenery/../../prog/.borvantel-AAAAAA"),
                       t.path("base/scenery/../../prog/kategorie.txt"), "END 1\n");
       }},
      {"a removal outside the tree",
       [](const TempTree& t) {
         return "borvantel journal 1 PREPARING\n" + t.path("prog/.borvantel-AAAAAA") + std::string(1, '\0');
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TempTree tree;
    tree.write("base/scenery/a.inc", "a");
    tree.write("base/scenery/b.inc", "b");
    tree.write("base/scenery/.borvantel-AAAAAA", "new a");
    tree.write("prog/kategorie.txt", "K\r\n");
    tree.write("prog/.borvantel-AAAAAA", "bad");
    tree.write("base/.borvantel-journal", c.content(tree));
    const auto before = tree.snapshot();
    try {
      convert::recoverInterruptedConversion(tree.runPaths());
      ADD_FAILURE() << "followed";
    } catch (const text::Failure& e) {
      EXPECT_NE(std::string(e.what()).find(".borvantel-journal"), std::string::npos) << e.what();
    }
    EXPECT_EQ(tree.snapshot(), before);
  }
}

// A real file system that fills up half-way through: the conversion stops
// with the file and the reason, nothing changed, nothing left; with room
// again the same conversion goes through.
TEST(Recovery, AFullFileSystemStopsTheConversionWithNothingChanged) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can mount a small file system here";
  const TempTree tree;
  const std::string base = tree.path("base");
  if (::mount("tmpfs", base.c_str(), "tmpfs", 0, "size=4m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{base};
  const auto resize = [&](unsigned long bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    return ::mount("tmpfs", base.c_str(), "tmpfs", MS_REMOUNT, options.c_str());
  };
  layOut(tree, 3);
  const Files before = sceneryOf(tree);
  struct statfs fs {};
  ASSERT_EQ(::statfs(base.c_str(), &fs), 0);
  const unsigned long used = (fs.f_blocks - fs.f_bfree) * fs.f_bsize;
  // Room for about a third of the rewritten files.
  ASSERT_EQ(resize(used + 32 * fs.f_bsize), 0) << std::strerror(errno);
  convert::ConversionEvents events;
  try {
    convert::runConversion(tree.runPaths(), events);
    ADD_FAILURE() << "no failure reported";
  } catch (const text::Failure& e) {
    EXPECT_NE(std::string(e.what()).find("brak miejsca na dysku"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("nie zmieniono żadnego pliku"), std::string::npos) << e.what();
  }
  EXPECT_EQ(sceneryOf(tree), before);
  EXPECT_FALSE(anyTemporaryFile(tree));
  EXPECT_FALSE(tree.exists("base/.borvantel-journal"));

  ASSERT_EQ(resize(4ul << 20), 0);
  EXPECT_EQ(convert::recoverInterruptedConversion(tree.runPaths()).kind, convert::Recovery::Kind::Nothing);
  convert::runConversion(tree.runPaths(), events);
  const Files after = sceneryOf(tree);
  EXPECT_EQ(after, expectedFor(3).after);
  EXPECT_FALSE(anyTemporaryFile(tree));

  // Undo on a full disk: its journal cannot be written, nothing changes and
  // the set stays; with room again it goes through.
  ASSERT_EQ(::statfs(base.c_str(), &fs), 0);
  ASSERT_EQ(resize((fs.f_blocks - fs.f_bfree) * fs.f_bsize), 0) << std::strerror(errno);
  EXPECT_THROW(convert::undoConversion(tree.runPaths()), text::Failure);
  EXPECT_EQ(sceneryOf(tree), after);
  EXPECT_FALSE(anyTemporaryFile(tree));
  EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
  ASSERT_EQ(resize(4ul << 20), 0);
  convert::undoConversion(tree.runPaths());
  EXPECT_EQ(sceneryOf(tree), before);
}

// The front ends: the next Start (and every command on the base) says what
// it did, once.
TEST(Recovery, StartAndResumeTellTheUserOnce) {
  const Expected e = expectedFor(2);
  for (const bool viaStart : {true, false}) {
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, 2);
    // Stopped well into the renames.
    long k = 1;
    std::string message;
    for (;; k += 7) {
      const TempTree probe(TempTree::Where::InMemory);
      layOut(probe, 2);
      if (!convertInChild(probe, k)) break;
      if (probe.exists("base/.borvantel-journal") &&
          probe.read("base/.borvantel-journal").rfind("borvantel journal 1 COMMIT", 0) == 0 &&
          sceneryOf(probe) != e.before) {
        break;
      }
    }
    ASSERT_TRUE(convertInChild(tree, k));
    if (viaStart) {
      run::Run r(tree.path("prog"), tree.path("base"));
      r.start();
      message = r.recovered();
    } else {
      message = run::Run::resume(tree.path("prog"), tree.path("base")).recovered();
    }
    EXPECT_NE(message.find("Dokończono"), std::string::npos) << message;
    EXPECT_EQ(sceneryOf(tree), e.after);
    EXPECT_EQ(run::Run::resume(tree.path("prog"), tree.path("base")).recovered(), "");
  }
}

}  // namespace
}  // namespace borvantel

namespace borvantel {
namespace {

Files undoSetOf(const TempTree& tree) {
  Files out;
  for (const auto& [name, bytes] : tree.snapshot()) {
    if (name.rfind("base/.borvantel-undo", 0) == 0) out.emplace(name, bytes);
  }
  return out;
}

void convertAll(const TempTree& tree, bool keepUndo = true) {
  convert::ConversionEvents events;
  convert::ConversionOptions options;
  options.keepUndo = keepUndo;
  convert::runConversion(tree.runPaths(), events, options);
}

TEST(Undo, ConvertThenUndoGivesTheTreeByteIdenticalToBefore) {
  const TempTree tree(TempTree::Where::InMemory);
  layOut(tree, 3);
  const Files before = sceneryOf(tree);
  convertAll(tree);
  const Files after = sceneryOf(tree);
  ASSERT_NE(after, before);
  EXPECT_EQ(convert::undoableFiles(tree.runPaths()).size(), 90u);
  EXPECT_EQ(convert::undoConversion(tree.runPaths()), 90u);
  EXPECT_EQ(sceneryOf(tree), before);
  EXPECT_TRUE(undoSetOf(tree).empty());
  EXPECT_FALSE(anyTemporaryFile(tree));
  EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
  // Nothing left to undo.
  EXPECT_THROW(convert::undoConversion(tree.runPaths()), text::Failure);
}

TEST(Undo, RefusesWhenAConvertedFileChangedSinceAndNamesIt) {
  for (const bool removed : {false, true}) {
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, 2);
    convertAll(tree);
    if (removed) {
      std::filesystem::remove(tree.path("base/scenery/d1/f4.scn"));
    } else {
      tree.write("base/scenery/d1/f4.scn", tree.read("base/scenery/d1/f4.scn") + "// poprawione ręcznie\r\n");
    }
    const Files now = sceneryOf(tree);
    const Files set = undoSetOf(tree);
    try {
      convert::undoConversion(tree.runPaths());
      ADD_FAILURE() << "undone over a changed file";
    } catch (const text::Failure& e) {
      EXPECT_NE(std::string(e.what()).find("d1/f4.scn"), std::string::npos) << e.what();
    }
    EXPECT_EQ(sceneryOf(tree), now);
    EXPECT_EQ(undoSetOf(tree), set);
  }
}

TEST(Undo, ANewConversionReplacesTheSetCleanKeepsItDiscardFreesIt) {
  const TempTree tree(TempTree::Where::InMemory);
  layOut(tree, 2);
  convertAll(tree);
  // A new include file, converted on its own: the set now holds only it.
  tree.write("base/scenery/d0/nowy.inc", "(p1) (p2) (p3)\r\n");
  tree.write("base/inc_out.txt", "d0\\nowy.inc kat\r\n");
  tree.write("base/p_scn.txt", "");
  const Files before = sceneryOf(tree);
  convertAll(tree);
  EXPECT_EQ(convert::undoableFiles(tree.runPaths()), std::vector<std::string>{tree.path("base/scenery/d0/nowy.inc")});
  run::Run r(tree.path("prog"), tree.path("base"));
  r.close();  // the working files go, the undo set stays
  EXPECT_FALSE(undoSetOf(tree).empty());
  EXPECT_EQ(r.undoConversion(), 1u);
  EXPECT_EQ(sceneryOf(tree), before);

  convertAll(tree);
  r.discardUndoSet();
  EXPECT_TRUE(undoSetOf(tree).empty());
  EXPECT_THROW(r.undoConversion(), text::Failure);
}

TEST(Undo, WhereLinksAreRefusedNothingChangesUntilTheUserAgrees) {
  const TempTree tree(TempTree::Where::InMemory);
  layOut(tree, 2);
  const auto before = tree.snapshot();
  testing::FailingOs os;
  os.fail({testing::FailingOs::Call::Link, EPERM});
  {
    text::ScopedOs guard(os);
    EXPECT_THROW(convertAll(tree), convert::UndoUnavailable);
    EXPECT_EQ(tree.snapshot(), before);
    convertAll(tree, false);
  }
  EXPECT_EQ(sceneryOf(tree), expectedFor(2).after);
  EXPECT_TRUE(undoSetOf(tree).empty());
}

// Undo in a child process, ended at its k-th file operation.
bool undoInChild(const TempTree& tree, long stopAt) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    StoppingOs os(stopAt);
    text::ScopedOs guard(os);
    try {
      convert::undoConversion(tree.runPaths());
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 1) << "the undo failed";
  return WEXITSTATUS(status) == StoppingOs::kStopped;
}

TEST(Undo, KilledAtRandomMomentsTheNextRunLeavesTheTreeWhole) {
  constexpr int kDirs = 70;  // 2,100 files
  const Expected e = expectedFor(kDirs);
  std::mt19937 rng(9);
  std::map<std::string, int> seen;
  for (int round = 0; round < 8; ++round) {
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, kDirs);
    convertAll(tree);
    const pid_t pid = ::fork();
    if (pid == 0) {
      try {
        convert::undoConversion(tree.runPaths());
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    const int delay = static_cast<int>(rng() % 60000);
    SCOPED_TRACE("undo killed after " + std::to_string(delay) + " us");
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_NO_THROW(convert::recoverInterruptedConversion(tree.runPaths()));
    const Files now = sceneryOf(tree);
    ASSERT_TRUE(now == e.before || now == e.after) << "a tree half undone";
    EXPECT_EQ(undoSetOf(tree).empty(), now == e.before);
    EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
    ++seen[now == e.before ? "undone" : "still converted"];
  }
  for (const auto& [kind, n] : seen) std::printf("%s: %d\n", kind.c_str(), n);
}

TEST(Undo, StoppedAtEveryFileOperationTheNextRunLeavesTheTreeWhole) {
  const Expected e = expectedFor(2);
  long k = 1;
  std::map<std::string, int> seen;
  for (;; ++k) {
    SCOPED_TRACE("undo stopped at operation " + std::to_string(k));
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, 2);
    convertAll(tree);
    const bool stopped = undoInChild(tree, k);
    ASSERT_NO_THROW(convert::recoverInterruptedConversion(tree.runPaths()));
    const Files now = sceneryOf(tree);
    ASSERT_TRUE(now == e.before || now == e.after) << "a tree half undone";
    EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
    // Either still undoable or wholly undone.
    EXPECT_EQ(undoSetOf(tree).empty(), now == e.before);
    ++seen[now == e.before ? "before" : "after"];
    if (!stopped) break;
  }
  EXPECT_GT(seen["before"], 0);
  EXPECT_GT(seen["after"], 0);
  std::printf("undo stop points tried: %ld\n", k);
}

}  // namespace
}  // namespace borvantel
