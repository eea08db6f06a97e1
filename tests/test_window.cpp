// The window as a user drives it: the real Form1 over temporary trees, under
// the offscreen platform. Clicks go through QTest; message boxes are read and
// answered as they open.
#include "app/form1.h"
#include "app/form2.h"
#include "app/design.h"
#include "app/form3.h"
#include "app/form4.h"
#include "app/background_work.h"
#include "app/diff_view.h"
#include "app/single_instance.h"
#include "convert/conversion.h"
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "platform/os.h"
#include "platform/names.h"
#include "text/files.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QFileInfo>
#include <QTableView>
#include <QTextBlock>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest/QTest>

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// How gtest shows a QString when a comparison fails.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace borvantel::app {
namespace {

using testing::FailingOs;
using testing::TempTree;
using testing::cp;
using testing::kThreeMarkers;
using Lines = std::vector<std::string>;

QString u(const char* utf8) { return QString::fromUtf8(utf8); }
// A file name as the window shows it: Windows-1250 names on Windows.
QString shown(const std::string& name) { return QString::fromStdString(text::displayName(name)); }

// A name as the file system holds it: UTF-8 bytes on Linux, the tool's
// Windows-1250 on Windows.
std::string onDisk(const char* utf8) {
#ifdef _WIN32
  return cp(utf8);
#else
  return utf8;
#endif
}

// What a message box said, and whether the hourglass was gone when it did.
struct Message {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool waitPointer = false;
};

// Runs `action` and answers every message box that opens meanwhile with OK,
// or with `answer` where the box offers it (a question).
// Runs `action`; each modal dialog of type Dialog that opens meanwhile is
// handed to `inside`, which must close it (the watch pauses while it runs,
// so that a nested event loop inside it is not watched too).
template <typename Dialog>
void whileOpen(const std::function<void()>& action, const std::function<void(Dialog&)>& inside) {
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    timer.stop();
    inside(*dialog);
    timer.start();
  });
  timer.start();
  action();
  timer.stop();
}

std::vector<Message> answering(const std::function<void()>& action,
                               QMessageBox::StandardButton answer = QMessageBox::NoButton) {
  std::vector<Message> seen;
  whileOpen<QMessageBox>(action, [&](QMessageBox& box) {
    seen.push_back({box.windowTitle(), box.text(), box.icon(), QApplication::overrideCursor() != nullptr});
    if (QAbstractButton* button = box.button(answer)) {
      button->click();
    } else {
      box.accept();
    }
  });
  return seen;
}

// What a preview window showed when it opened.
struct Preview {
  QString caption;
  QString text;
  QSize size;
  bool waitPointer = false;
};

// Runs `action`; every preview that opens meanwhile is looked at, handed to
// `inside` (to type or resize in it), and closed.
std::vector<Preview> previewing(const std::function<void()>& action,
                                const std::function<void(Form2&)>& inside = {}) {
  std::vector<Preview> seen;
  whileOpen<Form2>(action, [&](Form2& form) {
    seen.push_back({form.windowTitle(), form.findChild<QPlainTextEdit*>("Text1")->toPlainText(), form.size(),
                    QApplication::overrideCursor() != nullptr});
    if (inside) inside(form);
    form.reject();
  });
  return seen;
}

// Types `text` into `widget` key by key, Polish letters included.
void type(QWidget* widget, const QString& text) {
  for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The window on a base directory, shown, with its controls by name.
class Window {
 public:
  Window(const TempTree& t, const std::string& dir)
      : form_(std::make_unique<Form1>(t.path("prog"), dir)) {
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  ~Window() {
    if (form_) form_->Form_QueryUnload(Form1::UnloadMode::System);  // keep what the test looks at
  }

  Form1& form() { return *form_; }
  const run::Run& run() { return form_->run(); }
  template <typename T = QWidget>
  T* get(const char* name) {
    T* control = form_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  std::vector<Message> click(const char* button) {
    QPushButton* b = get<QPushButton>(button);
    return answering([&] { QTest::mouseClick(b, Qt::LeftButton); });
  }
  // Clicks `button` while `fault` fails a system call; the one message it gave.
  Message clickFailing(const char* button, FailingOs::Rule fault) {
    FailingOs fos;
    fos.fail(std::move(fault));
    platform::ScopedOs guard(fos);
    const auto messages = click(button);
    EXPECT_EQ(messages.size(), 1u);
    return messages.empty() ? Message{} : messages.front();
  }
  // The texts of a list, as shown.
  QStringList items(const char* list) {
    QListView* view = get<QListView>(list);
    QStringList out;
    for (int row = 0; row < view->model()->rowCount(); ++row) out << view->model()->index(row, 0).data().toString();
    return out;
  }
  QString selected(const char* list) {
    const QModelIndexList rows = get<QListView>(list)->selectionModel()->selectedRows();
    return rows.isEmpty() ? QString() : rows.first().data().toString();
  }
  void clickItem(const char* list, const QString& text) {
    QListView* view = get<QListView>(list);
    const int row = static_cast<int>(items(list).indexOf(text));
    ASSERT_GE(row, 0) << text.toStdString();
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
  }
  // Double-clicks an item of List1 (or, with an empty text, the list's empty space).
  void doubleClick(const QString& text) {
    QListView* view = get<QListView>("List1");
    QPoint where(view->viewport()->width() / 2, view->viewport()->height() - 5);
    if (!text.isEmpty()) {
      const int row = static_cast<int>(items("List1").indexOf(text));
      ASSERT_GE(row, 0) << text.toStdString();
      where = view->visualRect(view->model()->index(row, 0)).center();
    }
    // A double click begins with a click, which selects the item under the pointer.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, where);
  }
  // Opens a directory in Dir1 by its shown name, as a double click does.
  void openInDir1(const QString& name) {
    auto* dir = get<QTreeWidget>("Dir1");
    const auto found = dir->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    emit dir->itemActivated(found.first(), 0);
  }
  std::unique_ptr<Form1> release() { return std::move(form_); }

  // The stage as the controls show it.
  struct State {
    bool start, assign, assignDir, convert, save, add, lists, katalog;
    QString label5;
    bool operator==(const State&) const = default;
  };
  State state() {
    return {get("Command1")->isEnabled(), get("Command2")->isEnabled(), get("Command4")->isEnabled(),
            get("Command5")->isEnabled(), get("Command6")->isEnabled(), get("Command3")->isEnabled(),
            get("Drive1")->isVisible() && get("Dir1")->isVisible(), get("Label4")->isVisible(),
            get<QLabel>("Label5")->text()};
  }

 private:
  std::unique_ptr<Form1> form_;
};

void PrintTo(const Window::State& s, std::ostream* os) {
  *os << "{Start " << s.start << ", <-- " << s.assign << ", dir " << s.assignDir << ", convert " << s.convert
      << ", save " << s.save << ", add " << s.add << ", lists " << s.lists << ", Katalog: " << s.katalog
      << ", Label5 '" << s.label5.toStdString() << "'}";
}

using State = Window::State;
State choosing(bool start) { return {start, false, false, false, false, false, true, true, ""}; }
State assigning(const char* label5) { return {false, true, true, false, false, false, false, true, u(label5)}; }
State ready(bool convert, bool save) { return {false, false, false, convert, save, false, false, false, ""}; }

const char* const kRoot = "GŁÓWNY SCENERY";

// Four files wait; linie\most.inc is covered by predef.txt.
// Runs `action` and hands `seen` every visible progress window at each turn
// of the event loop meanwhile.
void watchingProgress(const std::function<void()>& action, const std::function<void(QWidget&)>& seen) {
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == "Form3" && top->isVisible()) seen(*top);
    }
  });
  watch.start();
  action();
  watch.stop();
}

