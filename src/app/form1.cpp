#include "app/form1.h"

#include "app/background_work.h"
#include "app/byte_list_model.h"
#include "app/design.h"
#include "app/directory_list.h"
#include "app/drive_list.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/form4.h"
#include "app/platform.h"
#include "app/qt_text.h"
#include "app/wrapping_button.h"
#include "run/base_directory.h"
#include "text/files.h"

#include <QApplication>
#include <QCloseEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QStorageInfo>

#include <exception>
#include <optional>
#include <utility>

namespace borvantel::app {
namespace {

// The application-wide hourglass, for the life of the guard.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// sciezka_katalogu without its trailing separator (a root keeps it: "/", "C:\\").
std::string directoryOf(const std::string& withSeparator) { return platform::withoutTrailingSeparator(withSeparator); }

std::string volumeRoot(const std::string& dir) {
  return toNativePath(QStorageInfo(fromFileName(dir)).rootPath());
}

QString utf8(const char* text) { return QString::fromUtf8(text); }

// A list of the run's items, one selected at a time, never edited.
QListView* newList(QWidget* parent, const std::vector<std::string>& items, text::TextKind kind, ByteListModel*& model) {
  auto* view = new QListView(parent);
  model = new ByteListModel(items, kind, view);
  view->setModel(model);
  view->setUniformItemSizes(true);  // 50,000 items lay out at once
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  return view;
}

void select(QListView* view, std::optional<size_t> row) {
  QItemSelectionModel* selection = view->selectionModel();
  if (!row) {
    selection->clearSelection();
    return;
  }
  const QModelIndex index = view->model()->index(static_cast<int>(*row), 0);
  selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  view->scrollTo(index);
}

}  // namespace

Form1::Form1(const std::string& programDir, const std::string& startDir) : run_(programDir, startDir) {
  setObjectName("Form1");
  setWindowTitle("Q borvantel");
  // The size is fixed: a frame without sizing borders (which Windows would
  // otherwise draw, with resize pointers that do nothing) and no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  createControls();
  connectControls();
  if (qApp) {
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { sessionEnding_ = true; });
  }
  Form_Load();
}

void Form1::Form_Load() {
  // The run already holds the flag (0) and both paths; Dir1 opens on the
  // start directory, Drive1 on its volume.
  const std::string dir = directoryOf(run_.paths().sciezka_katalogu);
  Dir1->showDirectory(dir, run_.directoryEntries());
  Drive1->showVolumeOf(dir);
  lastDirectories_.opened(volumeRoot(dir), dir);
  sync();
}

Form1::~Form1() = default;

void Form1::createControls() {
  setFont(designFont());
  const Twips twips(this);
  auto place = [&twips](QWidget* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(twips.toPixels(left, top, width, height));
  };
  setFixedSize(twips.toPixels(11880), twips.toPixels(8490));

  // In tab order.
  Command1 = new WrappingButton("Start", this);
  place(Command1, "Command1", 4680, 120, 1215, 495);
  List1 = newList(this, run_.fileList(), text::TextKind::FileName, files_);
  place(List1, "List1", 120, 1560, 5775, 2790);
  List2 = newList(this, run_.categoryList(), text::TextKind::Text, categories_);
  place(List2, "List2", 6840, 1560, 3855, 2790);
  Command2 = new WrappingButton("<--------", this);
  place(Command2, "Command2", 6000, 2400, 735, 495);
  Text1 = new QLineEdit(this);
  place(Text1, "Text1", 8160, 4920, 2655, 375);
  Label1 = new QLabel(utf8("Niezdefiniowane kategorie plików *.inc"), this);
  place(Label1, "Label1", 1080, 1200, 3495, 255);
  Label2 = new QLabel(utf8("Kategorie"), this);
  place(Label2, "Label2", 7920, 1200, 975, 255);
  Label3 = new QLabel(utf8("Dopisywanie kategorii:"), this);
  place(Label3, "Label3", 6360, 5040, 1695, 255);
  Label4 = new QLabel(utf8("Katalog:"), this);
  place(Label4, "Label4", 360, 4680, 615, 255);
  Label5 = new QLabel(this);
  place(Label5, "Label5", 1200, 4680, 4695, 255);
  Command3 = new WrappingButton(utf8("Dopisz kategorię"), this);
  place(Command3, "Command3", 9000, 5520, 975, 495);
  Command4 = new WrappingButton(utf8("Przypisz kategorię do całego katalogu"), this);
  place(Command4, "Command4", 2760, 5040, 1695, 495);
  Command5 = new WrappingButton(utf8("Zmień pliki *.inc i sceneryjne"), this);
  place(Command5, "Command5", 5160, 6240, 2055, 735);
  QFont bold = designFont();
  bold.setBold(true);
  Command5->setFont(bold);
  Drive1 = new DriveList(this);
  place(Drive1, "Drive1", 360, 5880, 4095, 315);
  Dir1 = new DirectoryList(this);
  place(Dir1, "Dir1", 360, 6240, 4095, 1665);
  Command6 = new WrappingButton(utf8("Zapisz przyporządkowane kategorie do pliku predef.txt"), this);
  place(Command6, "Command6", 9360, 6240, 2055, 855);

  createChangeControls();

  // The design's order, then the controls beyond it.
  QWidget* const tabOrder[] = {Command1, List1, List2,    Command2, Text1,    Command3, Command4,
                               Command5, Drive1, Dir1, Command6, Command9, Command7, Command8};
  for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);
  Label5->setTextFormat(Qt::PlainText);
  Command3->setEnabled(false);
  nameControls();
}

