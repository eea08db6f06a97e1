#include "scan/scan.h"

#include "text/working_files.h"
#include "text/codepage.h"
#include "text/files.h"
#include "platform/in_order.h"
#include "text/lines.h"
#include "platform/os.h"
#include "text/records.h"

#include <fcntl.h>

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

EntryKind kindOf(const std::string& dir, const platform::DirEntry& e) {
  using platform::FileType;
  if (e.type == FileType::Regular) return EntryKind::File;
  if (e.type == FileType::Directory) return EntryKind::Directory;
  if (e.type != FileType::Link && e.type != FileType::Unknown) return EntryKind::Other;
  std::string path = dir;
  path.append(1, platform::kPathSeparator).append(e.name);
  platform::FileStat st;
  if (platform::os().lstat(path.c_str(), &st) != 0) {
    if (gone(errno)) return EntryKind::Other;
    throw FileError(FileOp::Stat, path, errno);
  }
  if (st.isRegular()) return EntryKind::File;
  if (st.isDirectory()) return EntryKind::Directory;
  if (!st.isLink()) return EntryKind::Other;
  // A link to a plain file is a plain file; a link to a directory is never
  // followed (no loops, no leaving the tree).
  if (platform::os().stat(path.c_str(), &st) != 0) {
    if (gone(errno)) return EntryKind::Other;
    throw FileError(FileOp::Stat, path, errno);
  }
  return st.isRegular() ? EntryKind::File : EntryKind::Other;
}

bool listingOrder(const std::string& a, const std::string& b) {
  const int c = text::compareIgnoreCase(a, b);
  return c != 0 ? c < 0 : a < b;
}

class Outputs {
 public:
  explicit Outputs(const text::RunPaths& paths)
      : pInc_(paths.workingFile(text::kPInc)), pScn_(paths.workingFile(text::kPScn)), incOut1_(paths.workingFile(text::kIncOut1)) {}

  void needsCategory(std::string_view full) { line(pInc_, full); ++result.needCategory; }
  void scenery(std::string_view full) { line(pScn_, full); ++result.sceneryFiles; }
  void categorised(std::string_view relDir, std::string_view name, std::string_view category) {
    path_.assign(relDir).append(name);
    record_.clear();
    text::appendRecord(record_, path_, category);
    incOut1_.write(record_);
    ++result.categorised;
  }
  void commit() {
    pInc_.finish(true);
    pScn_.finish(true);
    incOut1_.finish(true);
    pInc_.replaceTarget();
    pScn_.replaceTarget();
    incOut1_.replaceTarget();
  }

  ScanResult result;

 private:
  static void line(text::AtomicFile& file, std::string_view text) {
    file.write(text);
    file.write(text::kLineEnd);
  }
  text::AtomicFile pInc_, pScn_, incOut1_;
  std::string path_;
  std::string record_;
};

}  // namespace

