#include "convert/conversion.h"

#include "convert/assignment_table.h"
#include "convert/include_file.h"
#include "convert/journal.h"
#include "convert/undo.h"
#include "convert/scenery_file.h"
#include "text/working_files.h"
#include "text/lines.h"
#include "platform/in_order.h"
#include "platform/os.h"
#include "platform/process.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace borvantel::convert {

struct ConversionPlan::Lists {
  text::RunPaths paths;
  std::string root;       // the scenery directory, found once
  std::string rootShown;  // its name, relative to the base directory
  std::string base;       // the base directory, with separator
  std::string realBase;   // the base directory's real path, with separator
  std::vector<AssignmentRow> incOut;
  AssignmentTable table;
  // The files whose include lines are rewritten: those of "p_scn.txt", then
  // the include files that carried their category before (full paths).
  std::vector<std::string> sceneryList;

  explicit Lists(const text::RunPaths& p);
  void loadSceneryList();
};

ConversionPlan::Lists::Lists(const text::RunPaths& p)
    : paths(p), root(p.sceneryRoot()), base(p.sciezka_katalogu) {
  if (platform::os().realpath(base.c_str(), realBase) != 0) throw text::FileError(text::FileOp::Open, base, errno);
  if (!platform::isPathSeparator(realBase.back())) realBase += platform::kPathSeparator;
  rootShown = text::nativeToRelative(std::string_view(root).substr(std::min(base.size(), root.size())));

  // Every working file is read and checked before anything is written.
  loadAssignments(paths.workingFile(text::kIncOut), incOut);
  std::vector<AssignmentRow> categorised;
  loadAssignments(paths.workingFile(text::kIncOut1), categorised);
  std::vector<AssignmentRow> rows = incOut;
  rows.insert(rows.end(), categorised.begin(), categorised.end());
  table = AssignmentTable(std::move(rows));
  loadSceneryList();
  // The include files that carried their category before this run: their
  // include lines are rewritten as a scenery file's, after the listed files.
  for (const AssignmentRow& row : categorised) sceneryList.push_back(text::fullPath(root, row.path));
}

void ConversionPlan::Lists::loadSceneryList() {
  const std::string pScn = paths.workingFile(text::kPScn);
  const std::string prefix = root + platform::kPathSeparator;
  size_t lineNo = 0;
  text::forEachRecord(pScn, [&](std::string_view line) {
    ++lineNo;
    if (line.size() <= prefix.size() || line.compare(0, prefix.size(), prefix) != 0 ||
        !text::isSafeRelative(line.substr(prefix.size()))) {
      throw text::Failure("Wiersz " + std::to_string(lineNo) + " pliku " + text::quotedPath(pScn) +
                          " nie jest ścieżką pliku w katalogu scenery. Uruchom Start ponownie.");
    }
    sceneryList.emplace_back(line);
    return true;
  });
}

ConversionPlan::ConversionPlan(const text::RunPaths& paths) : lists_(std::make_unique<const Lists>(paths)) {}
ConversionPlan::~ConversionPlan() = default;
ConversionPlan::ConversionPlan(ConversionPlan&&) noexcept = default;
ConversionPlan& ConversionPlan::operator=(ConversionPlan&&) noexcept = default;

size_t ConversionPlan::entries(ConversionPhase phase) const noexcept {
  return phase == ConversionPhase::IncludeFiles ? lists_->incOut.size() : lists_->sceneryList.size();
}

namespace {

using text::FileError;
using text::FileOp;

constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kWriteChunk = 256 * 1024;
// Scenery lines looked at before the first of them is written: enough table
// lookups in flight to hide the memory's latency.
constexpr size_t kLookAhead = 64;
constexpr size_t kNone = static_cast<size_t>(-1);

[[noreturn]] void cannotOpen(const std::string& path, int err) { throw FileError(FileOp::Open, path, err); }

// A failure while preparing: the user must also learn that nothing changed.
[[noreturn]] void rethrowUnchanged(const FileError& e) {
  throw FileError(e.op(), e.path(), e.error(), text::reasonText(e.error()) + "; nie zmieniono żadnego pliku");
}

// Rewrites the lines of one include file: each is renumbered, and then, as a
// scenery file's, an include line in it gets the category of the file it
// names; the rewriter watches the lines written. A file without "include"
// anywhere is only renumbered: no line of it could change or matter more.
class IncludeLines {
 public:
  explicit IncludeLines(SceneryLineRewriter& lines) : lines_(lines) {}