// The captions of the progress windows shown while `action` runs, each once;
// `shown` is called as each new one appears.
QStringList progressCaptions(const std::function<void()>& action, const std::function<void()>& shown = [] {}) {
  QStringList captions;
  watchingProgress(action, [&](QWidget& form) {
    if (captions.contains(form.windowTitle())) return;
    captions << form.windowTitle();
    shown();
  });
  return captions;
}

void layOut(const TempTree& t, const std::string& base = "base") {
  t.write("prog/kategorie.txt", "MOSTY\r\nAUTA\r\n" + cp("łąki") + "\r\n");
  t.write("prog/predef.txt", "*most MOSTY\r\n");
  for (const char* f : {"linie/b.inc", "linie/a.inc", "linie/stare/c.inc", "dworzec.inc", "linie/most.inc"}) {
    t.write(base + "/scenery/" + f, kThreeMarkers);
  }
  t.write(base + "/scenery/trasa.scn", "include linie/a.inc 1 2 end\r\ninclude dworzec.inc 3 end\r\n");
}

// A temporary tree and the window on its base directory. Each fixture below
// lays the tree out in SetUp; a test changes it as it needs, then opens the
// window.
class WindowOnTree : public ::testing::Test {
 protected:
  Window& open() { return window_.emplace(t, t.path("base")); }

  TempTree t;

 private:
  std::optional<Window> window_;  // closed before the tree goes
};

// A base directory beside an empty scenery directory.
class Form1OnAnEmptyBase : public WindowOnTree {
 protected:
  void SetUp() override { t.mkdir("base/scenery"); }
};

// layOut's tree.
class Form1OnATree : public WindowOnTree {
 protected:
  void SetUp() override { layOut(t); }
};

// ---------------------------------------------------------------------------

TEST_F(Form1OnAnEmptyBase, OpensWithTheDesignedControls) {
  Window& w = open();
  EXPECT_EQ(w.form().windowTitle(), "Q borvantel");
  EXPECT_EQ(w.form().size(), QSize(792, 566));  // 11880 x 8490 twips at 15 twips per pixel
  EXPECT_EQ(w.form().minimumSize(), w.form().maximumSize());
  // A fixed frame: minimise and close, no maximise, no sizing borders on Windows.
  const Qt::WindowFlags flags = w.form().windowFlags();
  EXPECT_TRUE(flags.testFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));

  const struct {
    const char* name;
    const char* caption;
    QRect twips;
  } controls[] = {
      {"Command1", "Start", {4680, 120, 1215, 495}},
      {"List1", nullptr, {120, 1560, 5775, 2790}},
      {"List2", nullptr, {6840, 1560, 3855, 2790}},
      {"Command2", "<--------", {6000, 2400, 735, 495}},
      {"Text1", "", {8160, 4920, 2655, 375}},
      {"Label1", "Niezdefiniowane kategorie plików *.inc", {1080, 1200, 3495, 255}},
      {"Label2", "Kategorie", {7920, 1200, 975, 255}},
      {"Label3", "Dopisywanie kategorii:", {6360, 5040, 1695, 255}},
      {"Label4", "Katalog:", {360, 4680, 615, 255}},
      {"Label5", "", {1200, 4680, 4695, 255}},
      {"Command3", "Dopisz kategorię", {9000, 5520, 975, 495}},
      {"Command4", "Przypisz kategorię do całego katalogu", {2760, 5040, 1695, 495}},
      {"Command5", "Zmień pliki *.inc i sceneryjne", {5160, 6240, 2055, 735}},
      {"Drive1", nullptr, {360, 5880, 4095, 315}},
      {"Dir1", nullptr, {360, 6240, 4095, 1665}},
      {"Command6", "Zapisz przyporządkowane kategorie do pliku predef.txt", {9360, 6240, 2055, 855}},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* control = w.get(c.name);
    ASSERT_NE(control, nullptr);
    const QRect& r = c.twips;
    EXPECT_EQ(control->geometry(), QRect(r.x() / 15, r.y() / 15, r.width() / 15, r.height() / 15));
    if (auto* b = qobject_cast<QPushButton*>(control)) {
      EXPECT_EQ(b->text(), u(c.caption));
    } else if (auto* l = qobject_cast<QLabel*>(control)) {
      EXPECT_EQ(l->text(), u(c.caption));
    } else if (auto* e = qobject_cast<QLineEdit*>(control)) {
      EXPECT_EQ(e->text(), u(c.caption));
    }
  }
  EXPECT_TRUE(w.get("Command5")->font().bold());
  EXPECT_FALSE(w.get("Command1")->font().bold());

  // Tab order: the buttons, lists, entry box and directory choice in the design's order.
  const char* const order[] = {"Command1", "List1", "List2", "Command2", "Text1", "Command3",
                               "Command4", "Command5", "Drive1", "Dir1", "Command6"};
  for (size_t i = 1; i < std::size(order); ++i) {
    QWidget* next = w.get(order[i - 1])->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    // A composite control (the drop-down, the views) may hold focusable parts of its own.
    while (next && next->parentWidget() && next->parentWidget() != &w.form()) next = next->parentWidget();
    EXPECT_EQ(next, w.get(order[i])) << order[i - 1] << " -> " << order[i];
  }

  EXPECT_EQ(w.state(), choosing(true));
  EXPECT_TRUE(w.items("List1").isEmpty());
  EXPECT_TRUE(w.items("List2").isEmpty());
  EXPECT_FALSE(w.run().wszystkie_inc_przypisane());
  EXPECT_EQ(w.run().paths().sciezka_programu, t.path("prog") + platform::kPathSeparator);
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.path("base") + platform::kPathSeparator);
  EXPECT_EQ(w.get<QTreeWidget>("Dir1")->currentItem()->text(0), "base");
}

TEST_F(Form1OnAnEmptyBase, ControlsAreFoundByTheirNamesThroughAccessibility) {
  Window& w = open();
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&w.form());
  ASSERT_NE(window, nullptr);
  std::map<QString, QAccessible::Role> found;
  for (int i = 0; i < window->childCount(); ++i) {
    QAccessibleInterface* child = window->child(i);
    if (child) found[child->text(QAccessible::Name)] = child->role();
  }
  const struct {
    const char* name;
    QAccessible::Role role;
  } wanted[] = {
      {"Start", QAccessible::Button},
      {"<--------", QAccessible::Button},
      {"Dopisz kategorię", QAccessible::Button},
      {"Przypisz kategorię do całego katalogu", QAccessible::Button},
      {"Zmień pliki *.inc i sceneryjne", QAccessible::Button},
      {"Zapisz przyporządkowane kategorie do pliku predef.txt", QAccessible::Button},
      {"Niezdefiniowane kategorie plików *.inc", QAccessible::List},
      {"Kategorie", QAccessible::List},
      {"Dopisywanie kategorii:", QAccessible::EditableText},
      {"Katalog bazowy", QAccessible::Tree},
  };
  for (const auto& c : wanted) {
    SCOPED_TRACE(c.name);
    const auto it = found.find(u(c.name));
    ASSERT_NE(it, found.end());
    // Labels are named by their text too; the control must be among them.
    bool roleFound = it->second == c.role;
    for (int i = 0; !roleFound && i < window->childCount(); ++i) {
      QAccessibleInterface* child = window->child(i);
      roleFound = child && child->text(QAccessible::Name) == u(c.name) && child->role() == c.role;
    }
    EXPECT_TRUE(roleFound);
  }
  // A drop-down is named by what it shows; what it is for is its description.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.get("Drive1"))->text(QAccessible::Description), u("Napęd"));
  // Label5 is read with what it shows.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(w.get("Label5"))->text(QAccessible::Description), u("Katalog:"));
}