void Form1::createChangeControls() {
  const Twips twips(this);
  Command7 = new WrappingButton(utf8("Cofnij zmiany plików"), this);
  Command7->setObjectName("Command7");
  Command7->setGeometry(twips.toPixels(360, 6240, 2055, 735));
  Command8 = new WrappingButton(utf8("Pokaż zmienione pliki"), this);
  Command8->setObjectName("Command8");
  Command8->setGeometry(twips.toPixels(2520, 6240, 1935, 735));
  Command9 = new WrappingButton(utf8("Podgląd zmian"), this);
  Command9->setObjectName("Command9");
  Command9->setGeometry(twips.toPixels(7320, 6240, 1935, 735));
  // One line along the bottom edge: read without a click to dismiss it.
  Label6 = new QLabel(this);
  Label6->setObjectName("Label6");
  Label6->setGeometry(twips.toPixels(360, 8040, 11160, 255));
  Label6->setTextFormat(Qt::PlainText);
  Label6->setAccessibleDescription(utf8("Podsumowanie zmian plików"));
  for (QWidget* control : {static_cast<QWidget*>(Command7), static_cast<QWidget*>(Command8)}) control->hide();
}

void Form1::nameControls() {
  // Each list, the entry box and Label5 are named by the label beside them,
  // for screen readers and UI automation; the directory choice by its role.
  for (auto [label, control] : {std::pair{Label1, static_cast<QWidget*>(List1)}, {Label2, List2}, {Label3, Text1}}) {
    label->setBuddy(control);
    control->setAccessibleName(label->text());
  }
  Label5->setAccessibleDescription(Label4->text());
  Drive1->setAccessibleName(utf8("Napęd"));
  Drive1->setAccessibleDescription(utf8("Napęd"));
  Dir1->setAccessibleName(utf8("Katalog bazowy"));
}

void Form1::connectControls() {
  connect(Drive1, &DriveList::volumePicked, this, &Form1::Drive1_Change);
  connect(Dir1, &DirectoryList::openRequested, this, &Form1::Dir1_Change);
  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
  connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
  connect(Command7, &QPushButton::clicked, this, &Form1::Command7_Click);
  connect(Command8, &QPushButton::clicked, this, &Form1::Command8_Click);
  connect(Command9, &QPushButton::clicked, this, &Form1::Command9_Click);
  connect(List1->selectionModel(), &QItemSelectionModel::selectionChanged, this, &Form1::List1_Click);
  // List2 reacts to nothing: the run only learns which category is selected.
  connect(List2->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (syncing_) return;
    const QModelIndexList rows = List2->selectionModel()->selectedRows();
    run_.selectCategory(rows.isEmpty() ? std::nullopt : std::optional<size_t>(static_cast<size_t>(rows.first().row())));
  });
  connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
  // A double click anywhere in the list previews the selected file.
  List1->viewport()->installEventFilter(this);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == List1->viewport() && event->type() == QEvent::MouseButtonDblClick) List1_DblClick();
  return QWidget::eventFilter(watched, event);
}

