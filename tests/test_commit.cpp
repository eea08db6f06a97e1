// The commit of a conversion: its own lists (list files), and the steps that
// put prepared files in place, each failing in turn.
#include "convert/commit.h"
#include "convert/list_file.h"
#include "convert/undo.h"
#include "support/conversion_trees.h"
#include "support/temp_tree.h"
#include "text/file_calls.h"
#include "text/files.h"
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace borvantel::convert {
namespace {

using testing::TempTree;
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

// ------------------------------------------------------------------ the commit

// Three files in two directories, each prepared as "new" beside its "old".
const std::vector<std::string> kFiles = {"base/scenery/a/x1.inc", "base/scenery/a/x2.inc", "base/scenery/b/y1.scn"};

std::string nameOf(const FileEntry& entry) { return "plik" + std::to_string(entry.index); }

void prepareAll(const TempTree& tree, Commit& commit) {
  for (size_t i = 0; i < kFiles.size(); ++i) {
    const std::string target = tree.path(kFiles[i]);
    const std::string dir = text::parentDirectory(target);
    auto file = std::make_unique<text::AtomicFile>(
        platform::Directory(dir + platform::kPathSeparator), target,
        text::ReplacedFile{text::statOf(target), text::statOf(dir).device}, &commit.log());
    file->write("new " + std::to_string(i));
    file->finish(false);
    const FileEntry entry{i < 2 ? ConversionPhase::IncludeFiles : ConversionPhase::SceneryFiles, i};
    const FileIdentity identity = identityOf(text::statOf(file->tempPath()));
    commit.add(PreparedFile{std::move(file), entry, identity, text::statOf(dir).device});
  }
}

// Where a commit can fail, in the order of its steps, and what each leaves:
// before the first rename nothing changed and nothing is left; after it the
// failure says which files were replaced, and those stay undoable.
TEST(Commit, EachStepFailingLeavesTheTreeWholeAndSaysWhatChanged) {
  enum class Left { Nothing, Some, All };
  const struct {
    const char* what;
    FlushMode flush;
    testing::FailingOs::Rule rule;
    Left left;
    std::vector<std::string> replaced;
  } steps[] = {
      {"the flush before the renames", FlushMode::PerFileSystem, {Call::Syncfs, EIO}, Left::Nothing, {}},
      {"keeping an original", FlushMode::PerFile, {Call::Link, EIO}, Left::Nothing, {}},
      {"a file system without links", FlushMode::PerFile, {Call::Link, EPERM}, Left::Nothing, {}},
      {"writing the undo set's manifest", FlushMode::PerFile, {Call::Write, ENOSPC, ".borvantel-undo.new"},
       Left::Nothing, {}},
      {"putting the journal's renames in place", FlushMode::PerFile, {Call::Rename, EIO, ".borvantel-journal"},
       Left::Nothing, {}},
      {"flushing the journal's directory", FlushMode::PerFile, {Call::Fsync, EIO, "base"}, Left::Nothing, {}},
      {"a rename", FlushMode::PerFile, {Call::Rename, EIO, "x2.inc"}, Left::Some, {"plik0", "plik2"}},
      {"every rename", FlushMode::PerFile, {Call::Rename, EIO, "scenery"}, Left::Nothing, {}},
      {"the flush after the renames", FlushMode::PerFileSystem, {Call::Syncfs, EIO, "", "", 1}, Left::All,
       {"plik0", "plik1", "plik2"}},
      {"the directories' flush after the renames", FlushMode::PerFile, {Call::Fsync, EIO, "scenery/b"}, Left::All,
       {"plik0", "plik1", "plik2"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    const TempTree tree;
    for (size_t i = 0; i < kFiles.size(); ++i) tree.write(kFiles[i], "old " + std::to_string(i));
    ConversionOptions options;
    options.flush = step.flush;
    options.threads = 1;
    testing::FailingOs os;
    os.fail(step.rule);
    try {
      platform::ScopedOs guard(os);
      Commit commit(tree.runPaths(), options, nameOf);
      prepareAll(tree, commit);
      commit.run();
      ADD_FAILURE() << "no failure reported";
    } catch (const IncompleteConversion& e) {
      EXPECT_NE(step.left, Left::Nothing) << e.what();
      EXPECT_EQ(e.replaced(), step.replaced);
    } catch (const UndoUnavailable& e) {
      // The user is asked whether to convert without an undo set.
      EXPECT_EQ(step.rule.err, EPERM) << e.what();
    } catch (const text::Failure& e) {
      EXPECT_EQ(step.left, Left::Nothing) << e.what();
      EXPECT_NE(std::string(e.what()).find("nie zmieniono żadnego pliku"), std::string::npos) << e.what();
    }
    EXPECT_GE(os.failures(), 1u);
    for (size_t i = 0; i < kFiles.size(); ++i) {
      const bool replaced = std::count(step.replaced.begin(), step.replaced.end(), "plik" + std::to_string(i)) != 0;
      EXPECT_EQ(tree.read(kFiles[i]), (replaced ? "new " : "old ") + std::to_string(i)) << kFiles[i];
    }
    const auto files = tree.allFiles();
    EXPECT_FALSE(std::any_of(files.begin(), files.end(), testing::isTemporaryFile)) << "a temporary file left";
    EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
    EXPECT_FALSE(tree.exists("base/.borvantel-undo.new"));
    // The files replaced, and only they, can be put back.
    std::vector<std::string> undoable;
    for (const std::string& name : step.replaced) undoable.push_back(tree.path(kFiles[name.back() - '0']));
    EXPECT_EQ(undoableFiles(tree.runPaths()), undoable);
  }
}

// Without a failure: every file in place, the undo set naming each with its
// phase, the journal gone; nothing prepared, nothing done.
TEST(Commit, PutsEveryFileInPlaceAndKeepsTheOriginals) {
  for (const bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "nothing prepared" : "three files");
    const TempTree tree;
    for (size_t i = 0; i < kFiles.size(); ++i) tree.write(kFiles[i], "old " + std::to_string(i));
    {
      Commit commit(tree.runPaths(), ConversionOptions{}, nameOf);
      EXPECT_TRUE(tree.exists("base/.borvantel-journal")) << "temporary files are noted from the start";
      if (!empty) prepareAll(tree, commit);
      commit.run();
    }
    for (size_t i = 0; i < kFiles.size(); ++i) {
      EXPECT_EQ(tree.read(kFiles[i]), (empty ? "old " : "new ") + std::to_string(i));
    }
    EXPECT_FALSE(tree.exists("base/.borvantel-journal"));
    if (empty) {
      EXPECT_FALSE(undoSetExists(tree.runPaths()));
      continue;
    }
    const std::optional<UndoCounts> counts = undoSetCounts(tree.runPaths());
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->includeFiles, 2u);
    EXPECT_EQ(counts->sceneryFiles, 1u);
    undoConversion(tree.runPaths());
    for (size_t i = 0; i < kFiles.size(); ++i) EXPECT_EQ(tree.read(kFiles[i]), "old " + std::to_string(i));
  }
}

}  // namespace
}  // namespace borvantel::convert