TEST_F(Form1OnAnEmptyBase, ChoosingTheDirectoryEnablesStartOnlyBesideASceneryDirectory) {
  t.mkdir("base/scenery/linie");
  t.mkdir("kopia/scenery_backup");
  t.mkdir("kopia/pusty");
  Window& w = open();
  EXPECT_EQ(w.state(), choosing(true));

  w.openInDir1("scenery");  // the scenery directory itself
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.path("base/scenery/"));  // "/" becomes the separator
  EXPECT_EQ(w.state(), choosing(false));
  EXPECT_EQ(w.get<QTreeWidget>("Dir1")->currentItem()->text(0), "scenery");

  w.openInDir1(shown(t.root().substr(text::nameStart(t.root()))));  // up to the ancestor
  w.openInDir1("kopia");
  EXPECT_EQ(w.state(), choosing(true));  // scenery_backup holds the word
  w.openInDir1("pusty");
  EXPECT_EQ(w.state(), choosing(false));  // no subdirectory at all
  EXPECT_EQ(t.allFiles(), Lines{});       // choosing writes nothing
}

TEST_F(Form1OnAnEmptyBase, AVolumeThatCannotBeOpenedKeepsThePreviousDirectory) {
  Window& w = open();
  auto* drive = w.get<QComboBox>("Drive1");
  drive->addItem("/brak-nosnika", QString("/brak-nosnika"));
  const int picked = drive->count() - 1;
  drive->setCurrentIndex(picked);
  const auto messages = answering([&] { emit drive->activated(picked); });
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Borvantel");
  EXPECT_EQ(messages[0].text, u("Napęd nie gotowy"));
  EXPECT_EQ(messages[0].icon, QMessageBox::NoIcon);
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.path("base/"));
  EXPECT_EQ(w.get<QTreeWidget>("Dir1")->currentItem()->text(0), "base");
  EXPECT_EQ(drive->currentIndex(), picked);  // the drive list keeps the pick
  EXPECT_EQ(w.state(), choosing(true));
}

