#include "convert/journal.h"

#include "convert/list_file.h"
#include "convert/undo.h"

#include "platform/os.h"
#include "text/file_calls.h"
#include "text/working_files.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <utility>
#include <string_view>

namespace borvantel::convert {
namespace {

using text::FileError;
using text::FileOp;
using text::kTempPrefix;

constexpr std::string_view kPreparing = "borvantel journal 1 PREPARING\n";
constexpr std::string_view kCommit = "borvantel journal 1 COMMIT\n";
constexpr std::string_view kUndo = "borvantel journal 1 UNDO\n";

std::string realBase(const text::RunPaths& paths) {
  std::string out = text::realPath(paths.sciezka_katalogu);
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

// The list of renames in the journal's format, flushed, not yet in place.
void listRenames(ListWriter& list, size_t count,
                 const std::function<std::pair<std::string, std::string>(size_t)>& rename) {
  for (size_t i = 0; i < count; ++i) {
    const auto [from, to] = rename(i);
    list.add({from, to});
  }
  list.finish();
}

}  // namespace

Journal::Journal(const text::RunPaths& paths)
    : path_(paths.workingFile(text::kJournal)), directory_(text::parentDirectory(path_)) {
  try {
    fd_ = text::createForAppending(path_, 0644);
  } catch (const FileError& e) {
    if (e.error() != EEXIST) throw;
    throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) +
                        " jest już dziennik innej konwersji (" + text::quotedPath(path_) +
                        "); uruchom Start, aby ją dokończyć.");
  }
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
  ListWriter list(path_, kCommit, this);
  listRenames(list, count, rename);
  // Windows cannot replace a file that is still open.
  fd_.close();
  list.replaceTarget();
  text::syncDirectory(directory_);
}

void Journal::remove() {
  fd_.close();
  if (std::exchange(present_, false)) text::removeFile(path_);
}

namespace {

// The renames of a complete journal after `header`; refuses an incomplete one
// or one with a rename `valid` does not accept.
std::vector<std::pair<std::string, std::string>> readRenames(
    const std::string& journal, const std::string& data, std::string_view header,
    const std::function<bool(const std::string&, const std::string&)>& valid) {
  std::vector<std::pair<std::string, std::string>> renames;
  const bool whole = readList(data, header, 2, [&](const std::vector<std::string_view>& fields) {
    std::string from(fields[0]);
    std::string to(fields[1]);
    if (!valid(from, to)) refuse(journal, "wskazuje plik " + text::quotedPath(to) + " spoza drzewa");
    renames.emplace_back(std::move(from), std::move(to));
  });
  if (!whole) refuse(journal, "jest niekompletny");
  return renames;
}

// Puts in place every file not yet renamed; makes it durable. Returns how many.
size_t finishRenames(const std::vector<std::pair<std::string, std::string>>& renames) {
  size_t done = 0;
  std::map<std::uint64_t, std::string> fileSystems;
  for (const auto& [from, to] : renames) {
    platform::FileStat st;
    try {
      st = text::lstatOf(from);
    } catch (const FileError& e) {
      if (e.error() == ENOENT) continue;  // put in place before the stop
      throw;
    }
    text::renameOver(from, to);
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
  if (text::lstatIfPresent(path)) {
    throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) +
                        " jest dziennik przerwanej operacji; uruchom Start, aby ją dokończyć.");
  }
  ListWriter list(path, kUndo);
  listRenames(list, count, rename);
  list.replaceTarget();
  text::syncDirectory(text::parentDirectory(path));
}

void Journal::removeUndo(const text::RunPaths& paths) { text::removeFile(paths.workingFile(text::kJournal)); }

