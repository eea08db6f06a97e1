// The stages of a run and what the main window shows in each: which buttons
// are enabled, whether the directory choice and "Katalog:" are shown, what
// Label5 says. Plain data, so that the window only copies it onto widgets and
// the table is tested without a window.
#pragma once

#include <string>
#include <string_view>

namespace borvantel::run {

enum class Stage {
  ChoosingDirectory,     // the window opened; each directory change
  Assigning,             // Start left include files without a category
  ReadyNothingAssigned,  // Start left no include file without a category
  ReadyAfterAssigning,   // the last waiting file was assigned by hand
};

// One row of the stage table.
struct StageRow {
  Stage stage;
  bool start;             // Command1 follows spr_exist_scenery (otherwise off)
  bool assign;            // Command2 and Command4
  bool convert;           // Command5, until it has been pressed
  bool save;              // Command6, until it has been pressed
  bool directoryChoice;   // Drive1 and Dir1 shown
  bool directoryCaption;  // Label4 "Katalog:" shown
  bool directoryLabel;    // Label5 shows the selected file's directory (otherwise empty)
  bool undo;              // Command7 shown while the base directory holds an undo set
};

// clang-format off
inline constexpr StageRow kStageTable[] = {
    // stage                      Start  assign convert save   dirs   Label4 Label5  undo
    {Stage::ChoosingDirectory,    true,  false, false,  false, true,  true,  false, false},
    {Stage::Assigning,            false, true,  false,  false, false, true,  true,  true},
    {Stage::ReadyNothingAssigned, false, false, true,   false, false, false, false, true},
    {Stage::ReadyAfterAssigning,  false, false, true,   true,  false, false, false, true},
};
// clang-format on

const StageRow& stageRow(Stage stage) noexcept;

// The state of the main window's controls, in words; Form1::showControls()
// alone knows which widget shows each. Command3 is not here: it follows the entry
// box alone (addCategoryEnabled).
struct Controls {
  bool start = false;            // Command1 "Start"
  bool assign = false;           // Command2 "<--------" and Command4 "Przypisz kategorię do całego katalogu"
  bool convert = false;          // Command5 "Zmień pliki *.inc i sceneryjne"
  bool save = false;             // Command6 "Zapisz przyporządkowane kategorie do pliku predef.txt"
  bool undo = false;             // Command7 "Cofnij zmiany plików" shown
  bool showChanges = false;      // Command8 "Pokaż zmienione pliki" shown (the files of the last change)
  bool review = false;           // Command9 "Podgląd zmian": enabled exactly when Command5 is
  bool directoryChoice = true;   // Drive1 and Dir1 shown
  bool directoryCaption = true;  // Label4 "Katalog:" shown
  std::string directoryLabel;    // Label5's text, Windows-1250 bytes
  std::string summary;           // Label6: the summary of the last conversion or undo (UTF-8)

  bool operator==(const Controls&) const = default;
};

// Command3 is enabled exactly while the entry box is not empty (spaces count).
inline bool addCategoryEnabled(std::string_view typed) noexcept { return !typed.empty(); }

}  // namespace borvantel::run