TEST_F(Form1OnATree, AWholeRunByHand) {
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());

  EXPECT_EQ(w.items("List1"), (QStringList{"dworzec.inc", "linie\\a.inc", "linie\\b.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(w.items("List2"), (QStringList{"AUTA", "BRAK_DEFINICJI", u("łąki"), "MOSTY"}));
  EXPECT_EQ(w.selected("List1"), "dworzec.inc");
  EXPECT_EQ(w.selected("List2"), "AUTA");
  EXPECT_EQ(w.state(), assigning(kRoot));
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\n");

  w.clickItem("List1", "linie\\b.inc");
  EXPECT_EQ(w.state(), assigning("linie\\"));
  w.clickItem("List2", "MOSTY");
  ASSERT_TRUE(w.click("Command2").empty());
  EXPECT_EQ(w.items("List1"), (QStringList{"dworzec.inc", "linie\\a.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(w.selected("List1"), "dworzec.inc");
  EXPECT_EQ(w.selected("List2"), "MOSTY");
  EXPECT_EQ(w.state(), assigning(kRoot));

  // A new category: the button follows the entry box; the name is upper-cased.
  auto* entry = w.get<QLineEdit>("Text1");
  type(entry, u("żwir drogowy"));
  EXPECT_TRUE(w.get("Command3")->isEnabled());
  ASSERT_TRUE(w.click("Command3").empty());
  EXPECT_EQ(entry->text(), "");
  EXPECT_FALSE(w.get("Command3")->isEnabled());
  EXPECT_EQ(w.items("List2"), (QStringList{"AUTA", "BRAK_DEFINICJI", u("łąki"), "MOSTY", u("ŻWIR_DROGOWY")}));
  EXPECT_EQ(w.selected("List2"), "MOSTY");  // the selection stays where it was
  EXPECT_EQ(t.read("prog/kategorie.txt"), "MOSTY\r\nAUTA\r\n" + cp("łąki") + "\r\n" + cp("ŻWIR_DROGOWY") + "\r\n");

  // The whole directory of linie\a.inc: linie\stare\c.inc stays.
  w.clickItem("List1", "linie\\a.inc");
  w.clickItem("List2", u("ŻWIR_DROGOWY"));
  ASSERT_TRUE(w.click("Command4").empty());
  EXPECT_EQ(w.items("List1"), (QStringList{"dworzec.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(w.state(), assigning(kRoot));

  w.clickItem("List2", "BRAK_DEFINICJI");
  ASSERT_TRUE(w.click("Command2").empty());
  EXPECT_EQ(w.state(), assigning("linie\\stare\\"));
  ASSERT_TRUE(w.click("Command4").empty());  // the last file
  EXPECT_TRUE(w.items("List1").isEmpty());
  EXPECT_EQ(w.state(), ready(true, true));
  EXPECT_TRUE(w.run().wszystkie_inc_przypisane());
  EXPECT_EQ(t.read("base/inc_out.txt"), "linie\\most.inc MOSTY\r\nlinie\\b.inc MOSTY\r\nlinie\\a.inc " +
                                            cp("ŻWIR_DROGOWY") +
                                            "\r\ndworzec.inc BRAK_DEFINICJI\r\nlinie\\stare\\c.inc BRAK_DEFINICJI\r\n");

  ASSERT_TRUE(w.click("Command6").empty());
  EXPECT_EQ(w.state(), ready(true, false));
  EXPECT_EQ(t.read("prog/predef.txt"), "*most MOSTY\r\nmost.inc MOSTY\r\nb.inc MOSTY\r\na.inc " +
                                           cp("ŻWIR_DROGOWY") +
                                           "\r\ndworzec.inc BRAK_DEFINICJI\r\nc.inc BRAK_DEFINICJI\r\n");

  // The conversion, with the progress window watched while it runs.
  std::vector<std::pair<QString, QString>> progress;  // caption, file label
  bool stillVisible = false;
  bool sawToolTipBackground = false;
  bool sawDesignFont = false;
  std::vector<Message> messages;
  watchingProgress([&] { messages = w.click("Command5"); },
                   [&](QWidget& top) {
                     const QString label = top.findChild<QLabel*>("Label1")->text();
                     if (progress.empty() || progress.back().second != label) {
                       progress.emplace_back(top.windowTitle(), label);
                     }
                     stillVisible = true;
                     sawToolTipBackground = top.autoFillBackground() && top.palette().color(QPalette::Window) ==
                                                                             top.palette().color(QPalette::ToolTipBase);
                     sawDesignFont =
                         top.font() == designFont() && top.windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint);
                   });
  ASSERT_TRUE(messages.empty());  // no message at the end
  EXPECT_EQ(w.state(), ready(false, false));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_TRUE(stillVisible);
  EXPECT_TRUE(sawToolTipBackground);
  EXPECT_TRUE(sawDesignFont);  // the labels in the design's font, in a fixed frame
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front().first, u("Przerabianie plików: czekaj"));
  EXPECT_EQ(progress.front().second, "linie\\most.inc");  // include files by relative path
  EXPECT_EQ(progress.back().second, QString::fromStdString(t.path("base/scenery/trasa.scn")));  // scenery files by full path
  for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_NE(top->objectName(), "Form3");  // closed after the run
  EXPECT_EQ(t.read("base/scenery/trasa.scn"),
            "include linie/a.inc " + cp("ŻWIR_DROGOWY") + "_&type 1 2 end\r\ninclude dworzec.inc BRAK_DEFINICJI_&type 3 end\r\n");
  EXPECT_EQ(t.read("base/scenery/dworzec.inc").substr(0, 29), "//$infotype: BRAK_DEFINICJI\r\n");

  // The user closes the window: the four working files go, nothing else.
  std::unique_ptr<Form1> form = w.release();
  form->close();
  EXPECT_FALSE(form->isVisible());
  for (const char* f : {"inc_out.txt", "inc_out1.txt", "p_inc.txt", "p_scn.txt"}) {
    EXPECT_FALSE(t.exists(std::string("base/") + f)) << f;
  }
  EXPECT_TRUE(t.exists("prog/predef.txt"));
}

TEST_F(Form1OnATree, StartWithNothingLeftGoesStraightToConverting) {
  t.write("prog/predef.txt", "*.inc AUTA\r\n");
  Window& w = open();
  type(w.get<QLineEdit>("Text1"), "nowa");
  ASSERT_TRUE(w.click("Command3").empty());
  EXPECT_EQ(w.items("List2"), QStringList{"NOWA"});
  ASSERT_TRUE(w.click("Command1").empty());
  EXPECT_EQ(w.state(), ready(true, false));
  EXPECT_TRUE(w.items("List1").isEmpty());
  EXPECT_TRUE(w.items("List2").isEmpty());  // not even BRAK_DEFINICJI
  EXPECT_TRUE(w.run().wszystkie_inc_przypisane());
  ASSERT_TRUE(w.click("Command5").empty());
  EXPECT_EQ(w.state(), ready(false, false));
}

TEST_F(Form1OnATree, FilesPassedOverAreNamedInOneMessageAfterStart) {
  t.write("base/scenery/stara linia/x.inc", kThreeMarkers);
  t.write("base/scenery/y z.inc", kThreeMarkers);
  Window& w = open();
  const auto messages = w.click("Command1");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Borvantel");
  EXPECT_TRUE(messages[0].text.contains("stara linia\\x.inc")) << messages[0].text.toStdString();
  EXPECT_TRUE(messages[0].text.contains("y z.inc")) << messages[0].text.toStdString();
  EXPECT_FALSE(messages[0].waitPointer);
  EXPECT_EQ(w.items("List1").size(), 4);  // the others are offered as usual
  EXPECT_EQ(w.state(), assigning(kRoot));
}

TEST_F(Form1OnATree, FailuresAreToldWithTheFileAndTheReasonAndLeaveTheStage) {
  Window& w = open();
  {
    SCOPED_TRACE("Start in a base directory where the working files cannot be written");
    const Message m = w.clickFailing("Command1", {FailingOs::Call::Open, EACCES, "inc_out.txt"});
    EXPECT_EQ(m.title, "Borvantel");
    EXPECT_TRUE(m.text.contains(QString::fromStdString(t.path("base/inc_out.txt")))) << m.text.toStdString();
    EXPECT_TRUE(m.text.contains(u("brak uprawnień"))) << m.text.toStdString();
    EXPECT_FALSE(m.waitPointer);
    EXPECT_EQ(w.state(), choosing(true));  // the directory may be changed or Start tried again
  }
  ASSERT_TRUE(w.click("Command1").empty());
  {
    SCOPED_TRACE("an assignment that cannot be written keeps the file in the list");
    const Message m = w.clickFailing("Command2", {FailingOs::Call::Write, ENOSPC, "inc_out.txt"});
    EXPECT_TRUE(m.text.contains("inc_out.txt")) << m.text.toStdString();
    EXPECT_EQ(w.items("List1").size(), 4);
    EXPECT_EQ(w.state(), assigning(kRoot));
  }
  {
    SCOPED_TRACE("a category with a character outside Windows-1250 is refused, the text kept");
    type(w.get<QLineEdit>("Text1"), u("日本"));
    const auto messages = w.click("Command3");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(u("„日”"))) << messages[0].text.toStdString();
    EXPECT_EQ(w.get<QLineEdit>("Text1")->text(), u("日本"));
    EXPECT_EQ(w.items("List2").size(), 4);
    w.get<QLineEdit>("Text1")->clear();
  }
  while (!w.items("List1").isEmpty()) ASSERT_TRUE(w.click("Command2").empty());
  {
    SCOPED_TRACE("a conversion that fails before changing anything says so and may be tried again");
    const auto before = t.snapshot();
    const Message m = w.clickFailing("Command5", {FailingOs::Call::Mkstemp, ENOSPC, "linie"});
    EXPECT_TRUE(m.text.contains(u("nie zmieniono żadnego pliku"))) << m.text.toStdString();
    EXPECT_FALSE(m.waitPointer);
    EXPECT_EQ(w.state(), ready(true, true));
    EXPECT_EQ(t.snapshot(), before);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Form1OnATree, WhereLinksAreRefusedTheUserDecidesWhetherToConvertWithoutUndo) {
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());
  while (!w.items("List1").isEmpty()) ASSERT_TRUE(w.click("Command2").empty());
  FailingOs fos;
  fos.fail({FailingOs::Call::Link, EPERM});
  platform::ScopedOs guard(fos);
  const auto before = t.snapshot();
  for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
    SCOPED_TRACE(answer == QMessageBox::Yes ? "yes" : "no");
    const auto messages =
        answering([&] { QTest::mouseClick(w.get<QPushButton>("Command5"), Qt::LeftButton); }, answer);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, "Borvantel");
    EXPECT_TRUE(messages[0].text.contains(u("bez możliwości cofnięcia"))) << messages[0].text.toStdString();
    if (answer == QMessageBox::No) {
      EXPECT_EQ(t.snapshot(), before);
      EXPECT_EQ(w.state(), ready(true, true));  // may be tried again
    } else {
      EXPECT_NE(t.snapshot(), before);
      EXPECT_FALSE(t.exists("base/.borvantel-undo"));
    }
  }
}

TEST_F(Form1OnATree, ClosingDuringTheConversionWaitsForItsEnd) {
  t.write("prog/predef.txt", "*.inc AUTA\r\n");
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());
  std::unique_ptr<Form1> form = w.release();
  bool closedMidway = false;
  QTimer closer;
  closer.setSingleShot(true);
  closer.setInterval(0);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    form->close();  // the user closes the window while the progress window shows
    closedMidway = !form->isVisible();
  });
  closer.start();
  QTest::mouseClick(form->findChild<QPushButton*>("Command5"), Qt::LeftButton);
  EXPECT_FALSE(closedMidway);
  EXPECT_FALSE(form->isVisible());  // closed once the conversion had finished
  EXPECT_FALSE(t.exists("base/p_inc.txt"));
  EXPECT_EQ(t.read("base/scenery/trasa.scn"),
            "include linie/a.inc AUTA_&type 1 2 end\r\ninclude dworzec.inc AUTA_&type 3 end\r\n");
}

TEST_F(Form1OnATree, WorkingFilesStayWhenTheSessionEnds) {
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());
  w.form().Form_QueryUnload(Form1::UnloadMode::System);
  for (const char* f : {"inc_out.txt", "inc_out1.txt", "p_inc.txt", "p_scn.txt"}) {
    EXPECT_TRUE(t.exists(std::string("base/") + f)) << f;
  }
}