// --- the directory choice

void Form1::Drive1_Change(const QByteArray& root) {
  const std::optional<std::string> target = lastDirectories_.directoryFor(root.toStdString());
  if (!target) {
    // Dir1, sciezka_katalogu and Start stay as they were; Drive1 keeps the pick.
    QMessageBox box(QMessageBox::NoIcon, "Borvantel", utf8("Napęd nie gotowy"), QMessageBox::Ok, this);
    box.exec();
    return;
  }
  openDirectory(*target);
}

void Form1::Dir1_Change(const QByteArray& dir) { openDirectory(dir.toStdString()); }

bool Form1::openDirectory(const std::string& dir) {
  return attempt(false, [&] {
    run::checkBaseDirectory(dir);
    run_.changeDirectory(dir);
    const std::string shown = directoryOf(run_.paths().sciezka_katalogu);
    Dir1->showDirectory(shown, run_.directoryEntries());
    Drive1->showVolumeOf(shown);
    lastDirectories_.opened(volumeRoot(shown), shown);
  });
}

// --- the commands

void Form1::Command1_Click() {
  std::vector<std::string> passedOver;
  attempt(true, [&] { passedOver = run_.start().passedOver; });
  if (!run_.recovered().empty()) message(QString::fromStdString(run_.recovered()), false);
  if (!passedOver.empty()) message(QString::fromStdString(run::passedOverMessage(passedOver, 20)), false);
}

void Form1::List1_Click() {
  if (syncing_) return;
  const QModelIndexList rows = List1->selectionModel()->selectedRows();
  run_.selectFile(rows.isEmpty() ? std::nullopt : std::optional<size_t>(static_cast<size_t>(rows.first().row())));
  // Not sync(): it would also re-select and scroll both lists under the
  // user's hands. Of the controls only the directory label changes.
  showControls();
}

void Form1::List1_DblClick() {
  if (!run_.selectedFile()) return;  // no entry: nothing at all, not even the pointer
  std::optional<run::Preview> preview;
  if (!attempt(true, [&] { preview = run_.previewSelectedFile(); }) || !preview) return;
  // The file is read before the window exists: a failure leaves no window behind.
  Form2 form(this);
  form.setWindowTitle(utf8("Podgląd pliku: ") + fromFileName(preview->entry));
  form.setText(fromCp1250(preview->text));
  form.exec();
}

void Form1::Command2_Click() {
  attempt(false, [&] { run_.assignSelectedFile(); });
}

void Form1::Command4_Click() {
  attempt(false, [&] { run_.assignWholeDirectory(); });
}

void Form1::Text1_Change(const QString& text) { Command3->setEnabled(run::addCategoryEnabled(text.toStdString())); }

void Form1::Command3_Click() {
  attempt(false, [&] {
    run_.addCategory(Text1->text().toStdString());
    Text1->clear();  // runs Text1_Change, which disables Command3
  });
}

void Form1::Command6_Click() {
  attempt(true, [&] { run_.save(); });
}

