// Undo: the originals put back, and what a failure or a changed file leaves.
#include "convert/conversion.h"
#include "convert/undo.h"
#include "support/conversion_trees.h"
#include "support/temp_tree.h"
#include "platform/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>
#include <vector>

namespace borvantel::convert {
namespace {

using testing::TempTree;
using Call = testing::FailingOs::Call;

// The example tree, with its program directory; convertTree() converts it.
class Undo : public ::testing::Test {
 protected:
  // Lays out the tree at `base`, keeps it in `before` and converts it.
  text::RunPaths convertTree(const std::string& base = "base") {
    prepareTree(tree, base);
    before = tree.snapshot();
    const text::RunPaths paths = text::RunPaths::make(tree.path("prog"), tree.path(base));
    ConversionEvents progress;
    EXPECT_EQ(runConversion(paths, progress).changedFiles, kChanged);
    return paths;
  }

  const TempTree tree;
  std::map<std::string, std::string> before;
};

TEST_F(Undo, ARenameFailingPartWayLeavesExactlyTheFilesNotYetPutBackUndoable) {
  convertTree();
  const auto converted = tree.snapshot();
  ASSERT_EQ(undoableFiles(tree.runPaths()).size(), kChanged.size());

  // The third of the four originals cannot be put back.
  testing::FailingOs os;
  os.fail({Call::Rename, EIO, "tory/stacja.scn"});
  try {
    platform::ScopedOs guard(os);
    undoConversion(tree.runPaths());
    ADD_FAILURE() << "no failure reported";
  } catch (const text::Failure& e) {
    EXPECT_NE(std::string(e.what()).find("stacja.scn"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("2 z 4"), std::string::npos) << e.what();
  }
  EXPECT_EQ(tree.read("base/scenery/obiekty/plot.inc"), before.at("base/scenery/obiekty/plot.inc"));
  EXPECT_EQ(tree.read("base/scenery/tory/most1.inc"), kMost);
  EXPECT_EQ(tree.read("base/scenery/tory/stacja.scn"), kStacjaDone);
  EXPECT_EQ(tree.read("base/scenery/main.scn"), converted.at("base/scenery/main.scn"));
  EXPECT_EQ(undoableFiles(tree.runPaths()),
            (std::vector<std::string>{tree.path("base/scenery/tory/stacja.scn"), tree.path("base/scenery/main.scn")}));
  EXPECT_FALSE(tree.exists("base/.borvantel-journal"));

  // A second undo puts back the rest.
  EXPECT_EQ(undoConversion(tree.runPaths()).restoredFiles.size(), 2u);
  EXPECT_EQ(testing::withoutUndoSet(tree.snapshot()), testing::withoutUndoSet(before));
  EXPECT_TRUE(undoableFiles(tree.runPaths()).empty());
}

// An undo set kept before the manifest named each file's phase is still put
// back; the phase is then told by the file's name.
TEST_F(Undo, ASetKeptByTheFirstManifestVersionIsStillPutBack) {
  convertTree();
  // The same manifest as the first version wrote it: no phase field.
  const std::string manifest = ".borvantel-undo/manifest";
  const std::string now = tree.read("base/" + manifest);
  const std::string header = "borvantel undo 2\n";
  ASSERT_TRUE(now.starts_with(header));
  std::string old = "borvantel undo 1\n";
  size_t at = header.size();
  for (size_t field = 0;; ++field) {
    const size_t end = now.find('\0', at);
    if (end == std::string::npos) break;
    if (field % 4 != 3) old += now.substr(at, end + 1 - at);
    at = end + 1;
  }
  old += now.substr(at);  // the trailer
  tree.write("base/" + manifest, old);

  const UndoResult result = undoConversion(tree.runPaths());
  EXPECT_EQ(result.restoredFiles.size(), kChanged.size());
  EXPECT_EQ(result.includeFiles + result.sceneryFiles, kChanged.size());
  EXPECT_EQ(testing::withoutUndoSet(tree.snapshot()), testing::withoutUndoSet(before));
}

// Undo makes its renames durable, by a flush after the last of them; a flush
// that fails there is a failure, not a success (the files are put back, but
// a power cut could still lose that).
class UndoFlush : public Undo, public ::testing::WithParamInterface<bool> {};

TEST_P(UndoFlush, ComesAfterTheRenamesAndWhenItFailsIsNoSuccess) {
  const bool failing = GetParam();
  convertTree();
  RecordingOs os;
  if (failing) os.fail({Call::Syncfs, EIO});
  try {
    platform::ScopedOs guard(os);
    undoConversion(tree.runPaths());
    EXPECT_FALSE(failing) << "no failure reported";
  } catch (const text::Failure& e) {
    EXPECT_TRUE(failing) << e.what();
    EXPECT_NE(std::string(e.what()).find(tree.path("base")), std::string::npos) << e.what();
  }
  const auto lastRename = std::find(os.log.rbegin(), os.log.rend(), "rename").base();
  ASSERT_NE(lastRename, os.log.begin()) << "nothing put back";
  EXPECT_EQ(std::count(lastRename, os.log.end(), "syncfs"), 1);
  for (const std::string& file : kChanged) {
    std::string slashed = "base/" + file;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    EXPECT_EQ(tree.read(slashed), before.at(slashed));
  }
}

INSTANTIATE_TEST_SUITE_P(Flush, UndoFlush, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& flush) { return flush.param ? "Failing" : "Succeeding"; });

// The lists the conversion keeps end in "END" and their count: a base
// directory whose path holds that text too is still converted and undone.
TEST_F(Undo, ABaseDirectoryNamedLikeTheListsTrailerIsConvertedAndUndone) {
  const std::string base = "THE END 1/trasa";
  const text::RunPaths paths = convertTree(base);
  EXPECT_EQ(tree.read(base + "/scenery/tory/most1.inc"), kMostDone);
  EXPECT_EQ(undoableFiles(paths).size(), kChanged.size());
  EXPECT_EQ(undoConversion(paths).restoredFiles.size(), kChanged.size());
  EXPECT_EQ(testing::withoutUndoSet(tree.snapshot()), testing::withoutUndoSet(before));
}

}  // namespace
}  // namespace borvantel::convert
