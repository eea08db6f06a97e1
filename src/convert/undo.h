// The undo set: the originals of the last conversion, kept as hard links in
// the base directory (no data is copied), with a manifest naming each file
// they replaced and what the converted file was, so that undo can put every
// original back, all or nothing, and refuse when a converted file has been
// changed since.
#pragma once

#include "convert/progress.h"
#include "text/files.h"
#include "text/paths.h"

#include "platform/os.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace borvantel::convert {

inline constexpr std::string_view kUndoDirectory = ".borvantel-undo";
inline constexpr std::string_view kUndoNewDirectory = ".borvantel-undo.new";

// The file system refuses hard links: no undo set can be kept. Thrown before
// anything has changed; the conversion may be run again without an undo set
// once the user agrees.
class UndoUnavailable : public text::Failure {
 public:
  using text::Failure::Failure;
};

// What a converted file is, so that undo can tell it was changed since.
struct FileIdentity {
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
};
FileIdentity identityOf(const platform::FileStat& st);

// The undo set a conversion builds beside the last one; it replaces the last
// one only once every rename is done. Destroyed before install(), it goes.
class UndoBuilder {
 public:
  explicit UndoBuilder(const text::RunPaths& paths);
  ~UndoBuilder();
  UndoBuilder(const UndoBuilder&) = delete;
  UndoBuilder& operator=(const UndoBuilder&) = delete;

  // A file the set keeps the original of.
  struct KeptFile {
    std::string target;
    FileIdentity identity;  // of the file that replaces it
    bool includePhase;      // changed as a categorised include file (else for its include lines)
  };
  // Keeps the original of each of `count` files, file(i) telling the i-th,
  // and writes the manifest to disk. Throws UndoUnavailable when the file
  // system refuses links.
  void keep(size_t count, const std::function<KeptFile(size_t)>& file, unsigned threads);
  // Only the files whose `replaced` entry is true stay in the set (some
  // renames failed).
  void keepOnly(const std::vector<bool>& replaced);
  // The set replaces the last one.
  void install();

 private:
  // Written from file_ again, not from a copy: a conversion may change
  // hundreds of thousands of files.
  void writeManifest(const std::vector<bool>* only);

  text::RunPaths paths_;
  std::string directory_;  // with separator
  size_t count_ = 0;
  std::function<KeptFile(size_t)> file_;
  bool installed_ = false;
};

// Puts a finished new undo set in place of the last one (a conversion that
// was stopped after its renames); nothing when there is none.
void installPendingUndoSet(const text::RunPaths& paths);
// Removes a new undo set that never came into use (a stopped preparation).
void removePendingUndoSet(const text::RunPaths& paths);

// Whether the base directory holds an undo set (its manifest; nothing is read).
bool undoSetExists(const text::RunPaths& paths);

// How many files of each phase of the conversion the undo set would put
// back; nullopt when there is none.
struct UndoCounts {
  size_t includeFiles = 0;
  size_t sceneryFiles = 0;
};
std::optional<UndoCounts> undoSetCounts(const text::RunPaths& paths);

// The files the undo set would put back (full paths); empty when there is no
// undo set.
std::vector<std::string> undoableFiles(const text::RunPaths& paths);

// What an undo put back: the files relative to the base directory with "\"
// separators, as ConversionResult::changedFiles names them, in the order of
// the undo set (include files first), and how many of each phase of the
// conversion, counted as ConversionResult counts them.
struct UndoResult {
  std::vector<std::string> restoredFiles;
  size_t includeFiles = 0;
  size_t sceneryFiles = 0;
};

// Puts every original back. Refuses, changing nothing, when there is no undo
// set or a converted file has been changed, moved or removed since (naming
// it). Crash-safe like the conversion: a journal names every rename before the
// first. `events` (may be null) hears of each file as it is put back, as one
// phase (ConversionPhase::Undo).
UndoResult undoConversion(const text::RunPaths& paths, ConversionEvents* events = nullptr);

// Removes the undo set (the disk space of the originals is freed).
void discardUndoSet(const text::RunPaths& paths);

}  // namespace borvantel::convert
