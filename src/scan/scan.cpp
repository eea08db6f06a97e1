#include "scan/scan.h"

#include "text/working_files.h"
#include "text/codepage.h"
#include "text/file_calls.h"
#include "text/files.h"
#include "platform/in_order.h"
#include "text/lines.h"
#include "platform/os.h"
#include "text/records.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <unordered_set>
#include <utility>

namespace borvantel::scan {
namespace {

using text::FileError;
using text::FileOp;

constexpr std::string_view kHeaderTag = "//$infotype:";

bool isHeaderLine(std::string_view line) noexcept {
  // Look only where a '$' stands: much cheaper than a folded search at every byte.
  size_t pos = 0;
  while (pos < line.size()) {
    const void* hit = std::memchr(line.data() + pos, '$', line.size() - pos);
    if (!hit) return false;
    const size_t dollar = static_cast<size_t>(static_cast<const char*>(hit) - line.data());
    if (dollar >= 2 && line.size() - (dollar - 2) >= kHeaderTag.size() &&
        text::equalsIgnoreCase(line.substr(dollar - 2, kHeaderTag.size()), kHeaderTag)) {
      return true;
    }
    pos = dollar + 1;
  }
  return false;
}

// Marks in `seen` the markers "(p1)" to "(p6)" found in the line, ignoring case.
void collectMarkers(std::string_view line, unsigned& seen) noexcept {
  size_t pos = 0;
  while (pos + 4 <= line.size()) {
    const void* hit = std::memchr(line.data() + pos, '(', line.size() - pos);
    if (!hit) return;
    const size_t open = static_cast<size_t>(static_cast<const char*>(hit) - line.data());
    if (open + 4 > line.size()) return;
    const char p = line[open + 1];
    const char digit = line[open + 2];
    if ((p == 'p' || p == 'P') && digit >= '1' && digit <= '6' && line[open + 3] == ')') {
      seen |= 1u << (digit - '1');
    }
    pos = open + 1;
  }
}

bool startsWithComment(std::string_view line) noexcept {
  return line.size() >= 2 && line[0] == '/' && line[1] == '/';
}

template <typename NextLine>
IncludeExamination examine(NextLine&& next) {
  IncludeExamination result;
  unsigned seen = 0;
  std::string_view line;
  while (next(line)) {
    if (isHeaderLine(line)) {
      result.kind = IncludeExamination::Kind::Header;
      result.category = headerCategory(line);
      return result;
    }
    if (!startsWithComment(line)) collectMarkers(line, seen);
  }
  result.kind = std::popcount(seen) >= 3 ? IncludeExamination::Kind::NeedsCategory
                                         : IncludeExamination::Kind::FewMarkers;
  return result;
}

enum class EntryKind { File, Directory, Other };

// Vanished since the listing, or a link that leads nowhere: not an error.
bool gone(int err) { return err == ENOENT || err == ENOTDIR || err == ELOOP; }

// What stat (or lstat) says of an entry; nullopt when it has gone since it
// was listed (or is a loop of links).
std::optional<platform::FileStat> statUnlessGone(platform::FileStat (*stat)(const std::string&, FileOp),
                                                 const std::string& path, FileOp op = FileOp::Stat) {
  try {
    return stat(path, op);
  } catch (const FileError& e) {
    if (gone(e.error())) return std::nullopt;
    throw;
  }
}

EntryKind kindOf(const std::string& dir, const platform::DirEntry& e) {
  using platform::FileType;
  if (e.type == FileType::Regular) return EntryKind::File;
  if (e.type == FileType::Directory) return EntryKind::Directory;
  if (e.type != FileType::Link && e.type != FileType::Unknown) return EntryKind::Other;
  std::string path = dir;
  path.append(1, platform::kPathSeparator).append(e.name);
  const std::optional<platform::FileStat> st = statUnlessGone(&text::lstatOf, path);
  if (!st) return EntryKind::Other;
  if (st->isRegular()) return EntryKind::File;
  if (st->isDirectory()) return EntryKind::Directory;
  if (!st->isLink()) return EntryKind::Other;
  // A link to a plain file is a plain file; a link to a directory is never
  // followed (no loops, no leaving the tree).
  const std::optional<platform::FileStat> target = statUnlessGone(&text::statOf, path);
  return target && target->isRegular() ? EntryKind::File : EntryKind::Other;
}

bool listingOrder(const std::string& a, const std::string& b) {
  const int c = text::compareIgnoreCase(a, b);
  return c != 0 ? c < 0 : a < b;
}

}  // namespace

std::optional<std::string> headerCategory(std::string_view line) {
  const std::string normal = text::normaliseSpaces(line);
  text::TwoFields fields;
  if (!text::exactlyTwoFields(normal, fields)) return std::nullopt;
  return std::string(fields.second);
}

std::optional<std::string> headerCategoryOf(std::string_view content) {
  // The first tag of the text stands in its first line that holds one: found
  // without splitting lines, where a '$' stands.
  for (size_t pos = 0; pos < content.size();) {
    const void* hit = std::memchr(content.data() + pos, '$', content.size() - pos);
    if (!hit) return std::nullopt;
    const size_t dollar = static_cast<size_t>(static_cast<const char*>(hit) - content.data());
    pos = dollar + 1;
    if (dollar < 2 || !isHeaderLine(content.substr(dollar - 2, kHeaderTag.size()))) continue;
    const size_t begin = content.find_last_of("\r\n", dollar) + 1;  // npos + 1 is 0
    const size_t end = dollar + text::findLineEnd(content.data() + dollar, content.size() - dollar);
    return headerCategory(content.substr(begin, end - begin));
  }
  return std::nullopt;
}

IncludeExamination examineInclude(text::LineReader& reader) {
  return examine([&](std::string_view& line) { return reader.next(line); });
}

IncludeExamination examineIncludeText(std::string_view content) {
  text::LineSplitter splitter(content);
  return examine([&](std::string_view& line) { return splitter.next(line); });
}

DirListing listDirectory(const std::string& dir) {
  DirListing listing;
  std::vector<platform::DirEntry> entries = text::listDirectory(dir, &listing.unmappable);
  std::vector<std::string> directories;
  for (platform::DirEntry& e : entries) {
    if (e.hidden) continue;  // marked hidden or system by the user or the system
    switch (kindOf(dir, e)) {
      case EntryKind::File: listing.files.push_back(std::move(e.name)); break;
      case EntryKind::Directory: directories.push_back(std::move(e.name)); break;
      case EntryKind::Other: break;
    }
  }
  // A directory is entered unless its name begins with "." or a plain file of
  // the same name (ignoring case) stands beside it; a hash lookup per name.
  std::unordered_set<std::string> fileNames;
  fileNames.reserve(listing.files.size());
  for (const auto& f : listing.files) fileNames.insert(text::toFolded(f));
  for (auto& d : directories) {
    if (platform::kDotMarksHidden && d[0] == '.') continue;
    if (fileNames.count(text::toFolded(d))) continue;
    listing.subdirs.push_back(std::move(d));
  }
  std::sort(listing.files.begin(), listing.files.end(), listingOrder);
  std::sort(listing.subdirs.begin(), listing.subdirs.end(), listingOrder);
  return listing;
}

NameKind kindOfName(std::string_view name) noexcept {
  if (text::endsWithIgnoreCase(name, ".inc")) return NameKind::Include;
  if (text::endsWithIgnoreCase(name, ".scn") || text::endsWithIgnoreCase(name, ".scm") ||
      text::endsWithIgnoreCase(name, ".ctr")) {
    return NameKind::Scenery;
  }
  return NameKind::Other;
}

namespace {

std::string below(const std::string& dir, std::string_view name) {
  std::string path = dir;
  return path.append(1, platform::kPathSeparator).append(name);
}

// The walker: it only walks; what it found is read and written by others.
class Walk {
 public:
  TreeWalk found;

