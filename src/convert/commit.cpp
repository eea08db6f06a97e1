#include "convert/commit.h"

#include "platform/in_order.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <utility>

namespace borvantel::convert {

using text::FileError;

void rethrowUnchanged(const FileError& e) {
  throw FileError(e.op(), e.path(), e.error(), text::reasonText(e.error()) + "; nie zmieniono żadnego pliku");
}

Commit::Commit(const text::RunPaths& paths, const ConversionOptions& options, NameOf nameOf)
    : paths_(paths), options_(options), nameOf_(std::move(nameOf)), journal_(paths) {}

void Commit::add(PreparedFile file) {
  if (fileSystems_.count(file.device) == 0) {
    fileSystems_.emplace(file.device, text::parentDirectory(file.file->target()));
  }
  prepared_.push_back(std::move(file));
}

void Commit::replace(size_t index, std::unique_ptr<text::AtomicFile> file, FileIdentity identity) {
  prepared_[index].file = std::move(file);
  prepared_[index].identity = identity;
}

void Commit::run() {
  if (prepared_.empty()) return;  // the journal goes with the commit
  // Every temporary file durable before the first rename, and the journal
  // naming every rename durable too: from here on the next run finishes the
  // renames if this one is stopped.
  try {
    makeDurable();
    keepOriginals();
    journal_.commit(prepared_.size(), [&](size_t i) {
      return std::pair(prepared_[i].file->tempPath(), prepared_[i].file->target());
    });
  } catch (const FileError& e) {
    rethrowUnchanged(e);
  }
  renameAll();
  syncRenames();
  if (undo_) undo_->install();
  journal_.remove();
}

void Commit::makeDurable() {
  // PerFile: each file was flushed as it was finished.
  if (options_.flush == FlushMode::PerFileSystem) syncFileSystems();
}

void Commit::keepOriginals() {
  if (!options_.keepUndo) return;
  undo_.emplace(paths_);
  undo_->keep(
      prepared_.size(),
      [&](size_t i) {
        return UndoBuilder::KeptFile{prepared_[i].file->target(), prepared_[i].identity,
                                     prepared_[i].entry.phase == ConversionPhase::IncludeFiles};
      },
      options_.threads);
}

void Commit::renameAll() {
  // The journal holds every rename, so their order no longer matters: each
  // thread takes a directory at a time (renames in one directory wait for
  // each other), and every rename is tried, so that which ones fail does not
  // depend on the threads.
  std::vector<size_t> starts;
  std::string_view previous;
  for (size_t i = 0; i < prepared_.size(); ++i) {
    const std::string& target = prepared_[i].file->target();
    const std::string_view dir = std::string_view(target).substr(0, text::nameStart(target));
    if (i == 0 || dir != previous) starts.push_back(i);
    previous = dir;
  }
  starts.push_back(prepared_.size());
  std::vector<int> errors(prepared_.size(), 0);
  platform::InOrder pool(platform::threadsFor(options_.threads, starts.size() - 1));
  pool.run(
      starts.size() - 1,
      [&](size_t chunk, size_t, unsigned) {
        const std::string& first = prepared_[starts[chunk]].file->target();
        const platform::Directory dir(std::string_view(first).substr(0, text::nameStart(first)));
        for (size_t i = starts[chunk]; i < starts[chunk + 1]; ++i) {
          try {
            prepared_[i].file->replaceTarget(dir);
          } catch (const FileError& e) {
            errors[i] = e.error();
          }
        }
      },
      [](size_t, size_t, const std::exception_ptr& error) {
        if (error) std::rethrow_exception(error);
      });
  if (std::any_of(errors.begin(), errors.end(), [](int err) { return err != 0; })) renamesFailed(errors);
}

void Commit::renamesFailed(const std::vector<int>& errors) {
  const auto first = std::find_if(errors.begin(), errors.end(), [](int err) { return err != 0; });
  const FileError e(text::FileOp::Rename, prepared_[first - errors.begin()].file->target(), *first);
  std::vector<std::string> replaced;
  std::vector<bool> kept(errors.size());
  for (size_t i = 0; i < prepared_.size(); ++i) {
    kept[i] = errors[i] == 0;
    if (kept[i]) replaced.push_back(nameOf_(prepared_[i].entry));
  }
  if (replaced.empty()) rethrowUnchanged(e);
  keepUndoable(&kept);
  const std::string message = std::string(e.what()) + " Konwersję przerwano: " + std::to_string(replaced.size()) +
                              " z " + std::to_string(prepared_.size()) +
                              " plików podmieniono już na przerobione, pozostałe są bez zmian. Uruchom Start "
                              "ponownie, aby ją dokończyć.";
  prepared_.clear();  // removes the temporary files not put in place
  removeJournal();
  throw IncompleteConversion(message, std::move(replaced));
}

void Commit::syncRenames() {
  try {
    if (options_.flush == FlushMode::PerFile) {
      syncDirectories();
    } else {
      syncFileSystems();
    }
  } catch (const FileError& e) {
    keepUndoable(nullptr);
    removeJournal();
    throw IncompleteConversion(std::string(e.what()) +
                                   " Wszystkie pliki podmieniono już na przerobione, ale nie udało się potwierdzić "
                                   "trwałości zapisu.",
                               names());
  }
}

void Commit::keepUndoable(const std::vector<bool>* replaced) noexcept {
  if (!undo_) return;
  try {
    if (replaced) undo_->keepOnly(*replaced);
    undo_->install();
  } catch (const text::Failure&) {
    // Then there is no undo set for them; the failure reported still holds.
  }
}

void Commit::syncFileSystems() {
  for (const auto& [device, dir] : fileSystems_) text::syncFileSystemOf(dir);
}

void Commit::syncDirectories() {
  std::set<std::string> dirs;
  for (const PreparedFile& p : prepared_) dirs.insert(text::parentDirectory(p.file->target()));
  for (const std::string& dir : dirs) text::syncDirectory(dir);
}

void Commit::removeJournal() noexcept {
  try {
    journal_.remove();
  } catch (const text::Failure&) {
    // The next run finds it, finds every temporary file gone and removes it.
  }
}

std::vector<std::string> Commit::names() const {
  std::vector<std::string> out;
  out.reserve(prepared_.size());
  for (const PreparedFile& p : prepared_) out.push_back(nameOf_(p.entry));
  return out;
}

}  // namespace borvantel::convert
