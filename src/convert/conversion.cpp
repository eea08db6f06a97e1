#include "convert/conversion.h"

#include "convert/assignment_table.h"
#include "convert/commit.h"
#include "convert/include_file.h"
#include "convert/undo.h"
#include "convert/scenery_file.h"
#include "text/file_calls.h"
#include "text/working_files.h"
#include "text/lines.h"
#include "text/tree_files.h"
#include "platform/in_order.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
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
  realBase = text::realPath(base);
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

// One conversion run: both phases prepare their files, which go to the
// commit (commit_, none in a dry run). Invariant: every file rewritten so far
// exists only as a finished temporary file the commit holds; no user file is
// touched before finish().
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
  ConversionResult finish();

 private:
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
    text::TreeFiles files;
    // The real directory of the file at hand: the files of one directory
    // come one after another.
    platform::Directory realDir;
  };
  // One file as its worker left it.
  struct Outcome {
    std::string target;  // the real path; empty when the file was not opened
    std::uint64_t device = 0;
    std::unique_ptr<text::AtomicFile> file;
    FileIdentity identity;
    bool rewritten = false;  // a new version was prepared (in a dry run: would be)
    // Scenery phase: the include file of the first phase it is (its place
    // in changed_).
    std::optional<size_t> earlier;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
    // With ConversionOptions::changes: the file's text before and after.
    std::string before;
    std::string after;
    std::vector<UnreachedDirective> unreached;
  };

  // Opens `full` where it really is (Outcome::target and ::device).
  platform::Fd open(Worker& w, const std::string& full, Outcome& o);
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
  // A changed file as its worker left it, counted.
  PreparedFile prepared(Outcome& o, FileEntry entry);
  // A changed file taken up: it goes to the commit.
  void keep(PreparedFile file);
  template <typename Prepare, typename Take>
  void inOrder(size_t count, Prepare&& prepare, Take&& take);
  std::string shownName(const FileEntry& entry) const;
  std::string shownIncludeName(size_t i) const;
  std::string shownSceneryName(size_t i) const;

  const ConversionPlan::Lists& plan_;
  ConversionEvents& events_;
  const ConversionOptions& options_;
  // Declared before everything that owns temporary files: it goes last.
  std::optional<Commit> commit_;

  std::vector<FileEntry> changed_;  // include files first, then scenery files
  // The real paths of the files of each phase: the first phase's with their
  // place in changed_ (the scenery phase reads them while it runs, so they
  // do not change then). The keys view the targets kept by the commit's
  // files or, failing those, by the list or by storedTargets_: no path is
  // held twice.
  std::unordered_map<std::string_view, size_t> includeTargets_;
  std::unordered_set<std::string_view> sceneryTargets_;
  std::deque<std::string> storedTargets_;
  std::vector<std::unique_ptr<Worker>> workers_;
  ConversionResult result_;
};

ConversionRun::ConversionRun(const ConversionPlan& plan, ConversionEvents& events, const ConversionOptions& options)
    : plan_(plan.lists()), events_(events), options_(options) {
  if (!options_.dryRun) {
    commit_.emplace(plan_.paths, options_, [this](const FileEntry& entry) { return shownName(entry); });
  }
}

platform::Fd ConversionRun::open(Worker& w, const std::string& full, Outcome& o) {
  text::ResolvedFile opened = w.files.open(full);
  o.target = std::move(opened.target);
  o.device = opened.directoryDevice;
  return std::move(opened.fd);
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
  const std::string_view dir = std::string_view(target).substr(0, text::nameStart(target));
  if (w.realDir.path() != dir) w.realDir = platform::Directory(dir);
  return std::make_unique<text::AtomicFile>(w.realDir, target, text::ReplacedFile{st, device},
                                            commit_ ? &commit_->log() : nullptr);
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
    o.identity = identityOf(text::statOf(file.fd(), file.target()));
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

PreparedFile ConversionRun::prepared(Outcome& o, FileEntry entry) {
  result_.bytesWritten += o.bytesWritten;
  return PreparedFile{std::move(o.file), entry, o.identity, o.device};
}

void ConversionRun::keep(PreparedFile file) {
  changed_.push_back(file.entry);
  if (commit_) commit_->add(std::move(file));
}

ConversionRun::Range ConversionRun::range(ConversionPhase phase, size_t entries) const noexcept {
  if (!options_.only) return {0, entries};
  if (options_.only->phase != phase || options_.only->index >= entries) return {0, 0};
  return {options_.only->index, 1};
}

void ConversionRun::zmiana_inc() {
  // Named values, not a structured binding: the lambdas below capture them.
  const Range span = range(ConversionPhase::IncludeFiles, plan_.incOut.size());
  const size_t first = span.first, count = span.count;
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
        keep(prepared(o, FileEntry{ConversionPhase::IncludeFiles, i}));
        const std::string_view target = commit_ ? std::string_view(commit_->at(commit_->size() - 1).file->target())
                                                : std::string_view(storedTargets_.emplace_back(o.target));
        includeTargets_.emplace(target, changed_.size() - 1);
        ++result_.includeFiles;
        report(o, shownIncludeName(i), FileEntry{ConversionPhase::IncludeFiles, i});
      });
}

