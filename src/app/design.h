// The design's units and font: geometry in twips, and the 8.25-point MS Sans
// Serif of the original forms, or where it is missing a font of its width.
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace borvantel::app {

QFont designFont();

// Converts design geometry for `widget`'s screen (15 twips per pixel at 96 DPI).
class Twips {
 public:
  explicit Twips(const QWidget* widget);
  int toPixels(int twips) const;
  QRect toPixels(int left, int top, int width, int height) const;
  float fromPixels(int pixels) const;
  int pixelsFrom(float twips) const;

 private:
  qreal dpi_;
};

}  // namespace borvantel::app