  // The header, the first line of the file; `nested`: the file may hold
  // include lines.
  void header(std::string_view category, bool nested, std::string& out) {
    nested_ = nested;
    lines_.watchNewFile();
    const size_t start = out.size();
    appendHeader(category, out);
    lines_.watchWritten(std::string_view(out).substr(start, out.size() - start - text::kLineEnd.size()));
  }
  // One line into `out`, with its line end; refused where the file carries a
  // category header already.
  void line(const std::string& full, std::string_view line, size_t number, std::string& out) {
    if (carriesHeader(line)) {
      throw text::Failure("Plik " + text::quotedPath(full) + " ma już nagłówek //$infotype: (wiersz " +
                          std::to_string(number) +
                          "): drzewo scenerii zmieniło się od uruchomienia Start albo zostało już przerobione. "
                          "Nie zmieniono żadnego pliku; uruchom Start ponownie.");
    }
    const size_t start = out.size();
    appendIncludeLine(line, out);
    if (nested_) lines_.rewriteAppended(out, start);
    out.append(text::kLineEnd);
  }
  // A whole file in memory into `out`.
  void text(const std::string& full, std::string_view category, std::string_view content, std::string& out) {
    header(category, marksOf(content).includes != 0, out);
    text::LineSplitter lines(content);
    size_t number = 0;
    for (std::string_view l; lines.next(l);) line(full, l, ++number, out);
  }

 private:
  SceneryLineRewriter& lines_;
  bool nested_ = true;
};

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
//
// Each phase prepares its files on several threads (platform::InOrder): a worker
// opens, reads, rewrites and writes one file into its temporary file; the
// calling thread then takes the outcomes up in list order, reports progress,
// keeps the first copy of a file reached under two names and stops at the
// first failure, exactly as if it had done every file itself in turn.
class ConversionRun {
 public:
  ConversionRun(const ConversionPlan& plan, ConversionEvents& events, const ConversionOptions& options);

  void zmiana_inc();
  void zmiana_scn();
  ConversionResult commit();

 private:
  struct Prepared {
    std::unique_ptr<text::AtomicFile> file;  // null in a dry run
    size_t source;                           // index into plan_.incOut, or kScenery + index into plan_.sceneryList
    FileIdentity identity;                   // of the prepared file, for the undo set
  };
  static constexpr size_t kScenery = size_t{1} << 62;

  // A directory as the files in it are rewritten: its real path (with a
  // separator) and the file system the temporary files go to.
  struct RealDirectory {
    std::string real;
    std::uint64_t device;
  };
  // What one thread keeps from file to file.
  struct Worker {
    explicit Worker(const AssignmentTable& table) : reader(-1, {}, kReadBlock), lines(table) {}
    text::LineReader reader;
    SceneryLineRewriter lines;
    IncludeLines includeLines{lines};
    std::vector<std::string_view> batch;  // lines of the reader's buffer
    TextMarks marks;                      // of a file read whole
    std::string out;
    std::string scratch;
    std::unordered_map<std::string, RealDirectory> directories;
    // The directories of the file at hand, as listed and as it really is:
    // the files of one directory come one after another.
    platform::Directory listedDir;
    platform::Directory realDir;
  };
  // One file as its worker left it.
  struct Outcome {
    std::string target;  // the real path; empty when the file was not opened
    std::uint64_t device = 0;
    std::unique_ptr<text::AtomicFile> file;
    FileIdentity identity;
    bool rewritten = false;  // a new version was prepared (in a dry run: would be)
    size_t earlier = kNone;  // scenery phase: the include file of the first phase it is
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    // With ConversionOptions::changes: the file's text before and after.
    std::string before;
    std::string after;
    std::vector<UnreachedDirective> unreached;
  };