// The window and the command line make the same files from the same choices.
TEST(Form1, TheDemoByHandGivesTheSameFilesAsTheCommandLine) {
  namespace fs = std::filesystem;
  TempTree byWindow;
  TempTree byCli;
  for (const TempTree* t : {&byWindow, &byCli}) {
    fs::remove_all(t->path("base"));
    fs::remove_all(t->path("prog"));
    fs::copy(BORVANTEL_DEMO_DIR "/trasa", t->path("base"), fs::copy_options::recursive);
    fs::copy(BORVANTEL_DEMO_DIR "/program", t->path("prog"), fs::copy_options::recursive);
  }
  // Every waiting file gets the category at its position in the list, cycling.
  std::vector<std::pair<std::string, std::string>> choices;
  {
    Window w(byWindow, byWindow.path("base"));
    ASSERT_TRUE(w.click("Command1").empty());
    const QStringList categories = w.items("List2");
    for (int i = 0; !w.items("List1").isEmpty(); ++i) {
      const QString file = w.items("List1").first();
      const QString category = categories[i % categories.size()];
      w.clickItem("List2", category);
      ASSERT_TRUE(w.click("Command2").empty());
      choices.emplace_back(file.toStdString(), category.toStdString());
    }
    ASSERT_TRUE(w.click("Command6").empty());
    ASSERT_TRUE(w.click("Command5").empty());
  }
  ASSERT_GE(choices.size(), 5u);

  auto cli = [&](std::vector<std::string> args) {
    QStringList list{"--program-dir", QString::fromStdString(byCli.path("prog"))};
    for (const auto& a : args) list << QString::fromStdString(a);
    QProcess p;
    p.start(BORVANTEL_CLI, list);
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  };
  const std::string base = byCli.path("base");
  cli({"start", base});
  for (const auto& [file, category] : choices) cli({"assign", base, file, category});
  cli({"save", base});
  cli({"convert", base});
  // Every file alike, the full paths of "p_scn.txt" and the undo set's
  // manifest (inode numbers, times) aside.
  auto files = [](const TempTree& t) {
    auto all = testing::withoutUndoSet(t.snapshot());
    std::string& scenery = all.at("base/p_scn.txt");
    for (size_t at; (at = scenery.find(t.root())) != std::string::npos;) scenery.replace(at, t.root().size(), "ROOT");
    return all;
  };
  EXPECT_EQ(files(byWindow), files(byCli));
}

// ---------------------------------------------------------------------------
// Undo and the summary of a change

// The scenery tree alone: what a conversion and its undo change.
std::map<std::string, std::string> sceneryOf(const TempTree& t) {
  auto files = t.snapshot();
  std::erase_if(files, [](const auto& f) { return !f.first.starts_with("base/scenery/"); });
  return files;
}

// Start, and every waiting file gets the first category.
void startAndAssignAll(Window& w) {
  ASSERT_TRUE(w.click("Command1").empty());
  while (!w.items("List1").isEmpty()) ASSERT_TRUE(w.click("Command2").empty());
}

TEST_F(Form1OnATree, AConversionIsSummedUpAndUndoneFromTheWindow) {
  Window& w = open();
  startAndAssignAll(w);
  EXPECT_FALSE(w.get("Command7")->isVisible());  // nothing to undo yet
  EXPECT_FALSE(w.get("Command8")->isVisible());
  const auto before = sceneryOf(t);
  ASSERT_TRUE(w.click("Command5").empty());  // the summary needs no click
  EXPECT_EQ(w.get<QLabel>("Label6")->text(), u("Przerobiono pliki *.inc: 5, pliki sceneryjne: 1 z 1 sprawdzonych."));
  ASSERT_TRUE(w.get("Command7")->isVisible());
  EXPECT_TRUE(w.get("Command8")->isVisible());
  EXPECT_NE(sceneryOf(t), before);

  // Asked first: "no" changes nothing.
  auto asked = w.click("Command7");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, u("Cofnąć konwersję? Pliki sprzed konwersji zostaną przywrócone (pliki *.inc: 5, pliki "
                             "sceneryjne: 1); zmiany, które wprowadziła, znikną."));
  EXPECT_NE(sceneryOf(t), before);

  const QStringList captions = progressCaptions([&] {
    asked = answering([&] { QTest::mouseClick(w.get<QPushButton>("Command7"), Qt::LeftButton); }, QMessageBox::Yes);
  });
  ASSERT_EQ(asked.size(), 1u);  // the question alone: the summary needs no click
  EXPECT_EQ(sceneryOf(t), before);  // byte for byte
  EXPECT_EQ(captions, QStringList{u("Przywracanie plików: czekaj")});
  EXPECT_EQ(w.get<QLabel>("Label6")->text(), u("Przywrócono pliki sprzed konwersji: pliki *.inc: 5, pliki sceneryjne: 1."));
  EXPECT_FALSE(w.get("Command7")->isVisible());
  EXPECT_EQ(w.state(), ready(true, true));  // the assignments still hold: convert again if wanted
  ASSERT_TRUE(w.click("Command5").empty());
  EXPECT_NE(sceneryOf(t), before);
}

TEST_F(Form1OnATree, TheFilesOfTheLastChangeAreListedInAWindowWithTheWarnings) {
  // A line the conversion cannot give its category: warned, not stopped.
  t.write("base/scenery/trasa.scn", t.read("base/scenery/trasa.scn") + "include linie/b.inc end\r\n");
  Window& w = open();
  startAndAssignAll(w);
  ASSERT_TRUE(w.click("Command5").empty());
  EXPECT_EQ(w.get<QLabel>("Label6")->text(),
            u("Przerobiono pliki *.inc: 5, pliki sceneryjne: 1 z 1 sprawdzonych. Ostrzeżenia: 1."));
  const auto shown = previewing([&] { QTest::mouseClick(w.get<QPushButton>("Command8"), Qt::LeftButton); });
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, u("Zmienione pliki"));
  EXPECT_EQ(shown[0].text, u("Przerobiono pliki *.inc: 5, pliki sceneryjne: 1 z 1 sprawdzonych. Ostrzeżenia: 1.\n\n"
                             // In the conversion's order, as the command line prints them.
                             "scenery\\linie\\most.inc\nscenery\\dworzec.inc\nscenery\\linie\\a.inc\n"
                             "scenery\\linie\\b.inc\nscenery\\linie\\stare\\c.inc\nscenery\\trasa.scn\n\n"
                             // The same words as the command line's.
                             "Ostrzeżenia:\nscenery\\trasa.scn:3: dyrektywa include pliku „linie\\b.inc”, który ma "
                             "kategorię, nie przekazuje parametrów, więc nie przekaże mu też kategorii jako "
                             "parametru 1"));
}

TEST_F(Form1OnATree, AnUndoRefusedBecauseAFileChangedNamesItAndChangesNothing) {
  Window& w = open();
  startAndAssignAll(w);
  ASSERT_TRUE(w.click("Command5").empty());
  t.write("base/scenery/trasa.scn", "poprawione ręcznie\r\n");
  const auto before = t.snapshot();
  const auto messages =
      answering([&] { QTest::mouseClick(w.get<QPushButton>("Command7"), Qt::LeftButton); }, QMessageBox::Yes);
  ASSERT_EQ(messages.size(), 2u);  // the question, then the refusal
  EXPECT_EQ(messages[1].icon, QMessageBox::Warning);
  EXPECT_TRUE(messages[1].text.contains(QString::fromStdString(t.path("base/scenery/trasa.scn"))))
      << messages[1].text.toStdString();
  EXPECT_TRUE(messages[1].text.contains(u("Nie zmieniono żadnego pliku"))) << messages[1].text.toStdString();
  EXPECT_EQ(t.snapshot(), before);
  EXPECT_TRUE(w.get("Command7")->isVisible());  // may be tried again once the file is put right
}

