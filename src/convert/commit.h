// The commit of a conversion: the files both phases prepared, each finished
// in a temporary file beside its target, put in place so that a stop at any
// moment leaves the tree whole. Before the first rename every temporary file
// is durable, the undo set holds the originals and the journal names every
// rename (from then on the next run finishes them); after the last rename the
// renames are made durable, the undo set replaces the last one and the
// journal goes.
//
// The conversion hands each prepared file over as soon as it is taken up
// (add), as a search hands its matches to a sink: the commit holds them and
// decides nothing about their content.
#pragma once

#include "convert/conversion.h"
#include "convert/journal.h"
#include "convert/undo.h"
#include "text/files.h"
#include "text/paths.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace borvantel::convert {

// A failure before anything was put in place, told again with "nothing
// changed" added to its reason.
[[noreturn]] void rethrowUnchanged(const text::FileError& e);

// A file whose new version is finished, waiting to be put in place.
struct PreparedFile {
  std::unique_ptr<text::AtomicFile> file;
  FileEntry entry;           // where the lists hold it; names it
  FileIdentity identity;     // of the new version, for the undo set
  std::uint64_t device = 0;  // the file system of its directory
};

class Commit {
 public:
  // How a file is named in messages and in IncompleteConversion::replaced().
  using NameOf = std::function<std::string(const FileEntry&)>;

  // Starts the journal: every temporary file of the run is noted in log()
  // before it is created. Throws text::Failure when it cannot be started
  // (another conversion's journal is there).
  Commit(const text::RunPaths& paths, const ConversionOptions& options, NameOf nameOf);
  Commit(const Commit&) = delete;
  Commit& operator=(const Commit&) = delete;

  text::TempFileLog& log() noexcept { return journal_; }

  // Takes a prepared file; the files are put in place (and named) in the
  // order they are added.
  void add(PreparedFile file);
  // The file at `index` prepared again, from its new version.
  void replace(size_t index, std::unique_ptr<text::AtomicFile> file, FileIdentity identity);
  const PreparedFile& at(size_t index) const { return prepared_[index]; }
  size_t size() const noexcept { return prepared_.size(); }

  // Puts every file in place. Throws text::Failure (often a FileError naming
  // the file) with no user file changed and no temporary file left when
  // anything fails before the first rename; IncompleteConversion, naming
  // the files already replaced, when a rename or the flush after them fails.
  void run();

 private:
  void makeDurable();
  void keepOriginals();
  void renameAll();
  // Some renames failed (errors[i]: the error number of the i-th, or 0).
  [[noreturn]] void renamesFailed(const std::vector<int>& errors);
  void syncRenames();
  // After a failure once files were replaced: those files (`replaced`, or
  // all) stay undoable, if the undo set can be put in place.
  void keepUndoable(const std::vector<bool>* replaced) noexcept;
  void syncFileSystems();
  void syncDirectories();
  // After a failure already being reported: the journal goes if it can.
  void removeJournal() noexcept;
  std::vector<std::string> names() const;

  text::RunPaths paths_;
  ConversionOptions options_;
  NameOf nameOf_;
  // Declared before everything that owns temporary files: it goes last.
  Journal journal_;
  std::optional<UndoBuilder> undo_;
  std::vector<PreparedFile> prepared_;
  std::map<std::uint64_t, std::string> fileSystems_;  // device -> a directory on it
};

}  // namespace borvantel::convert
