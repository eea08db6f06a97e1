// A conversion stopped at any moment, and the next run: every user file is
// byte for byte as before or as fully converted, the tree wholly one or the
// other, and no temporary file or journal is left.
#include "convert/conversion.h"
#include "convert/journal.h"
#include "convert/undo.h"
#include "run/run.h"
#include "support/process.h"
#include "support/temp_tree.h"
#include "text/files.h"
#include "platform/os.h"
#include "text/working_files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#include <sys/statfs.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace borvantel {
namespace {

using testing::TempTree;
using Files = std::map<std::string, std::string>;

// Ends the process at its k-th file operation, as a crash there would; with
// 0 it only counts them. Just before, it creates the file `stopping` (when
// given), so that the parent knows a child that is ending from one that hangs.
class StoppingOs : public platform::Os {
 public:
  explicit StoppingOs(long stopAt, std::string stopping = {}) : stopAt_(stopAt), stopping_(std::move(stopping)) {}
  int open(const char* p, int f, mode_t m) override { return tick(), Os::open(p, f, m); }
  int openDirectory(const char*) override { return -1; }  // calls on names come by path, and are counted
  int createExclusive(const char* p, mode_t m) override { return tick(), Os::createExclusive(p, m); }
  ssize_t read(int fd, void* b, size_t n) override { return tick(), Os::read(fd, b, n); }
  ssize_t write(int fd, const void* b, size_t n) override { return tick(), Os::write(fd, b, n); }
  int close(int fd) override { return tick(), Os::close(fd); }
  int fsync(int fd) override { return tick(), Os::fsync(fd); }
  int syncfs(int fd) override { return tick(), Os::syncfs(fd); }
  int fchmod(int fd, mode_t m) override { return tick(), Os::fchmod(fd, m); }
  int rename(const char* a, const char* b) override { return tick(), Os::rename(a, b); }
  int unlink(const char* p) override { return tick(), Os::unlink(p); }

  long operations() const { return done_; }

  static constexpr int kStopped = 77;