// A base converted in an earlier run: Start offers the undo; afterwards the
// files wait for their categories again.
TEST_F(Form1OnATree, StartOnAConvertedBaseOffersTheUndo) {
  const auto original = sceneryOf(t);
  {
    Window first(t, t.path("base"));
    startAndAssignAll(first);
    ASSERT_TRUE(first.click("Command5").empty());
    first.form().Form_QueryUnload(Form1::UnloadMode::User);
  }
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());
  EXPECT_EQ(w.state(), ready(true, false));
  ASSERT_TRUE(w.get("Command7")->isVisible());
  EXPECT_TRUE(w.get<QLabel>("Label6")->text().isEmpty());
  ASSERT_EQ(answering([&] { QTest::mouseClick(w.get<QPushButton>("Command7"), Qt::LeftButton); }, QMessageBox::Yes)
                .size(),
            1u);
  EXPECT_EQ(sceneryOf(t), original);
  EXPECT_EQ(w.items("List1"), (QStringList{"dworzec.inc", "linie\\a.inc", "linie\\b.inc", "linie\\stare\\c.inc"}));
  EXPECT_EQ(w.state(), assigning(kRoot));
  EXPECT_FALSE(w.get("Command7")->isVisible());
}

// ---------------------------------------------------------------------------
// The review of the changes

// Runs `action`; the review window that opens meanwhile is handed to
// `inside`, then closed unless `inside` closed it. Returns how many opened.
int reviewing(const std::function<void()>& action, const std::function<void(Form4&)>& inside) {
  int seen = 0;
  whileOpen<Form4>(action, [&](Form4& form) {
    ++seen;
    inside(form);
    if (form.isVisible()) form.reject();
  });
  return seen;
}

template <typename T = QWidget>
T* part(QWidget& form, const char* name) {
  T* control = form.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

// A tree whose linie\b.inc changes in two hunks, and whose trasa.scn has a
// line the conversion warns about.
void layOutForReview(const TempTree& t) {
  layOut(t);
  std::string b = "a (p1)\r\n";
  for (int i = 0; i < 10; ++i) b += "x\r\n";
  t.write("base/scenery/linie/b.inc", b + "b (p2) (p3)\r\n");
  t.write("base/scenery/trasa.scn", t.read("base/scenery/trasa.scn") + "include linie/b.inc end\r\n");
}

// layOutForReview's tree.
class Form4OnATree : public WindowOnTree {
 protected:
  void SetUp() override { layOutForReview(t); }
};

TEST_F(Form4OnATree, TheReviewListsWhatTheConversionWouldChangeAndClosingItChangesNothing) {
  Window& w = open();
  EXPECT_FALSE(w.get("Command9")->isEnabled());
  // Beside the conversion's button, in the space the design leaves free.
  EXPECT_EQ(w.get("Command9")->geometry(), QRect(7320 / 15, 6240 / 15, 1935 / 15, 735 / 15));
  EXPECT_EQ(w.get<QPushButton>("Command9")->text(), u("Podgląd zmian"));
  startAndAssignAll(w);
  EXPECT_TRUE(w.get("Command9")->isEnabled());
  EXPECT_EQ(w.get("Command9")->isEnabled(), w.get("Command5")->isEnabled());
  convert::ConversionEvents quiet;
  convert::ConversionOptions dry;
  dry.dryRun = true;
  const convert::ConversionResult expected = convert::runConversion(t.runPaths(), quiet, dry);
  const auto before = sceneryOf(t);

  const int opened = reviewing([&] { QTest::mouseClick(w.get<QPushButton>("Command9"), Qt::LeftButton); }, [&](Form4& form) {
    // Shortcuts reach the active window only.
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto* list = part<QTableView>(form, "List1");
    QStringList files;
    for (int row = 0; row < list->model()->rowCount(); ++row) files << list->model()->index(row, 0).data().toString();
    QStringList want;
    for (const std::string& f : expected.changedFiles) want << shown(f);
    EXPECT_EQ(files, want);
    EXPECT_EQ(part<QLabel>(form, "Label1")->text().left(10), u("Do zmiany:"));
    EXPECT_TRUE(part<QLabel>(form, "Label1")->text().endsWith(u("Ostrzeżenia: 1.")));
    EXPECT_TRUE(part<QPlainTextEdit>(form, "Text2")->isVisibleTo(&form));
    EXPECT_TRUE(part<QPlainTextEdit>(form, "Text2")->toPlainText().startsWith("scenery\\trasa.scn:3: "));

    // The first file at once, then from file to file by keys.
    auto* diff = part<DiffView>(form, "Text1");
    EXPECT_EQ(form.shownFile(), 0);
    EXPECT_TRUE(diff->toPlainText().startsWith("@@ ")) << diff->toPlainText().toStdString();
    QTest::keyClick(&form, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(form.shownFile(), 1);
    QTest::keyClick(&form, Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(form.shownFile(), 0);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(form.shownFile(), 1);

    // linie\b.inc has two hunks: Alt+Down goes to the second, Alt+Up back.
    const int b = static_cast<int>(files.indexOf("scenery\\linie\\b.inc"));
    ASSERT_GE(b, 0);
    list->selectRow(b);
    EXPECT_EQ(form.shownFile(), b);
    EXPECT_EQ(diff->currentRow(), 0);
    QTest::keyClick(&form, Qt::Key_F7);
    EXPECT_GT(diff->currentRow(), 0);
    EXPECT_TRUE(diff->textCursor().block().text().startsWith("@@ "));
    QTest::mouseClick(part<QPushButton>(form, "Command1"), Qt::LeftButton);
    EXPECT_EQ(diff->currentRow(), 0);
    // The numbers of both sides and the mark stand before each line.
    EXPECT_TRUE(diff->toPlainText().contains(QRegularExpression("\\n +2 +3   x\\n")))
        << diff->toPlainText().toStdString();

    // Read by screen readers: the list and the diff by name, the diff as text.
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(diff);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(QAccessible::Name), u("Zmiany w zaznaczonym pliku"));
    ASSERT_NE(text->textInterface(), nullptr);
    EXPECT_EQ(text->textInterface()->text(0, text->textInterface()->characterCount()), diff->toPlainText());
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->text(QAccessible::Name), u("Pliki, które konwersja zmieni"));
  });
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(sceneryOf(t), before);
  EXPECT_TRUE(w.get("Command5")->isEnabled());
  EXPECT_TRUE(w.get<QLabel>("Label6")->text().isEmpty());
}

TEST_F(Form4OnATree, ConvertingFromTheReviewClosesItFirstAndConvertsAsTheButtonDoes) {
  Window& w = open();
  startAndAssignAll(w);
  bool reviewOpen = false;
  const QStringList captions = progressCaptions(
      [&] {
        reviewing([&] { QTest::mouseClick(w.get<QPushButton>("Command9"), Qt::LeftButton); },
                  [&](Form4& form) { QTest::mouseClick(part<QPushButton>(form, "Command3"), Qt::LeftButton); });
      },
      [&] { reviewOpen = reviewOpen || qobject_cast<Form4*>(QApplication::activeModalWidget()) != nullptr; });
  EXPECT_FALSE(reviewOpen) << "the review was still open while the files were converted";
  EXPECT_TRUE(captions.contains(u("Przerabianie plików: czekaj"))) << captions.join(", ").toStdString();
  EXPECT_TRUE(w.get<QLabel>("Label6")->text().startsWith(u("Przerobiono pliki *.inc: 5")));
  EXPECT_FALSE(w.get("Command5")->isEnabled());
  EXPECT_FALSE(w.get("Command9")->isEnabled());
}

// The preparation runs off this thread; its progress window's Anuluj stops it.
TEST(Form4, ThePreparationRunsOffTheInterfaceThreadAndStopsWhenCancelled) {
  const std::thread::id here = std::this_thread::get_id();
  bool elsewhere = false;
  bool cancelled = false;
  watchingProgress(
      [&] {
        EXPECT_THROW(BackgroundWork::run<int>([&](run::ConversionEvents& events) {
                       elsewhere = std::this_thread::get_id() != here;
                       for (;;) {
                         events.fileBegins("linie\\a.inc");
                         std::this_thread::sleep_for(std::chrono::milliseconds(1));
                       }
                       return 0;
                     }),
                     run::Cancelled);
      },
      [&](QWidget& top) {
        if (cancelled) return;
        EXPECT_EQ(top.windowTitle(), u("Przygotowanie podglądu zmian: czekaj"));
        QTest::mouseClick(top.findChild<QPushButton*>("Command1"), Qt::LeftButton);
        cancelled = true;
      });
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(elsewhere);
  for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_NE(top->objectName(), "Form3");
}

TEST_F(Form1OnATree, TheUndoButtonAndTheSummaryAreReadByScreenReaders) {
  Window& w = open();
  startAndAssignAll(w);
  ASSERT_TRUE(w.click("Command5").empty());
  for (const char* name : {"Command7", "Command8"}) {
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(w.get(name));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(button->text(QAccessible::Name), qobject_cast<QPushButton*>(w.get(name))->text());
    EXPECT_FALSE(button->state().invisible);
  }
  QAccessibleInterface* summary = QAccessible::queryAccessibleInterface(w.get("Label6"));
  EXPECT_EQ(summary->text(QAccessible::Name), w.get<QLabel>("Label6")->text());
  EXPECT_EQ(summary->text(QAccessible::Description), u("Podsumowanie zmian plików"));
}

// ---------------------------------------------------------------------------
// The preview

// layOut's tree, for the preview.
class Form2OnATree : public Form1OnATree {};

TEST_F(Form2OnATree, ADoubleClickShowsTheFirstLinesOfTheFile) {
  std::string text = "// Dworzec \xB3\xF3\xBF\r\nCR\rLF\n(p1) (p2) (p3)\r\n";
  for (int i = 5; i <= 600; ++i) text += "linia " + std::to_string(i) + "\r\n";
  t.write("base/scenery/dworzec.inc", text);
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());

  QString want = u("// Dworzec łóż\nCR\nLF\n(p1) (p2) (p3)");
  for (int i = 5; i <= 400; ++i) want += "\nlinia " + QString::number(i);
  const QSize design(715, 456);  // 10725 x 6840 twips
  auto first = previewing([&] { w.doubleClick("dworzec.inc"); },
                          [](Form2& form) {
                            type(form.findChild<QPlainTextEdit*>("Text1"), "zmiana");
                            form.resize(900, 600);
                          });
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].caption, u("Podgląd pliku: dworzec.inc"));
  EXPECT_EQ(first[0].text, want);
  EXPECT_EQ(first[0].size, design);
  EXPECT_FALSE(first[0].waitPointer);

  // Afresh: the file's text again, at the design size.
  auto second = previewing([&] { w.doubleClick("dworzec.inc"); });
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].text, want);
  EXPECT_EQ(second[0].size, design);

  auto sub = previewing([&] { w.doubleClick("linie\\a.inc"); });
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(sub[0].caption, u("Podgląd pliku: linie\\a.inc"));
  EXPECT_EQ(sub[0].text, "a = (p1)\nb = (p2)\nc = (p3)");

  // Nothing changed: lists, selection, stage, files.
  EXPECT_EQ(w.items("List1").size(), 4);
  EXPECT_EQ(w.selected("List1"), "linie\\a.inc");
  EXPECT_EQ(w.state(), assigning("linie\\"));
  EXPECT_EQ(t.read("base/scenery/dworzec.inc"), text);
  for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_NE(top->objectName(), "Form2");
}