  // A listed file open for reading: its real path, where it is rewritten,
  // and the file system of its directory.
  struct Opened {
    platform::Fd fd;
    std::string target;
    std::uint64_t device = 0;
  };
  // Opens `full`; throws FileError (opening `full`) when it cannot.
  Opened openResolved(Worker& w, const std::string& full);
  Opened openLinked(const std::string& full);
  const RealDirectory& realDirectory(Worker& w, std::string_view dir, const std::string& full);
  void checkInside(const std::string& listed, const std::string& target) const;
  std::unique_ptr<text::AtomicFile> createTemp(Worker& w, const std::string& target, const platform::FileStat& st,
                                               std::uint64_t device);
  void emit(Worker& w, text::AtomicFile* file, Outcome& o);
  void finishTemp(text::AtomicFile& file, Outcome& o);
  void prepareInclude(Worker& w, const AssignmentRow& row, Outcome& o);
  void prepareScenery(Worker& w, const std::string& listed, Outcome& o);
  // A dry run's changes, in memory (ConversionOptions::changes).
  void sceneryChanges(Worker& w, const platform::Fd& in, const platform::FileStat& st, Outcome& o);
  // Hands a dry run's change to the sink: `shown` and `entry` name the
  // file as the list does.
  void report(Outcome& o, const std::string& shown, FileEntry entry);
  // The entries of a phase's list taken up (ConversionOptions::only).
  struct Range {
    size_t first;
    size_t count;
  };
  Range range(ConversionPhase phase, size_t entries) const noexcept;
  // Keeps the directives of a file (named as shownName names it) that the
  // conversion leaves without their category.
  void warn(std::string_view shown, std::vector<UnreachedDirective>& unreached);
  class SceneryRewrite;
  Prepared keep(Outcome& o, size_t source);
  template <typename Prepare, typename Take>
  void inOrder(size_t count, Prepare&& prepare, Take&& take);
  void syncFileSystems();
  void syncDirectories();
  std::string shownName(const Prepared& p) const;
  std::string shownIncludeName(size_t i) const;
  std::string shownSceneryName(size_t i) const;
  void renameAll();
  // Some renames failed (errors[i]: the errno of the i-th, or 0): reports
  // which file and how many were replaced, keeping those undoable.
  [[noreturn]] void renamesFailed(const std::vector<int>& errors);
  // After a failure already being reported: the journal goes if it can.
  void removeJournal() noexcept;
  std::vector<std::string> shownNames(size_t count) const;

  const ConversionPlan::Lists& plan_;
  ConversionEvents& events_;
  const ConversionOptions& options_;
  // Declared before everything that owns temporary files: it goes last.
  std::optional<Journal> journal_;
  std::optional<UndoBuilder> undo_;
  const std::uint32_t euid_ = platform::processUser();
  const std::uint32_t egid_ = platform::processGroup();

