#include "convert/conversion.h"

#include "convert/assignment_table.h"
#include "convert/include_file.h"
#include "convert/scenery_file.h"
#include "text/working_files.h"
#include "text/lines.h"
#include "text/os.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

namespace borvantel::convert {
namespace {

using text::FileError;
using text::FileOp;

constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kWriteChunk = 256 * 1024;
constexpr size_t kNone = static_cast<size_t>(-1);

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string realPath(const std::string& path, int& err) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) {
    err = errno;
    return {};
  }
  std::string out(resolved);
  std::free(resolved);
  err = 0;
  return out;
}

// A failure while preparing: the user must also learn that nothing changed.
[[noreturn]] void rethrowUnchanged(const FileError& e) {
  throw FileError(e.op(), e.path(), e.error(), text::reasonText(e.error()) + "; nie zmieniono żadnego pliku");
}

// One phase as its caller sees it: begins when constructed, ends when
// destroyed, however the phase ends.
class Phase {
 public:
  Phase(ConversionEvents& events, ConversionPhase phase, size_t files) : events_(events), phase_(phase) {
    events_.phaseBegins(phase_, files);
  }
  ~Phase() { events_.phaseEnds(phase_); }
  Phase(const Phase&) = delete;
  Phase& operator=(const Phase&) = delete;

  void file(std::string_view label) { events_.fileBegins(label); }

 private:
  ConversionEvents& events_;
  ConversionPhase phase_;
};

// One conversion run. Invariant: every file rewritten so far exists only as a
// finished temporary file owned by prepared_; no user file is touched before
// commit().
class ConversionRun {
 public:
  ConversionRun(const text::RunPaths& paths, ConversionEvents& events, const ConversionOptions& options);

  void zmiana_inc();
  void zmien_inc(std::string_view relative, std::string_view category);
  void zmiana_scn();
  ConversionResult commit();

 private:
  struct Prepared {
    std::unique_ptr<text::AtomicFile> file;  // null in a dry run
    std::string shown;                       // relative to the base directory
  };
  struct Seen {
    int phase;
    size_t prepared;  // index into prepared_, or kNone
  };

  // Opens `full` for reading and sets `target` to the file's real path, where
  // it is rewritten; each directory is resolved once. Returns 0 or an errno.
  int openResolved(const std::string& full, text::Fd& fd, std::string& target);
  std::unique_ptr<text::AtomicFile> createTemp(const std::string& target, const struct stat& st);
  void emit(text::AtomicFile* file);
  void finish(text::AtomicFile& file);
  void rewriteScenery(const std::string& listed);
  void syncFileSystems();
  void syncDirectories();
  std::vector<std::string> shownNames(size_t count) const;

  ConversionEvents& events_;
  const ConversionOptions& options_;
  std::string root_;       // the scenery directory, found once per run
  std::string rootShown_;  // its name, relative to the base directory
  std::string base_;       // the base directory, with separator
  const uid_t euid_ = ::geteuid();
  const gid_t egid_ = ::getegid();
  std::vector<AssignmentRow> incOut_;
  AssignmentTable table_;
  std::vector<std::string> sceneryList_;

  std::vector<Prepared> prepared_;  // include files first, then scenery files
  std::unordered_map<std::string, Seen> seen_;             // by the file's real path
  std::unordered_map<std::string, std::string> realDirs_;  // directory -> its real path
  std::map<dev_t, std::string> fileSystems_;               // device -> a directory on it

  text::LineReader reader_;
  SceneryLineRewriter lines_;
  std::string out_;
  std::string scratch_;
  ConversionResult result_;
};

