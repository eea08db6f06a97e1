#include "convert/undo.h"

#include "convert/journal.h"
#include "convert/list_file.h"
#include "platform/in_order.h"
#include "platform/os.h"
#include "text/codepage.h"
#include "text/file_calls.h"
#include "text/paths.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>

namespace borvantel::convert {
namespace {

using text::FileError;
using text::FileOp;

// Version 2 says for each file which phase of the conversion changed it; a
// set kept by version 1 is still read (the phase then told by the name).
constexpr std::string_view kHeader = "borvantel undo 2\n";
constexpr std::string_view kHeaderWithoutPhases = "borvantel undo 1\n";
constexpr std::string_view kIncludePhase = "inc";
constexpr std::string_view kSceneryPhase = "scn";
constexpr std::string_view kManifest = "manifest";

// A directory of its own for each run of this many files, so that threads
// linking at once wait for no directory lock.
constexpr size_t kPerDirectory = 256;

std::string groupName(size_t i) {
  char name[24];
  std::snprintf(name, sizeof name, "%06zu", i / kPerDirectory);
  return name;
}

std::string backupName(size_t i) {
  char name[40];
  std::snprintf(name, sizeof name, "%06zu%c%08zu", i / kPerDirectory, platform::kPathSeparator, i);
  return name;
}

std::string identityText(const FileIdentity& id) {
  // Seconds and nanoseconds apart, as the first manifests had them.
  const std::int64_t seconds = id.modifiedNs >= 0 ? id.modifiedNs / 1'000'000'000 : -((-id.modifiedNs + 999'999'999) / 1'000'000'000);
  const std::int64_t nanos = id.modifiedNs - seconds * 1'000'000'000;
  return std::to_string(id.inode) + " " + std::to_string(id.size) + " " + std::to_string(seconds) + " " +
         std::to_string(nanos);
}

std::string directoryIn(const text::RunPaths& paths, std::string_view name) {
  return paths.workingFile(name) + platform::kPathSeparator;
}

// Removes the directory (with separator) and everything in it: files, and
// directories of files, those on several threads (removing the last link of
// an original frees its pages, which is most of the work).
void removeDirectory(const std::string& dir, bool nested = false) {
  const auto entries = text::listDirectoryIfPresent(dir);
  if (!entries) return;
  std::vector<std::string> directories;
  for (const platform::DirEntry& e : *entries) {
    const std::string path = dir + e.name;
    if (!text::removeUnlessDirectory(path)) directories.push_back(path + platform::kPathSeparator);
  }
  if (nested) {
    for (const std::string& sub : directories) removeDirectory(sub, true);
  } else {
    platform::InOrder pool(platform::threadsFor(0, directories.size()));
    pool.run(
        directories.size(), [&](size_t i, size_t, unsigned) { removeDirectory(directories[i], true); },
        [](size_t, size_t, const std::exception_ptr& error) {
          if (error) std::rethrow_exception(error);
        });
  }
  text::removeDirectoryIfPresent(dir);
}

struct ManifestEntry {
  std::string backup;  // file name in the undo directory
  std::string target;
  std::string identity;
  bool includePhase = false;  // changed as a categorised include file (else for its include lines)
};

// The entries of a complete manifest; nullopt when there is no undo set.
std::optional<std::vector<ManifestEntry>> readManifest(const std::string& dir) {
  const std::string path = dir + std::string(kManifest);
  if (!text::fileSize(path)) return std::nullopt;
  const std::string data = text::readWholeFile(path);
  std::vector<ManifestEntry> entries;
  bool whole = readList(data, kHeader, 4, [&](const std::vector<std::string_view>& fields) {
    entries.push_back(ManifestEntry{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                                    fields[3] == kIncludePhase});
  });
  if (!whole && data.starts_with(kHeaderWithoutPhases)) {
    entries.clear();
    whole = readList(data, kHeaderWithoutPhases, 3, [&](const std::vector<std::string_view>& fields) {
      entries.push_back(ManifestEntry{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]),
                                      text::endsWithIgnoreCase(fields[1], ".inc")});
    });
  }
  if (!whole) {
    throw text::Failure("Spis kopii do cofnięcia " + text::quotedPath(path) +
                        " jest uszkodzony; cofnięcie nie jest możliwe. Nie zmieniono żadnego pliku.");
  }
  return entries;
}