std::optional<std::string> headerCategory(std::string_view line) {
  const std::string normal = text::normaliseSpaces(line);
  text::TwoFields fields;
  if (!text::exactlyTwoFields(normal, fields)) return std::nullopt;
  return std::string(fields.second);
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
  std::vector<platform::DirEntry> entries;
  if (platform::os().listDirectory(dir.c_str(), entries, &listing.unmappable) != 0) {
    throw FileError(FileOp::List, dir, errno);
  }
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

ScanResult wypisz_pliki(const text::RunPaths& paths) {
  Outputs out(paths);
  const std::string root = paths.sceneryRoot();
  const size_t offset = paths.relativeOffset();

  // The queue: breadth-first, each directory once (by device and inode, in case
  // a mount loops back), the scenery directory itself last.
  std::vector<std::string> queue;
  std::vector<std::vector<std::string>> filesOf;
  std::set<std::pair<std::uint64_t, std::uint64_t>> visited;
  auto firstVisit = [&](const std::string& dir) {
    platform::FileStat st;
    if (platform::os().stat(dir.c_str(), &st) != 0) {
      if (gone(errno)) return false;  // removed since it was listed
      throw FileError(FileOp::List, dir, errno);
    }
    return visited.emplace(st.device, st.inode).second;
  };
  auto below = [](const std::string& dir, const std::string& name) {
    std::string path = dir;
    return path.append(1, platform::kPathSeparator).append(name);
  };

  // Names no working file can hold, relative to the scenery directory.
  std::vector<std::string> unmappable;
  auto noteUnmappable = [&](const std::string& dir, const DirListing& listing) {
    for (const std::string& name : listing.unmappable) {
      // Only what the tool would read: include and scenery files, and
      // directories (which may hold them; listed with a trailing separator).
      const bool wanted = platform::isPathSeparator(name.back()) || text::endsWithIgnoreCase(name, ".inc") ||
                          text::endsWithIgnoreCase(name, ".scn") || text::endsWithIgnoreCase(name, ".scm") ||
                          text::endsWithIgnoreCase(name, ".ctr");
      if (!wanted) continue;
      const std::string path = below(dir, name);
      unmappable.push_back(text::nativeToRelative(std::string_view(path).substr(std::min(offset, path.size()))));
    }
  };

  platform::FileStat rootStat;
  if (platform::os().stat(root.c_str(), &rootStat) == 0 && rootStat.isDirectory()) {
    firstVisit(root);
    DirListing rootListing = listDirectory(root);
    for (const auto& sub : rootListing.subdirs) queue.push_back(below(root, sub));
    for (size_t i = 0; i < queue.size(); ++i) {
      DirListing listing;
      if (firstVisit(queue[i])) listing = listDirectory(queue[i]);
      for (const auto& sub : listing.subdirs) queue.push_back(below(queue[i], sub));
      noteUnmappable(queue[i], listing);
      filesOf.push_back(std::move(listing.files));
    }
    queue.push_back(root);
    noteUnmappable(root, rootListing);
    filesOf.push_back(std::move(rootListing.files));
  }

  // Every file in walk order; the include files are read on several threads
  // and the outputs written here, in that order.
  struct Item {
    size_t dir;
    const std::string* name;
  };
  std::vector<Item> items;
  for (size_t d = 0; d < queue.size(); ++d) {
    for (const std::string& name : filesOf[d]) items.push_back(Item{d, &name});
  }
  auto fullOf = [&](const Item& item) {
    return below(queue[item.dir], *item.name);
  };
  struct Examined {
    bool tooShort = false;
    IncludeExamination found;
  };
  platform::InOrder pool(platform::threadsFor(0, items.size()));
  std::vector<text::LineReader> readers(pool.threads(), text::LineReader(-1, {}));
  std::vector<Examined> examined(pool.slots());
  const auto prepare = [&](size_t i, size_t slot, unsigned worker) {
    if (!text::endsWithIgnoreCase(*items[i].name, ".inc")) return;
    Examined& e = examined[slot];
    e = Examined{};
    const std::string full = fullOf(items[i]);
    const int raw = platform::os().open(full.c_str(), O_RDONLY, 0);
    if (raw < 0) throw FileError(FileOp::Open, full, errno);
    platform::Fd fd(raw);
    platform::FileStat st;
    if (platform::os().fstat(fd.get(), &st) != 0) throw FileError(FileOp::Stat, full, errno);
    e.tooShort = st.size < 2;
    if (e.tooShort) return;
    readers[worker].reset(fd.get(), full);
    e.found = examineInclude(readers[worker]);
  };

  size_t currentDir = static_cast<size_t>(-1);
  std::string dirPrefix;
  std::string relDir;
  bool dirFitsRecord = false;
  const auto take = [&](size_t i, size_t slot, const std::exception_ptr& error) {
    if (error) std::rethrow_exception(error);
    const Item& item = items[i];
    const std::string& name = *item.name;
    if (item.dir != currentDir) {
      currentDir = item.dir;
      dirPrefix = below(queue[item.dir], {});
      const std::string_view nativeRelDir =
          dirPrefix.size() > offset ? std::string_view(dirPrefix).substr(offset) : std::string_view{};
      relDir = text::nativeToRelative(nativeRelDir);
      dirFitsRecord = text::fitsRecordField(nativeRelDir) && text::fitsOneLine(dirPrefix);
    }
    const std::string full = dirPrefix + name;
    if (text::endsWithIgnoreCase(name, ".inc")) {
      const Examined& e = examined[slot];
      if (e.tooShort) return;
      const bool fitsRecord = dirFitsRecord && text::fitsRecordField(name);
      switch (e.found.kind) {
        case IncludeExamination::Kind::Header:
          if (!e.found.category) break;
          if (fitsRecord) {
            out.categorised(relDir, name, *e.found.category);
          } else {
            out.result.passedOver.push_back(relDir + name);
          }
          break;
        case IncludeExamination::Kind::FewMarkers:
          if (text::fitsOneLine(full)) {
            out.scenery(full);
          } else {
            out.result.passedOver.push_back(relDir + name);
          }
          break;
        case IncludeExamination::Kind::NeedsCategory:
          if (fitsRecord) {
            out.needsCategory(full);
          } else {
            out.result.passedOver.push_back(relDir + name);
          }
          break;
      }
    } else if (text::endsWithIgnoreCase(name, ".scn") || text::endsWithIgnoreCase(name, ".scm") ||
               text::endsWithIgnoreCase(name, ".ctr")) {
      if (text::fitsOneLine(full)) {
        out.scenery(full);
      } else {
        out.result.passedOver.push_back(relDir + name);
      }
    }
  };
  pool.run(items.size(), prepare, take);
  out.result.passedOver.insert(out.result.passedOver.end(), unmappable.begin(), unmappable.end());
  out.commit();
  return std::move(out.result);
}

}  // namespace borvantel::scan