 private:
  void tick() {
    if (++done_ != stopAt_) return;
    if (!stopping_.empty()) {
      const int fd = Os::open(stopping_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) Os::close(fd);
    }
#ifdef _WIN32
    ::TerminateProcess(::GetCurrentProcess(), kStopped);  // at once, as a crash
#endif
    std::_Exit(kStopped);
  }
  const long stopAt_;
  const std::string stopping_;
  std::atomic<long> done_{0};
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
      // Appended piece by piece: "d" + std::to_string(d) draws a false
      // -Wrestrict from MinGW-w64's GCC 12.
      std::string rel = "d";
      rel.append(std::to_string(d)).append("/f").append(std::to_string(f)).append(f % 3 == 0 ? ".inc" : ".scn");
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

// What a child process does: this program started again with
// "--child JOB ROOT STOP" (see main). JOB is "convert" or "undo" on the tree
// at ROOT, stopped at its STOP-th file operation (0: never).
enum class Job { Convert, Undo };

const char* nameOf(Job job) { return job == Job::Convert ? "convert" : "undo"; }

void runJob(Job job, const text::RunPaths& paths) {
  if (job == Job::Convert) {
    convert::ConversionEvents events;
    convert::ConversionOptions options;
    options.threads = 2;
    convert::runConversion(paths, events, options);
  } else {
    convert::undoConversion(paths);
  }
}

text::RunPaths pathsUnder(const std::string& root) {
  return text::RunPaths::make(root + platform::kPathSeparator + "prog", root + platform::kPathSeparator + "base");
}

int childMain(const std::vector<std::string>& args) {
  if (args.size() != 5) return 2;
  const Job job = args[2] == "convert" ? Job::Convert : Job::Undo;
  const std::string& root = args[3];
  const long stopAt = std::stol(args[4]);
  StoppingOs os(stopAt, root + platform::kPathSeparator + "stopping");
  std::optional<platform::ScopedOs> guard;
  try {
    // The parent times and kills from here on: the start of a process is
    // slow on some systems and not part of the work.
    text::createEmpty(root + platform::kPathSeparator + "ready");
    if (stopAt > 0) guard.emplace(os);
    runJob(job, pathsUnder(root));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", nameOf(job), e.what());
    return 1;
  }
  return 0;
}

// The file operations of `job` on `tree`, counted in this process.
long operationsOf(Job job, const TempTree& tree) {
  StoppingOs os(0);
  platform::ScopedOs guard(os);
  runJob(job, tree.runPaths());
  return os.operations();
}

// Children that stopped themselves but were not seen to end: Wine does not
// always finish ending a process that ends itself while one of its threads
// is still starting; the parent then ends it.
int stuckChildren = 0;

// Waits for the child's end: its exit status, StoppingOs::kStopped for one
// that said it was stopping but did not end, Process::kKilled for one killed.
// A child that hangs fails the test rather than hanging it.
int awaitEnd(testing::Process& child, const TempTree& tree, Job job) {
  const auto now = [] { return std::chrono::steady_clock::now(); };
  const auto deadline = now() + std::chrono::minutes(2);
  std::optional<std::chrono::steady_clock::time_point> stopping;
  while (!child.waitFor(std::chrono::milliseconds(100))) {
    if (!stopping && tree.exists("stopping")) stopping = now();
    const bool stuck = stopping && now() - *stopping > std::chrono::seconds(5);
    if (!stuck && now() < deadline) continue;
    if (!stuck) ADD_FAILURE() << "the " << nameOf(job) << " did not end within two minutes";
    child.kill();
    if (!child.waitFor(std::chrono::seconds(10))) std::_Exit(1);  // not even killed: nothing sensible is left
    if (!stuck) return child.wait();
    ++stuckChildren;
    return StoppingOs::kStopped;
  }
  return child.wait();
}

// Runs `job` in a child process, stopped at its `stopAt`-th file operation
// (0: never) or killed `killAfterMicros` after it began; true when it did
// not run to its end. `tookMicros`: how long it ran.
bool inChild(const TempTree& tree, Job job, long stopAt, long killAfterMicros = -1, long* tookMicros = nullptr) {
  tree.remove("ready");
  tree.remove("stopping");
  testing::Process child({testing::selfPath(), "--child", nameOf(job), tree.root(), std::to_string(stopAt)});
  if (!child.started()) {
    ADD_FAILURE() << "cannot start " << testing::selfPath() << ": error " << child.startError();
    return false;
  }
  if (killAfterMicros >= 0 || tookMicros) {
    while (!tree.exists("ready") && child.running()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto began = std::chrono::steady_clock::now();
    if (killAfterMicros >= 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicros));
      child.kill();
    }
    child.waitFor(std::chrono::minutes(2));
    if (tookMicros) {
      *tookMicros = static_cast<long>(
          std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began).count());
    }
  }
  const int status = awaitEnd(child, tree, job);
  if (status == testing::Process::kKilled) {
    EXPECT_GE(killAfterMicros, 0) << "the child died";
    return true;
  }
  EXPECT_NE(status, 1) << "the " << nameOf(job) << " failed";
  return status == StoppingOs::kStopped;
}

bool convertInChild(const TempTree& tree, long stopAt, long killAfterMicros = -1, long* tookMicros = nullptr) {
  return inChild(tree, Job::Convert, stopAt, killAfterMicros, tookMicros);
}

// The directories of 30 files each in a tree that the tests kill a job on at
// random moments: a conversion of it takes long enough for the moments to
// fall all over it. Under Windows every file operation costs more, and a
// smaller tree gives as long a conversion.
#ifdef _WIN32
constexpr int kKillDirs = 12;  // 360 files
#else
constexpr int kKillDirs = 70;  // 2,100 files
#endif

