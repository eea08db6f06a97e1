// The review of the conversion's changes: on the demo it lists exactly what
// a dry run lists, each file's diff (prepared again, file by file) is what
// convert --diff writes for it, and its rows carry the right line numbers.
#include "run/review.h"
#include "run/run.h"
#include "support/temp_tree.h"
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace borvantel::run {
namespace {

using testing::TempTree;

// The demo copied to "base" and "prog", Start run, and every file given the
// demo's categories.
Run demoAssigned(const TempTree& t) {
  namespace fs = std::filesystem;
  fs::copy(fs::path(BORVANTEL_DEMO_DIR) / "trasa", fs::path(t.path("base")), fs::copy_options::recursive);
  fs::copy(fs::path(BORVANTEL_DEMO_DIR) / "program", fs::path(t.path("prog")), fs::copy_options::recursive);
  Run r(t.path("prog"), t.path("base"));
  r.start();
  r.selectCategory(r.categoryIndex("DRZEWA"));
  r.assignDirectory("drzewa\\");
  r.selectCategory(r.categoryIndex("TORY"));
  r.assignDirectory("linie\\");
  r.assignDirectory("linie\\stare\\");
  r.selectCategory(r.categoryIndex("BRAK_DEFINICJI"));
  while (!r.fileList().empty()) {
    r.selectFile(0);
    r.assignSelectedFile();
  }
  return r;
}

// convert --diff for reading, cut into the text of each file.
std::vector<std::string> diffPerFile(Run& r) {
  std::string all;
  DiffStyle style;
  style.forReading = true;
  ConversionEvents quiet;
  r.diff(quiet, style, [&](std::string_view chunk) { all.append(chunk); });
  std::vector<std::string> files;
  for (size_t at = 0; at < all.size();) {
    size_t next = all.find("\ndiff --git ", at);
    next = next == std::string::npos ? all.size() : next + 1;
    files.push_back(all.substr(at, next - at));
    at = next;
  }
  return files;
}

// The lines of a file, decoded, 1-based (index 0 unused).
std::vector<std::string> decodedLines(const std::string& bytes) {
  std::vector<std::string> lines{""};
  for (const std::string& line : testing::linesOf(bytes)) lines.push_back(text::decodeCp1250(line));
  return lines;
}

TEST(Review, OnTheDemoItListsWhatADryRunListsAndEachFilesDiffIsConvertDiffs) {
  const TempTree t;
  run::Run r = demoAssigned(t);
  ConversionEvents quiet;
  const ConversionResult dry = r.dryRun(quiet);
  ChangeReview review = r.review(quiet);

  std::vector<std::string> listed;
  for (const ReviewedFile& f : review.files()) listed.push_back(f.path);
  EXPECT_EQ(listed, dry.changedFiles);
  EXPECT_EQ(review.includeFiles(), dry.includeFiles);
  EXPECT_EQ(review.sceneryFiles(), dry.sceneryFiles);
  EXPECT_EQ(review.warnings(), warningLines(dry));

  const std::vector<std::string> diffs = diffPerFile(r);
  ASSERT_EQ(diffs.size(), review.files().size());
  size_t removed = 0, added = 0;
  for (size_t i = 0; i < diffs.size(); ++i) {
    SCOPED_TRACE(listed[i]);
    EXPECT_EQ(review.diffText(i), diffs[i]);
    for (const DiffRow& row : review.diffRowsOf(i)) {
      removed += row.kind == DiffRow::Kind::Removed;
      added += row.kind == DiffRow::Kind::Added;
    }
  }
  EXPECT_EQ(review.lines().removed, removed);
  EXPECT_EQ(review.lines().added, added);
  EXPECT_GT(added, 0u);
  EXPECT_EQ(review.summary(),
            "Do zmiany: pliki *.inc: 16, pliki sceneryjne: 7; wiersze usunięte: " + std::to_string(removed) +
                ", dodane: " + std::to_string(added) + ". Ostrzeżenia: 1.");
}

// Each row's number names the line it shows, in the file before the
// conversion and after it.
TEST(Review, RowsAreNumberedAsTheLinesOfBothSides) {
  const TempTree t;
  run::Run r = demoAssigned(t);
  ConversionEvents quiet;
  ChangeReview review = r.review(quiet);
  std::vector<std::vector<DiffRow>> rows;
  std::vector<std::string> paths;
  for (size_t i = 0; i < review.files().size(); ++i) {
    rows.push_back(review.diffRowsOf(i));
    std::string slashed = review.files()[i].path;
    for (char& c : slashed) c = c == '\\' ? '/' : c;
    paths.push_back(slashed);
  }
  std::vector<std::vector<std::string>> old;
  for (const std::string& p : paths) old.push_back(decodedLines(t.read("base/" + p)));
  r.convert(quiet);
  for (size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    const std::vector<std::string> now = decodedLines(t.read("base/" + paths[i]));
    size_t checked = 0;
    for (const DiffRow& row : rows[i]) {
      if (row.oldLine != 0) {
        ASSERT_LT(row.oldLine, old[i].size());
        EXPECT_EQ(row.text, old[i][row.oldLine]);
        ++checked;
      }
      if (row.newLine != 0) {
        ASSERT_LT(row.newLine, now.size());
        EXPECT_EQ(row.text, now[row.newLine]);
      }
    }
    EXPECT_GT(checked, 0u);
  }
}

TEST(Review, DiffRowsReadEveryKindOfLine) {
  const std::string diff =
      "diff --git a/x b/x\n--- a/x\n+++ b/x\n"
      "@@ -1,3 +1,4 @@\n+//$infotype: A\n a\n-b\n+c\n d\n"
      "@@ -9 +10 @@\n-y\n\\ No newline at end of file\n+z\r\n";
  using K = DiffRow::Kind;
  const std::vector<DiffRow> rows = diffRows(diff);
  const std::vector<std::tuple<K, size_t, size_t, std::string>> want = {
      {K::Hunk, 0, 0, "@@ -1,3 +1,4 @@"}, {K::Added, 0, 1, "//$infotype: A"}, {K::Context, 1, 2, "a"},
      {K::Removed, 2, 0, "b"},           {K::Added, 0, 3, "c"},               {K::Context, 3, 4, "d"},
      {K::Hunk, 0, 0, "@@ -9 +10 @@"},   {K::Removed, 9, 0, "y"},
      {K::NoNewline, 0, 0, "\\ No newline at end of file"},                  {K::Added, 0, 10, "z"},
  };
  ASSERT_EQ(rows.size(), want.size());
  for (size_t k = 0; k < rows.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(rows[k].kind, std::get<0>(want[k]));
    EXPECT_EQ(rows[k].oldLine, std::get<1>(want[k]));
    EXPECT_EQ(rows[k].newLine, std::get<2>(want[k]));
    EXPECT_EQ(rows[k].text, std::get<3>(want[k]));
  }
}

TEST(Review, EventsThatStopThePreparationChangeNothing) {
  const TempTree t;
  run::Run r = demoAssigned(t);
  const auto before = t.snapshot();
  struct Stopping : ConversionEvents {
    int files = 0;
    void fileBegins(std::string_view) override {
      if (++files == 3) throw Cancelled();
    }
  } stopping;
  EXPECT_THROW(r.review(stopping), Cancelled);
  EXPECT_EQ(stopping.files, 3);
  EXPECT_EQ(t.snapshot(), before);
  EXPECT_TRUE(r.controls().convert) << "the conversion is still offered";
}

}  // namespace
}  // namespace borvantel::run
