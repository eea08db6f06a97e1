// One run of the program, without any window toolkit: the run-wide values
// (sciezka_programu, sciezka_katalogu, wszystkie_inc_przypisane), the stage
// with the state of the controls, the two lists with their selections, and the
// operations that the window's buttons and the command line start.
//
// Errors, for the whole run layer: an operation that fails throws
// text::Failure (Polish text naming the file and the reason) and leaves the
// run as it was, except where its comment says otherwise; the working files
// are then as the failed core step left them (each written whole or not at
// all).
#pragma once

#include "convert/conversion.h"
#include "convert/progress.h"
#include "convert/unified_diff.h"
#include "convert/undo.h"
#include "run/changes.h"
#include "run/review.h"
#include "run/stages.h"
#include "run/start.h"
#include "text/paths.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::run {

// What a conversion tells its caller while it works (the window's progress
// window), and what it gives back.
using convert::ConversionEvents;
using convert::ConversionPhase;
using convert::ConversionResult;
// How Run::diff writes its text.
using convert::DiffStyle;
// Thrown by Run::convert where the file system refuses the links that keep
// the originals for undo: nothing has changed, and convertWithoutUndo()
// converts without them once the user agrees.
using convert::UndoUnavailable;

// Start has not run on a base directory that a resumed run needs.
class NotStarted : public text::Failure {
 public:
  using text::Failure::Failure;
};

// What the preview shows for an entry of the file list.
struct Preview {
  std::string entry;  // the list's item (file-name bytes): the caption names it
  std::string text;   // the first lines, joined by CR LF (Windows-1250)
};

// Include files still wait for a category: nothing may be converted.
class FilesWaiting : public text::Failure {
 public:
  using text::Failure::Failure;
};

// The directories, as relative paths ending in "\" ("" for the scenery
// directory itself), that a directory typed by the user (UTF-8) may stand
// for, in the order to try them: the typed bytes (names that are UTF-8), then
// their Windows-1250 form (names the tool wrote in Windows-1250).
std::vector<std::string> typedDirectoryTargets(std::string_view typedUtf8);

class Run {
 public:
  // Start-up: the flag is 0, sciezka_programu is `programDir`, the base
  // directory is `baseDir`, and spr_exist_scenery decides about Start.
  Run(std::string_view programDir, std::string_view baseDir);

  // A run that continues after a Start made earlier (by another process) on
  // `baseDir`: the file list is what still waits in the working files, the
  // category list is read anew. Throws text::Failure when the base directory
  // does not exist, NotStarted when Start has not run there. An interrupted
  // conversion is put right first (see recover()).
  static Run resume(std::string_view programDir, std::string_view baseDir);

  // Finishes or undoes a conversion that was interrupted in the base
  // directory (the journal it left); returns what was done, for the user, or
  // "" when there was nothing to do. Throws text::Failure, changing nothing,
  // for a journal that cannot be followed. Start and resume() call it.
  std::string recover();

  // --- operations, in the order a run uses them

  // Dir1_Change: the base directory becomes `dir`; spr_exist_scenery runs
  // again. Only while the directory is being chosen; ignored afterwards.
  void changeDirectory(std::string_view dir);

  // Command1_Click: scan, automatic completion, both lists filled. Refused
  // when the base directory is gone or cannot be read, or Start is not usable
  // there. On failure the run stays in the choosing stage.
  StartResult start();

  // List1_Click: the selection of the file list (nullopt: none); Label5 shows
  // the selected file's directory.
  void selectFile(std::optional<size_t> index);
  // The selection of the category list.
  void selectCategory(std::optional<size_t> index);

  // Command2_Click: the selected category to the selected file, appended to
  // "inc_out.txt" at once; the file leaves the list and the first remaining
  // one is selected. On an empty list only the list-empty transition runs.
  void assignSelectedFile();
  // Command4_Click: the selected category to every listed file lying directly
  // in the directory that Label5 names. Returns the files assigned, in list
  // order.
  std::vector<std::string> assignWholeDirectory();
  // The same for a directory given as a relative path ending in "\" (empty:
  // the scenery directory itself).
  std::vector<std::string> assignDirectory(std::string_view target);
  // The same for a directory as a user types it (UTF-8): "" or the scenery
  // directory's label (in any case) for the scenery directory itself, else a
  // relative directory with "\" or "/" between its parts and the final "\"
  // optional, tried as typed and then in Windows-1250 (see
  // typedDirectoryTargets). Throws text::Failure, assigning nothing, when no
  // listed file lies directly in it.
  std::vector<std::string> assignTypedDirectory(std::string_view typedUtf8);

  // List1_DblClick: the text of the selected file; nullopt when no entry is
  // selected. Changes nothing.
  std::optional<Preview> previewSelectedFile() const;

  // Command3_Click: the typed name (UTF-8) as a category name, appended to
  // "kategorie.txt" and added to the category list in its sorted place; the
  // selection stays on the item it was on. Returns the name (Windows-1250).
  // Refused when a typed character has no place in Windows-1250.
  std::string addCategory(std::string_view typedUtf8);

  // Command6_Click: the assignments of "inc_out.txt" appended to
  // "predef.txt". Returns the number of lines appended. The button is off
  // from then on, unless the save fails (then nothing was appended).
  size_t save();