TEST_F(Form2OnATree, WithoutASelectionADoubleClickDoesNothing) {
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());
  auto* view = w.get<QListView>("List1");
  view->selectionModel()->clearSelection();  // as a control-click on the selected item does
  ASSERT_FALSE(w.run().selectedFile().has_value());
  bool pointerChanged = false;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] { pointerChanged |= QApplication::overrideCursor() != nullptr; });
  watch.start();
  std::vector<Message> messages;
  const auto previews = previewing([&] { messages = answering([&] { w.doubleClick(""); }); });
  watch.stop();
  EXPECT_TRUE(previews.empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(pointerChanged);
}

// A file of List1 spoiled between Start and the double click.
struct Spoiled {
  const char* name;  // of the case
  std::function<void(const TempTree&)> spoil;
  const char* says;  // in the message
};

void PrintTo(const Spoiled& s, std::ostream* os) { *os << s.name; }

class Form2OnASpoiledFile : public Form1OnATree, public ::testing::WithParamInterface<Spoiled> {};

TEST_P(Form2OnASpoiledFile, IsToldAndNoWindowIsLeft) {
  Window& w = open();
  ASSERT_TRUE(w.click("Command1").empty());
  GetParam().spoil(t);
  std::vector<Message> messages;
  const auto previews = previewing([&] { messages = answering([&] { w.doubleClick("dworzec.inc"); }); });
  EXPECT_TRUE(previews.empty());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, "Borvantel");
  EXPECT_TRUE(messages[0].text.contains(QString::fromStdString(t.path("base/scenery/dworzec.inc"))))
      << messages[0].text.toStdString();
  EXPECT_TRUE(messages[0].text.contains(u(GetParam().says))) << messages[0].text.toStdString();
  EXPECT_FALSE(messages[0].waitPointer);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(w.items("List1").size(), 4);
  EXPECT_EQ(w.state(), assigning(kRoot));
  for (QWidget* top : QApplication::topLevelWidgets()) EXPECT_NE(top->objectName(), "Form2");
}

const Spoiled kSpoiled[] = {
    {"Deleted", [](const TempTree& tree) { std::filesystem::remove(tree.path("base/scenery/dworzec.inc")); },
     "nie istnieje"},
    {"Emptied", [](const TempTree& tree) { tree.write("base/scenery/dworzec.inc", ""); }, "pusty"},
};

std::string spoiledName(const ::testing::TestParamInfo<Spoiled>& row) { return row.param.name; }

INSTANTIATE_TEST_SUITE_P(SinceStart, Form2OnASpoiledFile, ::testing::ValuesIn(kSpoiled), spoiledName);

TEST(Form2, TheTextBoxFollowsEveryEdgeAndACrushingSizeSpringsBack) {
  Form2 form(nullptr);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto* box = form.findChild<QPlainTextEdit*>("Text1");
  EXPECT_EQ(box->geometry(), QRect(8, 8, 705, 441));  // 120, 120, 10575 x 6615 twips
  EXPECT_TRUE(box->lineWrapMode() == QPlainTextEdit::NoWrap);
  EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  form.resize(900, 600);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.size() == QSize(900, 600); }, 2000));
  EXPECT_EQ(box->geometry(), QRect(8, 8, 890, 585));  // 30 twips to the right, 105 below

  form.resize(10, 600);  // 150 twips: no width left for the box
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.size() == QSize(900, 600); }, 2000)) << form.width();
  EXPECT_EQ(box->geometry(), QRect(8, 8, 890, 585));

  form.resize(11, 16);  // the smallest size that fits
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.size() == QSize(11, 16); }, 2000));
  EXPECT_EQ(box->geometry(), QRect(8, 8, 1, 1));
}

// ---------------------------------------------------------------------------
// Paths and volumes