void Form1::Command5_Click() {
  // Off at once: the conversion lets pending events run once per file.
  Command5->setEnabled(false);
  converting_ = true;
  std::string refused;
  {
    ProgressWindow progress;
    attempt(true, [&] {
      try {
        run_.convert(progress);
      } catch (const run::UndoUnavailable& e) {
        refused = e.what();
      }
    });
  }
  // Without an undo set only when the user agrees.
  if (!refused.empty() &&
      QMessageBox::question(this, "Borvantel",
                            QString::fromStdString(refused + " Przerobić pliki mimo to, bez możliwości cofnięcia?"),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes) {
    ProgressWindow progress;
    attempt(true, [&] { run_.convertWithoutUndo(progress); });
  }
  converting_ = false;
  if (closeWaiting_) close();
}

void Form1::Command7_Click() {
  QString question;
  if (!attempt(false, [&] { question = QString::fromStdString(run_.undoQuestion()); })) return;
  if (QMessageBox::question(this, "Borvantel", question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) !=
      QMessageBox::Yes) {
    return;
  }
  Command7->setEnabled(false);  // the undo lets pending events run as well
  converting_ = true;
  {
    ProgressWindow progress;
    attempt(true, [&] { run_.undo(progress); });
  }
  Command7->setEnabled(true);
  converting_ = false;
  if (closeWaiting_) close();
}

void Form1::Command8_Click() {
  const std::optional<run::Changes>& changes = run_.lastChanges();
  if (!changes) return;
  QStringList lines;
  for (const std::string& file : changes->files) lines << fromFileName(file);
  QString text = QString::fromStdString(changes->summary) + "\n\n" + lines.join('\n');
  if (!changes->warnings.empty()) {
    QStringList warnings;
    for (const std::string& warning : changes->warnings) warnings << QString::fromStdString(warning);
    text += "\n\n" + utf8("Ostrzeżenia:") + "\n" + warnings.join('\n');
  }
  Form2 form(this);
  form.setWindowTitle(utf8(changes->kind == run::Changes::Kind::Restored ? "Przywrócone pliki" : "Zmienione pliki"));
  form.setText(text);
  form.exec();
}

void Form1::Command9_Click() {
  // The preparation reads every file, on a thread of its own; the run is
  // left alone meanwhile, and closing waits for it.
  converting_ = true;
  std::optional<run::ChangeReview> review;
  attempt(false, [&] {
    try {
      review = BackgroundWork::run<run::ChangeReview>(
          [this](run::ConversionEvents& events) { return run_.review(events); });
    } catch (const run::Cancelled&) {
      // the user stopped it: nothing to say
    }
  });
  converting_ = false;
  if (review && !closeWaiting_) {
    Form4 form(this, std::move(*review));
    form.exec();
    if (form.conversionRequested()) Command5_Click();
  }
  if (closeWaiting_) close();
}

// --- closing

void Form1::closeEvent(QCloseEvent* event) {
  if (converting_) {
    // Closes as soon as the conversion has finished; never in the middle of it.
    closeWaiting_ = true;
    event->ignore();
    return;
  }
  Form_QueryUnload(sessionEnding_ ? UnloadMode::System : UnloadMode::User);
  event->accept();
}

void Form1::Form_QueryUnload(UnloadMode mode) {
  if (mode != UnloadMode::User) return;  // log-off or shut-down: the working files stay
  attempt(false, [&] { run_.close(); });
}

// --- the state of the controls

void Form1::showControls() {
  const run::Controls c = run_.controls();
  Command1->setEnabled(c.start);
  Command2->setEnabled(c.assign);
  Command4->setEnabled(c.assign);
  Command5->setEnabled(c.convert);
  Command9->setEnabled(c.review);
  Command6->setEnabled(c.save);
  Drive1->setVisible(c.directoryChoice);
  Dir1->setVisible(c.directoryChoice);
  Label4->setVisible(c.directoryCaption);
  Label5->setText(fromFileName(c.directoryLabel));
  Command7->setVisible(c.undo);
  Command8->setVisible(c.showChanges);
  Label6->setText(QString::fromStdString(c.summary));
}

void Form1::sync() {
  syncing_ = true;
  showControls();
  if (shownFiles_ != run_.fileListVersion()) {
    files_->reset();
    shownFiles_ = run_.fileListVersion();
  }
  if (shownCategories_ != run_.categoryListVersion()) {
    categories_->reset();
    shownCategories_ = run_.categoryListVersion();
  }
  select(List1, run_.selectedFile());
  select(List2, run_.selectedCategory());
  syncing_ = false;
}

template <typename Work>
bool Form1::attempt(bool wait, Work&& work) {
  QString failure;
  {
    std::optional<WaitCursor> cursor;
    if (wait) cursor.emplace();
    try {
      work();
    } catch (const text::Failure& e) {
      failure = QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
      failure = utf8("Błąd: ") + QString::fromUtf8(e.what());
    }
  }
  sync();
  if (!failure.isEmpty()) message(failure);
  return failure.isEmpty();
}

void Form1::message(const QString& text, bool failure) {
  QMessageBox box(failure ? QMessageBox::Warning : QMessageBox::Information, "Borvantel", text, QMessageBox::Ok, this);
  box.exec();
}

}  // namespace borvantel::app