  std::vector<Prepared> prepared_;  // include files first, then scenery files
  // The real paths of the files of each phase: the first phase's with their
  // place in prepared_ (the scenery phase reads them while it runs, so they
  // do not change then).
  // The keys view the targets kept by the prepared files or, failing those,
  // by the list or by storedTargets_: no path is held twice.
  std::unordered_map<std::string_view, size_t> includeTargets_;
  std::unordered_set<std::string_view> sceneryTargets_;
  std::deque<std::string> storedTargets_;
  std::map<std::uint64_t, std::string> fileSystems_;  // device -> a directory on it
  std::vector<std::unique_ptr<Worker>> workers_;
  ConversionResult result_;
};

ConversionRun::ConversionRun(const ConversionPlan& plan, ConversionEvents& events, const ConversionOptions& options)
    : plan_(plan.lists()), events_(events), options_(options) {
  if (!options_.dryRun) journal_.emplace(plan_.paths);
}

ConversionRun::Opened ConversionRun::openResolved(Worker& w, const std::string& full) {
  const size_t slash = text::nameStart(full);
  if (const std::string_view listedDir = std::string_view(full).substr(0, slash); w.listedDir.path() != listedDir) {
    w.listedDir = platform::Directory(listedDir);
  }
  const int raw = platform::os().openAt(w.listedDir, full.c_str() + slash, O_RDONLY | O_NOFOLLOW, 0);
  if (raw < 0 && errno == ELOOP) return openLinked(full);
  if (raw < 0) cannotOpen(full, errno);
  Opened opened{platform::Fd(raw), {}, 0};
  const std::string_view dir = slash == 0 ? std::string_view(".") : std::string_view(full).substr(0, slash - 1);
  const RealDirectory& real = realDirectory(w, dir, full);
  opened.target.assign(real.real).append(std::string_view(full).substr(slash));
  opened.device = real.device;
  return opened;
}

ConversionRun::Opened ConversionRun::openLinked(const std::string& full) {
  // A link is rewritten where it points, and stays a link.
  Opened opened;
  if (platform::os().realpath(full.c_str(), opened.target) != 0) cannotOpen(full, errno);
  const int raw = platform::os().open(opened.target.c_str(), O_RDONLY, 0);
  if (raw < 0) cannotOpen(full, errno);
  opened.fd = platform::Fd(raw);
  platform::FileStat st;
  if (platform::os().stat(text::parentDirectory(opened.target).c_str(), &st) != 0) cannotOpen(full, errno);
  opened.device = st.device;
  return opened;
}

const ConversionRun::RealDirectory& ConversionRun::realDirectory(Worker& w, std::string_view dir,
                                                                 const std::string& full) {
  if (const auto it = w.directories.find(std::string(dir)); it != w.directories.end()) return it->second;
  std::string real;
  if (platform::os().realpath(std::string(dir).c_str(), real) != 0) cannotOpen(full, errno);
  platform::FileStat st;
  if (platform::os().stat(real.c_str(), &st) != 0) cannotOpen(full, errno);
  if (!platform::isPathSeparator(real.back())) real += platform::kPathSeparator;
  return w.directories.emplace(std::string(dir), RealDirectory{std::move(real), st.device}).first->second;
}

void ConversionRun::checkInside(const std::string& listed, const std::string& target) const {
  // A link may point anywhere; the tool rewrites only what lies in the base
  // directory, where its journal can find every file again.
  if (target.compare(0, plan_.realBase.size(), plan_.realBase) != 0) {
    throw text::Failure("Plik " + text::quotedPath(listed) + " wskazuje na plik " + text::quotedPath(target) +
                        " poza katalogiem " + text::quotedPath(plan_.base) +
                        "; takich plików program nie zmienia. Nie zmieniono żadnego pliku.");
  }
}

std::unique_ptr<text::AtomicFile> ConversionRun::createTemp(Worker& w, const std::string& target,
                                                            const platform::FileStat& st, std::uint64_t device) {
  // A file mounted over on its own could not be renamed over: found now,
  // before anything has changed, rather than half-way through the renames.
  if (st.device != device) throw FileError(FileOp::Rename, target, EXDEV);
  // The original's permissions, but writable by its owner: a read-only file
  // comes back writable.
  const auto mode = static_cast<mode_t>((st.mode & 07777) | 0200);
  const std::string_view dir = std::string_view(target).substr(0, text::nameStart(target));
  if (w.realDir.path() != dir) w.realDir = platform::Directory(dir);
  auto file = std::make_unique<text::AtomicFile>(w.realDir, target, mode, journal_ ? &*journal_ : nullptr);
  if (st.uid != euid_ || st.gid != egid_) {
    // Keep the owner where we may; an ordinary user may not give files away.
    if (platform::os().fchown(file->fd(), st.uid, st.gid) == 0) {
      if ((mode & 06000) != 0) (void)platform::os().fchmod(file->fd(), mode);  // set-user/group-id, cleared by chown
    } else if (errno == EPERM) {
      (void)platform::os().fchown(file->fd(), static_cast<std::uint32_t>(-1), st.gid);
    } else {
      throw FileError(FileOp::Create, target, errno);
    }
  }
  return file;
}

void ConversionRun::emit(Worker& w, text::AtomicFile* file, Outcome& o) {
  if (file) {
    text::writeAll(file->fd(), w.out, file->target());
    o.bytesWritten += w.out.size();
  }
  w.out.clear();
}

void ConversionRun::finishTemp(text::AtomicFile& file, Outcome& o) {
  if (options_.keepUndo) {
    // What the converted file will be, for undo to tell it unchanged later.
    platform::FileStat st;
    if (platform::os().fstat(file.fd(), &st) != 0) throw FileError(FileOp::Stat, file.target(), errno);
    o.identity = identityOf(st);
  }
  file.finish(options_.flush == FlushMode::PerFile);
}

template <typename Prepare, typename Take>
void ConversionRun::inOrder(size_t count, Prepare&& prepare, Take&& take) {
  platform::InOrder pool(platform::threadsFor(options_.threads, count));
  while (workers_.size() < pool.threads()) workers_.push_back(std::make_unique<Worker>(plan_.table));
  std::vector<Outcome> outcomes(pool.slots());
  pool.run(
      count,
      [&](size_t i, size_t slot, unsigned worker) {
        Outcome& o = outcomes[slot];
        o = Outcome{};
        prepare(*workers_[worker], i, o);
      },
      [&](size_t i, size_t slot, const std::exception_ptr& error) { take(i, outcomes[slot], error); });
}

ConversionRun::Prepared ConversionRun::keep(Outcome& o, size_t source) {
  if (o.file && fileSystems_.count(o.device) == 0) fileSystems_.emplace(o.device, text::parentDirectory(o.target));
  result_.bytesWritten += o.bytesWritten;
  return Prepared{std::move(o.file), source, o.identity};
}

ConversionRun::Range ConversionRun::range(ConversionPhase phase, size_t entries) const noexcept {
  if (!options_.only) return {0, entries};
  if (options_.only->phase != phase || options_.only->index >= entries) return {0, 0};
  return {options_.only->index, 1};
}

void ConversionRun::zmiana_inc() {
  const auto [first, count] = range(ConversionPhase::IncludeFiles, plan_.incOut.size());
  if (count == 0) return;
  Phase phase(events_, ConversionPhase::IncludeFiles, count);
  inOrder(
      count, [&](Worker& w, size_t k, Outcome& o) { prepareInclude(w, plan_.incOut[first + k], o); },
      [&](size_t k, Outcome& o, const std::exception_ptr& error) {
        const size_t i = first + k;
        phase.file(plan_.incOut[i].path);
        // The same file under another name is rewritten once; what happened to
        // the second copy does not matter.
        const bool again = !o.target.empty() && includeTargets_.count(o.target) != 0;
        if (again) return;
        if (error) std::rethrow_exception(error);
        result_.bytesRead += o.bytesRead;
        warn(shownIncludeName(i), o.unreached);
        prepared_.push_back(keep(o, i));
        const text::AtomicFile* file = prepared_.back().file.get();
        includeTargets_.emplace(file ? std::string_view(file->target()) : storedTargets_.emplace_back(o.target),
                                prepared_.size() - 1);
        ++result_.includeFiles;
        report(o, shownIncludeName(i), FileEntry{ConversionPhase::IncludeFiles, i});
      });
}

void ConversionRun::prepareInclude(Worker& w, const AssignmentRow& row, Outcome& o) {
  const std::string full = text::fullPath(plan_.root, row.path);
  Opened opened = openResolved(w, full);
  platform::Fd in = std::move(opened.fd);
  o.target = std::move(opened.target);
  o.device = opened.device;
  checkInside(full, o.target);

  platform::FileStat st;
  if (platform::os().fstat(in.get(), &st) != 0) throw FileError(FileOp::Stat, o.target, errno);
  std::unique_ptr<text::AtomicFile> file = options_.dryRun ? nullptr : createTemp(w, o.target, st, o.device);

  // The whole file is read, however short: a file of one byte keeps it.
  if (options_.changes) {
    text::readAll(in.get(), o.target, o.before, st.size);
    w.includeLines.text(full, row.category, o.before, o.after);
  } else {
    w.out.clear();
    w.reader.reset(in.get(), o.target);
    std::string_view whole;
    w.includeLines.header(row.category, !w.reader.peekRest(whole) || marksOf(whole).includes != 0, w.out);
    std::string_view line;
    while (w.reader.next(line)) {
      w.includeLines.line(full, line, w.reader.lineNumber(), w.out);
      if (w.out.size() >= kWriteChunk) emit(w, file.get(), o);
    }
    emit(w, file.get(), o);
  }
  o.unreached = w.lines.unreached();
  if (file) finishTemp(*file, o);
  o.bytesRead += st.size;
  o.file = std::move(file);
  o.rewritten = true;
}

void ConversionRun::zmiana_scn() {
  const auto [first, count] = range(ConversionPhase::SceneryFiles, plan_.sceneryList.size());
  if (plan_.table.empty() || count == 0) return;
  Phase phase(events_, ConversionPhase::SceneryFiles, count);
  // The workers of this phase read prepared_ (an include file of the first
  // phase met again here is rewritten from its prepared text), so it changes
  // only once the phase is over.
  std::vector<Prepared> rewritten;
  std::vector<std::pair<size_t, Prepared>> replacements;
  inOrder(
      count, [&](Worker& w, size_t k, Outcome& o) { prepareScenery(w, plan_.sceneryList[first + k], o); },
      [&](size_t k, Outcome& o, const std::exception_ptr& error) {
        const size_t i = first + k;
        phase.file(plan_.sceneryList[i]);
        ++result_.sceneryListed;
        // Done under another name: a second pass changes nothing.
        const bool again = !o.target.empty() && sceneryTargets_.count(o.target) != 0;
        if (again) return;
        if (error) std::rethrow_exception(error);
        if (o.target.empty()) return;  // no longer there
        sceneryTargets_.insert(o.target == plan_.sceneryList[i] ? std::string_view(plan_.sceneryList[i])
                                                           : std::string_view(storedTargets_.emplace_back(o.target)));
        result_.bytesRead += o.bytesRead;
        // An include file of the first phase was watched there already.
        if (o.earlier == kNone) warn(shownSceneryName(i), o.unreached);
        if (!o.rewritten) return;
        report(o, shownSceneryName(i), FileEntry{ConversionPhase::SceneryFiles, i});
        if (o.earlier != kNone) {
          result_.bytesWritten += o.bytesWritten;
          replacements.emplace_back(o.earlier, Prepared{std::move(o.file), 0, o.identity});
          return;
        }
        rewritten.push_back(keep(o, kScenery + i));
        ++result_.sceneryFiles;
      });
  includeTargets_.clear();  // its keys may view the files replaced now
  for (auto& [earlier, file] : replacements) {
    prepared_[earlier].file = std::move(file.file);
    prepared_[earlier].identity = file.identity;
  }
  std::move(rewritten.begin(), rewritten.end(), std::back_inserter(prepared_));
}

// One scenery file rewritten line by line. Hold: the text so far is kept in
// w.out until a line converts (then Write) or it grows past the look-ahead
// (then Scan: read on without keeping text, and start over writing if a line
// converts after all). No line converted: the file stays exactly as it is.
class ConversionRun::SceneryRewrite {
 public:
  SceneryRewrite(ConversionRun& run, Worker& w, Outcome& o, const platform::Fd& in, const std::string& source,
                 const platform::FileStat& st)
      : run_(run), w_(w), o_(o), in_(in), source_(source), st_(st) {}