// A base directory whose own name and whose files hold Polish letters: shown
// decoded, opened, scanned and converted by their bytes.
TEST(Form1, ABaseWithPolishLettersInItsPathWorksThroughout) {
  TempTree t;
  const std::string base = onDisk("trasa_łódź");
  layOut(t, base);
  t.write(base + "/scenery/" + onDisk("żółw.inc"), kThreeMarkers);
  t.mkdir("inna");
  Window w(t, t.path("inna"));
  w.openInDir1(shown(t.root().substr(text::nameStart(t.root()))));
  w.openInDir1(u("trasa_łódź"));
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.path(base) + platform::kPathSeparator);
  EXPECT_EQ(w.get<QTreeWidget>("Dir1")->currentItem()->text(0), u("trasa_łódź"));
  EXPECT_EQ(w.state(), choosing(true));

  ASSERT_TRUE(w.click("Command1").empty());
  EXPECT_TRUE(w.items("List1").contains(u("żółw.inc"))) << w.items("List1").join(", ").toStdString();
  while (!w.items("List1").isEmpty()) ASSERT_TRUE(w.click("Command2").empty());
  ASSERT_TRUE(w.click("Command5").empty());
  EXPECT_EQ(t.read(base + "/scenery/" + onDisk("żółw.inc")), "//$infotype: AUTA\r\na = (p2)\r\nb = (p3)\r\nc = (p4)\r\n");
}

#ifdef _WIN32
// "C:\" for a full path on a drive.
QString driveOf(const std::string& path) { return QString::fromStdString(path.substr(0, 3)); }

// The drive list holds drive letters as Windows writes them; Dir1 shows the
// chain from the drive down to the base.
TEST_F(Form1OnAnEmptyBase, OnWindowsTheDriveListHoldsDriveLettersAndDir1StartsAtTheDrive) {
  Window& w = open();
  auto* drive = w.get<QComboBox>("Drive1");
  QStringList roots;
  for (int i = 0; i < drive->count(); ++i) {
    const QString caption = drive->itemText(i);
    EXPECT_TRUE(QRegularExpression(R"(^[A-Z]:\\( \[.+\])?$)").match(caption).hasMatch()) << caption.toStdString();
    roots << caption.left(3);
  }
  EXPECT_TRUE(roots.contains(driveOf(t.root()))) << roots.join(' ').toStdString();
  EXPECT_EQ(drive->currentText().left(3), driveOf(t.root()));

  auto* dir = w.get<QTreeWidget>("Dir1");
  ASSERT_EQ(dir->topLevelItemCount(), 1);
  QTreeWidgetItem* item = dir->topLevelItem(0);
  EXPECT_EQ(item->text(0), driveOf(t.root()));
  const QStringList below = shown(t.path("base").substr(3)).split('\\');
  for (const QString& name : below) {
    SCOPED_TRACE(name.toStdString());
    ASSERT_EQ(item->childCount(), 1);  // the chain: one directory below the other
    item = item->child(0);
    EXPECT_EQ(item->text(0), name);
  }
  EXPECT_EQ(item, dir->currentItem());
  ASSERT_EQ(item->childCount(), 1);
  EXPECT_EQ(item->child(0)->text(0), "scenery");
}

// Wine maps its drives to directories: Z: is the Linux root, so a tree
// under Z:\tmp is a base on another drive than the temporary directory.
TEST(Form1, OnWindowsABaseOnAnotherDriveIsReachedThroughTheDriveList) {
  TempTree home;
  const QString homeDrive = driveOf(home.root());
  std::string other;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = QDir::toNativeSeparators(volume.rootPath());
    if (root.left(3) != homeDrive && volume.isReady() && QFileInfo(root + "tmp").isWritable()) {
      other = root.toStdString() + "tmp\\";
      break;
    }
  }
  if (other.empty()) GTEST_SKIP() << "no second writable drive with a tmp directory";
  TempTree t(other);
  layOut(t);
  home.mkdir("base/scenery");
  home.write("prog/kategorie.txt", "AUTA\r\n");
  Window w(home, home.path("base"));

  auto* drive = w.get<QComboBox>("Drive1");
  auto pick = [&](const QString& root) {
    const int index = static_cast<int>(drive->findText(root, Qt::MatchStartsWith));
    ASSERT_GE(index, 0) << root.toStdString();
    drive->setCurrentIndex(index);
    EXPECT_TRUE(answering([&] { emit drive->activated(index); }).empty());
  };
  pick(driveOf(t.root()));
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.root().substr(0, 3));  // the other drive's root
  EXPECT_EQ(w.get<QTreeWidget>("Dir1")->currentItem()->text(0), driveOf(t.root()));
  for (const QString& name : shown(t.path("base").substr(3)).split('\\')) w.openInDir1(name);
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.path("base") + "\\");
  EXPECT_EQ(w.state(), choosing(true));

  // Back on the first drive, its last directory; then the other's again.
  pick(homeDrive);
  EXPECT_EQ(w.run().paths().sciezka_katalogu, home.path("base") + "\\");
  pick(driveOf(t.root()));
  EXPECT_EQ(w.run().paths().sciezka_katalogu, t.path("base") + "\\");
  EXPECT_EQ(drive->currentText().left(3), driveOf(t.root()));

  ASSERT_TRUE(w.click("Command1").empty());
  while (!w.items("List1").isEmpty()) ASSERT_TRUE(w.click("Command2").empty());
  ASSERT_TRUE(w.click("Command5").empty());
  EXPECT_EQ(t.read("base/scenery/trasa.scn"),
            "include linie/a.inc AUTA_&type 1 2 end\r\ninclude dworzec.inc AUTA_&type 3 end\r\n");
}
#endif

// ---------------------------------------------------------------------------
// The program itself

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert("XDG_RUNTIME_DIR", QString::fromStdString(tree_.path("runtime")));
    environment_.insert("QT_QPA_PLATFORM", "offscreen");
    tree_.mkdir("runtime");
    tree_.mkdir("base/scenery");
  }
  void start(QProcess& p) {
    p.setProcessEnvironment(environment_);
    p.setWorkingDirectory(QString::fromStdString(tree_.path("base")));
    p.start(BORVANTEL_WINDOW, {"--program-dir", QString::fromStdString(tree_.path("prog"))});
    ASSERT_TRUE(p.waitForStarted());
  }
  // Whether a copy holds the one-per-user lock: on Windows a named mutex,
  // elsewhere a lock file in the runtime directory.
  bool locked() {
#ifdef _WIN32
    const HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\borvantel-single-instance");
    if (mutex) ::CloseHandle(mutex);
    return mutex != nullptr;
#else
    return tree_.exists("runtime/borvantel.lock");
#endif
  }

  TempTree tree_;
  QProcessEnvironment environment_;
};

TEST_F(Program, ASecondCopyEndsSilently) {
  QProcess first;
  start(first);
  ASSERT_TRUE(QTest::qWaitFor([&] { return locked(); }, 10000));
  QProcess second;
  start(second);
  ASSERT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(second.readAllStandardOutput(), "");
  EXPECT_EQ(first.state(), QProcess::Running);  // the first is not affected

  // A copy that died leaves its lock file behind and the next copy takes it
  // over; Windows itself releases the mutex of a process that ends.
  first.kill();
  ASSERT_TRUE(first.waitForFinished(10000));
#ifdef _WIN32
  ASSERT_TRUE(QTest::qWaitFor([&] { return !locked(); }, 10000));
#else
  ASSERT_TRUE(locked());
#endif
  QProcess third;
  start(third);
  EXPECT_FALSE(third.waitForFinished(1500));  // still running: it opened its window
  third.kill();
  third.waitForFinished(10000);
}

TEST_F(Program, ABadOptionIsRefusedWithTheUsage) {
  QProcess p;
  p.setProcessEnvironment(environment_);
  p.start(BORVANTEL_WINDOW, {"--program-dir"});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 2);
  EXPECT_TRUE(p.readAllStandardError().contains("--program-dir"));
}

}  // namespace
}  // namespace borvantel::app

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
