// Edge anchors for any window: its direct child controls keep their distances
// to the four edges of the client area as the window is resized, and a size
// that would crush or join them springs back (preview::AnchoredLayout, which
// does all the arithmetic in twips). Create it once the window has its
// controls and before it is shown; it lives as the window's child.
#pragma once

#include "preview/anchored_layout.h"

#include "app/design.h"

#include <QList>
#include <QObject>

class QWidget;

namespace borvantel::app {

class EdgeAnchors : public QObject, private preview::AnchoredWindow {
  Q_OBJECT

 public:
  explicit EdgeAnchors(QWidget* window);

  const preview::AnchoredLayout& layout() const noexcept { return layout_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  float clientWidth() const override;
  float clientHeight() const override;
  float outerWidth() const override;
  float outerHeight() const override;
  bool minimised() const override;
  size_t controlCount() const override;
  preview::Box control(size_t index) const override;
  void setControl(size_t index, const preview::Box& box) override;
  void setOuterWidth(float width) override;
  void setOuterHeight(float height) override;

  QWidget* window_;
  QList<QWidget*> controls_;
  Twips twips_;
  preview::AnchoredLayout layout_;  // recorded last, from the members above
};

}  // namespace borvantel::app
