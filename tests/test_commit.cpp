// The commit of a conversion: its own lists (list files), the journal and
// the crash-safe steps that put prepared files in place.
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

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>

namespace borvantel::convert {
namespace {

using testing::TempTree;
using testing::native;
using testing::cp;
using Call = testing::FailingOs::Call;

// ------------------------------------------------- the conversion's own lists

TEST(ListFile, AListIsReadBackAsWrittenAndOneNotFinishedIsRefused) {
  const TempTree tree;
  const std::string path = tree.path("lista");
  tree.write("lista", "stara");
  ListWriter list(path, "naglowek 1\n");
  list.add({"a", ""});
  list.add({"b\nc d", "\xB3\xB9ka"});
  list.finish();
  EXPECT_EQ(tree.read("lista"), "stara") << "put in place only by replaceTarget";
  list.replaceTarget();
  const std::string written = tree.read("lista");
  using namespace std::string_literals;
  EXPECT_EQ(written, "naglowek 1\na\0\0b\nc d\0\xB3\xB9ka\0END 2\n"s);
  EXPECT_EQ(tree.allFiles(), std::vector<std::string>{"lista"});

  const std::string entries = written.substr(0, written.size() - 6);  // without "END 2\n"
  const struct {
    std::string data;
    bool whole;
    size_t read;  // entries handed out before the end or the first one cut short
    const char* why;
  } rows[] = {
      {written, true, 2, "as written"},
      {"naglowek 1\nEND 0\n", true, 0, "no entries"},
      {"naglowek 2\n" + written.substr(11), false, 0, "another header"},
      {entries + "END 2", false, 0, "the trailer without its line end"},
      {entries, false, 0, "no trailer"},
      {entries + "END 3\n", false, 2, "a count other than the entries"},
      {entries.substr(0, entries.size() - 1) + "END 2\n", false, 1, "the last field cut short"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    std::vector<std::vector<std::string>> read;
    EXPECT_EQ(readList(row.data, "naglowek 1\n", 2,
                       [&](const std::vector<std::string_view>& fields) {
                         read.emplace_back(fields.begin(), fields.end());
                       }),
              row.whole);
    ASSERT_EQ(read.size(), row.read);
    const std::vector<std::vector<std::string>> entriesWritten = {{"a", ""}, {"b\nc d", "\xB3\xB9ka"}};
    EXPECT_TRUE(std::equal(read.begin(), read.end(), entriesWritten.begin()));
  }
}

}  // namespace
}  // namespace borvantel::convert