void ConversionRun::prepareInclude(Worker& w, const AssignmentRow& row, Outcome& o) {
  const std::string full = text::fullPath(plan_.root, row.path);
  const platform::Fd in = open(w, full, o);
  checkInside(full, o.target);

  const platform::FileStat st = text::statOf(in.get(), o.target);
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
  const Range span = range(ConversionPhase::SceneryFiles, plan_.sceneryList.size());
  const size_t first = span.first, count = span.count;
  if (plan_.table.empty() || count == 0) return;
  Phase phase(events_, ConversionPhase::SceneryFiles, count);
  // The workers of this phase read the commit's files (an include file of
  // the first phase met again here is rewritten from its prepared text), so
  // they change only once the phase is over.
  std::vector<PreparedFile> rewritten;
  std::vector<std::pair<size_t, PreparedFile>> replacements;
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
        if (!o.earlier) warn(shownSceneryName(i), o.unreached);
        if (!o.rewritten) return;
        const FileEntry entry{ConversionPhase::SceneryFiles, i};
        report(o, shownSceneryName(i), entry);
        if (o.earlier) {
          replacements.emplace_back(*o.earlier, prepared(o, entry));
          return;
        }
        rewritten.push_back(prepared(o, entry));
        ++result_.sceneryFiles;
      });
  includeTargets_.clear();  // its keys may view the files replaced now
  for (auto& [earlier, file] : replacements) {
    if (commit_) commit_->replace(earlier, std::move(file.file), file.identity);
  }
  for (PreparedFile& file : rewritten) keep(std::move(file));
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
    text::seekToStart(in_.get(), source_);
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
  // A file that no longer exists (a dangling link too, or one whose
  // directory became a file), or is shorter than 2 bytes, is skipped.
  platform::Fd in;
  try {
    in = open(w, listed, o);
  } catch (const FileError& e) {
    if (e.error() == ENOENT || e.error() == ENOTDIR) return;
    throw;
  }
  checkInside(listed, o.target);
  std::string earlierTemp;
  const std::string* source = &o.target;
  if (const auto it = includeTargets_.find(o.target); it != includeTargets_.end()) {
    // An include file of the first phase under another name: its lines are
    // rewritten from its prepared text, as if the first phase had already put
    // it in place.
    o.earlier = it->second;
    if (const text::AtomicFile* earlier = commit_ ? commit_->at(*o.earlier).file.get() : nullptr) {
      earlierTemp = earlier->tempPath();
      source = &earlierTemp;
      in = text::openForReading(*source);
    }
  }

  const platform::FileStat st = text::statOf(in.get(), *source);
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
  if (o.earlier) {
    // An include file of the first phase: this phase reads it as the first
    // left it, and so does its change.
    std::string first;
    w.includeLines.text(o.target, plan_.incOut[changed_[*o.earlier].index].category, o.before, first);
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

std::string ConversionRun::shownName(const FileEntry& entry) const {
  return entry.phase == ConversionPhase::IncludeFiles ? shownIncludeName(entry.index) : shownSceneryName(entry.index);
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

ConversionResult ConversionRun::finish() {
  if (commit_) commit_->run();
  result_.changedFiles.reserve(changed_.size());
  for (const FileEntry& entry : changed_) result_.changedFiles.push_back(shownName(entry));
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
  return run.finish();
}

}  // namespace borvantel::convert
