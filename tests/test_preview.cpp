// The preview without a window: the text of a file's first lines, and the
// edge-anchored layout driven through a window that exists only in the test.
#include "preview/anchored_layout.h"
#include "preview/preview_text.h"
#include "support/failures.h"
#include "support/temp_tree.h"
#include "text/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

namespace borvantel::preview {
namespace {

using testing::FailingOs, testing::TempTree, testing::failureOf;

// ---------------------------------------------------------------------------
// The text

TEST(PreviewText, ShowsTheFirstLinesJoinedByCrLf) {
  std::string many;
  for (int i = 1; i <= 1000; ++i) many += "linia " + std::to_string(i) + "\r\n";
  std::string first400;
  for (int i = 1; i <= 400; ++i) first400 += (i > 1 ? "\r\n" : "") + std::string("linia ") + std::to_string(i);
  const struct {
    std::string content;
    std::string shown;
    const char* why;
  } rows[] = {
      {"jedna", "jedna", "one line without a line end"},
      {"jedna\r\n", "jedna", "a final line end does not begin another line"},
      {"a\r\nb\rc\nd", "a\r\nb\r\nc\r\nd", "CR LF, a lone CR and a lone LF all end a line"},
      {"a\r\n\r\nb\r\n", "a\r\n\r\nb", "an empty line inside stays"},
      {"a\r\n\r\n", "a\r\n", "a final empty line leaves the separator before it"},
      {"\xB1\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\r\n", "\xB1\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF", "Windows-1250 bytes untouched"},
      {"\r\n", "", "one empty line"},
      {many, first400, "exactly the first 400 lines, nothing marks the cut"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    TempTree t;
    t.write("a.inc", row.content);
    EXPECT_EQ(previewText(t.path("a.inc")), row.shown);
  }
}

TEST(PreviewText, AnEmptyMissingOrUnreadableFileIsReportedWithItsName) {
  TempTree t;
  t.write("pusty.inc", "x");  // shorter than 2 bytes: no lines
  t.write("zly.inc", "a\r\nb\r\n");
  const struct {
    std::string file;
    std::function<void(FailingOs&)> arrange;
    const char* says;
    const char* why;
  } rows[] = {
      {"pusty.inc", [](FailingOs&) {}, "pusty", "a file that has become empty"},
      {"brak.inc", [](FailingOs&) {}, "nie istnieje", "a file deleted since the scan"},
      {"zly.inc", [](FailingOs& os) { os.fail({FailingOs::Call::Read, EIO, "zly.inc"}); }, "wejścia-wyjścia",
       "a read that fails"},
      {"zly.inc", [](FailingOs& os) { os.fail({FailingOs::Call::Open, EACCES, "zly.inc"}); }, "uprawnień",
       "a file that may not be opened"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    FailingOs os;
    row.arrange(os);
    const std::string message = failureOf(os, [&] { previewText(t.path(row.file)); });
    EXPECT_NE(message.find(t.path(row.file)), std::string::npos) << message;
    EXPECT_NE(message.find(row.says), std::string::npos) << message;
  }
}

// Counts the bytes read, to see where reading stops.
struct CountingOs : FailingOs {
  size_t bytes = 0;
  ssize_t read(int fd, void* buf, size_t n) override {
    const ssize_t got = FailingOs::read(fd, buf, n);
    if (got > 0) bytes += static_cast<size_t>(got);
    return got;
  }
};

TEST(PreviewText, ReadingStopsAtTheLastLineShownOrAtTheCap) {
  TempTree t;
  std::string big;
  for (int i = 0; i < 200000; ++i) big += "node -1 0 a model 0 0 0 0 a.obj none\r\n";  // 7.6 MB
  t.write("duzy.inc", big);
  CountingOs os;
  {
    platform::ScopedOs guard(os);
    EXPECT_EQ(previewText(t.path("duzy.inc")).size(), 400 * 38 - 2);
  }
  EXPECT_LE(os.bytes, size_t{64 * 1024});

  // One line without an end, longer than the cap: its beginning.
  t.write("linia.inc", std::string(5000, 'x'));
  EXPECT_EQ(previewText(t.path("linia.inc"), 400, 1000), std::string(1000, 'x'));
  // A CR LF split by the cap still ends the line before it, and only that.
  t.write("cr.inc", "ab\r\ncd");
  EXPECT_EQ(previewText(t.path("cr.inc"), 400, 3), "ab");
}

TEST(PreviewText, ACrLfSplitBetweenTwoReadsEndsOneLine) {
  // Lines 1 to 399 fill the first read of 64 KiB, the CR that ends line 399
  // being its last byte and the LF the first of the next read. Line 400 is
  // longer than a read, so it is whole only when line 399 counts once.
  std::string text;
  for (int i = 1; i < 399; ++i) text += "node " + std::to_string(i) + "\r\n";
  text += std::string(64 * 1024 - 1 - text.size(), 'y') + "\r\n";
  ASSERT_EQ(text[64 * 1024 - 1], '\r');
  const std::string line400(100000, 'w');
  text += line400 + "\r\nline 401\r\n";
  TempTree t;
  t.write("granica.inc", text);
  const std::string shown = previewText(t.path("granica.inc"));
  const size_t last = shown.rfind("\r\n");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(shown.substr(last + 2), line400);
  EXPECT_EQ(shown, text.substr(0, text.size() - std::string("\r\nline 401\r\n").size()));
}

// ---------------------------------------------------------------------------
// The edge-anchored layout

// A window in twips whose outer size is its client size plus a fixed frame.
class FakeWindow : public AnchoredWindow {
 public:
  static constexpr float kFrameWidth = 120;
  static constexpr float kFrameHeight = 450;

  FakeWindow(float width, float height, std::vector<Box> controls)
      : width_(width), height_(height), controls_(std::move(controls)) {}

  float clientWidth() const override { return width_; }
  float clientHeight() const override { return height_; }
  float outerWidth() const override { return width_ + kFrameWidth; }
  float outerHeight() const override { return height_ + kFrameHeight; }
  bool minimised() const override { return minimised_; }
  size_t controlCount() const override { return controls_.size(); }
  Box control(size_t index) const override { return controls_[index]; }
  void setControl(size_t index, const Box& box) override { controls_[index] = box; }
  // Like a real window, sizing reports a size change at once.
  void setOuterWidth(float width) override {
    log.push_back("width " + std::to_string(static_cast<int>(width)));
    if (minimised_) return;
    width_ = width - kFrameWidth;
    if (layout) layout->sizeChanged();
  }
  void setOuterHeight(float height) override {
    log.push_back("height " + std::to_string(static_cast<int>(height)));
    if (minimised_) return;
    height_ = height - kFrameHeight;
    if (layout) layout->sizeChanged();
  }

  // The user drags the window to a client size of width x height.
  void drag(float width, float height) {
    width_ = width;
    height_ = height;
    layout->sizeChanged();
  }

  AnchoredLayout* layout = nullptr;
  std::vector<std::string> log;
  bool minimised_ = false;
  float width_;
  float height_;
  std::vector<Box> controls_;
};

// The preview window at its design: client 10725 x 6840, the text box at
// 120, 120, 10575 x 6615.
FakeWindow form2() { return FakeWindow(10725, 6840, {{120, 120, 10575, 6615}}); }

// The preview window with its layout attached, as the window has it.
class AnchoredForm2 : public ::testing::Test {
 protected:
  AnchoredForm2() { w.layout = &layout; }

  FakeWindow w = form2();
  AnchoredLayout layout{w};
};

TEST(AnchoredLayout, RecordsTheDistancesToTheFourEdgesAtLoad) {
  FakeWindow w = form2();
  const AnchoredLayout layout(w);
  ASSERT_EQ(layout.margins().size(), 1u);
  const Margins m = layout.margins()[0];
  EXPECT_EQ(m.left, 120);
  EXPECT_EQ(m.right, 30);
  EXPECT_EQ(m.top, 120);
  EXPECT_EQ(m.bottom, 105);
  EXPECT_EQ(layout.lastWidth(), 10725 + FakeWindow::kFrameWidth);
  EXPECT_EQ(layout.lastHeight(), 6840 + FakeWindow::kFrameHeight);
  EXPECT_FALSE(layout.restoring());
}

TEST_F(AnchoredForm2, TheTextBoxFollowsEveryEdgeAndASizeThatCrushesItIsRefused) {
  const struct {
    float width, height;
    bool accepted;
    const char* why;
  } rows[] = {
      {10725, 6840, true, "the design size, at the first display"},
      {20000, 9000, true, "larger"},
      {165, 240, true, "just wider than 150 and taller than 225"},
      {150, 6000, false, "a width of exactly 150 leaves the box no width"},
      {5000, 225, false, "a height of exactly 225 leaves the box no height"},
      {0, 0, false, "no client area"},
      {14000, 7000, true, "a size after a refusal"},
  };
  float lastWidth = 10725;
  float lastHeight = 6840;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    w.drag(row.width, row.height);
    if (row.accepted) {
      lastWidth = row.width;
      lastHeight = row.height;
    }
    // Refused: back to the last accepted size, the box as it was there.
    EXPECT_EQ(w.clientWidth(), lastWidth);
    EXPECT_EQ(w.clientHeight(), lastHeight);
    const Box box = w.controls_[0];
    EXPECT_EQ(box.left, 120);
    EXPECT_EQ(box.top, 120);
    EXPECT_EQ(box.width, lastWidth - 150);
    EXPECT_EQ(box.height, lastHeight - 225);
    EXPECT_EQ(layout.lastWidth(), lastWidth + FakeWindow::kFrameWidth);
    EXPECT_EQ(layout.lastHeight(), lastHeight + FakeWindow::kFrameHeight);
    EXPECT_FALSE(layout.restoring());
  }
}

TEST_F(AnchoredForm2, ARefusalPutsWidthThenHeightBackAndIgnoresTheSizeChangesItCauses) {
  w.drag(12000, 8000);
  w.log.clear();
  w.drag(100, 100);
  EXPECT_EQ(w.log, (std::vector<std::string>{"width 12120", "height 8450"}));
  EXPECT_EQ(w.clientWidth(), 12000);
  EXPECT_EQ(w.clientHeight(), 8000);
  // While the width is back and the height not yet, the size (12000 x 100)
  // would be refused again; it is ignored instead, so the height is set once.
  EXPECT_EQ(w.log.size(), 2u);
}

TEST_F(AnchoredForm2, AMinimisedWindowChangesNothingAndItsRestoreIsAccepted) {
  w.drag(12000, 8000);
  w.log.clear();
  w.minimised_ = true;
  w.drag(0, 0);
  EXPECT_TRUE(w.log.empty());
  EXPECT_EQ(w.controls_[0].width, 12000 - 150);
  EXPECT_EQ(layout.lastWidth(), 12000 + FakeWindow::kFrameWidth);
  w.minimised_ = false;
  w.drag(30000, 20000);  // maximised: accepted like any size that fits
  EXPECT_EQ(w.controls_[0].width, 30000 - 150);
  EXPECT_EQ(layout.lastWidth(), 30000 + FakeWindow::kFrameWidth);
}

TEST(AnchoredLayout, ControlsThatWouldMeetOrOverlapRefuseTheSize) {
  // Two boxes over the same rows in a client of 10000 x 5000; the left one
  // ends at 4000 + gap before the right one begins.
  auto pair = [](float gap) {
    return std::vector<Box>{{100, 100, 3900, 2000}, {4000 + gap, 100, 5900 - gap, 2000}};
  };
  const struct {
    std::vector<Box> boxes;
    float width, height;
    bool accepted;
    const char* why;
  } rows[] = {
      {pair(0), 10000, 5000, false, "edges that coincide meet, even at the size they were made"},
      {pair(1), 10000, 5000, true, "a gap of one twip"},
      {pair(500), 10499, 5000, true, "stretched until one twip short of the other"},
      {pair(500), 10500, 5000, false, "the first width at which the left box reaches the right one"},
      {{{100, 100, 1000, 1000}, {1100, 1100, 1000, 1000}}, 10000, 5000, false, "corners that touch"},
      {{{100, 100, 1000, 1000}, {1101, 1100, 1000, 1000}}, 10000, 5000, true, "corners one twip apart"},
      {{{100, 100, 1000, 1000}, {100, 3000, 1000, 1000}}, 10000, 5000, true, "one above the other"},
      {{{100, 100, 4000, 4000}, {1000, 1000, 500, 500}}, 10000, 5000, false, "one inside the other"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    FakeWindow w(10000, 5000, row.boxes);
    const AnchoredLayout layout(w);
    EXPECT_TRUE(layout.fits(row.width, row.height));
    EXPECT_EQ(layout.separated(row.width, row.height), row.accepted);
  }
}

TEST_F(AnchoredForm2, ARefusedSizeBeforeAnyAcceptedOneGoesBackToTheSizeAtLoad) {
  w.drag(100, 100);
  EXPECT_EQ(w.clientWidth(), 10725);
  EXPECT_EQ(w.clientHeight(), 6840);
  EXPECT_EQ(w.controls_[0].width, 10575);  // untouched
}

}  // namespace
}  // namespace borvantel::preview
