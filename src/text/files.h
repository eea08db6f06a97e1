// File primitives shared by every subsystem: errors that name the file and the
// reason, size checks, record reading, safe appends and atomic replacement.
//
// Errors, for the whole text layer: a failure the user must be told of is
// thrown as Failure (FileError where a file is named), whose message is Polish
// UTF-8 text ready to be shown; what a failure leaves behind is said where the
// function is declared.
#pragma once

#include "platform/os.h"

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace borvantel::text {

// A failure the user must be told about. what() is Polish UTF-8 text ready for
// a message box or standard error.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class FileOp { Open, Read, Create, Write, Append, Rename, Remove, List, Sync, Stat };

// A failed file operation: which operation, which file (raw bytes), why (errno).
class FileError : public Failure {
 public:
  FileError(FileOp op, std::string path, int err, std::string detail = {});
  FileOp op() const noexcept { return op_; }
  const std::string& path() const noexcept { return path_; }
  int error() const noexcept { return err_; }

 private:
  FileOp op_;
  std::string path_;
  int err_;
};

// Polish text for an errno value.
std::string reasonText(int err);
// Quoted, displayable form of a path for messages.
std::string quotedPath(std::string_view path);

platform::Fd openForReading(const std::string& path);
// The same for an entry of a directory held open (see platform::Directory);
// a failure names the entry's full path.
platform::Fd openForReading(const platform::Directory& dir, std::string_view name);
// Writes all of `data`, retrying short writes; throws FileError naming `path`.
void writeAll(int fd, std::string_view data, const std::string& path);

// Size of a file; nullopt when it does not exist.
std::optional<std::uint64_t> fileSize(const std::string& path);
// The two-byte rule: a file shorter than 2 bytes holds no record.
bool holdsRecords(const std::string& path);

// Calls `fn` for each line of the file; a missing file or one shorter than
// 2 bytes has no lines. `fn` returns false to stop early.
void forEachRecord(const std::string& path, const std::function<bool(std::string_view)>& fn);
std::vector<std::string> readRecords(const std::string& path);

// Appends `lines` (each already ending in CR LF) in a single write. A file that
// does not end with a line end first gets CR LF, so records never merge. On
// failure the file is cut back to its old length (a file the call created is
// removed again): nothing is half-written.
void appendRecords(const std::string& path, std::string_view lines);

// The directory part of a path: the root itself for a file in the root ("/",
// "D:\\"), "." when the path has no separator.
std::string parentDirectory(std::string_view path);
// Where the last part of a path begins (after its last separator; 0 when none).
size_t nameStart(std::string_view path) noexcept;
// The whole content of a file; throws FileError naming it.
std::string readWholeFile(const std::string& path);
// Reads an open file from where it stands to its end into `out`, replacing
// what `out` held; `expected` (the size it had when last seen) sizes the
// buffer in one go (it may be wrong). Throws FileError naming `path`.
void readAll(int fd, const std::string& path, std::string& out, std::uint64_t expected = 0);
// The same into a buffer kept from file to file, which only grows: reading
// many files then clears no memory. Returns the bytes read, in `buffer`.
std::string_view readAll(int fd, const std::string& path, std::vector<char>& buffer, std::uint64_t expected);
// Makes a directory's entries durable (an fsync of the directory).
void syncDirectory(const std::string& dir);
// Flushes the whole file system that holds `dir` (syncfs; see
// kFlushesWholeFileSystem for Windows).
void syncFileSystemOf(const std::string& dir);

// Creates the file empty, discarding any previous content.
void createEmpty(const std::string& path);
// Removes the file; a missing file is no error.
void removeFile(const std::string& path);
// Renames `from` over `to` atomically.
void renameOver(const std::string& from, const std::string& to);

// Temporary files are named this prefix and six random letters and digits.
inline constexpr std::string_view kTempPrefix = ".borvantel-";

// Told the name of each temporary file before the file is created, so that a
// run stopped at any moment leaves no temporary file nobody knows of.
class TempFileLog {
 public:
  virtual void creating(const std::string& tempPath) = 0;

 protected:
  ~TempFileLog() = default;
};

// The file a new version replaces (see AtomicFile), as it stands.
struct ReplacedFile {
  platform::FileStat stat;        // the original's
  std::uint64_t directoryDevice;  // the file system of the directory it is in
};

// A new version of a file, written to a temporary file created exclusively in
// the same directory and put in place by one atomic rename. Until replaceTarget()
// the target is untouched; an AtomicFile destroyed before that removes its
// temporary file, so none is ever left behind.
class AtomicFile {
 public:
  // `mode`: permissions of the new file (the target's, kept on rewrite);
  // kNewFileMode gives a new file's usual permissions (0666 less the umask).
  static constexpr mode_t kNewFileMode = static_cast<mode_t>(-1);
  explicit AtomicFile(std::string target, mode_t mode = kNewFileMode, TempFileLog* log = nullptr);
  // The same in `dir`, the target's directory, for many files in one.
  AtomicFile(const platform::Directory& dir, std::string target, mode_t mode, TempFileLog* log);
  // A new version of `original` in `dir` that keeps its permissions (made
  // writable by its owner: a read-only file comes back writable), its set-id
  // bits, and its owner and group where the process may give them (an
  // ordinary user may not give a file away: then the group, where it may).
  // A file mounted over on its own cannot be renamed over: refused now
  // (EXDEV), before anything has changed.
  AtomicFile(const platform::Directory& dir, std::string target, const ReplacedFile& original, TempFileLog* log);
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  void write(std::string_view data);
  // Flushes the buffer and closes the temporary file; `sync` adds an fsync.
  void finish(bool sync);
  // Renames the finished temporary file over the target.
  void replaceTarget();
  // The same by names in `dir`, the target's directory.
  void replaceTarget(const platform::Directory& dir);
  // finish() and replaceTarget() together.
  void commit(bool sync = true);

  const std::string& target() const noexcept { return target_; }
  // Beside the target; empty once it has been put in place or removed.
  std::string tempPath() const;
  int fd() const noexcept { return fd_.get(); }

 private:
  void create(const platform::Directory& dir, mode_t mode, TempFileLog* log);
  void keepOwner(const platform::FileStat& original, mode_t mode);
  // Closes and removes the temporary file of a constructor that fails.
  void discard() noexcept;
  void flush();
  std::string target_;
  // The random part of the temporary file's name, empty when there is no
  // temporary file: a conversion holds one AtomicFile per changed file until
  // the renames, so the full name is not kept twice.
  char unique_[8] = {};
  platform::Fd fd_;
  std::string buffer_;
  bool finished_ = false;
  bool placed_ = false;
};

void writeFileAtomically(const std::string& path, std::string_view content);

// Writes `content` as the new file `path`, whole or not at all, and never
// over an existing file: the content goes to a temporary file beside it,
// flushed, and a hard link gives it its name only if nobody has taken the
// name meanwhile. Returns false, changing nothing, when `path` exists. Where
// the file system has no hard links, the file is created exclusively under
// its name and written there (removed again if that fails).
bool writeNewFile(const std::string& path, std::string_view content);

}  // namespace borvantel::text
