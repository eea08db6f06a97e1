// The conversion run: zmiana_inc gives every include file of "inc_out.txt" its
// category header and renumbered parameter references; zmiana_scn inserts the
// category argument into the "include" lines of the files of "p_scn.txt".
// Include lines inside include files that carry a category are rewritten
// too (in zmiana_inc after the renumbering; those of "inc_out1.txt" in
// zmiana_scn, as scenery files), so that nested include files get theirs.
//
// All or nothing: every rewritten file is first prepared in full in a
// temporary file beside it (text::AtomicFile). Only when both phases have
// prepared everything are the temporary files made durable and renamed over
// their targets, include files first. A failure while preparing removes every
// temporary file and leaves every user file as it was.
//
// Errors, for the whole convert layer: a failure or a refusal is thrown as
// text::Failure (text::FileError where a file is named; IncompleteConversion
// and UndoUnavailable where the caller must act on them), never returned as a
// code.
#pragma once

#include "convert/directive.h"
#include "convert/progress.h"
#include "text/files.h"
#include "platform/os.h"
#include "text/paths.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::convert {

// How the prepared files are made durable before the renames, and the renames
// after them. Both guarantee that no rename happens before every temporary
// file's content is on disk.
enum class FlushMode {
  PerFile,        // fsync each temporary file; fsync each directory after the renames
  PerFileSystem,  // one syncfs() per file system before the renames and one after
};

// An entry of a phase's list: one file as the conversion takes it up.
struct FileEntry {
  ConversionPhase phase = ConversionPhase::IncludeFiles;
  size_t index = 0;
};

// What a conversion works from: the working files read and checked and the
// assignment table built; nothing of the tree itself is read. Made once, it
// serves a conversion, a dry run, or one file's change after another.
class ConversionPlan {
 public:
  // Throws text::Failure naming a working file (and the line) that cannot be
  // taken, or text::FileError when the base directory cannot be resolved.
  explicit ConversionPlan(const text::RunPaths& paths);
  ~ConversionPlan();
  ConversionPlan(ConversionPlan&&) noexcept;
  ConversionPlan& operator=(ConversionPlan&&) noexcept;

  // How many entries the list of `phase` holds.
  size_t entries(ConversionPhase phase) const noexcept;

  struct Lists;  // what the run reads; defined where it is used
  const Lists& lists() const noexcept { return *lists_; }

 private:
  std::unique_ptr<const Lists> lists_;
};

// One file as the conversion would change it.
struct FileChange {
  // The file that changes (where a link points, for a linked file), relative
  // to the base directory with "/" between its parts.
  std::string_view path;
  // As ConversionResult::changedFiles names it (the name listed).
  std::string_view shown;
  FileEntry entry;          // where the lists hold it
  std::string_view before;  // its bytes now
  std::string_view after;   // its bytes once converted
};

// Takes the changes of a dry run one file at a time (see
// ConversionOptions::changes). May throw to stop the run.
class ChangeSink {
 public:
  virtual ~ChangeSink() = default;
  virtual void fileChanges(const FileChange& change) = 0;
};

struct ConversionOptions {
  // Windows has no flush of a whole file system for an ordinary user.
  FlushMode flush = platform::kFlushesWholeFileSystem ? FlushMode::PerFileSystem : FlushMode::PerFile;
  // Reads and decides everything, changes nothing and creates no file.
  bool dryRun = false;
  // In a dry run: each file that would change, with its bytes before and
  // after, in the order of changedFiles, as soon as it is decided (so only a
  // few files are held at once). A scenery file that is an include file of
  // the first phase under another name (a link) changes twice: its second
  // change comes after the include files, from its text after the first.
  ChangeSink* changes = nullptr;
  // Bytes of a scenery file's rewritten text held in memory before its first
  // converted line is met; past that the file is read through first, and read
  // again to be written only if a line converts.
  size_t sceneryLookahead = size_t{1} << 20;
  // Threads that prepare files at once: 0 takes one per hardware thread, 1
  // prepares on the calling thread alone. The result, the files and every
  // message are the same whatever the number.
  unsigned threads = 0;
  // In a dry run with `changes`: only this entry is taken up, and handed
  // to the sink if it would change. It must be an entry that a whole dry run
  // hands to the sink (a file reached under another name, or through a
  // link to an include file of the first phase, is not).
  std::optional<FileEntry> only;
  // Keep the originals as the undo set (hard links in the base directory).
  // Where the file system refuses links the conversion stops with
  // UndoUnavailable before changing anything; false converts without.
  bool keepUndo = true;
};

// A directive that the conversion leaves without its category (see
// DirectiveProblem): the simulator would read the file it names with its
// parameters one place off. The conversion goes on; the user is told.
struct ConversionWarning {
  std::string file;  // the file holding it, as ConversionResult::changedFiles names files
  size_t line = 0;   // its line in that file as converted
  DirectiveProblem problem = DirectiveProblem::NoCategory;
  std::string named;  // the file it names, relative to "scenery" ("\" separated)
};
// "scenery\linie\a.scn:120: ..." (UTF-8), as both front ends show it.
std::string warningText(const ConversionWarning& warning);

struct ConversionResult {
  // The files changed (or, in a dry run, that would change), relative to the
  // base directory with "\" separators ("scenery\linie\a.inc"), include files
  // first, each in list order.
  std::vector<std::string> changedFiles;
  size_t includeFiles = 0;      // include files rewritten
  size_t sceneryListed = 0;     // entries of "p_scn.txt" taken up
  size_t sceneryFiles = 0;      // of those, files rewritten
  std::uint64_t bytesRead = 0;  // bytes of the files read
  std::uint64_t bytesWritten = 0;
  // In the order of the files, include files first, each file's in line order.
  std::vector<ConversionWarning> warnings;
};

// A failure after some files were already replaced: a rename (or the flush
// after the renames) failed. The message names the file and says that the
// earlier files are already converted; `replaced` lists them as
// ConversionResult::changedFiles would.
class IncompleteConversion : public text::Failure {
 public:
  IncompleteConversion(const std::string& message, std::vector<std::string> replaced)
      : text::Failure(message), replaced_(std::move(replaced)) {}
  const std::vector<std::string>& replaced() const noexcept { return replaced_; }

 private:
  std::vector<std::string> replaced_;
};

// Runs both phases and puts the prepared files in place. Throws text::Failure
// (often a text::FileError) naming the file and the reason when anything
// fails before the renames: then no user file has changed and no temporary
// file is left. Refuses, the same way, a tree in which a listed include file
// already carries a "//$infotype:" line. Throws IncompleteConversion when the
// renames fail part-way.
ConversionResult runConversion(const text::RunPaths& paths, ConversionEvents& events,
                               const ConversionOptions& options = {});
// The same from a plan made before.
ConversionResult runConversion(const ConversionPlan& plan, ConversionEvents& events,
                               const ConversionOptions& options = {});

}  // namespace borvantel::convert
