#include "convert/journal.h"

#include "convert/undo.h"

#include "platform/os.h"
#include "text/working_files.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <string_view>

namespace borvantel::convert {
namespace {

using text::FileError;
using text::FileOp;
using text::kTempPrefix;

constexpr std::string_view kPreparing = "borvantel journal 1 PREPARING\n";
constexpr std::string_view kCommit = "borvantel journal 1 COMMIT\n";
constexpr std::string_view kUndo = "borvantel journal 1 UNDO\n";
constexpr std::string_view kEnd = "END ";

std::string realBase(const text::RunPaths& paths) {
  std::string out;
  if (platform::os().realpath(paths.sciezka_katalogu.c_str(), out) != 0) {
    throw FileError(FileOp::Open, paths.sciezka_katalogu, errno);
  }
  if (!platform::isPathSeparator(out.back())) out += platform::kPathSeparator;
  return out;
}

bool isTempName(std::string_view path) {
  const std::string_view name = path.substr(text::nameStart(path));
  if (name.size() != kTempPrefix.size() + 6 || name.substr(0, kTempPrefix.size()) != kTempPrefix) return false;
  for (const char c : name.substr(kTempPrefix.size())) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

// An absolute path below `base` without "." or ".." parts.
bool isInside(std::string_view path, std::string_view base) {
  if (path.size() <= base.size() || path.substr(0, base.size()) != base) return false;
  size_t start = base.size();
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !platform::isPathSeparator(path[end])) ++end;
    const std::string_view part = path.substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

[[noreturn]] void refuse(const std::string& journal, const std::string& why) {
  throw text::Failure("Plik dziennika przerwanej konwersji " + text::quotedPath(journal) + " " + why +
                      ". Nie zmieniono żadnego pliku; sprawdź drzewo scenerii i usuń ten plik ręcznie.");
}

text::AtomicFile renamesFile(const std::string& path, std::string_view header, size_t count,
                             const std::function<std::pair<std::string, std::string>(size_t)>& rename,
                             text::TempFileLog* log);
void writeRenames(const std::string& path, std::string_view header, size_t count,
                  const std::function<std::pair<std::string, std::string>(size_t)>& rename,
                  text::TempFileLog* log);

}  // namespace

Journal::Journal(const text::RunPaths& paths)
    : path_(paths.workingFile(text::kJournal)), directory_(text::parentDirectory(path_)) {
  const int raw = platform::os().open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND, 0644);
  if (raw < 0) {
    if (errno == EEXIST) {
      throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) +
                          " jest już dziennik innej konwersji (" + text::quotedPath(path_) +
                          "); uruchom Start, aby ją dokończyć.");
    }
    throw FileError(FileOp::Create, path_, errno);
  }
  fd_ = platform::Fd(raw);
  present_ = true;
  try {
    text::writeAll(fd_.get(), kPreparing, path_);
  } catch (...) {
    remove();
    throw;
  }
}

Journal::~Journal() {
  if (!present_) return;
  try {
    remove();
  } catch (const text::Failure&) {
    // Left for the next run, which finds its files gone and removes it.
  }
}

void Journal::creating(const std::string& tempPath) {
  std::string entry = tempPath;
  entry.push_back('\0');
  // One entry at a time, each in one write to a file opened for appending: the
  // threads' entries never mix (an append is not atomic everywhere: Wine
  // writes at the size it has just read), and a stop in the middle of the run
  // leaves every entry before it whole.
  const std::lock_guard lock(writing_);
  text::writeAll(fd_.get(), entry, path_);
}

void Journal::commit(size_t count, const std::function<std::pair<std::string, std::string>(size_t)>& rename) {
  // Its own temporary file is noted in the log it replaces, like any other.
  text::AtomicFile file = renamesFile(path_, kCommit, count, rename, this);
  // Windows cannot replace a file that is still open.
  fd_.close();
  file.replaceTarget();
  text::syncDirectory(directory_);
}

void Journal::remove() {
  fd_.close();
  if (present_ && platform::os().unlink(path_.c_str()) != 0 && errno != ENOENT) {
    present_ = false;
    throw FileError(FileOp::Remove, path_, errno);
  }
  present_ = false;
}

