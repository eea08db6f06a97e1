// Form3: the progress window of a conversion. It names the file being
// processed and has no logic of its own; ProgressWindow drives it from the
// conversion's events.
#pragma once

#include "run/run.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;

namespace borvantel::app {

class Form3 : public QWidget {
  Q_OBJECT

 public:
  Form3();
  // Label1: the file being processed.
  void setFileLabel(const QString& text);
  // The captions of an undo: the files are being put back.
  void showUndo();
  // The captions of a review being prepared, and Command1 ("Anuluj"),
  // which cancels it: the window grows by the button's row.
  void showReview();

 signals:
  void cancelRequested();

 private:
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* Command1;  // "Anuluj", in a review's preparation only
};

// The conversion's events as the progress window: created (hidden) with the
// label of a phase's first file, shown at that file, closed at the phase's
// end; pending window events run as the files go by, so that it repaints.
class ProgressWindow : public run::ConversionEvents {
 public:
  ProgressWindow();
  ~ProgressWindow() override;

  void phaseBegins(run::ConversionPhase phase, size_t files) override;
  void fileBegins(std::string_view label) override;
  void phaseEnds(run::ConversionPhase phase) noexcept override;

  // The window while a phase runs, else null.
  Form3* window() const noexcept { return form_.get(); }

 private:
  static constexpr qint64 kRepaintMs = 40;
  static constexpr qint64 kEventsMs = 10;
  std::unique_ptr<Form3> form_;
  bool firstFile_ = false;
  bool undo_ = false;
  QElapsedTimer shown_;      // since the label last changed
  QElapsedTimer eventsRan_;  // since pending events last ran
};

}  // namespace borvantel::app