  void run() {
    w_.out.clear();
    w_.lines.watchNewFile();
    w_.reader.reset(in_.get(), source_);
    o_.bytesRead += st_.size;
    // A file read whole has its marks found in one pass; one without
    // "include" anywhere has no line to convert and no directive to watch
    // (most include files).
    w_.lines.linesOf(nullptr, nullptr);
    if (std::string_view whole; w_.reader.peekRest(whole)) {
      w_.marks.find(whole);
      if (!w_.marks.hasInclude()) return;
      w_.lines.linesOf(&w_.marks, whole.data());
    }
    // The lines come in batches of those read already, so that the table
    // lookups of a batch overlap (SceneryLineRewriter::look).
    std::string_view line;
    while (w_.reader.next(line)) {
      w_.batch.assign(1, line);
      while (w_.batch.size() < kLookAhead && w_.reader.nextBuffered(line)) w_.batch.push_back(line);
      w_.lines.look(w_.batch);
      for (size_t j = 0; j < w_.batch.size() && take(j);) ++j;
    }
    o_.unreached = w_.lines.unreached();
    if (mode_ == Mode::Hold || mode_ == Mode::Scan) {
      w_.out.clear();
      return;
    }
    run_.emit(w_, file_.get(), o_);
    if (file_) run_.finishTemp(*file_, o_);
    o_.file = std::move(file_);
    o_.rewritten = true;
  }