// The stop points to try for a job of `n` file operations, and n + 1 (it
// runs to its end). Every one on Linux; on Windows, where starting a process
// takes a tenth of a second or more, the first and last few and an even
// spread between them.
std::vector<long> stopPoints(long n) {
  std::vector<long> out;
#ifdef _WIN32
  constexpr long kEnds = 6;
  constexpr long kBetween = 48;
  const long step = std::max(1L, n / kBetween);
  for (long k = 1; k <= n + 1; ++k) {
    if (k <= kEnds || k > n + 1 - kEnds || k % step == 0) out.push_back(k);
  }
#else
  for (long k = 1; k <= n + 1; ++k) out.push_back(k);
#endif
  return out;
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
      // "base2" begins with "base": the tree is the directory, not a prefix.
      {"a target in a sibling whose name begins with the base's",
       [](const TempTree& t) {
         return commit(t.path("base2/scenery/.borvantel-AAAAAA"), t.path("base2/scenery/a.inc"), "END 1\n");
       }},
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
    tree.write("base2/scenery/a.inc", "a");
    tree.write("base2/scenery/.borvantel-AAAAAA", "bad");
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

#ifndef _WIN32
// A real file system that fills up half-way through: the conversion stops
// with the file and the reason, nothing changed, nothing left; with room
// again the same conversion goes through. (Linux only: it mounts a tmpfs.)
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
#endif

// The front ends: the next Start (and every command on the base) says what
// it did, once.
TEST(Recovery, StartAndResumeTellTheUserOnce) {
  const Expected e = expectedFor(2);
  // A stop half-way through the renames: between the first stop whose user
  // files are no longer those before and the first whose files are all
  // converted (each holds for every later stop too). The threads may shift
  // a stop by an operation or two; the middle is far from either end.
  const auto userFilesOf = [](const TempTree& tree) {
    Files out = sceneryOf(tree);
    std::erase_if(out, [](const auto& file) { return testing::isTemporaryFile(file.first); });
    return out;
  };
  long n = 0;
  {
    const TempTree probe(TempTree::Where::InMemory);
    layOut(probe, 2);
    n = operationsOf(Job::Convert, probe);
  }
  const auto firstStopWhere = [&](const std::function<bool(const Files&)>& holds) {
    long first = 1;
    long last = n;
    while (first < last) {
      const long k = first + (last - first) / 2;
      const TempTree tree(TempTree::Where::InMemory);
      layOut(tree, 2);
      EXPECT_TRUE(convertInChild(tree, k));
      if (holds(userFilesOf(tree))) {
        last = k;
      } else {
        first = k + 1;
      }
    }
    return first;
  };
  const long renamesBegin = firstStopWhere([&](const Files& files) { return files != e.before; });
  const long renamesEnd = firstStopWhere([&](const Files& files) { return files == e.after; });
  ASSERT_LT(renamesBegin + 20, renamesEnd);
  const long k = (renamesBegin + renamesEnd) / 2;
  for (const bool viaStart : {true, false}) {
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, 2);
    std::string message;
    ASSERT_TRUE(convertInChild(tree, k));
    ASSERT_EQ(tree.read("base/.borvantel-journal").rfind("borvantel journal 1 COMMIT", 0), 0u);
    ASSERT_NE(userFilesOf(tree), e.before);
    ASSERT_NE(userFilesOf(tree), e.after);
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

// An undo through the run, no progress shown.
run::UndoResult undoAll(run::Run& r) {
  run::ConversionEvents none;
  return r.undo(none);
}

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
  EXPECT_EQ(convert::undoConversion(tree.runPaths()).restoredFiles.size(), 90u);
  EXPECT_EQ(sceneryOf(tree), before);
  EXPECT_TRUE(undoSetOf(tree).empty());
  EXPECT_FALSE(anyTemporaryFile(tree));
  EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
  // Nothing left to undo.
  EXPECT_THROW(convert::undoConversion(tree.runPaths()), text::Failure);
}

// Undo never overwrites a user's edit. A file edited in place without
// changing its size is told by its modification time alone.
TEST(Undo, RefusesWhenAConvertedFileChangedSinceAndNamesIt) {
  const struct {
    const char* what;
    void (*edit)(const TempTree&, const std::string&);
  } edits[] = {
      {"removed", [](const TempTree& t, const std::string& f) { t.remove(f); }},
      {"appended to", [](const TempTree& t, const std::string& f) { t.write(f, t.read(f) + "// poprawione ręcznie\r\n"); }},
      {"edited in place, same size",
       [](const TempTree& t, const std::string& f) {
         std::string text = t.read(f);
         text[text.find("include")] = 'I';
         const std::string path = t.path(f);
         platform::FileStat before;
         ASSERT_EQ(platform::Os().stat(path.c_str(), &before), 0);
         t.write(f, text);  // in place: the same file, the same size
         // A later time, whatever the file system's clock granularity.
         std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
         platform::FileStat after;
         ASSERT_EQ(platform::Os().stat(path.c_str(), &after), 0);
         ASSERT_EQ(after.inode, before.inode);
         ASSERT_EQ(after.size, before.size);
       }},
  };
  for (const auto& edit : edits) {
    SCOPED_TRACE(edit.what);
    const TempTree tree(TempTree::Where::InMemory);
    layOut(tree, 2);
    convertAll(tree);
    edit.edit(tree, "base/scenery/d1/f4.scn");
    const Files now = sceneryOf(tree);
    const Files set = undoSetOf(tree);
    try {
      convert::undoConversion(tree.runPaths());
      ADD_FAILURE() << "undone over a changed file";
    } catch (const text::Failure& e) {
      EXPECT_NE(std::string(e.what()).find(testing::native("d1/f4.scn")), std::string::npos) << e.what();
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
  EXPECT_EQ(undoAll(r).restoredFiles.size(), 1u);
  EXPECT_EQ(sceneryOf(tree), before);

  convertAll(tree);
  r.discardUndoSet();
  EXPECT_TRUE(undoSetOf(tree).empty());
  EXPECT_THROW(undoAll(r), text::Failure);
}

TEST(Undo, WhereLinksAreRefusedNothingChangesUntilTheUserAgrees) {
  const TempTree tree(TempTree::Where::InMemory);
  layOut(tree, 2);
  const auto before = tree.snapshot();
  testing::FailingOs os;
  os.fail({testing::FailingOs::Call::Link, EPERM});
  {
    platform::ScopedOs guard(os);
    EXPECT_THROW(convertAll(tree), convert::UndoUnavailable);
    EXPECT_EQ(tree.snapshot(), before);
    convertAll(tree, false);
  }
  EXPECT_EQ(sceneryOf(tree), expectedFor(2).after);
  EXPECT_TRUE(undoSetOf(tree).empty());
}

// Undo in a child process, ended at its k-th file operation.
bool undoInChild(const TempTree& tree, long stopAt, long killAfterMicros = -1, long* tookMicros = nullptr) {
  return inChild(tree, Job::Undo, stopAt, killAfterMicros, tookMicros);
}

// The job as the messages of the tests name it.
const char* described(Job job) { return job == Job::Convert ? "conversion" : "undo"; }

// A fresh tree for a stop or kill test: `dirs` directories, converted first
// when the job is the undo.
void prepareFor(Job job, const TempTree& tree, int dirs) {
  layOut(tree, dirs);
  if (job == Job::Undo) convertAll(tree);
}

bool inChild(Job job, const TempTree& tree, long stopAt, long killAfterMicros = -1, long* tookMicros = nullptr) {
  return job == Job::Convert ? convertInChild(tree, stopAt, killAfterMicros, tookMicros)
                             : undoInChild(tree, stopAt, killAfterMicros, tookMicros);
}

// What a test of a stopped or killed job checks on the tree afterwards:
// `stopped` tells whether the child was stopped before its end; `kind`
// names the outcome, for the counts printed.
using AfterwardsCheck = std::function<void(const TempTree& tree, bool stopped, std::string& kind)>;

// Stops `job` at each of its stop points in turn, each time on a fresh tree
// (past the last operation the child ends by itself). Returns the outcomes.
std::map<std::string, int> stoppedAtEveryPoint(Job job, const AfterwardsCheck& check) {
  long n = 0;
  {
    const TempTree tree(TempTree::Where::InMemory);
    prepareFor(job, tree, 2);
    n = operationsOf(job, tree);
  }
  std::map<std::string, int> seen;
  const int stuckBefore = stuckChildren;
  const std::vector<long> points = stopPoints(n);
  for (const long k : points) {
    SCOPED_TRACE(std::string(described(job)) + " stopped at operation " + std::to_string(k) + " of " +
                 std::to_string(n));
    const TempTree tree(TempTree::Where::InMemory);
    prepareFor(job, tree, 2);
    const bool stopped = inChild(job, tree, k);
    EXPECT_EQ(stopped, k <= n);
    std::string kind;
    check(tree, stopped, kind);
    ++seen[kind];
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("%s stop points tried: %zu of %ld\n", described(job), points.size(), n + 1);
  if (stuckChildren > stuckBefore) std::printf("stopped children ended from here (Wine): %d\n", stuckChildren - stuckBefore);
  return seen;
}

// Kills `job` `rounds` times at a random moment of its run, each time on a
// fresh tree of kKillDirs directories.
void killedAtRandomMoments(Job job, int rounds, unsigned seed, const AfterwardsCheck& check) {
  // How long a whole job takes here, to spread the kills over it.
  long micros = 0;
  {
    const TempTree tree(TempTree::Where::InMemory);
    prepareFor(job, tree, kKillDirs);
    inChild(job, tree, 0, -1, &micros);
  }
  std::printf("a whole %s: %ld us\n", described(job), micros);
  std::mt19937 rng(seed);
  std::map<std::string, int> seen;
  for (int round = 0; round < rounds; ++round) {
    const long delay = static_cast<long>(rng() % static_cast<unsigned>(micros + 1));
    SCOPED_TRACE(std::string(described(job)) + " killed after " + std::to_string(delay) + " us");
    const TempTree tree(TempTree::Where::InMemory);
    prepareFor(job, tree, kKillDirs);
    const bool stopped = inChild(job, tree, 0, delay);
    std::string kind;
    check(tree, stopped, kind);
    ++seen[kind];
  }
  for (const auto& [kind, n] : seen) std::printf("%s: %d\n", kind.c_str(), n);
}

// After a stopped or killed conversion and the recovery of the next run.
AfterwardsCheck wholeAfterRecovery(const Expected& e) {
  return [&e](const TempTree& tree, bool stopped, std::string& kind) {
    expectWholeAfterRecovery(tree, e, stopped, kind);
  };
}

// After a stopped or killed undo and the recovery of the next run: the tree
// wholly converted and still undoable, or wholly undone.
AfterwardsCheck wholeAfterUndoRecovery(const Expected& e) {
  return [&e](const TempTree& tree, bool, std::string& kind) {
    ASSERT_NO_THROW(convert::recoverInterruptedConversion(tree.runPaths()));
    const Files now = sceneryOf(tree);
    ASSERT_TRUE(now == e.before || now == e.after) << "a tree half undone";
    EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
    EXPECT_EQ(undoSetOf(tree).empty(), now == e.before);
    kind = now == e.before ? "undone" : "still converted";
  };
}

TEST(Recovery, StoppedAtEveryFileOperationTheNextRunLeavesTheTreeWhole) {
  const Expected e = expectedFor(2);
  std::map<std::string, int> seen = stoppedAtEveryPoint(Job::Convert, wholeAfterRecovery(e));
  // Both outcomes happened: stops before the journal's commit and after it.
  EXPECT_GT(seen["after"], 0);
  EXPECT_GT(seen["before"] + seen["before (stopped before the journal)"], 0);
}

TEST(Recovery, KilledAtRandomMomentsTheNextRunLeavesTheTreeWhole) {
  const Expected e = expectedFor(kKillDirs);
  killedAtRandomMoments(Job::Convert, 12, 3, wholeAfterRecovery(e));
}

TEST(Undo, StoppedAtEveryFileOperationTheNextRunLeavesTheTreeWhole) {
  const Expected e = expectedFor(2);
  std::map<std::string, int> seen = stoppedAtEveryPoint(Job::Undo, wholeAfterUndoRecovery(e));
  EXPECT_GT(seen["undone"], 0);
  EXPECT_GT(seen["still converted"], 0);
}

TEST(Undo, KilledAtRandomMomentsTheNextRunLeavesTheTreeWhole) {
  const Expected e = expectedFor(kKillDirs);
  killedAtRandomMoments(Job::Undo, 8, 9, wholeAfterUndoRecovery(e));
}

}  // namespace
}  // namespace borvantel

// A child ("--child ...") does its job and ends before GoogleTest starts.
int main(int argc, char** argv) {
  const std::vector<std::string> args = borvantel::testing::ownArguments(argc, argv);
  if (args.size() > 1 && args[1] == "--child") return borvantel::childMain(args);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