// Writes the manifest of `count` candidates, entry(i, out) filling the i-th
// or returning false to leave it out.
void writeManifestFile(const std::string& dir, size_t count,
                       const std::function<bool(size_t, ManifestEntry&)>& entry) {
  ListWriter list(dir + std::string(kManifest), kHeader);
  ManifestEntry e;
  for (size_t i = 0; i < count; ++i) {
    if (entry(i, e)) list.add({e.backup, e.target, e.identity, e.includePhase ? kIncludePhase : kSceneryPhase});
  }
  list.finish();
  list.replaceTarget();
  text::syncDirectory(dir);
}

}  // namespace

FileIdentity identityOf(const platform::FileStat& st) { return FileIdentity{st.inode, st.size, st.modifiedNs}; }

UndoBuilder::UndoBuilder(const text::RunPaths& paths)
    : paths_(paths), directory_(directoryIn(paths, kUndoNewDirectory)) {
  removeDirectory(directory_);  // left by a run stopped before its renames
  text::makeDirectory(directory_, 0755);
}

UndoBuilder::~UndoBuilder() {
  if (installed_) return;
  try {
    removeDirectory(directory_);
  } catch (const text::Failure&) {
    // The next run removes it.
  }
}

void UndoBuilder::keep(size_t count, const std::function<KeptFile(size_t)>& file, unsigned threads) {
  count_ = count;
  file_ = file;
  const size_t groups = (count + kPerDirectory - 1) / kPerDirectory;
  platform::InOrder pool(platform::threadsFor(threads, groups));
  pool.run(
      groups,
      [&](size_t group, size_t, unsigned) {
        const std::string groupDir = directory_ + groupName(group * kPerDirectory);
        text::makeDirectory(groupDir, 0755);
        const platform::Directory backups(groupDir);
        platform::Directory from;  // the directory of the last target: the files of one come together
        for (size_t i = group * kPerDirectory; i < std::min(count, (group + 1) * kPerDirectory); ++i) {
          const std::string target = file(i).target;
          const size_t slash = text::nameStart(target);
          if (from.path() != std::string_view(target).substr(0, slash)) {
            from = platform::Directory(std::string_view(target).substr(0, slash));
          }
          const std::string backup = directory_ + backupName(i);
          try {
            text::hardLink(from, std::string_view(target).substr(slash), backups,
                           std::string_view(backup).substr(groupDir.size() + 1), backup);
          } catch (const FileError& e) {
            if (!text::refusesHardLinks(e.error())) throw;
            throw UndoUnavailable("System plików nie pozwala zachować oryginału pliku " + text::quotedPath(target) +
                                  " do cofnięcia konwersji (" + text::reasonText(e.error()) + ").");
          }
        }
      },
      [](size_t, size_t, const std::exception_ptr& error) {
        if (error) std::rethrow_exception(error);
      });
  writeManifest(nullptr);
}

void UndoBuilder::keepOnly(const std::vector<bool>& replaced) { writeManifest(&replaced); }

void UndoBuilder::writeManifest(const std::vector<bool>* only) {
  writeManifestFile(directory_, count_, [&](size_t i, ManifestEntry& e) {
    if (only && !(*only)[i]) return false;
    KeptFile kept = file_(i);
    e.backup = backupName(i);
    e.target = std::move(kept.target);
    e.identity = identityText(kept.identity);
    e.includePhase = kept.includePhase;
    return true;
  });
}

void UndoBuilder::install() {
  installPendingUndoSet(paths_);
  installed_ = true;
}

void installPendingUndoSet(const text::RunPaths& paths) {
  const std::string fresh = directoryIn(paths, kUndoNewDirectory);
  // The manifest is put in place whole by one rename, last: without it the
  // set was never finished. (Not read here: it can be tens of megabytes.)
  if (!text::fileSize(fresh + std::string(kManifest))) {
    removeDirectory(fresh);
    return;
  }
  const std::string current = directoryIn(paths, kUndoDirectory);
  removeDirectory(current);
  const std::string from = fresh.substr(0, fresh.size() - 1);
  const std::string to = current.substr(0, current.size() - 1);
  text::renameOver(from, to);
  text::syncDirectory(paths.sciezka_katalogu);
}

void removePendingUndoSet(const text::RunPaths& paths) { removeDirectory(directoryIn(paths, kUndoNewDirectory)); }