 private:
  // Decided: a dry run knows the file changes and reads on only for the
  // directives the watch must see.
  enum class Mode { Hold, Scan, Write, Decided };

  // Takes line j of the batch; false when the rest of the batch is not
  // wanted (reading starts over).
  bool take(size_t j) {
    if (mode_ == Mode::Scan || mode_ == Mode::Decided) return scan(j);
    const SceneryLine kind = w_.lines.appendLooked(j, w_.out);
    w_.out.append(text::kLineEnd);
    if (kind == SceneryLine::Converted && mode_ == Mode::Hold) startWriting();
    if (mode_ == Mode::Write) {
      if (w_.out.size() >= kWriteChunk) run_.emit(w_, file_.get(), o_);
    } else if (mode_ == Mode::Hold && w_.out.size() > run_.options_.sceneryLookahead) {
      mode_ = Mode::Scan;
      w_.out.clear();
    }
    return true;
  }
  // Past the look-ahead: a converted line starts the file over, writing.
  bool scan(size_t j) {
    w_.scratch.clear();
    if (w_.lines.appendLooked(j, w_.scratch) != SceneryLine::Converted || mode_ == Mode::Decided) return true;
    startWriting();
    if (mode_ == Mode::Decided) return true;
    if (platform::os().lseek(in_.get(), 0, SEEK_SET) != 0) throw FileError(FileOp::Read, source_, errno);
    w_.reader.reset(in_.get(), source_);
    w_.lines.linesOf(nullptr, nullptr);  // the marks found stood in the buffer read before
    w_.lines.watchNewFile();
    o_.bytesRead += st_.size;
    return false;
  }
  // A line converts: the file is rewritten; a dry run writes nothing.
  void startWriting() {
    if (run_.options_.dryRun) {
      mode_ = Mode::Decided;
      w_.out.clear();
      return;
    }
    mode_ = Mode::Write;
    file_ = run_.createTemp(w_, o_.target, st_, o_.device);
  }

