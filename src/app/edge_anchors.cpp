#include "app/edge_anchors.h"

#include <QEvent>
#include <QWidget>

namespace borvantel::app {

EdgeAnchors::EdgeAnchors(QWidget* window)
    : QObject(window),
      window_(window),
      controls_(window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)),
      twips_(window),
      layout_(*this) {
  window_->installEventFilter(this);
}

bool EdgeAnchors::eventFilter(QObject* watched, QEvent* event) {
  // A move, too: the window's frame becomes known only once it is on the
  // screen, and the outer size to go back to includes it. Laying out again
  // at an accepted size changes nothing else.
  if (watched == window_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
    layout_.sizeChanged();
  }
  return false;
}

float EdgeAnchors::clientWidth() const { return twips_.fromPixels(window_->width()); }
float EdgeAnchors::clientHeight() const { return twips_.fromPixels(window_->height()); }
float EdgeAnchors::outerWidth() const { return twips_.fromPixels(window_->frameGeometry().width()); }
float EdgeAnchors::outerHeight() const { return twips_.fromPixels(window_->frameGeometry().height()); }
bool EdgeAnchors::minimised() const { return window_->isMinimized(); }
size_t EdgeAnchors::controlCount() const { return static_cast<size_t>(controls_.size()); }

preview::Box EdgeAnchors::control(size_t index) const {
  const QRect r = controls_[static_cast<qsizetype>(index)]->geometry();
  return {twips_.fromPixels(r.x()), twips_.fromPixels(r.y()), twips_.fromPixels(r.width()),
          twips_.fromPixels(r.height())};
}

void EdgeAnchors::setControl(size_t index, const preview::Box& box) {
  controls_[static_cast<qsizetype>(index)]->setGeometry(twips_.pixelsFrom(box.left), twips_.pixelsFrom(box.top),
                                                        twips_.pixelsFrom(box.width), twips_.pixelsFrom(box.height));
}

// The outer size less the frame is the size Qt sets.
void EdgeAnchors::setOuterWidth(float width) {
  const int frame = window_->frameGeometry().width() - window_->width();
  window_->resize(twips_.pixelsFrom(width) - frame, window_->height());
}

void EdgeAnchors::setOuterHeight(float height) {
  const int frame = window_->frameGeometry().height() - window_->height();
  window_->resize(window_->width(), twips_.pixelsFrom(height) - frame);
}

}  // namespace borvantel::app