namespace {

text::AtomicFile renamesFile(const std::string& path, std::string_view header, size_t count,
                             const std::function<std::pair<std::string, std::string>(size_t)>& rename,
                             text::TempFileLog* log) {
  text::AtomicFile file(path, text::AtomicFile::kNewFileMode, log);
  file.write(header);
  std::string entry;
  for (size_t i = 0; i < count; ++i) {
    const auto [from, to] = rename(i);
    entry.assign(from).push_back('\0');
    entry.append(to).push_back('\0');
    file.write(entry);
  }
  file.write(std::string(kEnd) + std::to_string(count) + "\n");
  file.finish(true);
  return file;
}

void writeRenames(const std::string& path, std::string_view header, size_t count,
                  const std::function<std::pair<std::string, std::string>(size_t)>& rename,
                  text::TempFileLog* log) {
  text::AtomicFile file = renamesFile(path, header, count, rename, log);
  file.replaceTarget();
  text::syncDirectory(text::parentDirectory(path));
}

// The renames of a complete journal after `header`; refuses an incomplete one
// or one with a rename `valid` does not accept.
std::vector<std::pair<std::string, std::string>> readRenames(
    const std::string& journal, const std::string& data, std::string_view header,
    const std::function<bool(const std::string&, const std::string&)>& valid) {
  const size_t endAt = data.rfind(kEnd);
  if (endAt == std::string::npos || data.back() != '\n') refuse(journal, "jest niekompletny");
  std::vector<std::pair<std::string, std::string>> renames;
  size_t at = header.size();
  while (at < endAt) {
    const size_t fromEnd = data.find('\0', at);
    const size_t toEnd = fromEnd == std::string::npos ? fromEnd : data.find('\0', fromEnd + 1);
    if (toEnd == std::string::npos || toEnd >= endAt) refuse(journal, "jest niekompletny");
    std::string from = data.substr(at, fromEnd - at);
    std::string to = data.substr(fromEnd + 1, toEnd - fromEnd - 1);
    if (!valid(from, to)) refuse(journal, "wskazuje plik " + text::quotedPath(to) + " spoza drzewa");
    renames.emplace_back(std::move(from), std::move(to));
    at = toEnd + 1;
  }
  if (data.substr(endAt + kEnd.size()) != std::to_string(renames.size()) + "\n") refuse(journal, "jest niekompletny");
  return renames;
}

// Puts in place every file not yet renamed; makes it durable. Returns how many.
size_t finishRenames(const std::vector<std::pair<std::string, std::string>>& renames) {
  size_t done = 0;
  std::map<std::uint64_t, std::string> fileSystems;
  for (const auto& [from, to] : renames) {
    platform::FileStat st;
    if (platform::os().lstat(from.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;  // put in place before the stop
      throw FileError(FileOp::Stat, from, errno);
    }
    if (platform::os().rename(from.c_str(), to.c_str()) != 0) throw FileError(FileOp::Rename, to, errno);
    fileSystems.try_emplace(st.device, text::parentDirectory(to));
    ++done;
  }
  for (const auto& [device, dir] : fileSystems) text::syncFileSystemOf(dir);
  return done;
}

}  // namespace

void Journal::commitUndo(const text::RunPaths& paths, size_t count,
                         const std::function<std::pair<std::string, std::string>(size_t)>& rename) {
  const std::string path = paths.workingFile(text::kJournal);
  platform::FileStat st;
  if (platform::os().lstat(path.c_str(), &st) == 0) {
    throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) +
                        " jest dziennik przerwanej operacji; uruchom Start, aby ją dokończyć.");
  }
  writeRenames(path, kUndo, count, rename, nullptr);
}

void Journal::removeUndo(const text::RunPaths& paths) {
  const std::string path = paths.workingFile(text::kJournal);
  if (platform::os().unlink(path.c_str()) != 0 && errno != ENOENT) throw FileError(FileOp::Remove, path, errno);
}

