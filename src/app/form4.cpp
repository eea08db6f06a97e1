#include "app/form4.h"

#include "app/design.h"
#include "app/diff_view.h"
#include "app/qt_text.h"

#include <QAbstractTableModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace borvantel::app {

// The review's files: the name, and the lines removed and added.
class ReviewFilesModel : public QAbstractTableModel {
 public:
  ReviewFilesModel(const std::vector<run::ReviewedFile>& files, QObject* parent)
      : QAbstractTableModel(parent), files_(files) {}
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(files_.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
    const run::ReviewedFile& f = files_[static_cast<size_t>(index.row())];
    switch (index.column()) {
      case 0: return fromFileName(f.path);
      case 1: return QString("-%1").arg(f.lines.removed);
      default: return QString("+%1").arg(f.lines.added);
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* const kHeads[] = {"Plik", "Usunięte", "Dodane"};
    return QString::fromUtf8(kHeads[section]);
  }

 private:
  const std::vector<run::ReviewedFile>& files_;
};

namespace {

QString utf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

Form4::Form4(QWidget* parent, run::ChangeReview review) : QDialog(parent), review_(std::move(review)) {
  setObjectName("Form4");
  setWindowTitle(utf8("Podgląd zmian"));
  setSizeGripEnabled(true);
  createControls();
  connectControls();
  if (!review_.files().empty()) List1->setCurrentIndex(files_->index(0, 0));
}

Form4::~Form4() = default;

void Form4::createControls() {
  setFont(designFont());
  const Twips twips(this);
  resize(twips.toPixels(15000), twips.toPixels(10000));
  createSummary();
  createFileList();
  createDiff();
  createButtons();
  layOutControls();
  Command3->setEnabled(!review_.files().empty());
  // Enter opens nothing by accident: no button is the default.
  for (QPushButton* b : {Command1, Command2, Command3, Command4}) b->setAutoDefault(false);
  List1->setFocus();
}

void Form4::createSummary() {
  Label1 = new QLabel(QString::fromStdString(review_.summary()), this);
  Label1->setObjectName("Label1");
  Label1->setTextFormat(Qt::PlainText);
  Label1->setWordWrap(true);
  Text2 = new QPlainTextEdit(this);
  Text2->setObjectName("Text2");
  Text2->setReadOnly(true);
  Text2->setLineWrapMode(QPlainTextEdit::NoWrap);
  QStringList warnings;
  for (const std::string& w : review_.warnings()) warnings << QString::fromStdString(w);
  Text2->setPlainText(warnings.join('\n'));
  Text2->setMaximumHeight(Text2->fontMetrics().lineSpacing() * 5 + 12);
  Text2->setVisible(!warnings.isEmpty());
  Text2->setAccessibleName(utf8("Ostrzeżenia"));
}

void Form4::createFileList() {
  files_ = new ReviewFilesModel(review_.files(), this);
  List1 = new QTableView(this);
  List1->setObjectName("List1");
  List1->setModel(files_);
  List1->setSelectionBehavior(QAbstractItemView::SelectRows);
  List1->setSelectionMode(QAbstractItemView::SingleSelection);
  List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  List1->verticalHeader()->hide();
  // 20,000 rows lay out at once: every row as high as the first.
  List1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  List1->verticalHeader()->setDefaultSectionSize(List1->fontMetrics().height() + 6);
  // The number columns as wide as their heads or six digits, not measured
  // over every row.
  QHeaderView* heads = List1->horizontalHeader();
  heads->setSectionResizeMode(QHeaderView::Fixed);
  heads->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int column : {1, 2}) {
    const QString head = files_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    heads->resizeSection(column, std::max(List1->fontMetrics().horizontalAdvance(head),
                                          List1->fontMetrics().horizontalAdvance("+999999")) +
                                     12);
  }
  List1->setWordWrap(false);
  List1->setAccessibleName(utf8("Pliki, które konwersja zmieni"));
}

void Form4::createDiff() {
  Label2 = new QLabel(this);
  Label2->setObjectName("Label2");
  Label2->setTextFormat(Qt::PlainText);
  Text1 = new DiffView(this);
  Text1->setObjectName("Text1");
  Text1->setAccessibleName(utf8("Zmiany w zaznaczonym pliku"));
  Label2->setBuddy(Text1);
}

void Form4::createButtons() {
  Command1 = new QPushButton(utf8("Poprzedni fragment"), this);
  Command1->setObjectName("Command1");
  Command1->setToolTip("Shift+F7");
  Command2 = new QPushButton(utf8("Następny fragment"), this);
  Command2->setObjectName("Command2");
  Command2->setToolTip("F7");
  Command3 = new QPushButton(utf8("Zmień pliki *.inc i sceneryjne"), this);
  Command3->setObjectName("Command3");
  Command4 = new QPushButton(utf8("Zamknij"), this);
  Command4->setObjectName("Command4");
}

void Form4::layOutControls() {
  auto* right = new QWidget(this);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->addWidget(Label2);
  rightLayout->addWidget(Text1);
  auto* split = new QSplitter(Qt::Horizontal, this);
  split->addWidget(List1);
  split->addWidget(right);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 3);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {Command1, Command2}) buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {Command3, Command4}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label1);
  layout->addWidget(Text2);
  layout->addWidget(split, 1);
  layout->addLayout(buttons);
}

void Form4::connectControls() {
  connect(List1->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &Form4::List1_Click);
  connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &Form4::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &QDialog::reject);
  const auto key = [this](QKeySequence keys, auto&& action) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  for (const QKeySequence& keys : {QKeySequence(Qt::SHIFT | Qt::Key_F7), QKeySequence(Qt::ALT | Qt::Key_Up)}) {
    key(keys, [this] { Command1_Click(); });
  }
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_F7), QKeySequence(Qt::ALT | Qt::Key_Down)}) {
    key(keys, [this] { Command2_Click(); });
  }
  key(QKeySequence(Qt::CTRL | Qt::Key_PageUp), [this] { moveFile(-1); });
  key(QKeySequence(Qt::CTRL | Qt::Key_PageDown), [this] { moveFile(1); });
}

void Form4::List1_Click() {
  const QModelIndex current = List1->selectionModel()->currentIndex();
  if (current.isValid()) showFile(current.row());
}

void Form4::showFile(int file) {
  if (file == shown_) return;
  shown_ = file;
  const run::ReviewedFile& f = review_.files()[static_cast<size_t>(file)];
  Label2->setText(fromFileName(f.path));
  Text1->showRows(review_.diffRowsOf(static_cast<size_t>(file)));
}

void Form4::moveFile(int step) {
  const int rows = files_->rowCount({});
  const int row = shown_ + step;
  if (row < 0 || row >= rows) return;
  List1->setCurrentIndex(files_->index(row, 0));
  List1->scrollTo(files_->index(row, 0));
}

void Form4::Command1_Click() { Text1->previousHunk(); }
void Form4::Command2_Click() { Text1->nextHunk(); }

void Form4::Command3_Click() {
  conversionRequested_ = true;
  accept();
}

}  // namespace borvantel::app
