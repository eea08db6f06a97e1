// Edge-anchored layout: when a window's size changes, every control keeps the
// distances it had at load to all four edges of the client area, so it
// stretches or shrinks with the window and never moves. A size at which a
// control would have no width or height, or at which two controls would meet
// or overlap, is refused: the window goes back to the last accepted size.
//
// All arithmetic is in twips, in 32-bit floats, and knows no window toolkit:
// the window is reached through AnchoredWindow.
#pragma once

#include <cstddef>
#include <vector>

namespace borvantel::preview {

struct Box {
  float left = 0;
  float top = 0;
  float width = 0;
  float height = 0;
};

// One row of margins(): the control's distances to the client area's edges.
struct Margins {
  float left = 0;    // column 0
  float right = 0;   // column 1: client width - left - width
  float top = 0;     // column 2
  float bottom = 0;  // column 3: client height - top - height
};

// What the layout needs of a window; sizes in twips.
class AnchoredWindow {
 public:
  virtual ~AnchoredWindow() = default;
  virtual float clientWidth() const = 0;
  virtual float clientHeight() const = 0;
  virtual float outerWidth() const = 0;   // frame and title bar included
  virtual float outerHeight() const = 0;
  virtual bool minimised() const = 0;
  // The window's controls in creation order.
  virtual size_t controlCount() const = 0;
  virtual Box control(size_t index) const = 0;
  virtual void setControl(size_t index, const Box& box) = 0;
  // May report a size change of their own, at once or later.
  virtual void setOuterWidth(float width) = 0;
  virtual void setOuterHeight(float height) = 0;
};

class AnchoredLayout {
 public:
  // The recording at load: the window has its controls and is not shown yet.
  explicit AnchoredLayout(AnchoredWindow& window);

  // The size-change handling: lays the controls out for the window's client
  // size, or puts the window back to the last accepted size.
  void sizeChanged();

  // The tests of the handling, for a client size W x H.
  bool fits(float clientWidth, float clientHeight) const;
  bool separated(float clientWidth, float clientHeight) const;
  Box boxFor(size_t index, float clientWidth, float clientHeight) const;

  // One row per control, recorded at load.
  const std::vector<Margins>& margins() const noexcept { return margins_; }
  // The outer size last accepted (at first, the size at load): what a refused
  // size goes back to.
  float lastWidth() const noexcept { return lastWidth_; }
  float lastHeight() const noexcept { return lastHeight_; }
  // True only while the size is being put back: the size changes that causes
  // are not handled again.
  bool restoring() const noexcept { return restoring_; }

 private:
  void restoreSize();

  AnchoredWindow& window_;
  std::vector<Margins> margins_;
  float lastWidth_ = 0;
  float lastHeight_ = 0;
  bool restoring_ = false;
};

}  // namespace borvantel::preview
