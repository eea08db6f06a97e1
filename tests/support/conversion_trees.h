// Test support for the conversion's tests: the small tree most of them
// convert, a busy tree of a few hundred files, and a seam that records the
// calls that make files durable or put them in place.
#pragma once

#include "support/temp_tree.h"
#include "convert/assignment_table.h"
#include "convert/progress.h"
#include "text/paths.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::convert {

// Records the events of a conversion.
struct RecordingEvents : ConversionEvents {
  std::vector<std::string> calls;
  void phaseBegins(ConversionPhase phase, size_t files) override {
    calls.push_back(std::string(phase == ConversionPhase::IncludeFiles ? "include" : "scenery") + " begins " +
                    std::to_string(files));
  }
  void fileBegins(std::string_view label) override { calls.push_back("file " + std::string(label)); }
  void phaseEnds(ConversionPhase phase) noexcept override {
    calls.push_back(std::string(phase == ConversionPhase::IncludeFiles ? "include" : "scenery") + " ends");
  }
};

// The failing seam of the test support, also recording the order of the calls
// that make files durable or put them in place, and able to fail syncfs or
// the fsyncs after the first rename in the scenery.
// Files are prepared on several threads, so the log has a lock.
struct RecordingOs : testing::FailingOs {
  std::vector<std::string> log;
  int failSyncfsAt = 0;  // this syncfs call (1-based) fails
  int syncfsCalls = 0;
  bool failFsyncAfterRenames = false;
  std::atomic<bool> renamed = false;
  std::mutex mutex;

  void record(const char* call) {
    const std::lock_guard lock(mutex);
    log.push_back(call);
  }
  int createExclusive(const char* path, mode_t mode) override {
    record(std::string_view(path).find(testing::native("/scenery/")) != std::string_view::npos ? "mkstemp" : "mkstemp outside");
    return FailingOs::createExclusive(path, mode);
  }
  int fsync(int fd) override {
    record("fsync");
    if (failFsyncAfterRenames && renamed) return errno = EIO, -1;
    return FailingOs::fsync(fd);
  }
  int syncfs(int fd) override {
    record("syncfs");
    if (++syncfsCalls == failSyncfsAt) return errno = EIO, -1;
    return FailingOs::syncfs(fd);
  }
  int rename(const char* from, const char* to) override {
    const std::string_view target = to;
    const bool scenery = target.find(testing::native("/scenery/")) != std::string_view::npos;
    record(target.ends_with(".borvantel-journal") ? "rename journal" : scenery ? "rename" : "rename other");
    if (scenery) renamed = true;
    return FailingOs::rename(from, to);
  }
};

inline constexpr const char* kMost = "// p1 = wysokosc, p2 = dlugosc\r\nnode -1 0 (p1) track normal (p2) 1.435 end\r\nnode (p3) end\r\n";
inline constexpr const char* kMostDone =
    "//$infotype: MOST\r\n// p2 = wysokosc, p3 = dlugosc\r\nnode -1 0 (p2) track normal (p3) 1.435 end\r\n"
    "node (p4) end\r\n";
inline constexpr const char* kStacja = "include\ttory/most1.inc 12.5;3 end\r\ninclude tory/inny.inc  1 end\r\n"
                            "// include tory/most1.inc 1 end\r\n//include tory/most1.inc 1 end\r\n";
inline constexpr const char* kStacjaDone = "include tory/most1.inc MOST_&type 12.5 3 end\r\ninclude tory/inny.inc  1 end\r\n"
                                "// include tory/most1.inc 1 end\r\n//include tory/most1.inc 1 end\r\n";

// The table of the two include files of prepareTree's tree.
inline AssignmentTable demoTable() {
  return AssignmentTable({{"tory\\most1.inc", "MOST"}, {"obiekty\\dom.inc", "BUDYNKI"}});
}

// Start, and every waiting file assigned to "most".
void startAndAssignAll(const text::RunPaths& paths);
// A small tree after Start and the assignment of every waiting file to
// "most", in the base directory `base` of the tree (the program directory
// "prog").
void prepareTree(const testing::TempTree& tree, const std::string& base = "base");
inline const std::vector<std::string> kChanged = {"scenery\\obiekty\\plot.inc", "scenery\\tory\\most1.inc",
                                           "scenery\\tory\\stacja.scn", "scenery\\main.scn"};
// A tree of a few hundred files in which the same file is reached under
// several names and include files are also listed as scenery files: what the
// threads could get wrong if they were not taken up in order.
void prepareBusyTree(const testing::TempTree& tree);

}  // namespace borvantel::convert