ConversionRun::ConversionRun(const text::RunPaths& paths, ConversionEvents& events,
                             const ConversionOptions& options)
    : events_(events),
      options_(options),
      root_(paths.sceneryRoot()),
      base_(paths.sciezka_katalogu),
      reader_(-1, {}, kReadBlock),
      lines_(table_) {
  rootShown_ = text::nativeToRelative(std::string_view(root_).substr(std::min(base_.size(), root_.size())));

  // Every working file is read and checked before anything is written.
  loadAssignments(paths.workingFile(text::kIncOut), incOut_);
  std::vector<AssignmentRow> rows = incOut_;
  loadAssignments(paths.workingFile(text::kIncOut1), rows);
  table_ = AssignmentTable(std::move(rows));

  const std::string pScn = paths.workingFile(text::kPScn);
  const std::string prefix = root_ + "/";
  size_t lineNo = 0;
  text::forEachRecord(pScn, [&](std::string_view line) {
    ++lineNo;
    if (line.size() <= prefix.size() || line.compare(0, prefix.size(), prefix) != 0 ||
        !text::isSafeRelative(line.substr(prefix.size()))) {
      throw text::Failure("Wiersz " + std::to_string(lineNo) + " pliku " + text::quotedPath(pScn) +
                          " nie jest ścieżką pliku w katalogu scenery. Uruchom Start ponownie.");
    }
    sceneryList_.emplace_back(line);
    return true;
  });
}

int ConversionRun::openResolved(const std::string& full, text::Fd& fd, std::string& target) {
  int raw = text::os().open(full.c_str(), O_RDONLY | O_NOFOLLOW, 0);
  if (raw < 0 && errno == ELOOP) {
    // A link is rewritten where it points, and stays a link.
    int err = 0;
    target = realPath(full, err);
    if (err != 0) return err;
    raw = text::os().open(target.c_str(), O_RDONLY, 0);
    if (raw < 0) return errno;
    fd = text::Fd(raw);
    return 0;
  }
  if (raw < 0) return errno;
  fd = text::Fd(raw);
  const size_t slash = full.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : full.substr(0, slash);
  auto it = realDirs_.find(dir);
  if (it == realDirs_.end()) {
    int err = 0;
    std::string real = realPath(dir, err);
    if (err != 0) return err;
    if (real.size() > 1) real += '/';
    it = realDirs_.emplace(dir, std::move(real)).first;
  }
  target.assign(it->second).append(std::string_view(full).substr(slash + 1));
  return 0;
}

std::unique_ptr<text::AtomicFile> ConversionRun::createTemp(const std::string& target, const struct stat& st) {
  // The original's permissions, but writable by its owner: a read-only file
  // comes back writable.
  const mode_t mode = static_cast<mode_t>((st.st_mode & 07777) | S_IWUSR);
  auto file = std::make_unique<text::AtomicFile>(target, mode);
  if (st.st_uid != euid_ || st.st_gid != egid_) {
    // Keep the owner where we may; an ordinary user may not give files away.
    if (::fchown(file->fd(), st.st_uid, st.st_gid) == 0) {
      if ((mode & (S_ISUID | S_ISGID)) != 0) (void)text::os().fchmod(file->fd(), mode);
    } else if (errno == EPERM) {
      (void)::fchown(file->fd(), static_cast<uid_t>(-1), st.st_gid);
    } else {
      throw FileError(FileOp::Create, target, errno);
    }
  }
  struct stat temp {};
  if (::fstat(file->fd(), &temp) != 0) throw FileError(FileOp::Stat, file->tempPath(), errno);
  // A file mounted over on its own could not be renamed over: found now,
  // before anything has changed, rather than half-way through the renames.
  if (temp.st_dev != st.st_dev) throw FileError(FileOp::Rename, target, EXDEV);
  if (options_.flush == FlushMode::PerFileSystem) fileSystems_.try_emplace(temp.st_dev, directoryOf(target));
  return file;
}

void ConversionRun::emit(text::AtomicFile* file) {
  if (file) {
    text::writeAll(file->fd(), out_, file->target());
    result_.bytesWritten += out_.size();
  }
  out_.clear();
}

void ConversionRun::finish(text::AtomicFile& file) { file.finish(options_.flush == FlushMode::PerFile); }

void ConversionRun::zmiana_inc() {
  if (incOut_.empty()) return;
  Phase phase(events_, ConversionPhase::IncludeFiles, incOut_.size());
  for (const AssignmentRow& row : incOut_) {
    phase.file(row.path);
    zmien_inc(row.path, row.category);
  }
}

