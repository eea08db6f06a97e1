#include "run/check.h"

#include "platform/in_order.h"
#include "platform/os.h"
#include "run/base_directory.h"
#include "scan/scan.h"
#include "text/files.h"
#include "text/folded_index.h"
#include "text/lines.h"
#include "text/paths.h"
#include "text/file_calls.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <utility>

namespace borvantel::run {
namespace {

using convert::Directive;
using convert::DirectiveProblem;

// Read keeps a directive's file in 29 bits; all of them set: a file that is
// not in the tree.
constexpr std::uint32_t kTargetBits = (1u << 29) - 1;
constexpr std::uint32_t kMissing = kTargetBits;

// Every file of the walk, and by its folded relative path: what a directive
// may name. Filled before any file is read; the readers only look it up.
class Files {
 public:

  explicit Files(const std::string& root) : root_(root), walk_(scan::walkTree(root)) {
    size_t count = 0;
    for (const auto& files : walk_.filesOf) count += files.size();
    if (count >= kMissing) throw text::Failure("W katalogu " + text::quotedPath(root) + " jest za dużo plików.");
    entries_.reserve(count);
    index_ = text::FoldedIndex(count);
    std::string key;
    for (size_t d = 0; d < walk_.directories.size(); ++d) {
      const std::string dir = relativeDirectory(d);
      for (const std::string& name : walk_.filesOf[d]) {
        convert::directiveKey(dir + name, key);
        // Names equal ignoring case (on a system that tells them apart): the
        // first in the walk stands for them.
        if (index_.insert(key, entries_.size())) entries_.push_back(Entry{d, &name, scan::kindOfName(name)});
      }
    }
  }

  // The entry a directive's file name stands for (its key and the key's
  // hash), or kMissing.
  std::uint32_t find(std::string_view key, std::uint64_t hash) const noexcept {
    const std::optional<std::uint64_t> at = index_.find(key, hash);
    return at ? static_cast<std::uint32_t>(*at) : kMissing;
  }
  const void* slotAddress(std::uint64_t hash) const noexcept { return index_.slotAddress(hash); }
  size_t size() const noexcept { return entries_.size(); }
  scan::NameKind kind(size_t i) const noexcept { return entries_[i].kind; }
  // Its directory (an index, and the directory's full path) and its name.
  size_t directoryOf(size_t i) const noexcept { return entries_[i].dir; }
  const std::string& directory(size_t d) const noexcept { return walk_.directories[d]; }
  const std::string& name(size_t i) const noexcept { return *entries_[i].name; }
  // Relative to "scenery", "\" separated.
  std::string relativePath(size_t i) const { return relativeDirectory(entries_[i].dir) + *entries_[i].name; }

 private:
  struct Entry {
    size_t dir;
    const std::string* name;  // in walk_
    scan::NameKind kind;
  };
  std::string relativeDirectory(size_t d) const {
    const std::string& dir = walk_.directories[d];
    if (dir.size() <= root_.size()) return {};
    return text::nativeToRelative(std::string_view(dir).substr(root_.size() + 1)) + "\\";
  }

  std::string root_;
  scan::TreeWalk walk_;
  std::vector<Entry> entries_;
  text::FoldedIndex index_;
};

// One directive as read, its file already looked up, in eight bytes: many
// are kept until the files they name have been read.
class Read {
 public:
  Read(std::uint32_t line, const Directive& d)
      : line_(line),
        bits_((d.passesCategory ? kPasses : 0) | (d.hasParameters ? kParameters : 0) |
              (d.endsOnItsLine ? kOwnLine : 0)) {}
  std::uint32_t line() const noexcept { return line_; }
  // An entry of Files, or kMissing.
  std::uint32_t target() const noexcept { return bits_ & kTargetBits; }
  void setTarget(std::uint32_t target) noexcept { bits_ = (bits_ & ~kTargetBits) | target; }
  // What problemOf needs of it.
  Directive shape() const {
    Directive d;
    d.passesCategory = (bits_ & kPasses) != 0;
    d.hasParameters = (bits_ & kParameters) != 0;
    d.endsOnItsLine = (bits_ & kOwnLine) != 0;
    return d;
  }

 private:
  static constexpr std::uint32_t kPasses = 1u << 29;
  static constexpr std::uint32_t kParameters = 1u << 30;
  static constexpr std::uint32_t kOwnLine = 1u << 31;
  std::uint32_t line_;
  std::uint32_t bits_;
};

// What reading one file found.
struct FileRead {
  bool header = false;  // carries a category header (an include file)
  std::vector<Read> read;
  std::vector<std::string> missing;  // as written, for each Read whose target is kMissing, in order
};

text::Failure tooManyLines(const std::string& path) {
  return text::Failure("Plik " + text::quotedPath(path) + " ma za dużo wierszy, by go sprawdzić.");
}

// Reads one file after another: each one's header, if it is an include
// file, and its directives.
class Reader {
 public:
  explicit Reader(const Files& files) : files_(files) {}