namespace {

// What the next run finds: the journal, its content and the real base directory.
struct Found {
  std::string journal;
  std::string data;
  std::string base;
};

// The journal's work is done: it goes, and its going is durable.
void removeJournal(const std::string& journal) {
  text::removeFile(journal);
  text::syncDirectory(text::parentDirectory(journal));
}

// Stopped while preparing: no user file was touched. Every complete entry
// names a temporary file that may exist; a last one cut short was never
// created.
Recovery removePreparation(const text::RunPaths& paths, const Found& found) {
  std::vector<std::string> temps;
  size_t at = std::min(found.data.size(), kPreparing.size());
  for (size_t end; (end = found.data.find('\0', at)) != std::string::npos; at = end + 1) {
    std::string temp = found.data.substr(at, end - at);
    if (!isTempName(temp) || !isInside(temp, found.base)) {
      refuse(found.journal, "wskazuje plik " + text::quotedPath(temp) + " spoza drzewa");
    }
    temps.push_back(std::move(temp));
  }
  Recovery recovery;
  for (const std::string& temp : temps) {
    if (text::removeIfPresent(temp)) ++recovery.files;
  }
  removePendingUndoSet(paths);
  text::removeFile(found.journal);
  recovery.kind = Recovery::Kind::Removed;
  recovery.message = "Poprzednia konwersja w tym katalogu została przerwana, zanim zmieniła jakikolwiek plik. "
                     "Usunięto jej pliki tymczasowe (" + std::to_string(recovery.files) +
                     "); drzewo scenerii jest takie jak przed nią.";
  return recovery;
}

// An undo stopped half-way: the originals go on being put back.
Recovery finishUndo(const text::RunPaths& paths, const Found& found) {
  const std::string undoDir = paths.workingFile(kUndoDirectory) + platform::kPathSeparator;
  const auto renames = readRenames(found.journal, found.data, kUndo, [&](const std::string& from, const std::string& to) {
    const std::string_view name = std::string_view(from).substr(std::min(from.size(), undoDir.size()));
    // Backups are named by number, in numbered directories.
    const size_t slash = name.find(platform::kPathSeparator);
    const auto digits = [](std::string_view s) {
      return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return from.compare(0, undoDir.size(), undoDir) == 0 && slash != std::string_view::npos &&
           digits(name.substr(0, slash)) && digits(name.substr(slash + 1)) && isInside(to, found.base);
  });
  const size_t files = finishRenames(renames);
  discardUndoSet(paths);
  removeJournal(found.journal);
  return {Recovery::Kind::Finished, files,
          "Poprzednie cofanie konwersji w tym katalogu zostało przerwane. Dokończono je: przywrócono jeszcze " +
              std::to_string(files) + " z " + std::to_string(renames.size()) +
              " plików; drzewo scenerii jest takie jak przed konwersją."};
}

// Committed: every temporary file was durable before the first rename.
Recovery finishConversion(const text::RunPaths& paths, const Found& found) {
  const auto renames =
      readRenames(found.journal, found.data, kCommit, [&](const std::string& temp, const std::string& target) {
        return isTempName(temp) && isInside(temp, found.base) && isInside(target, found.base) &&
               text::parentDirectory(temp) == text::parentDirectory(target) && !isTempName(target);
      });
  const size_t files = finishRenames(renames);
  installPendingUndoSet(paths);
  removeJournal(found.journal);
  return {Recovery::Kind::Finished, files,
          "Poprzednia konwersja w tym katalogu została przerwana w trakcie podmiany plików. Dokończono ją: "
          "podmieniono jeszcze " + std::to_string(files) + " z " + std::to_string(renames.size()) +
              " plików; drzewo scenerii jest w całości przerobione."};
}

}  // namespace

Recovery recoverInterruptedConversion(const text::RunPaths& paths) {
  Found found;
  found.journal = paths.workingFile(text::kJournal);
  platform::FileStat st;
  try {
    st = text::lstatOf(found.journal);
  } catch (const FileError& e) {
    if (e.error() == ENOENT) return {};
    throw;
  }
  if (!st.isRegular()) refuse(found.journal, "nie jest zwykłym plikiem");
  found.data = text::readWholeFile(found.journal);
  found.base = realBase(paths);
  const std::string_view data = found.data;
  // A log stopped before its first line was whole had created nothing yet.
  const bool preparing = data.size() < kPreparing.size() ? kPreparing.substr(0, data.size()) == data
                                                         : data.substr(0, kPreparing.size()) == kPreparing;
  if (preparing) return removePreparation(paths, found);
  if (data.substr(0, kUndo.size()) == kUndo) return finishUndo(paths, found);
  if (data.substr(0, kCommit.size()) != kCommit) refuse(found.journal, "jest nieczytelny");
  return finishConversion(paths, found);
}

}  // namespace borvantel::convert