  // Command5_Click: converts the tree. Refused (FilesWaiting) while files
  // wait for a category; a dry run reads everything and changes nothing. The
  // button is off from then on, unless the conversion fails before any file
  // was changed (so the user may try again). Throws
  // convert::IncompleteConversion when it fails after changing files.
  convert::ConversionResult convert(convert::ConversionEvents& events, const convert::ConversionOptions& options = {});
  // The same without keeping the originals for undo, where the file system
  // refuses the links that keep them: in the window once the user agrees,
  // from the command line with --no-undo.
  convert::ConversionResult convertWithoutUndo(convert::ConversionEvents& events);
  // The files the conversion would change, read and decided without changing
  // anything; the convert button stays as it was.
  convert::ConversionResult dryRun(convert::ConversionEvents& events);
  // The same, with every change as a unified diff (convert/unified_diff.h)
  // handed to `write` a file at a time, in the order of the changed files;
  // refused as dryRun() is. `write` may throw to stop it.
  convert::ConversionResult diff(convert::ConversionEvents& events, const DiffStyle& style,
                                 const std::function<void(std::string_view)>& write);

  // What the conversion would change, listed for a review (run/review.h);
  // refused as dryRun() is. Reads only the run's paths, so it may run on
  // another thread while this run is left alone.
  ChangeReview review(ConversionEvents& events) const;

  // Form_QueryUnload, when the user closes the window, and the command
  // line's clean: deletes the working files ("inc_out.txt", "inc_out1.txt",
  // "p_inc.txt", "p_scn.txt") from the base directory; the undo set stays.
  void close();

  // The question to ask before undo(), naming what the undo set would put
  // back. Throws text::Failure when there is no undo set.
  std::string undoQuestion() const;
  // Puts back every original the last conversion replaced (its undo set),
  // `events` hearing of each file; refuses, changing nothing, when a converted
  // file was changed since. Afterwards the run is in the stage that fits the
  // files as they now are: a conversion made by this run is offered again
  // (its assignments still hold); after a Start on a base converted before,
  // Start's scan runs again, since its lists described the converted files.
  UndoResult undo(ConversionEvents& events);
  // Frees the undo set.
  void discardUndoSet();

  // --- state

  const text::RunPaths& paths() const noexcept { return paths_; }
  // What resume() or the last start() did about an interrupted conversion
  // ("" when nothing); kept even when Start then failed.
  const std::string& recovered() const noexcept { return recovered_; }
  // What the last conversion or undo of this run changed (not a dry run).
  const std::optional<Changes>& lastChanges() const noexcept { return lastChanges_; }
  bool wszystkie_inc_przypisane() const noexcept { return wszystkie_inc_przypisane_; }
  Stage stage() const noexcept { return stage_; }
  Controls controls() const;

  // Full paths of the subdirectories of the base directory, in list order.
  const std::vector<std::string>& directoryEntries() const noexcept { return entries_; }

  // List1 and List2, in list order, with their selections. Each version
  // changes whenever its list's items change.
  const std::vector<std::string>& fileList() const noexcept { return files_; }
  std::optional<size_t> selectedFile() const noexcept { return selectedFile_; }
  std::uint64_t fileListVersion() const noexcept { return filesVersion_; }
  const std::vector<std::string>& categoryList() const noexcept { return categories_; }
  std::optional<size_t> selectedCategory() const noexcept { return selectedCategory_; }
  std::uint64_t categoryListVersion() const noexcept { return categoriesVersion_; }

  // The category list's entry for a name typed in UTF-8: the same bytes, or
  // else the same name ignoring case. Throws text::Failure when there is none.
  size_t categoryIndex(std::string_view utf8) const;
  // The file list's entry for an item given as its bytes or its display form
  // ("/" accepted for "\"). Throws text::Failure when there is none.
  size_t fileIndex(std::string_view item) const;

 private:
  // Start's file work and the lists and stage it leads to; also the scan
  // again after an undo.
  StartResult scanAndFill();
  void setFiles(std::vector<std::string> files);
  void setCategories(std::vector<std::string> names);
  void removeFile(size_t index);
  // After an assignment: the first file selected, or the list-empty transition.
  void afterAssignment();
  // The list-empty transition.
  void allAssigned();
  // Throws FilesWaiting while include files wait for a category.
  void requireAllAssigned() const;

  text::RunPaths paths_;
  bool wszystkie_inc_przypisane_ = false;
  Stage stage_ = Stage::ChoosingDirectory;
  std::vector<std::string> entries_;
  bool startUsable_ = false;
  bool converted_ = false;  // Command5 pressed
  std::string recovered_;
  bool saved_ = false;      // Command6 pressed
  bool undoSet_ = false;    // the base directory holds an undo set (as last seen)
  bool scannedConverted_ = false;  // Start found the base converted before (an undo set there)
  std::optional<Changes> lastChanges_;
  std::string directoryLabel_;  // the selected file's directory, kept when the selection goes

  std::vector<std::string> files_;
  std::optional<size_t> selectedFile_;
  std::uint64_t filesVersion_ = 0;
  std::vector<std::string> categories_;
  std::optional<size_t> selectedCategory_;
  std::uint64_t categoriesVersion_ = 0;
};

}  // namespace borvantel::run