  ConversionRun& run_;
  Worker& w_;
  Outcome& o_;
  const platform::Fd& in_;
  const std::string& source_;
  const platform::FileStat& st_;
  Mode mode_ = Mode::Hold;
  std::unique_ptr<text::AtomicFile> file_;
};

void ConversionRun::prepareScenery(Worker& w, const std::string& listed, Outcome& o) {
  // A file that no longer exists (a dangling link too), or is shorter than
  // 2 bytes, is skipped.
  Opened opened;
  try {
    opened = openResolved(w, listed);
  } catch (const FileError& e) {
    if (e.error() == ENOENT || e.error() == ENOTDIR) return;
    throw;
  }
  platform::Fd in = std::move(opened.fd);
  o.target = std::move(opened.target);
  o.device = opened.device;
  checkInside(listed, o.target);
  std::string earlierTemp;
  const std::string* source = &o.target;
  if (const auto it = includeTargets_.find(o.target); it != includeTargets_.end()) {
    // An include file of the first phase under another name: its lines are
    // rewritten from its prepared text, as if the first phase had already put
    // it in place.
    o.earlier = it->second;
    if (const text::AtomicFile* earlier = prepared_[o.earlier].file.get()) {
      earlierTemp = earlier->tempPath();
      source = &earlierTemp;
      in = text::openForReading(*source);
    }
  }

  platform::FileStat st;
  if (platform::os().fstat(in.get(), &st) != 0) throw FileError(FileOp::Stat, *source, errno);
  if (options_.changes) {
    sceneryChanges(w, in, st, o);
    return;
  }
  if (st.size < 2) return;

  SceneryRewrite(*this, w, o, in, *source, st).run();
}

void ConversionRun::sceneryChanges(Worker& w, const platform::Fd& in, const platform::FileStat& st, Outcome& o) {
  text::readAll(in.get(), o.target, o.before, st.size);
  o.bytesRead += o.before.size();
  if (o.earlier != kNone) {
    // An include file of the first phase: this phase reads it as the first
    // left it, and so does its change.
    std::string first;
    w.includeLines.text(o.target, plan_.incOut[prepared_[o.earlier].source].category, o.before, first);
    o.before = std::move(first);
  }
  if (o.before.size() < 2) return;
  w.lines.watchNewFile();
  o.rewritten = w.lines.appendText(o.before, o.after);
  o.unreached = w.lines.unreached();
}

void ConversionRun::report(Outcome& o, const std::string& shown, FileEntry entry) {
  if (!options_.changes) return;
  // Where the file really is: a link's target, inside the base directory.
  std::string path = o.target.substr(plan_.realBase.size());
  for (char& c : path) {
    if (platform::isPathSeparator(c)) c = '/';
  }
  options_.changes->fileChanges(FileChange{path, shown, entry, o.before, o.after});
  o.before = std::string();
  o.after = std::string();
}

void ConversionRun::syncFileSystems() {
  for (const auto& [device, dir] : fileSystems_) text::syncFileSystemOf(dir);
}

void ConversionRun::syncDirectories() {
  std::set<std::string> dirs;
  for (const Prepared& p : prepared_) dirs.insert(text::parentDirectory(p.file->target()));
  for (const std::string& dir : dirs) text::syncDirectory(dir);
}

void ConversionRun::renameAll() {
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

void ConversionRun::renamesFailed(const std::vector<int>& errors) {
  const auto first = std::find_if(errors.begin(), errors.end(), [](int err) { return err != 0; });
  const FileError e(FileOp::Rename, prepared_[first - errors.begin()].file->target(), *first);
  std::vector<std::string> replaced;
  for (size_t i = 0; i < prepared_.size(); ++i) {
    if (errors[i] == 0) replaced.push_back(shownName(prepared_[i]));
  }
  if (replaced.empty()) rethrowUnchanged(e);
  if (undo_) {
    // The files replaced stay undoable.
    try {
      std::vector<bool> kept(errors.size());
      for (size_t i = 0; i < errors.size(); ++i) kept[i] = errors[i] == 0;
      undo_->keepOnly(kept);
      undo_->install();
    } catch (const text::Failure&) {
      // Then there is no undo set for them; the message below still holds.
    }
  }
  const std::string message = std::string(e.what()) + " Konwersję przerwano: " + std::to_string(replaced.size()) +
                              " z " + std::to_string(prepared_.size()) +
                              " plików podmieniono już na przerobione, pozostałe są bez zmian. Uruchom Start "
                              "ponownie, aby ją dokończyć.";
  prepared_.clear();  // removes the temporary files not put in place
  removeJournal();
  throw IncompleteConversion(message, std::move(replaced));
}

void ConversionRun::removeJournal() noexcept {
  try {
    journal_->remove();
  } catch (const text::Failure&) {
    // The next run finds it, finds every temporary file gone and removes it.
  }
}

std::string ConversionRun::shownName(const Prepared& p) const {
  return p.source < kScenery ? shownIncludeName(p.source) : shownSceneryName(p.source - kScenery);
}

std::string ConversionRun::shownIncludeName(size_t i) const { return plan_.rootShown + "\\" + plan_.incOut[i].path; }

std::string ConversionRun::shownSceneryName(size_t i) const {
  std::string_view rest = plan_.sceneryList[i];
  rest.remove_prefix(std::min(plan_.base.size(), rest.size()));
  return text::nativeToRelative(rest);
}

void ConversionRun::warn(std::string_view shown, std::vector<UnreachedDirective>& unreached) {
  for (UnreachedDirective& u : unreached) {
    result_.warnings.push_back(ConversionWarning{std::string(shown), u.line, u.problem, std::move(u.named)});
  }
}

std::vector<std::string> ConversionRun::shownNames(size_t count) const {
  std::vector<std::string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) names.push_back(shownName(prepared_[i]));
  return names;
}

ConversionResult ConversionRun::commit() {
  if (options_.dryRun || prepared_.empty()) {
    result_.changedFiles = shownNames(prepared_.size());
    return std::move(result_);
  }
  // Every temporary file durable before the first rename, and the journal
  // naming every rename durable too: from here on the next run finishes the
  // renames if this one is stopped.
  try {
    if (options_.flush == FlushMode::PerFileSystem) syncFileSystems();
    if (options_.keepUndo) {
      undo_.emplace(plan_.paths);
      undo_->keep(
          prepared_.size(),
          [&](size_t i) {
            return UndoBuilder::KeptFile{prepared_[i].file->target(), prepared_[i].identity,
                                         prepared_[i].source < kScenery};
          },
          options_.threads);
    }
    journal_->commit(prepared_.size(), [&](size_t i) {
      return std::pair(prepared_[i].file->tempPath(), prepared_[i].file->target());
    });
  } catch (const FileError& e) {
    rethrowUnchanged(e);
  }
  renameAll();
  // The renames durable too.
  try {
    if (options_.flush == FlushMode::PerFile) {
      syncDirectories();
    } else {
      syncFileSystems();
    }
  } catch (const FileError& e) {
    removeJournal();
    throw IncompleteConversion(std::string(e.what()) +
                                   " Wszystkie pliki podmieniono już na przerobione, ale nie udało się potwierdzić "
                                   "trwałości zapisu.",
                               shownNames(prepared_.size()));
  }
  if (undo_) undo_->install();
  journal_->remove();
  result_.changedFiles = shownNames(prepared_.size());
  return std::move(result_);
}

}  // namespace

std::string warningText(const ConversionWarning& warning) {
  return problemLine(warning.file, warning.line, warning.problem, warning.named);
}

ConversionResult runConversion(const text::RunPaths& paths, ConversionEvents& events,
                               const ConversionOptions& options) {
  return runConversion(ConversionPlan(paths), events, options);
}

ConversionResult runConversion(const ConversionPlan& plan, ConversionEvents& events,
                               const ConversionOptions& options) {
  ConversionOptions effective = options;
  if (effective.changes) effective.dryRun = true;
  ConversionRun run(plan, events, effective);
  try {
    run.zmiana_inc();
    run.zmiana_scn();
  } catch (const FileError& e) {
    rethrowUnchanged(e);
  }
  return run.commit();
}

}  // namespace borvantel::convert
