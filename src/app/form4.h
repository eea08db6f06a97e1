// Form4: the review of the conversion's changes before they are made. On
// the left the files the conversion would change, in its order, with the
// lines each loses and gains, and above them the totals and the warnings; on
// the right the selected file's diff (DiffView). Up and Down, or Ctrl+PgUp
// and Ctrl+PgDown from anywhere, move between files; F7 and Shift+F7 (or
// Alt+Down and Alt+Up, or Command2 and Command1) between the hunks of a file. Closing it changes
// nothing; Command3 closes it and asks for the conversion itself.
#pragma once

#include "run/review.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace borvantel::app {

class DiffView;
class ReviewFilesModel;

class Form4 : public QDialog {
  Q_OBJECT

 public:
  Form4(QWidget* parent, run::ChangeReview review);
  ~Form4() override;

  // Command3 closed it: the conversion is wanted.
  bool conversionRequested() const noexcept { return conversionRequested_; }
  // The file shown (a row of List1), if any.
  int shownFile() const noexcept { return shown_; }

 private slots:
  void List1_Click();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();

 private:
  void createControls();
  void createSummary();   // Label1 and the warnings, Text2
  void createFileList();  // List1
  void createDiff();      // Label2 and Text1
  void createButtons();
  void layOutControls();
  void connectControls();
  void moveFile(int step);
  void showFile(int file);

  run::ChangeReview review_;
  bool conversionRequested_ = false;
  int shown_ = -1;

  QLabel* Label1;         // the totals
  QPlainTextEdit* Text2;  // the warnings (hidden without)
  QTableView* List1;      // the files
  QLabel* Label2;         // the file shown
  DiffView* Text1;        // its diff
  QPushButton* Command1;  // "Poprzedni fragment"
  QPushButton* Command2;  // "Następny fragment"
  QPushButton* Command3;  // "Zmień pliki *.inc i sceneryjne"
  QPushButton* Command4;  // "Zamknij"
  ReviewFilesModel* files_;
};

}  // namespace borvantel::app
