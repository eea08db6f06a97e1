#include "run/run.h"

#include "categories/assignment.h"
#include "categories/categories.h"
#include "categories/save.h"
#include "convert/journal.h"
#include "convert/undo.h"
#include "preview/preview_text.h"
#include "run/base_directory.h"
#include "text/codepage.h"
#include "text/collation.h"
#include "text/files.h"
#include "text/working_files.h"

#include <algorithm>
#include <utility>

namespace borvantel::run {
Run::Run(std::string_view programDir, std::string_view baseDir) : paths_(text::RunPaths::make(programDir, baseDir)) {
  entries_ = subdirectories(paths_.sciezka_katalogu);
  startUsable_ = spr_exist_scenery(paths_.sciezka_katalogu, entries_);
}

std::string Run::recover() { return convert::recoverInterruptedConversion(paths_).message; }

std::string Run::undoQuestion() const {
  const std::optional<convert::UndoCounts> counts = convert::undoSetCounts(paths_);
  if (!counts) {
    throw text::Failure("W katalogu " + text::quotedPath(paths_.sciezka_katalogu) +
                        " nie ma kopii do cofnięcia konwersji.");
  }
  return run::undoQuestion(counts->includeFiles, counts->sceneryFiles);
}

UndoResult Run::undo(ConversionEvents& events) {
  UndoResult result = convert::undoConversion(paths_, &events);
  undoSet_ = false;
  lastChanges_ = changesOf(result);
  if (scannedConverted_) {
    // The lists came from the converted files: Start's scan again, on the
    // files as they now are.
    try {
      scanAndFill();
    } catch (const text::Failure& e) {
      throw text::Failure(undoSummary(result) + " " + e.what());
    }
  } else {
    converted_ = false;
  }
  return result;
}

void Run::discardUndoSet() { convert::discardUndoSet(paths_); }

Run Run::resume(std::string_view programDir, std::string_view baseDir) {
  Run run(programDir, baseDir);
  checkBaseDirectory(run.paths_.sciezka_katalogu);
  run.recovered_ = run.recover();
  if (!text::fileSize(run.paths_.workingFile(text::kPInc))) {
    throw NotStarted("W katalogu " + text::quotedPath(run.paths_.sciezka_katalogu) +
                     " nie uruchomiono Start (nie ma pliku p_inc.txt).");
  }
  std::vector<std::string> files = categories::pendingFiles(run.paths_);
  if (files.empty()) {
    run.allAssigned();
    return run;
  }
  run.setCategories(categories::categoryListAfterStart(run.paths_));
  run.setFiles(std::move(files));
  run.stage_ = Stage::Assigning;
  run.selectCategory(0);
  run.selectFile(0);
  return run;
}

void Run::changeDirectory(std::string_view dir) {
  if (stage_ != Stage::ChoosingDirectory) return;
  paths_ = text::RunPaths::make(paths_.sciezka_programu, dir);
  entries_ = subdirectories(paths_.sciezka_katalogu);
  startUsable_ = spr_exist_scenery(paths_.sciezka_katalogu, entries_);
}

StartResult Run::start() {
  if (stage_ != Stage::ChoosingDirectory) {
    throw text::Failure("Start uruchamia się raz na przebieg programu; uruchom program ponownie.");
  }
  checkBaseDirectory(paths_.sciezka_katalogu);
  if (!startUsable_) {
    throw text::Failure("Start jest niedostępny dla " + text::quotedPath(paths_.sciezka_katalogu) +
                        ": to katalog scenery albo nie ma w nim podkatalogu scenery.");
  }
  return scanAndFill();
}

StartResult Run::scanAndFill() {
  recovered_ = recover();
  StartResult result = runStart(paths_);
  result.recovered = recovered_;
  // Everything that can fail is done before the run changes its stage.
  std::vector<std::string> names;
  if (!result.wszystkie_inc_przypisane) names = categories::categoryListAfterStart(paths_);
  undoSet_ = scannedConverted_ = convert::undoSetExists(paths_);

  setFiles({});
  setCategories({});
  converted_ = saved_ = false;
  wszystkie_inc_przypisane_ = result.wszystkie_inc_przypisane;
  if (result.wszystkie_inc_przypisane) {
    stage_ = Stage::ReadyNothingAssigned;
    directoryLabel_.clear();  // no file waits, so the label names no directory
  } else {
    stage_ = Stage::Assigning;
    setFiles(result.fileList);
    setCategories(std::move(names));
    selectCategory(0);
    selectFile(0);
  }
  return result;
}

void Run::selectFile(std::optional<size_t> index) {
  selectedFile_ = index && *index < files_.size() ? index : std::nullopt;
  // The directory label rule; without a selection the label keeps its text.
  if (selectedFile_) directoryLabel_ = text::directoryLabel(files_[*selectedFile_]);
}

void Run::selectCategory(std::optional<size_t> index) {
  selectedCategory_ = index && *index < categories_.size() ? index : std::nullopt;
}

void Run::assignSelectedFile() {
  if (stage_ != Stage::Assigning) return;
  if (files_.empty()) {
    allAssigned();
    return;
  }
  if (!selectedFile_) throw text::Failure("Zaznacz na liście plik, któremu ma być przypisana kategoria.");
  if (!selectedCategory_) throw text::Failure("Zaznacz na liście kategorię do przypisania.");
  categories::przypisz_plik(paths_, files_[*selectedFile_], categories_[*selectedCategory_]);
  removeFile(*selectedFile_);
  afterAssignment();
}

std::vector<std::string> Run::assignWholeDirectory() {
  return assignDirectory(text::targetFromLabel(directoryLabel_));
}

std::vector<std::string> Run::assignDirectory(std::string_view target) {
  if (stage_ != Stage::Assigning) return {};
  if (files_.empty()) {
    allAssigned();
    return {};
  }
  if (!selectedCategory_) throw text::Failure("Zaznacz na liście kategorię do przypisania.");
  // The target is copied: it may be the label, which the selections change.
  const std::string dir(target);
  std::vector<std::string> assigned = categories::przypisz_katalog(paths_, files_, dir, categories_[*selectedCategory_]);
  if (!assigned.empty()) ++filesVersion_;
  selectedFile_.reset();
  afterAssignment();
  return assigned;
}

std::vector<std::string> typedDirectoryTargets(std::string_view typedUtf8) {
  const std::optional<std::string> encoded = text::encodeCp1250(typedUtf8);
  if (typedUtf8.empty() || (encoded && text::targetFromLabel(*encoded).empty())) return {std::string()};
  const auto asDirectory = [](std::string_view typed) {
    std::string dir = text::nativeToRelative(typed);
    if (dir.back() != '\\') dir += '\\';
    return dir;
  };
  std::vector<std::string> targets{asDirectory(typedUtf8)};
  if (encoded) targets.push_back(asDirectory(*encoded));
  return targets;
}

std::vector<std::string> Run::assignTypedDirectory(std::string_view typedUtf8) {
  for (const std::string& target : typedDirectoryTargets(typedUtf8)) {
    const bool any = std::any_of(files_.begin(), files_.end(),
                                 [&](const std::string& item) { return text::belongsToDirectory(item, target); });
    if (any) return assignDirectory(target);
  }
  throw text::Failure("Żaden plik czekający na kategorię nie leży w katalogu „" + std::string(typedUtf8) + "”.");
}

std::optional<Preview> Run::previewSelectedFile() const {
  if (!selectedFile_ || files_[*selectedFile_].empty()) return std::nullopt;
  const std::string& entry = files_[*selectedFile_];
  if (!text::isSafeRelative(entry)) {
    throw text::Failure("Ścieżki " + text::quotedPath(entry) + " z pliku p_inc.txt nie można otworzyć.");
  }
  return Preview{entry, preview::previewText(text::fullPath(paths_.sceneryRoot(), entry))};
}

std::string Run::addCategory(std::string_view typedUtf8) {
  const std::string name = categories::dopisz_kategorie(paths_, text::encodeTyped(typedUtf8));
  const std::string key = text::listSortKey(name, text::TextKind::Text);
  const auto at = std::upper_bound(categories_.begin(), categories_.end(), key, [](const std::string& k, const std::string& item) {
    return k < text::listSortKey(item, text::TextKind::Text);
  });
  const size_t pos = static_cast<size_t>(at - categories_.begin());
  categories_.insert(at, name);
  ++categoriesVersion_;
  if (selectedCategory_ && pos <= *selectedCategory_) ++*selectedCategory_;
  return name;
}

size_t Run::save() {
  saved_ = true;
  try {
    return categories::zapisz_predef(paths_);
  } catch (...) {
    saved_ = false;  // nothing was appended: the user may try again
    throw;
  }
}

convert::ConversionResult Run::convert(convert::ConversionEvents& events, const convert::ConversionOptions& options) {
  requireAllAssigned();
  if (options.dryRun) return convert::runConversion(paths_, events, options);
  // Off already while it runs: the window lets events in meanwhile.
  converted_ = true;
  try {
    ConversionResult result = convert::runConversion(paths_, events, options);
    undoSet_ = convert::undoSetExists(paths_);
    scannedConverted_ = false;  // an undo now puts back what this run's lists describe
    lastChanges_ = changesOf(result);
    return result;
  } catch (const convert::IncompleteConversion&) {
    undoSet_ = convert::undoSetExists(paths_);
    throw;
  } catch (...) {
    converted_ = false;  // no file was changed: the user may try again
    throw;
  }
}

void Run::requireAllAssigned() const {
  if (!wszystkie_inc_przypisane_) {
    throw FilesWaiting("Na kategorię czeka jeszcze plików *.inc: " + std::to_string(files_.size()) +
                       "; przypisz je przed konwersją.");
  }
}

ChangeReview Run::review(ConversionEvents& events) const {
  requireAllAssigned();
  return ChangeReview::prepare(paths_, events);
}

convert::ConversionResult Run::convertWithoutUndo(convert::ConversionEvents& events) {
  convert::ConversionOptions options;
  options.keepUndo = false;
  return convert(events, options);
}

convert::ConversionResult Run::dryRun(convert::ConversionEvents& events) {
  convert::ConversionOptions options;
  options.dryRun = true;
  return convert(events, options);
}

convert::ConversionResult Run::diff(convert::ConversionEvents& events, const DiffStyle& style,
                                   const std::function<void(std::string_view)>& write) {
  class DiffSink : public convert::ChangeSink {
   public:
    DiffSink(const DiffStyle& style, const std::function<void(std::string_view)>& write)
        : style_(style), write_(write) {}
    void fileChanges(const convert::FileChange& change) override {
      text_.clear();
      convert::appendUnifiedDiff(change.path, change.before, change.after, style_, text_);
      write_(text_);
    }

   private:
    const DiffStyle& style_;
    const std::function<void(std::string_view)>& write_;
    std::string text_;
  } sink(style, write);
  convert::ConversionOptions options;
  options.dryRun = true;
  options.changes = &sink;
  return convert(events, options);
}

void Run::close() { removeWorkingFiles(paths_); }

Controls Run::controls() const {
  const StageRow& row = stageRow(stage_);
  Controls c;
  c.start = row.start && startUsable_;
  c.assign = row.assign;
  c.convert = row.convert && !converted_;
  c.review = c.convert;
  c.save = row.save && !saved_;
  c.directoryChoice = row.directoryChoice;
  c.directoryCaption = row.directoryCaption;
  if (row.directoryLabel) c.directoryLabel = directoryLabel_;
  c.undo = row.undo && undoSet_;
  c.showChanges = lastChanges_.has_value();
  if (lastChanges_) c.summary = lastChanges_->summary;
  return c;
}

size_t Run::categoryIndex(std::string_view utf8) const {
  const std::string wanted = text::encodeTyped(utf8);
  const auto exact = std::find(categories_.begin(), categories_.end(), wanted);
  if (exact != categories_.end()) return static_cast<size_t>(exact - categories_.begin());
  const auto folded = std::find_if(categories_.begin(), categories_.end(),
                                   [&](const std::string& name) { return text::equalsIgnoreCase(name, wanted); });
  if (folded != categories_.end()) return static_cast<size_t>(folded - categories_.begin());
  throw text::Failure("Kategorii „" + std::string(utf8) + "” nie ma na liście kategorii.");
}

size_t Run::fileIndex(std::string_view item) const {
  const std::string wanted = text::nativeToRelative(item);
  const auto it = std::find_if(files_.begin(), files_.end(), [&](const std::string& file) {
    return file == wanted || text::displayName(file) == wanted;
  });
  if (it == files_.end()) throw text::Failure("Plik „" + text::displayName(item) + "” nie czeka na kategorię.");
  return static_cast<size_t>(it - files_.begin());
}

void Run::setFiles(std::vector<std::string> files) {
  files_ = std::move(files);
  selectedFile_.reset();
  ++filesVersion_;
}

void Run::setCategories(std::vector<std::string> names) {
  categories_ = std::move(names);
  selectedCategory_.reset();
  ++categoriesVersion_;
}

void Run::removeFile(size_t index) {
  files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(index));
  selectedFile_.reset();
  ++filesVersion_;
}

void Run::afterAssignment() {
  if (files_.empty()) {
    allAssigned();
  } else {
    selectFile(0);
  }
}

void Run::allAssigned() {
  wszystkie_inc_przypisane_ = true;
  stage_ = Stage::ReadyAfterAssigning;
  directoryLabel_.clear();  // no file waits, so the label names no directory
}

}  // namespace borvantel::run