void ConversionRun::zmien_inc(std::string_view relative, std::string_view category) {
  const std::string full = text::fullPath(root_, relative);
  text::Fd in;
  std::string target;
  if (const int err = openResolved(full, in, target)) throw FileError(FileOp::Open, full, err);
  const auto [seen, fresh] = seen_.try_emplace(target, Seen{1, kNone});
  if (!fresh) return;  // the same file under another name: rewritten once

  struct stat st {};
  if (::fstat(in.get(), &st) != 0) throw FileError(FileOp::Stat, target, errno);
  std::unique_ptr<text::AtomicFile> file = options_.dryRun ? nullptr : createTemp(target, st);

  // The whole file is read, however short: a file of one byte keeps it.
  out_.clear();
  appendHeader(category, out_);
  reader_.reset(in.get(), target);
  std::string_view line;
  while (reader_.next(line)) {
    if (carriesHeader(line)) {
      throw text::Failure("Plik " + text::quotedPath(full) + " ma już nagłówek //$infotype: (wiersz " +
                          std::to_string(reader_.lineNumber()) +
                          "): drzewo scenerii zmieniło się od uruchomienia Start albo zostało już przerobione. "
                          "Nie zmieniono żadnego pliku; uruchom Start ponownie.");
    }
    appendIncludeLine(line, out_);
    out_.append(text::kLineEnd);
    if (out_.size() >= kWriteChunk) emit(file.get());
  }
  emit(file.get());
  if (file) finish(*file);
  result_.bytesRead += static_cast<std::uint64_t>(st.st_size);
  seen->second.prepared = prepared_.size();
  std::string shown = rootShown_;
  shown.append("\\").append(relative);
  prepared_.push_back(Prepared{std::move(file), std::move(shown)});
  ++result_.includeFiles;
}

void ConversionRun::zmiana_scn() {
  if (table_.empty() || sceneryList_.empty()) return;
  Phase phase(events_, ConversionPhase::SceneryFiles, sceneryList_.size());
  for (const std::string& listed : sceneryList_) {
    phase.file(listed);
    ++result_.sceneryListed;
    rewriteScenery(listed);
  }
}

void ConversionRun::rewriteScenery(const std::string& listed) {
  // A file that no longer exists (a dangling link too), or is shorter than
  // 2 bytes, is skipped.
  text::Fd in;
  std::string target;
  if (const int err = openResolved(listed, in, target)) {
    if (err == ENOENT || err == ENOTDIR) return;
    throw FileError(FileOp::Open, listed, err);
  }
  const auto [seen, fresh] = seen_.try_emplace(target, Seen{2, kNone});
  size_t earlier = kNone;
  if (!fresh) {
    if (seen->second.phase == 2) return;  // done under another name; a second pass changes nothing
    // An include file of the first phase under another name: its lines are
    // rewritten from its prepared text, as if the first phase had already
    // put it in place.
    seen->second.phase = 2;
    earlier = seen->second.prepared;
  }
  const text::AtomicFile* earlierFile = earlier == kNone ? nullptr : prepared_[earlier].file.get();
  const std::string source = earlierFile ? earlierFile->tempPath() : target;
  if (earlierFile) in = text::openForReading(source);

  struct stat st {};
  if (::fstat(in.get(), &st) != 0) throw FileError(FileOp::Stat, source, errno);
  if (st.st_size < 2) return;

  // Hold: the text so far is kept in out_ until a line converts (then Write)
  // or it grows past the look-ahead (then Scan: read on without keeping text,
  // and start over writing if a line converts after all).
  enum class Mode { Hold, Scan, Write } mode = Mode::Hold;
  std::unique_ptr<text::AtomicFile> file;
  out_.clear();
  reader_.reset(in.get(), source);
  result_.bytesRead += static_cast<std::uint64_t>(st.st_size);
  std::string_view line;
  while (reader_.next(line)) {
    if (mode == Mode::Scan) {
      scratch_.clear();
      if (lines_.append(line, scratch_) != SceneryLine::Converted) continue;
      mode = Mode::Write;
      if (options_.dryRun) break;
      file = createTemp(target, st);
      if (::lseek(in.get(), 0, SEEK_SET) != 0) throw FileError(FileOp::Read, source, errno);
      reader_.reset(in.get(), source);
      result_.bytesRead += static_cast<std::uint64_t>(st.st_size);
      continue;
    }
    const SceneryLine kind = lines_.append(line, out_);
    out_.append(text::kLineEnd);
    if (kind == SceneryLine::Converted && mode == Mode::Hold) {
      mode = Mode::Write;
      if (options_.dryRun) break;
      file = createTemp(target, st);
    }
    if (mode == Mode::Write) {
      if (out_.size() >= kWriteChunk) emit(file.get());
    } else if (out_.size() > options_.sceneryLookahead) {
      mode = Mode::Scan;
      out_.clear();
    }
  }
  if (mode != Mode::Write) {
    out_.clear();  // no line converted: the file stays exactly as it is
    return;
  }
  emit(file.get());
  if (file) finish(*file);

  if (earlier != kNone) {
    prepared_[earlier].file = std::move(file);  // the earlier temporary file goes
    return;
  }
  seen->second.prepared = prepared_.size();
  std::string_view rest = listed;
  rest.remove_prefix(std::min(base_.size(), rest.size()));
  prepared_.push_back(Prepared{std::move(file), text::nativeToRelative(rest)});
  ++result_.sceneryFiles;
}

