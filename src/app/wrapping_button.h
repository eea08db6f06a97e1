// A command button whose caption breaks into lines when it is wider than the
// button, as the captions of the main window's fixed-size buttons must. The
// text itself stays exactly the caption, for the accessibility interface.
#pragma once

#include <QPushButton>

namespace borvantel::app {

class WrappingButton : public QPushButton {
  Q_OBJECT

 public:
  WrappingButton(const QString& caption, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace borvantel::app