  void read(size_t i, FileRead& out) {
    out.header = false;
    out.read.clear();
    out.missing.clear();
    // The files of a directory come one after another: opened by name in
    // it, not by their whole paths.
    if (const size_t d = files_.directoryOf(i); d != directoryIndex_) {
      directory_ = platform::Directory(files_.directory(d));
      directoryIndex_ = d;
    }
    const platform::Fd fd = text::openForReading(directory_, files_.name(i));
    path_ = directory_.pathOf(files_.name(i));
    // The buffer is kept from file to file: soon large enough for any of them.
    content_ = text::readAll(fd.get(), path_, buffer_, 0);
    if (content_.size() < 2) return;  // no line at all
    if (files_.kind(i) == scan::NameKind::Include) out.header = scan::headerCategoryOf(content_).has_value();
    marks_.find(content_);
    readDirectives();
    lookUp(out);
  }

 private:
  // Every directive of content_ into found_, their folded names into keys_.
  void readDirectives() {
    found_.clear();
    keys_.clear();
    names_.clear();
    directives_.reset();
    const auto keep = [&](const Directive& d) {
      if (d.file.empty()) return;  // the text ended before a name
      if (d.line > std::numeric_limits<std::uint32_t>::max()) throw tooManyLines(path_);
      found_.push_back(Found{Read(static_cast<std::uint32_t>(d.line), d), keys_.size(), d.file.size()});
      const size_t at = keys_.size();
      keys_.resize(at + d.file.size());
      convert::directiveKey(d.file, keys_.data() + at);
      names_ += d.file;
    };
    const char* text = content_.data();
    const size_t size = content_.size();
    for (size_t at = 0; at < size;) {
      if (directives_.idle()) {
        // Straight to the line of the next mark that matters, counting the
        // lines passed over.
        const size_t mark = marks_.nextOpener(at);
        if (mark == std::string_view::npos) break;
        size_t start = mark;
        while (start > at && text[start - 1] != '\n' && text[start - 1] != '\r') --start;
        directives_.skipLines(text::countLineEnds(text + at, start - at));
        at = start;
      }
      const size_t end = at + text::findLineEnd(text + at, size - at);
      const convert::LineMarks marks = marks_.marksIn(at, end);
      const std::string_view line = content_.substr(at, end - at);
      if (directives_.idle() && !marks.any()) {
        directives_.skipLine();
      } else {
        directives_.line(line, marks, keep);
      }
      at = end + (end + 1 < size && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    directives_.finish(keep);
  }
  // The files the directives name, all hashed and their slots fetched
  // before the first lookup, so that the cache misses overlap.
  void lookUp(FileRead& out) {
    hashes_.resize(found_.size());
    for (size_t k = 0; k < found_.size(); ++k) {
      hashes_[k] = text::FoldedIndex::hash(key(k));
#if defined(__GNUC__) || defined(__clang__)
      __builtin_prefetch(files_.slotAddress(hashes_[k]));
#endif
    }
    out.read.reserve(found_.size());
    for (size_t k = 0; k < found_.size(); ++k) {
      Read r = found_[k].read;
      r.setTarget(files_.find(key(k), hashes_[k]));
      if (r.target() == kMissing) out.missing.emplace_back(names_, found_[k].at, found_[k].size);
      out.read.push_back(r);
    }
  }
  std::string_view key(size_t k) const { return std::string_view(keys_).substr(found_[k].at, found_[k].size); }

  struct Found {
    Read read;
    size_t at;  // of its key in keys_, and of its name in names_
    size_t size;
  };
  const Files& files_;
  platform::Directory directory_;
  size_t directoryIndex_ = static_cast<size_t>(-1);
  std::string path_;  // of the file read
  std::vector<char> buffer_;
  std::string_view content_;  // in buffer_
  convert::TextMarks marks_;
  convert::DirectiveReader directives_;
  std::vector<Found> found_;
  std::string keys_;
  std::string names_;
  std::vector<std::uint64_t> hashes_;
};

// The files read, taken in walk order. A directive is judged as soon as the
// file it names has been read (or when it names no include file, which
// carries no header); only the others wait, so that what is kept stays small.
class Findings {
 public:
  explicit Findings(const Files& files) : files_(files), of_(files.size()), state_(files.size(), 0) {
    for (size_t i = 0; i < files.size(); ++i) {
      if (files.kind(i) != scan::NameKind::Include) state_[i] = kKnown;  // carries no header
    }
  }

  // What reading file i found (in walk order). Its reads wait, in a vector
  // of their own size, only where their file has not been read yet.
  void take(size_t i, FileRead& found) {
    state_[i] = static_cast<std::uint8_t>(kKnown | (found.header ? kHeader : 0));
    ++filesRead_;
    directives_ += found.read.size();
    Of& of = of_[i];
    size_t missing = 0;
    size_t waiting = 0;
    for (const Read& r : found.read) {
      if (r.target() == kMissing) {
        of.found.push_back({r.line(), DirectiveProblem::MissingFile, r.target(), std::move(found.missing[missing++])});
      } else if (state_[r.target()] & kKnown) {
        judge(r, of.found);
      } else {
        found.read[waiting++] = r;
      }
    }
    of.waiting.assign(found.read.begin(), found.read.begin() + static_cast<std::ptrdiff_t>(waiting));
  }

  CheckResult result(const std::string& sceneryShown) {
    CheckResult result;
    result.filesRead = filesRead_;
    result.directives = directives_;
    for (size_t i = 0; i < of_.size(); ++i) {
      Of& of = of_[i];
      for (const Read& r : of.waiting) judge(r, of.found);
      if (of.found.empty()) continue;
      std::stable_sort(of.found.begin(), of.found.end(),
                       [](const Found& a, const Found& b) { return a.line < b.line; });
      const std::string shown = sceneryShown + files_.relativePath(i);
      for (Found& f : of.found) {
        result.findings.push_back(Finding{shown, f.line, f.problem,
                                          f.target == kMissing ? std::move(f.named)
                                                                      : files_.relativePath(f.target)});
      }
    }
    return result;
  }

 private:
  struct Found {
    size_t line;
    DirectiveProblem problem;
    std::uint32_t target;
    std::string named;  // as written, for a file that is missing
  };
  struct Of {
    std::vector<Found> found;
    std::vector<Read> waiting;  // for the file they name to be read
  };
  void judge(const Read& r, std::vector<Found>& found) const {
    const bool categorised = (state_[r.target()] & kHeader) != 0;
    if (const std::optional<DirectiveProblem> problem = convert::problemOf(r.shape(), categorised)) {
      found.push_back({r.line(), *problem, r.target(), {}});
    }
  }

  // What is known of each file: one byte apiece, looked up for every
  // directive, so that it stays in the cache.
  static constexpr std::uint8_t kKnown = 1;   // its header is known (read, or no include file)
  static constexpr std::uint8_t kHeader = 2;  // it carries one
  const Files& files_;
  std::vector<Of> of_;
  std::vector<std::uint8_t> state_;
  size_t filesRead_ = 0;
  size_t directives_ = 0;
};

}  // namespace

std::string findingText(const Finding& finding) {
  return convert::problemLine(finding.file, finding.line, finding.problem, finding.named);
}

CheckResult checkTree(std::string_view baseDir, unsigned threads) {
  const text::RunPaths paths = text::RunPaths::make(baseDir, baseDir);
  checkBaseDirectory(paths.sciezka_katalogu);
  const std::string root = paths.sceneryRoot();
  if (const auto st = text::statQuietly(root); !st || !st->isDirectory()) {
    throw text::Failure("W katalogu " + text::quotedPath(paths.sciezka_katalogu) + " nie ma podkatalogu scenery.");
  }
  const Files files(root);
  std::vector<size_t> toRead;  // include and scenery files, in walk order
  for (size_t i = 0; i < files.size(); ++i) {
    if (files.kind(i) != scan::NameKind::Other) toRead.push_back(i);
  }
  Findings findings(files);
  platform::InOrder pool(platform::threadsFor(threads, toRead.size()));
  std::vector<Reader> readers;
  for (unsigned w = 0; w < pool.threads(); ++w) readers.emplace_back(files);
  std::vector<FileRead> found(pool.slots());
  pool.run(
      toRead.size(), [&](size_t k, size_t slot, unsigned worker) { readers[worker].read(toRead[k], found[slot]); },
      [&](size_t k, size_t slot, const std::exception_ptr& error) {
        if (error) std::rethrow_exception(error);
        findings.take(toRead[k], found[slot]);
      });
  const std::string sceneryShown =
      text::nativeToRelative(std::string_view(root).substr(std::min(paths.sciezka_katalogu.size(), root.size()))) +
      "\\";
  return findings.result(sceneryShown);
}

std::string checkSummary(const CheckResult& result) {
  return "Sprawdzono plików: " + std::to_string(result.filesRead) + ", dyrektyw include: " +
         std::to_string(result.directives) + ", uwag: " + std::to_string(result.findings.size()) + ".";
}

}  // namespace borvantel::run
