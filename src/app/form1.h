// Form1: the main window. It holds the controls of the design, turns each
// event into one call on the run (run::Run) and copies the run's state back
// onto the controls (sync); every rule lives in the run and below.
//
// Errors, for the window: a failure of the run reaches the user in a message
// box once the mouse pointer is back (attempt), and no exception leaves an
// event handler.
#pragma once

#include "run/base_directory.h"
#include "run/run.h"

#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace borvantel::app {

class ByteListModel;
class DirectoryList;
class DriveList;
class ProgressWindow;

class Form1 : public QWidget {
  Q_OBJECT

 public:
  // Why the window is closing (the argument of Form_QueryUnload).
  enum class UnloadMode {
    User,    // from its title bar or window menu
    System,  // the session ends (log-off, shut-down)
  };

  // Form_Load: `programDir` holds "kategorie.txt" and "predef.txt"; Dir1
  // opens on `startDir`.
  Form1(const std::string& programDir, const std::string& startDir);
  ~Form1() override;

  const run::Run& run() const noexcept { return run_; }

  // Form_QueryUnload: the working files go when the user closes the window.
  void Form_QueryUnload(UnloadMode mode);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void Drive1_Change(const QByteArray& root);
  void Dir1_Change(const QByteArray& dir);
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  void Command5_Click();
  void Command6_Click();
  void Command7_Click();
  void Command8_Click();
  void Command9_Click();
  void List1_Click();
  void List1_DblClick();
  void Text1_Change(const QString& text);

 private:
  void Form_Load();
  void createControls();
  // The controls that tell of a conversion and undo it: beyond the design,
  // where the directory choice stood before Start.
  void createChangeControls();
  // Names the controls for screen readers and UI automation.
  void nameControls();
  void connectControls();
  // Moves Dir1 (and Drive1) to `dir` and runs the directory change; false,
  // with Dir1 as it was, when `dir` cannot be opened.
  bool openDirectory(const std::string& dir);
  // Copies the run's stage, lists, selections and labels onto the controls.
  void sync();
  // The part of sync() that copies run::Controls onto the widgets: the one
  // place that knows which widget shows which word of it.
  void showControls();
  // Runs `work`, under the hourglass when `wait`; a failure reaches the user
  // in a message box once the pointer is back. Returns whether it succeeded.
  template <typename Work>
  bool attempt(bool wait, Work&& work);
  void message(const QString& text, bool failure = true);

  run::Run run_;
  bool syncing_ = false;     // selections made by sync() are not user clicks
  bool converting_ = false;  // a conversion lets events in; closing waits for it
  bool closeWaiting_ = false;
  bool sessionEnding_ = false;
  run::LastDirectories lastDirectories_;
  std::uint64_t shownFiles_ = 0;
  std::uint64_t shownCategories_ = 0;

  QPushButton* Command1;  // "Start"
  QListView* List1;       // the include files waiting for a category
  QListView* List2;       // the categories
  QPushButton* Command2;  // "<--------"
  QLineEdit* Text1;       // a category to add
  QLabel* Label1;         // "Niezdefiniowane kategorie plików *.inc"
  QLabel* Label2;         // "Kategorie"
  QLabel* Label3;         // "Dopisywanie kategorii:"
  QLabel* Label4;         // "Katalog:"
  QLabel* Label5;         // the selected file's directory
  QPushButton* Command3;  // "Dopisz kategorię"
  QPushButton* Command4;  // "Przypisz kategorię do całego katalogu"
  QPushButton* Command5;  // "Zmień pliki *.inc i sceneryjne"
  DriveList* Drive1;      // the volumes
  DirectoryList* Dir1;    // the base directory
  QPushButton* Command6;  // "Zapisz przyporządkowane kategorie do pliku predef.txt"
  QPushButton* Command7;  // "Cofnij zmiany plików" (while an undo set exists)
  QPushButton* Command8;  // "Pokaż zmienione pliki" (after a conversion or undo)
  QPushButton* Command9;  // "Podgląd zmian" (whenever Command5 may be pressed)
  QLabel* Label6;         // what the last conversion or undo changed
  ByteListModel* files_;
  ByteListModel* categories_;
};

}  // namespace borvantel::app
