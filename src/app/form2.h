// Form2: the preview of an include file, modal, created afresh for each
// preview at its design size. Its text box follows every edge of the window
// (EdgeAnchors); what the user types in it is never read back.
#pragma once

#include <QDialog>

class QPlainTextEdit;

namespace borvantel::app {

class EdgeAnchors;

class Form2 : public QDialog {
  Q_OBJECT

 public:
  explicit Form2(QWidget* parent);
  // The file's lines, joined by CR LF, already decoded.
  void setText(const QString& text);
  const EdgeAnchors& anchors() const noexcept { return *anchors_; }

 private:
  QPlainTextEdit* Text1;
  EdgeAnchors* anchors_;
};

}  // namespace borvantel::app
