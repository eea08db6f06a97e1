// Test support: a fresh temporary directory per test, with helpers to lay out
// scenery trees byte for byte and read files back. Paths are the tool's own:
// native separators, and on Windows Windows-1250 bytes.
#pragma once

#include "platform/os.h"
#include "text/paths.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace borvantel::testing {

// A conversion's temporary file: ".borvantel-" and six letters or digits
// (after either separator).
bool isTemporaryFile(std::string_view path);
// A "/" separated path with the platform's separator ("\" on Windows), for
// comparing with full paths the tool writes.
std::string native(std::string_view slashed);
// The files of a snapshot or listing without the undo set that a conversion
// keeps in the base directory (its manifest holds inode numbers and times).
std::map<std::string, std::string> withoutUndoSet(std::map<std::string, std::string> files);
std::vector<std::string> withoutUndoSet(std::vector<std::string> files);

class TempTree {
 public:
  // Where: the system's temporary directory, or kInMemory for tests that
  // lay out and flush many trees (a flush of a whole disk can take a second).
  enum class Where { TempDir, InMemory };
  explicit TempTree(Where where = Where::TempDir);
#ifdef _WIN32
  // A tree in `parent` (a directory, with its trailing separator): for a
  // base directory on another drive.
  explicit TempTree(const std::string& parent);
#endif
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The directory itself, without trailing separator.
  const std::string& root() const { return root_; }
  // root() + the separator + relative ("/" separated; native separators in the result).
  std::string path(std::string_view relative) const;

  // Writes `content` byte for byte, creating parent directories.
  void write(std::string_view relative, std::string_view content) const;
  void mkdir(std::string_view relative) const;
  std::string read(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  // Removes a file; a missing one is no error.
  void remove(std::string_view relative) const;
  // Every file below root(), relative with "/" on every platform, sorted (for
  // "nothing else appeared" checks). Windows: a name Windows-1250 cannot hold
  // is shown with "?".
  std::vector<std::string> allFiles() const;
  // Every file below root() with its bytes (for "nothing changed" checks).
  std::map<std::string, std::string> snapshot() const;
#ifdef _WIN32
  // The path for the wide Windows calls (long paths included).
  std::wstring systemPath(std::string_view relative) const;
  // A file or a directory in `dir` whose name is given as UTF-16, for names
  // that Windows-1250 cannot hold; `attributes` (FILE_ATTRIBUTE_*) when not 0.
  void writeNamed(std::string_view dir, std::wstring_view name, std::string_view content,
                  unsigned long attributes = 0) const;
  void mkdirNamed(std::string_view dir, std::wstring_view name) const;
  // Sets the attributes of a file or directory (FILE_ATTRIBUTE_*).
  void setAttributes(std::string_view relative, unsigned long attributes) const;
  unsigned long attributes(std::string_view relative) const;
#else
  // A symbolic link at `relative` pointing to `target` (taken as given).
  void symlink(std::string_view target, std::string_view relative) const;
#endif

  // Run paths with the program directory root()/prog and the base root()/base.
  text::RunPaths runPaths() const;

 private:
  // Creates the directory at a full path and every missing one above it.
  static void createDirectories(const std::string& path);
#ifdef _WIN32
  void createIn(std::string parent);
#endif

  std::string root_;
};

// Whether this Windows program runs under Wine (whose file system differs
// from Windows in speed and in a few marks); false on Linux.
bool underWine();

// Windows-1250 bytes of a UTF-8 literal; fails the current test when a
// character has no place in the code page.
std::string cp(std::string_view utf8);

// An include file with three different parameter markers: it needs a category.
inline constexpr const char* kThreeMarkers = "a = (p1)\r\nb = (p2)\r\nc = (p3)\r\n";

// The lines of a text, split as the tool splits them.
std::vector<std::string> linesOf(std::string_view text);

// Reads a whole file (a path in the tool's form); fails the current test
// when it cannot be read.
std::string readFile(const std::string& path);

// An operating-system seam that fails chosen calls, to test what a full disk,
// a denied permission or a failed rename leaves behind. Install it with
// platform::ScopedOs. Calls not matched by a rule go to the real system.
class FailingOs : public platform::Os {
 public:
  // Mkstemp: the exclusive creation of a temporary file. Stat: stat, lstat
  // and fstat. List: reading a directory. Syncfs: the flush of a whole file
  // system, by the directory it was asked for.
  enum class Call { Open, Mkstemp, Read, Write, Close, Fsync, Syncfs, Ftruncate, Fchmod, Rename, Unlink,
                    Stat, Pread, Lseek, Fchown, Realpath, List, Link, Mkdir };
  struct Rule {
    Call call;
    int err;
    // The path of the call must contain this text; for calls on a descriptor,
    // the path it was opened with (a temporary file's own name for mkstemp).
    // For Rename, the target path. Empty: any path. A "/" in it also
    // matches the Windows separator, so one rule serves both systems.
    std::string path = {};
    // Write only: the data written must contain this text. Empty: any data.
    std::string data = {};
    // This many matching calls succeed before the rule starts failing.
    size_t skip = 0;
    // It fails this many calls, then lets them pass; 0: every one.
    size_t times = 0;
  };

  void fail(Rule rule) { rules_.emplace_back(std::move(rule), 0); }
  // Every write moves at most `n` bytes (0: no limit), every read returns at most `n` bytes.
  void limitWrites(size_t n) { maxWrite_ = n; }
  void limitReads(size_t n) { maxRead_ = n; }
  // How many calls the rules have failed.
  size_t failures() const { return failures_; }

  int open(const char* path, int flags, mode_t mode) override;
  // No descriptors for directories: every call on a name in one then comes
  // here by its path, where the rules see it.
  int openDirectory(const char*) override { return -1; }
  int createExclusive(const char* path, mode_t mode) override;
  ssize_t read(int fd, void* buf, size_t n) override;
  ssize_t write(int fd, const void* buf, size_t n) override;
  int close(int fd) override;
  int fsync(int fd) override;
  int syncfs(int fd) override;
  int ftruncate(int fd, std::int64_t size) override;
  int fchmod(int fd, mode_t mode) override;
  int rename(const char* from, const char* to) override;
  int unlink(const char* path) override;
  int link(const char* from, const char* to) override;
  int mkdir(const char* path, mode_t mode) override;
  int stat(const char* path, platform::FileStat* st) override;
  int lstat(const char* path, platform::FileStat* st) override;
  int fstat(int fd, platform::FileStat* st) override;
  ssize_t pread(int fd, void* buf, size_t n, std::int64_t offset) override;
  std::int64_t lseek(int fd, std::int64_t offset, int whence) override;
  int fchown(int fd, std::uint32_t uid, std::uint32_t gid) override;
  int realpath(const char* path, std::string& resolved) override;
  int listDirectory(const char* path, std::vector<platform::DirEntry>& entries,
                    std::vector<std::string>* unmappable = nullptr) override;

 private:
  // True when a rule fails this call; sets errno.
  bool failing(Call call, std::string_view path, std::string_view data = {});
  std::string pathOf(int fd) const;
  void remember(int fd, const char* path);

  // The conversion calls the seam from several threads.
  mutable std::mutex mutex_;

  std::vector<std::pair<Rule, size_t>> rules_;  // each with the calls it failed
  std::map<int, std::string> paths_;
  size_t maxWrite_ = 0;
  size_t maxRead_ = 0;
  size_t failures_ = 0;
};

}  // namespace borvantel::testing
