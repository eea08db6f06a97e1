// The platform floor: work on several threads, taken up in order; where the
// user's data files belong; the form of a directory's path.
#include "platform/in_order.h"
#include "platform/names.h"
#include "platform/process.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace borvantel::platform {
namespace {

// Every item prepared once and taken up in order, whatever the number of
// threads; a failure of one item reaches its own take, and a take that throws
// ends the run early. Thousands of short items make the threads wait for each
// other thousands of times: one notification lost between a check and a sleep
// (as libstdc++ 12 loses them where there is no futex, e.g. on Windows) hangs
// the run for ever, so each run has a time limit.
TEST(InOrder, TakesEveryItemOnceInOrderOnAnyNumberOfThreads) {
  struct Row {
    unsigned threads;
    size_t count;
    size_t takeThrowsAt;  // count: never
  };
  const Row rows[] = {{1, 0, 0}, {1, 5, 5}, {2, 1, 1}, {2, 50000, 50000}, {3, 7, 7},
                      {3, 50000, 50000}, {8, 50000, 50000}, {4, 50000, 1234}, {1, 50, 10}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.threads) + " threads, " + std::to_string(r.count) + " items");
    InOrder pool(r.threads);
    ASSERT_EQ(pool.threads(), r.threads);
    std::vector<size_t> results(pool.slots());
    std::atomic<size_t> prepared{0};
    std::atomic<size_t> badWorker{0};
    // A worker's index stands for its buffers: never two items at once.
    std::vector<std::atomic<bool>> busy(r.threads);
    size_t next = 0;
    size_t wrong = 0;
    size_t failures = 0;
    bool stoppedByTake = false;
    auto job = std::async(std::launch::async, [&] {
      try {
        pool.run(
            r.count,
            [&](size_t i, size_t slot, unsigned worker) {
              ++prepared;
              if (worker >= r.threads || busy[worker].exchange(true)) {
                ++badWorker;
                return;
              }
              results[slot] = i * 3 + 1;
              busy[worker].store(false);
              if (i % 1000 == 999) throw std::runtime_error(std::to_string(i));
            },
            [&](size_t i, size_t slot, const std::exception_ptr& error) {
              if (i != next++) ++wrong;
              if (error) {
                try {
                  std::rethrow_exception(error);
                } catch (const std::runtime_error& e) {
                  if (e.what() != std::to_string(i)) ++wrong;
                  ++failures;
                }
              } else if (results[slot] != i * 3 + 1) {
                ++wrong;
              }
              if (i == r.takeThrowsAt) throw std::logic_error("take");
            });
      } catch (const std::logic_error&) {
        stoppedByTake = true;
      }
    });
    if (job.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
      ADD_FAILURE() << "the threads still wait for each other after two minutes (a lost notification)";
      std::fflush(stdout);
      std::_Exit(1);  // the run cannot be ended any other way
    }
    job.get();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(badWorker, 0u);
    if (r.takeThrowsAt < r.count) {
      EXPECT_TRUE(stoppedByTake);
      EXPECT_EQ(next, r.takeThrowsAt + 1);
      // What was begun before the take failed, at most a window ahead.
      EXPECT_LE(prepared, r.takeThrowsAt + 1 + pool.slots());
    } else {
      EXPECT_FALSE(stoppedByTake);
      EXPECT_EQ(next, r.count);
      EXPECT_EQ(prepared, r.count);
      EXPECT_EQ(failures, r.count / 1000);
    }
  }
}

// A directory loses the separators at its end, but a root keeps its own:
// "/" (or C:\ on Windows) emptied would name the working directory instead.
TEST(DirectoryPath, LosesTrailingSeparatorsButARootKeepsItsOwn) {
  const std::string s(1, kPathSeparator);
  const struct {
    std::string dir;
    std::string expected;
  } rows[] = {
      {s, s},
      {s + s, s},
      {s + "trasa" + s, s + "trasa"},
      {s + "trasa" + s + s, s + "trasa"},
      {s + "trasa", s + "trasa"},
      {"trasa" + s, "trasa"},
#ifdef _WIN32
      {"C:\\", "C:\\"},
      {"C:", "C:\\"},  // the drive's current directory is not meant: its root is
      {"C:\\trasa\\", "C:\\trasa"},
#endif
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.dir);
    EXPECT_EQ(withoutTrailingSeparator(r.dir), r.expected);
  }
}

#ifndef _WIN32
// The XDG rule: $XDG_DATA_HOME when absolute, else ~/.local/share, the home
// from the user database when HOME is no absolute path either.
TEST(UserDataHome, FollowsTheXdgRule) {
  const std::string fromDatabase = std::string(::getpwuid(::geteuid())->pw_dir) + "/.local/share";
  struct Row {
    std::optional<std::string> xdg;
    std::optional<std::string> home;
    std::string expected;
  };
  const Row rows[] = {
      {"/dane/u", "/home/u", "/dane/u"},
      {"/dane/u//", "/home/u", "/dane/u"},
      {"dane", "/home/u", "/home/u/.local/share"},  // relative: ignored
      {"", "/home/u/", "/home/u/.local/share"},
      {std::nullopt, "/home/u", "/home/u/.local/share"},
      {std::nullopt, std::nullopt, fromDatabase},
      {std::nullopt, "u", fromDatabase},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.xdg.value_or("(unset)") + " " + r.home.value_or("(unset)"));
    const testing::ScopedVariable xdg("XDG_DATA_HOME", r.xdg);
    const testing::ScopedVariable home("HOME", r.home);
    EXPECT_EQ(userDataHome(), r.expected);
  }
}
#endif

}  // namespace
}  // namespace borvantel::platform
