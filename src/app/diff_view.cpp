#include "app/diff_view.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>

namespace borvantel::app {
namespace {

using Kind = run::DiffRow::Kind;

// The row's mark, as the diff writes it.
QChar markOf(Kind kind) {
  switch (kind) {
    case Kind::Removed: return '-';
    case Kind::Added: return '+';
    default: return ' ';
  }
}

// A line number in a column of its own; blank where the side has none.
void appendNumber(QString& out, size_t number) {
  const QString digits = number == 0 ? QString() : QString::number(number);
  out += QString(6 - std::min<qsizetype>(6, digits.size()), ' ');
  out += digits;
  out += ' ';
}

// The band behind a row: light enough for the text on it to stay as
// readable as on the page.
QColor bandOf(Kind kind, const QColor& base) {
  const QColor tint = kind == Kind::Removed ? QColor(255, 128, 128)
                      : kind == Kind::Added ? QColor(96, 200, 120)
                                            : QColor(110, 170, 235);
  const int weight = base.lightness() > 127 ? 22 : 35;  // percent of the tint
  const auto mix = [weight](int from, int to) { return from + (to - from) * weight / 100; };
  return QColor(mix(base.red(), tint.red()), mix(base.green(), tint.green()), mix(base.blue(), tint.blue()));
}

}  // namespace

DiffView::DiffView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setUndoRedoEnabled(false);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  // Columns line up only in a font of one width: the system's, else the
  // first of those known to be so (Wine's system font is not).
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (!QFontInfo(fixed).fixedPitch()) {
    fixed.setFamilies({"Consolas", "Cascadia Mono", "Courier New", "Liberation Mono", "DejaVu Sans Mono"});
    fixed.setStyleHint(QFont::Monospace);
    fixed.setFixedPitch(true);
  }
  setFont(fixed);
  setTabStopDistance(fontMetrics().horizontalAdvance(' ') * 8);
  // Read-only, yet the cursor moves with the keys, as in a viewer.
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void DiffView::showRows(const std::vector<run::DiffRow>& rows) {
  kinds_.clear();
  kinds_.reserve(rows.size());
  QString text;
  for (const run::DiffRow& row : rows) {
    if (!text.isEmpty()) text += '\n';
    kinds_.push_back(row.kind);
    if (row.kind == Kind::Hunk || row.kind == Kind::NoNewline) {
      text += QString::fromStdString(row.text);
      continue;
    }
    appendNumber(text, row.oldLine);
    appendNumber(text, row.newLine);
    text += markOf(row.kind);
    text += ' ';
    text += QString::fromStdString(row.text);
  }
  setPlainText(text);
  moveCursor(QTextCursor::Start);
}

int DiffView::currentRow() const { return textCursor().blockNumber(); }

bool DiffView::moveToHunk(int step) {
  const int rows = static_cast<int>(kinds_.size());
  for (int row = currentRow() + step; row >= 0 && row < rows; row += step) {
    if (kinds_[static_cast<size_t>(row)] != Kind::Hunk) continue;
    QTextCursor cursor(document()->findBlockByNumber(row));
    setTextCursor(cursor);
    // The hunk's head at the top, its lines below it.
    verticalScrollBar()->setValue(row);
    return true;
  }
  return false;
}

bool DiffView::nextHunk() { return moveToHunk(1); }
bool DiffView::previousHunk() { return moveToHunk(-1); }

void DiffView::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(viewport());
    const QColor base = palette().color(QPalette::Base);
    const int width = viewport()->width();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
      const QRectF box = blockBoundingGeometry(block).translated(contentOffset());
      if (box.top() > viewport()->height()) break;
      const auto row = static_cast<size_t>(block.blockNumber());
      if (row >= kinds_.size() || kinds_[row] == Kind::Context || kinds_[row] == Kind::NoNewline) continue;
      painter.fillRect(QRectF(0, box.top(), width, box.height()), bandOf(kinds_[row], base));
    }
  }
  QPlainTextEdit::paintEvent(event);
}

}  // namespace borvantel::app