  explicit Walk(const std::string& root) {
    std::vector<std::string>& directories = found.directories;
    const std::optional<platform::FileStat> st = text::statQuietly(root);
    if (!st || !st->isDirectory()) return;
    firstVisit(root);
    DirListing rootListing = listDirectory(root);
    for (const auto& sub : rootListing.subdirs) directories.push_back(below(root, sub));
    for (size_t i = 0; i < directories.size(); ++i) {
      DirListing listing;
      if (firstVisit(directories[i])) listing = listDirectory(directories[i]);
      for (const auto& sub : listing.subdirs) directories.push_back(below(directories[i], sub));
      keep(directories[i], listing);
    }
    directories.push_back(root);
    keep(root, rootListing);
  }

 private:
  bool firstVisit(const std::string& dir) {
    // One removed since it was listed is passed over.
    const std::optional<platform::FileStat> st = statUnlessGone(&text::statOf, dir, FileOp::List);
    return st && visited_.emplace(st->device, st->inode).second;
  }
  void keep(const std::string& dir, DirListing& listing) {
    // Of the names the code page cannot hold, only what the tool would read:
    // include and scenery files, and directories (which may hold them;
    // listed with a trailing separator).
    for (const std::string& name : listing.unmappable) {
      if (platform::isPathSeparator(name.back()) || kindOfName(name) != NameKind::Other) {
        found.unmappable.push_back(below(dir, name));
      }
    }
    found.filesOf.push_back(std::move(listing.files));
  }
  std::set<std::pair<std::uint64_t, std::uint64_t>> visited_;
};

// The searcher: what reading one include file found.
struct Examined {
  bool tooShort = false;
  IncludeExamination found;
};

Examined examineFile(const std::string& full, text::LineReader& reader) {
  const platform::Fd fd = text::openForReading(full);
  const platform::FileStat st = text::statOf(fd.get(), full);
  Examined e;
  e.tooShort = st.size < 2;
  if (e.tooShort) return e;
  reader.reset(fd.get(), full);
  e.found = examineInclude(reader);
  return e;
}

// The printer: takes every file in walk order, with what reading it found,
// and writes the records of the three working files, each appearing whole or
// not at all; what no record can hold is passed over.
class Printer {
 public:
  explicit Printer(const text::RunPaths& paths)
      : pInc_(paths.workingFile(text::kPInc)), pScn_(paths.workingFile(text::kPScn)),
        incOut1_(paths.workingFile(text::kIncOut1)), offset_(paths.relativeOffset()) {}

