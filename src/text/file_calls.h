// The system's file calls as the layers above text make them: each throws
// FileError naming the file and the reason (errno stays in this layer), or
// answers in its return value the one outcome its callers act on (a file that
// is not there, a name that is a directory). A call a signal interrupts is
// retried here, once for the whole program (retryInterrupted).
#pragma once

#include "platform/os.h"
#include "text/files.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::text {

// Repeats `call` while it fails with EINTR; its result otherwise.
template <typename Call>
auto retryInterrupted(Call&& call) {
  for (;;) {
    auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

// What a file is (stat follows links; lstat does not); `op` is the
// operation a failure is reported as.
platform::FileStat statOf(const std::string& path, FileOp op = FileOp::Stat);
platform::FileStat lstatOf(const std::string& path, FileOp op = FileOp::Stat);
// The same, nullopt when the file is not there (ENOENT, or ENOTDIR: a
// directory on the way is a file now).
std::optional<platform::FileStat> statIfPresent(const std::string& path, FileOp op = FileOp::Stat);
std::optional<platform::FileStat> lstatIfPresent(const std::string& path, FileOp op = FileOp::Stat);
// The same where any failure means "nothing usable there": nullopt.
std::optional<platform::FileStat> statQuietly(const std::string& path) noexcept;
std::optional<platform::FileStat> lstatQuietly(const std::string& path) noexcept;
// An open file; `path` names it in messages.
platform::FileStat statOf(int fd, const std::string& path);

// The canonical path; a failure is reported as `op` on `path`.
std::string realPath(const std::string& path, FileOp op = FileOp::Open);

// The entries of a directory (see platform::Os::listDirectory).
std::vector<platform::DirEntry> listDirectory(const std::string& dir,
                                              std::vector<std::string>* unmappable = nullptr);
// The same; nullopt when the directory is not there.
std::optional<std::vector<platform::DirEntry>> listDirectoryIfPresent(const std::string& dir);

// Creates a directory; FileError (Create) when it cannot, EEXIST included.
void makeDirectory(const std::string& path, mode_t mode);
// Removes an empty directory; one that is not there is no error.
void removeDirectoryIfPresent(const std::string& path);
// Removes a file: true when removed, false when it was not there.
bool removeIfPresent(const std::string& path);
// Removes a file unless the name is a directory (then false, and nothing
// happens); one that is not there counts as removed.
bool removeUnlessDirectory(const std::string& path);
// Removes a file where a failure is already being reported: errors ignored.
void removeQuietly(const std::string& path) noexcept;
// Cuts a file back to `size` where a failure is already being reported:
// errors ignored.
void truncateQuietly(const std::string& path, std::uint64_t size) noexcept;

// Reads up to `n` bytes; 0 at the end of the file.
size_t readSome(int fd, char* buffer, size_t n, const std::string& path);
// Back to the start of an open file, to read it again.
void seekToStart(int fd, const std::string& path);

// A new file created exclusively for appending; FileError (Create) when it
// cannot be, EEXIST when the name is taken.
platform::Fd createForAppending(const std::string& path, mode_t mode);

// Where a file system refuses hard links (a FileError's error()).
bool refusesHardLinks(int err) noexcept;
// A second name `to` in `toDir` for the file `from` in `fromDir`; a failure
// names `shown`.
void hardLink(const platform::Directory& fromDir, std::string_view from, const platform::Directory& toDir,
              std::string_view to, const std::string& shown);

}  // namespace borvantel::text
