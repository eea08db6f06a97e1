#include "preview/anchored_layout.h"

namespace borvantel::preview {
namespace {

// Whether two spans [aStart, aEnd] and [bStart, bEnd] are apart. Strict: a
// span that ends where the other starts meets it.
bool apart(float aStart, float aEnd, float bStart, float bEnd) { return bStart > aEnd || aStart > bEnd; }

}  // namespace

AnchoredLayout::AnchoredLayout(AnchoredWindow& window) : window_(window) {
  lastWidth_ = window_.outerWidth();
  lastHeight_ = window_.outerHeight();
  const float w = window_.clientWidth();
  const float h = window_.clientHeight();
  margins_.reserve(window_.controlCount());
  for (size_t i = 0; i < window_.controlCount(); ++i) {
    const Box b = window_.control(i);
    margins_.push_back({b.left, w - b.left - b.width, b.top, h - b.top - b.height});
  }
}

bool AnchoredLayout::fits(float clientWidth, float clientHeight) const {
  for (const Margins& m : margins_) {
    const float width = clientWidth - m.left - m.right;
    const float height = clientHeight - m.top - m.bottom;
    if (!(width > 0 && height > 0)) return false;
  }
  return true;
}

bool AnchoredLayout::separated(float clientWidth, float clientHeight) const {
  // Every pair once: the windows this serves hold a handful of controls.
  for (size_t i = 0; i + 1 < margins_.size(); ++i) {
    const Margins& a = margins_[i];
    for (size_t j = i + 1; j < margins_.size(); ++j) {
      const Margins& b = margins_[j];
      int separations = 0;
      if (apart(a.left, clientWidth - a.right, b.left, clientWidth - b.right)) ++separations;
      if (apart(a.top, clientHeight - a.bottom, b.top, clientHeight - b.bottom)) ++separations;
      if (separations == 0) return false;
    }
  }
  return true;
}

Box AnchoredLayout::boxFor(size_t index, float clientWidth, float clientHeight) const {
  const Margins& m = margins_[index];
  return {m.left, m.top, clientWidth - m.left - m.right, clientHeight - m.top - m.bottom};
}

void AnchoredLayout::sizeChanged() {
  if (restoring_) return;
  // A minimised window has no client area and cannot be sized: nothing changes.
  if (window_.minimised()) return;
  const float w = window_.clientWidth();
  const float h = window_.clientHeight();
  if (!fits(w, h) || !separated(w, h)) {
    restoring_ = true;
    restoreSize();
    return;
  }
  for (size_t i = 0; i < margins_.size(); ++i) window_.setControl(i, boxFor(i, w, h));
  lastWidth_ = window_.outerWidth();
  lastHeight_ = window_.outerHeight();
}

void AnchoredLayout::restoreSize() {
  window_.setOuterWidth(lastWidth_);
  window_.setOuterHeight(lastHeight_);
  restoring_ = false;
}

}  // namespace borvantel::preview