  // The files of `dir` (a full path) follow.
  void enterDirectory(const std::string& dir) {
    dirPrefix_ = below(dir, {});
    const std::string_view nativeRelDir =
        dirPrefix_.size() > offset_ ? std::string_view(dirPrefix_).substr(offset_) : std::string_view{};
    relDir_ = text::nativeToRelative(nativeRelDir);
    dirFitsRecord_ = text::fitsRecordField(nativeRelDir) && text::fitsOneLine(dirPrefix_);
  }
  void includeFile(std::string_view name, const Examined& e) {
    if (e.tooShort) return;
    const bool fitsRecord = dirFitsRecord_ && text::fitsRecordField(name);
    switch (e.found.kind) {
      case IncludeExamination::Kind::Header:
        if (!e.found.category) return;
        if (fitsRecord) return categorised(name, *e.found.category);
        break;
      case IncludeExamination::Kind::FewMarkers:
        if (fitsFullPath(name)) return line(pScn_, result_.sceneryFiles);
        break;
      case IncludeExamination::Kind::NeedsCategory:
        if (fitsRecord && fitsFullPath(name)) return line(pInc_, result_.needCategory);
        break;
    }
    result_.passedOver.push_back(relDir_ + std::string(name));
  }
  void sceneryFile(std::string_view name) {
    if (fitsFullPath(name)) return line(pScn_, result_.sceneryFiles);
    result_.passedOver.push_back(relDir_ + std::string(name));
  }
  // Names that no working file can hold, each a full path, after the rest.
  void unmappable(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
      result_.passedOver.push_back(text::nativeToRelative(std::string_view(path).substr(std::min(offset_, path.size()))));
    }
  }
  ScanResult commit() {
    pInc_.finish(true);
    pScn_.finish(true);
    incOut1_.finish(true);
    pInc_.replaceTarget();
    pScn_.replaceTarget();
    incOut1_.replaceTarget();
    return std::move(result_);
  }

 private:
  // Sets full_ to the file's full path; whether it can stand on one line.
  bool fitsFullPath(std::string_view name) {
    full_.assign(dirPrefix_).append(name);
    return text::fitsOneLine(full_);
  }
  void line(text::AtomicFile& file, size_t& count) {
    file.write(full_);
    file.write(text::kLineEnd);
    ++count;
  }
  void categorised(std::string_view name, std::string_view category) {
    path_.assign(relDir_).append(name);
    record_.clear();
    text::appendRecord(record_, path_, category);
    incOut1_.write(record_);
    ++result_.categorised;
  }

  text::AtomicFile pInc_, pScn_, incOut1_;
  const size_t offset_;
  ScanResult result_;
  std::string dirPrefix_;
  std::string relDir_;
  bool dirFitsRecord_ = false;
  std::string full_;
  std::string path_;
  std::string record_;
};

}  // namespace

TreeWalk walkTree(const std::string& root) { return std::move(Walk(root).found); }

ScanResult wypisz_pliki(const text::RunPaths& paths) {
  Printer out(paths);
  const TreeWalk walk = walkTree(paths.sceneryRoot());

  // Every file in walk order; the include files are read on several threads
  // and the outputs written here, in that order.
  struct Item {
    size_t dir;
    const std::string* name;
  };
  std::vector<Item> items;
  for (size_t d = 0; d < walk.directories.size(); ++d) {
    for (const std::string& name : walk.filesOf[d]) items.push_back(Item{d, &name});
  }
  platform::InOrder pool(platform::threadsFor(0, items.size()));
  std::vector<text::LineReader> readers(pool.threads(), text::LineReader(-1, {}));
  std::vector<Examined> examined(pool.slots());
  const auto prepare = [&](size_t i, size_t slot, unsigned worker) {
    if (kindOfName(*items[i].name) != NameKind::Include) return;
    examined[slot] = examineFile(below(walk.directories[items[i].dir], *items[i].name), readers[worker]);
  };
  size_t currentDir = static_cast<size_t>(-1);
  const auto take = [&](size_t i, size_t slot, const std::exception_ptr& error) {
    if (error) std::rethrow_exception(error);
    if (items[i].dir != currentDir) out.enterDirectory(walk.directories[currentDir = items[i].dir]);
    switch (kindOfName(*items[i].name)) {
      case NameKind::Include: out.includeFile(*items[i].name, examined[slot]); break;
      case NameKind::Scenery: out.sceneryFile(*items[i].name); break;
      case NameKind::Other: break;
    }
  };
  pool.run(items.size(), prepare, take);
  out.unmappable(walk.unmappable);
  return out.commit();
}

}  // namespace borvantel::scan