void ConversionRun::syncFileSystems() {
  for (const auto& [device, dir] : fileSystems_) {
    const int raw = text::os().open(dir.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (raw < 0) throw FileError(FileOp::Sync, dir, errno);
    text::Fd fd(raw);
    if (text::os().syncfs(fd.get()) != 0) throw FileError(FileOp::Sync, dir, errno);
  }
}

void ConversionRun::syncDirectories() {
  std::set<std::string> dirs;
  for (const Prepared& p : prepared_) dirs.insert(directoryOf(p.file->target()));
  for (const std::string& dir : dirs) {
    const int raw = text::os().open(dir.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (raw < 0) throw FileError(FileOp::Sync, dir, errno);
    text::Fd fd(raw);
    if (text::os().fsync(fd.get()) != 0) throw FileError(FileOp::Sync, dir, errno);
  }
}

std::vector<std::string> ConversionRun::shownNames(size_t count) const {
  std::vector<std::string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) names.push_back(prepared_[i].shown);
  return names;
}

ConversionResult ConversionRun::commit() {
  if (options_.dryRun || prepared_.empty()) {
    result_.changedFiles = shownNames(prepared_.size());
    return std::move(result_);
  }
  // Every temporary file durable before the first rename.
  if (options_.flush == FlushMode::PerFileSystem) {
    try {
      syncFileSystems();
    } catch (const FileError& e) {
      rethrowUnchanged(e);
    }
  }
  for (size_t done = 0; done < prepared_.size(); ++done) {
    try {
      prepared_[done].file->replaceTarget();
    } catch (const FileError& e) {
      if (done == 0) rethrowUnchanged(e);
      std::vector<std::string> replaced = shownNames(done);
      const size_t total = prepared_.size();
      prepared_.clear();  // removes the temporary files not yet in place
      throw IncompleteConversion(
          std::string(e.what()) + " Konwersję przerwano: " + std::to_string(done) + " z " + std::to_string(total) +
              " plików podmieniono już na przerobione, pozostałe są bez zmian. Uruchom Start ponownie, aby ją dokończyć.",
          std::move(replaced));
    }
  }
  // The renames durable too.
  try {
    if (options_.flush == FlushMode::PerFile) {
      syncDirectories();
    } else {
      syncFileSystems();
    }
  } catch (const FileError& e) {
    throw IncompleteConversion(std::string(e.what()) +
                                   " Wszystkie pliki podmieniono już na przerobione, ale nie udało się potwierdzić "
                                   "trwałości zapisu.",
                               shownNames(prepared_.size()));
  }
  result_.changedFiles = shownNames(prepared_.size());
  return std::move(result_);
}

}  // namespace

ConversionResult runConversion(const text::RunPaths& paths, ConversionEvents& events,
                               const ConversionOptions& options) {
  ConversionRun run(paths, events, options);
  try {
    run.zmiana_inc();
    run.zmiana_scn();
  } catch (const FileError& e) {
    rethrowUnchanged(e);
  }
  return run.commit();
}

}  // namespace borvantel::convert