bool undoSetExists(const text::RunPaths& paths) {
  return text::fileSize(directoryIn(paths, kUndoDirectory) + std::string(kManifest)).has_value();
}

std::optional<UndoCounts> undoSetCounts(const text::RunPaths& paths) {
  const auto entries = readManifest(directoryIn(paths, kUndoDirectory));
  if (!entries) return std::nullopt;
  UndoCounts counts;
  for (const ManifestEntry& e : *entries) ++(e.includePhase ? counts.includeFiles : counts.sceneryFiles);
  return counts;
}

std::vector<std::string> undoableFiles(const text::RunPaths& paths) {
  std::vector<std::string> out;
  const auto entries = readManifest(directoryIn(paths, kUndoDirectory));
  if (!entries) return out;
  for (const ManifestEntry& e : *entries) out.push_back(e.target);
  return out;
}

namespace {

// Everything is checked before anything changes.
void checkUnchangedSinceConversion(const std::string& dir, const std::vector<ManifestEntry>& entries) {
  for (const ManifestEntry& e : entries) {
    // A file that cannot be looked at counts as changed.
    const std::optional<platform::FileStat> st = text::lstatQuietly(e.target);
    if (!st || identityText(identityOf(*st)) != e.identity) {
      throw text::Failure("Plik " + text::quotedPath(e.target) +
                          " zmienił się od konwersji (albo go nie ma); cofnięcie nadpisałoby te zmiany. Nie zmieniono "
                          "żadnego pliku.");
    }
    text::lstatOf(dir + e.backup, FileOp::Open);
  }
}

// A target as the conversion's result names it: relative to the base
// directory, "\" separated.
std::string shownTarget(const text::RunPaths& paths, std::string_view target) {
  if (target.starts_with(paths.sciezka_katalogu)) target.remove_prefix(paths.sciezka_katalogu.size());
  return text::nativeToRelative(target);
}

// The renames, in the manifest's order; a failure leaves what is not yet put
// back undoable and says how far it got.
void putBack(const text::RunPaths& paths, const std::string& dir, const std::vector<ManifestEntry>& entries,
             ConversionEvents* events, UndoResult& result) {
  for (size_t done = 0; done < entries.size(); ++done) {
    const ManifestEntry& e = entries[done];
    std::string shown = shownTarget(paths, e.target);
    if (events) events->fileBegins(shown);
    try {
      text::renameOver(dir + e.backup, e.target);
    } catch (const FileError& error) {
      writeManifestFile(dir, entries.size() - done, [&](size_t i, ManifestEntry& left) {
        left = entries[done + i];
        return true;
      });
      Journal::removeUndo(paths);
      throw text::Failure(std::string(error.what()) + " Cofanie przerwano: przywrócono " + std::to_string(done) +
                          " z " + std::to_string(entries.size()) +
                          " plików; pozostałe można przywrócić, cofając jeszcze raz.");
    }
    ++(e.includePhase ? result.includeFiles : result.sceneryFiles);
    result.restoredFiles.push_back(std::move(shown));
  }
}

// Each phase that begins also ends, however it ends.
struct PhaseGuard {
  ConversionEvents* events;
  ~PhaseGuard() {
    if (events) events->phaseEnds(ConversionPhase::Undo);
  }
};

}  // namespace

UndoResult undoConversion(const text::RunPaths& paths, ConversionEvents* events) {
  const std::string dir = directoryIn(paths, kUndoDirectory);
  const auto entries = readManifest(dir);
  if (!entries) {
    throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) +
                        " nie ma kopii do cofnięcia konwersji.");
  }
  checkUnchangedSinceConversion(dir, *entries);
  UndoResult result;
  {
    if (events && !entries->empty()) events->phaseBegins(ConversionPhase::Undo, entries->size());
    const PhaseGuard phase{entries->empty() ? nullptr : events};
    Journal::commitUndo(paths, entries->size(),
                        [&](size_t i) { return std::pair(dir + (*entries)[i].backup, (*entries)[i].target); });
    putBack(paths, dir, *entries, events, result);
  }
  text::syncFileSystemOf(paths.sciezka_katalogu);
  removeDirectory(dir);
  Journal::removeUndo(paths);
  return result;
}

void discardUndoSet(const text::RunPaths& paths) { removeDirectory(directoryIn(paths, kUndoDirectory)); }

}  // namespace borvantel::convert
