// The conversion's journal: what a run that was killed or lost its power
// left behind, and how the next run puts it right.
//
// While files are prepared, the journal ("PREPARING") names every temporary
// file before it is created, so that a run stopped then leaves nothing that
// cannot be found: the next run removes them, and the tree was never touched.
// Once every temporary file is durable, the journal is replaced in one rename
// by the complete list of renames ("COMMIT"), flushed before the first of
// them: a run stopped during the renames is finished by the next run, so the
// tree ends wholly converted. The journal goes once the last rename is durable.
#pragma once

#include "text/files.h"
#include "text/paths.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace borvantel::convert {

// The journal of one conversion run.
class Journal final : public text::TempFileLog {
 public:
  // Starts the preparation log in the base directory.
  explicit Journal(const text::RunPaths& paths);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Notes a temporary file about to be created (any thread). Throws
  // text::FileError when the note cannot be written.
  void creating(const std::string& tempPath) override;
  // Replaces the log by the list of `count` renames, rename(i) giving the
  // i-th (temporary file, target), and makes it durable. After this the next
  // run finishes the renames.
  void commit(size_t count, const std::function<std::pair<std::string, std::string>(size_t)>& rename);
  // Removes the journal (the run is over, one way or the other).
  void remove();

  // The journal of an undo: the renames that put the originals back (backup,
  // target), durable before the first of them.
  static void commitUndo(const text::RunPaths& paths, size_t count,
                         const std::function<std::pair<std::string, std::string>(size_t)>& rename);
  static void removeUndo(const text::RunPaths& paths);

  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
  std::string directory_;
  platform::Fd fd_;
  std::mutex writing_;  // creating() is called on the preparing threads
  bool present_ = false;
};

// What the next run found and did.
struct Recovery {
  enum class Kind { Nothing, Removed, Finished };
  Kind kind = Kind::Nothing;
  size_t files = 0;     // temporary files removed, or files put in place
  std::string message;  // for the user, Polish UTF-8; empty for Nothing
};

// Looks for the journal of an interrupted conversion in the base directory and
// puts the tree right: removes the temporary files of a preparation, or
// finishes the renames of a committed run. Throws text::Failure, changing
// nothing, for a journal that cannot be read, is not complete, or names a file
// that is not a temporary file of a conversion beside its target.
Recovery recoverInterruptedConversion(const text::RunPaths& paths);

}  // namespace borvantel::convert
