#include "app/design.h"

#include <QWidget>
#include <QtMath>

namespace borvantel::app {

QFont designFont() {
  static const bool substituted = [] {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed")});
    return true;
  }();
  (void)substituted;
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8.25);
  return font;
}

Twips::Twips(const QWidget* widget) : dpi_(widget ? widget->logicalDpiX() : 96) {
  if (dpi_ <= 0) dpi_ = 96;
}

int Twips::toPixels(int twips) const { return qRound(twips * dpi_ / 1440.0); }

QRect Twips::toPixels(int left, int top, int width, int height) const {
  return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

float Twips::fromPixels(int pixels) const { return static_cast<float>(pixels * 1440.0 / dpi_); }

int Twips::pixelsFrom(float twips) const { return qRound(twips * dpi_ / 1440.0); }

}  // namespace borvantel::app