Recovery recoverInterruptedConversion(const text::RunPaths& paths) {
  const std::string journal = paths.workingFile(text::kJournal);
  platform::FileStat st;
  if (platform::os().lstat(journal.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    throw FileError(FileOp::Stat, journal, errno);
  }
  if (!st.isRegular()) refuse(journal, "nie jest zwykłym plikiem");
  const std::string data = text::readWholeFile(journal);
  const std::string base = realBase(paths);

  Recovery recovery;
  // A log stopped before its first line was whole had created nothing yet.
  const bool preparing = data.size() < kPreparing.size() ? kPreparing.substr(0, data.size()) == data
                                                         : data.compare(0, kPreparing.size(), kPreparing) == 0;
  if (preparing) {
    // Stopped while preparing: no user file was touched. Every complete entry
    // names a temporary file that may exist; a last one cut short was never
    // created.
    std::vector<std::string> temps;
    size_t at = std::min(data.size(), kPreparing.size());
    for (size_t end; (end = data.find('\0', at)) != std::string::npos; at = end + 1) {
      std::string temp = data.substr(at, end - at);
      if (!isTempName(temp) || !isInside(temp, base)) refuse(journal, "wskazuje plik " + text::quotedPath(temp) + " spoza drzewa");
      temps.push_back(std::move(temp));
    }
    for (const std::string& temp : temps) {
      if (platform::os().unlink(temp.c_str()) == 0) {
        ++recovery.files;
      } else if (errno != ENOENT) {
        throw FileError(FileOp::Remove, temp, errno);
      }
    }
    removePendingUndoSet(paths);
    if (platform::os().unlink(journal.c_str()) != 0 && errno != ENOENT) throw FileError(FileOp::Remove, journal, errno);
    recovery.kind = Recovery::Kind::Removed;
    recovery.message = "Poprzednia konwersja w tym katalogu została przerwana, zanim zmieniła jakikolwiek plik. "
                       "Usunięto jej pliki tymczasowe (" + std::to_string(recovery.files) +
                       "); drzewo scenerii jest takie jak przed nią.";
    return recovery;
  }

  const std::string undoDir = paths.workingFile(kUndoDirectory) + platform::kPathSeparator;
  if (data.compare(0, kUndo.size(), kUndo) == 0) {
    // An undo stopped half-way: the originals go on being put back.
    const auto renames = readRenames(journal, data, kUndo, [&](const std::string& from, const std::string& to) {
      const std::string_view name = std::string_view(from).substr(std::min(from.size(), undoDir.size()));
      // Backups are named by number, in numbered directories.
      const size_t slash = name.find(platform::kPathSeparator);
      const auto digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
      };
      return from.compare(0, undoDir.size(), undoDir) == 0 && slash != std::string_view::npos &&
             digits(name.substr(0, slash)) && digits(name.substr(slash + 1)) && isInside(to, base);
    });
    recovery.files = finishRenames(renames);
    discardUndoSet(paths);
    if (platform::os().unlink(journal.c_str()) != 0 && errno != ENOENT) throw FileError(FileOp::Remove, journal, errno);
    text::syncDirectory(text::parentDirectory(journal));
    recovery.kind = Recovery::Kind::Finished;
    recovery.message = "Poprzednie cofanie konwersji w tym katalogu zostało przerwane. Dokończono je: przywrócono "
                       "jeszcze " + std::to_string(recovery.files) + " z " + std::to_string(renames.size()) +
                       " plików; drzewo scenerii jest takie jak przed konwersją.";
    return recovery;
  }
  if (data.compare(0, kCommit.size(), kCommit) != 0) refuse(journal, "jest nieczytelny");
  // Committed: every temporary file was durable before the first rename.
  const auto renames = readRenames(journal, data, kCommit, [&](const std::string& temp, const std::string& target) {
    return isTempName(temp) && isInside(temp, base) && isInside(target, base) &&
           text::parentDirectory(temp) == text::parentDirectory(target) && !isTempName(target);
  });
  recovery.files = finishRenames(renames);
  installPendingUndoSet(paths);
  if (platform::os().unlink(journal.c_str()) != 0 && errno != ENOENT) throw FileError(FileOp::Remove, journal, errno);
  text::syncDirectory(text::parentDirectory(journal));
  recovery.kind = Recovery::Kind::Finished;
  recovery.message = "Poprzednia konwersja w tym katalogu została przerwana w trakcie podmiany plików. "
                     "Dokończono ją: podmieniono jeszcze " + std::to_string(recovery.files) + " z " +
                     std::to_string(renames.size()) + " plików; drzewo scenerii jest w całości przerobione.";
  return recovery;
}

}  // namespace borvantel::convert
