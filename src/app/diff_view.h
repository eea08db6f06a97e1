// The diff of one file as the review shows it: a read-only text of rows,
// each with the line numbers of both sides and its mark ("-", "+" or a
// space), removed and added rows also on a band of their own colour, so that
// they stay apart for a reader who cannot tell red from green. The text is
// plain, so that screen readers read it as it stands.
#pragma once

#include "run/review.h"

#include <QPlainTextEdit>

#include <cstdint>
#include <vector>

namespace borvantel::app {

class DiffView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit DiffView(QWidget* parent);

  // Shows `rows` from their top.
  void showRows(const std::vector<run::DiffRow>& rows);
  // Moves to the next (or previous) hunk; false when there is none.
  bool nextHunk();
  bool previousHunk();
  // The row the cursor stands in.
  int currentRow() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool moveToHunk(int step);
  std::vector<run::DiffRow::Kind> kinds_;  // of each row, as its block number
};

}  // namespace borvantel::app
