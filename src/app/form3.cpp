#include "app/form3.h"

#include "app/design.h"
#include "app/qt_text.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

namespace borvantel::app {

// A caption without buttons and, on Windows, a frame without sizing borders:
// the window comes and goes with the conversion.
Form3::Form3()
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("Form3");
  setWindowTitle(QString::fromUtf8("Przerabianie plików: czekaj"));
  setFont(designFont());
  const Twips twips(this);
  setFixedSize(twips.toPixels(6840), twips.toPixels(2070));
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::ToolTipBase));
  colours.setColor(QPalette::WindowText, colours.color(QPalette::ToolTipText));
  setPalette(colours);
  setAutoFillBackground(true);

  Label2 = new QLabel(QString::fromUtf8("Przerabiam plik:"), this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(twips.toPixels(1800, 120, 2775, 495));
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setGeometry(twips.toPixels(240, 960, 5895, 615));
  Label1->setWordWrap(true);
  Label1->setTextFormat(Qt::PlainText);
  Label1->setAccessibleDescription(Label2->text());
  Command1 = new QPushButton(QString::fromUtf8("Anuluj"), this);
  Command1->setObjectName("Command1");
  Command1->setGeometry(twips.toPixels(2760, 1800, 1215, 375));
  Command1->hide();
  connect(Command1, &QPushButton::clicked, this, &Form3::cancelRequested);
}

void Form3::showReview() {
  setWindowTitle(QString::fromUtf8("Przygotowanie podglądu zmian: czekaj"));
  Label2->setText(QString::fromUtf8("Czytam plik:"));
  Label1->setAccessibleDescription(Label2->text());
  const Twips twips(this);
  setFixedSize(twips.toPixels(6840), twips.toPixels(2400));
  Command1->show();
  Command1->setFocus();
}

void Form3::setFileLabel(const QString& text) { Label1->setText(text); }

void Form3::showUndo() {
  setWindowTitle(QString::fromUtf8("Przywracanie plików: czekaj"));
  Label2->setText(QString::fromUtf8("Przywracam plik:"));
  Label1->setAccessibleDescription(Label2->text());
}

ProgressWindow::ProgressWindow() = default;
ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::phaseBegins(run::ConversionPhase phase, size_t) {
  firstFile_ = true;
  undo_ = phase == run::ConversionPhase::Undo;
}

void ProgressWindow::fileBegins(std::string_view label) {
  if (!form_) {
    form_ = std::make_unique<Form3>();
    if (undo_) form_->showUndo();
  }
  // Painting the label costs far more than a small file's conversion: the
  // label follows the files at the display's pace.
  const bool relabel = firstFile_ || !shown_.isValid() || shown_.elapsed() >= kRepaintMs;
  if (relabel) {
    form_->setFileLabel(fromFileName(label));
    shown_.start();
  }
  if (firstFile_) {
    firstFile_ = false;
    form_->show();
  }
  // The same for the window's events: running them costs more than a small
  // file too, and this thread also converts files. They run whenever the
  // label changed, and otherwise often enough that the window stays alive.
  if (relabel || !eventsRan_.isValid() || eventsRan_.elapsed() >= kEventsMs) {
    QApplication::processEvents();
    eventsRan_.start();
  }
}

void ProgressWindow::phaseEnds(run::ConversionPhase) noexcept { form_.reset(); }

}  // namespace borvantel::app
