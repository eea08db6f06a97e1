#include "text/files.h"

#include "platform/os.h"
#include "platform/process.h"
#include "text/codepage.h"
#include "text/file_calls.h"
#include "text/lines.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace borvantel::text {
namespace {

const char* opText(FileOp op) {
  switch (op) {
    case FileOp::Open: return "Nie można otworzyć pliku";
    case FileOp::Read: return "Nie można odczytać pliku";
    case FileOp::Create: return "Nie można utworzyć pliku";
    case FileOp::Write: return "Nie można zapisać pliku";
    case FileOp::Append: return "Nie można dopisać do pliku";
    case FileOp::Rename: return "Nie można podmienić pliku";
    case FileOp::Remove: return "Nie można usunąć pliku";
    case FileOp::List: return "Nie można odczytać katalogu";
    case FileOp::Sync: return "Nie można utrwalić zapisu pliku";
    case FileOp::Stat: return "Nie można sprawdzić pliku";
  }
  return "Błąd pliku";
}

std::string composeMessage(FileOp op, const std::string& path, int err, const std::string& detail) {
  std::string msg = opText(op);
  msg += ' ';
  msg += quotedPath(path);
  msg += ": ";
  msg += detail.empty() ? reasonText(err) : detail;
  msg += '.';
  return msg;
}

}  // namespace

FileError::FileError(FileOp op, std::string path, int err, std::string detail)
    : Failure(composeMessage(op, path, err, detail)), op_(op), path_(std::move(path)), err_(err) {}

std::string reasonText(int err) {
  switch (err) {
    case ENOENT: return "plik lub katalog nie istnieje";
    case EACCES: return "brak uprawnień";
    case EPERM: return "operacja niedozwolona";
    case ENOSPC: return "brak miejsca na dysku";
#ifdef EDQUOT
    case EDQUOT: return "przekroczony przydział miejsca na dysku";
#endif
    case EROFS: return "nośnik tylko do odczytu";
    case EISDIR: return "to jest katalog";
    case ENOTDIR: return "element ścieżki nie jest katalogiem";
    case EIO: return "błąd wejścia-wyjścia";
    case ENAMETOOLONG: return "za długa nazwa";
    case ELOOP: return "zapętlone dowiązania";
    case EMFILE:
    case ENFILE: return "za dużo otwartych plików";
    case EBUSY: return "plik jest w użyciu";
    case EXDEV: return "plik leży na innym nośniku";
    case EFBIG: return "plik jest za duży";
    case ENOTEMPTY: return "katalog nie jest pusty";
    case EILSEQ: return "nazwa zawiera znak spoza strony kodowej Windows-1250";
    default: return std::strerror(err);
  }
}

std::string quotedPath(std::string_view path) {
  return "„" + displayName(path) + "”";
}

platform::Fd openForReading(const std::string& path) {
  const int fd = platform::os().open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) throw FileError(FileOp::Open, path, errno);
  return platform::Fd(fd);
}

platform::Fd openForReading(const platform::Directory& dir, std::string_view name) {
  const int fd = platform::os().openAt(dir, std::string(name).c_str(), O_RDONLY, 0);
  if (fd < 0) throw FileError(FileOp::Open, dir.pathOf(name), errno);
  return platform::Fd(fd);
}

void writeAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    const ssize_t n = retryInterrupted([&] { return platform::os().write(fd, data.data(), data.size()); });
    if (n < 0) throw FileError(FileOp::Write, path, errno);
    if (n == 0) throw FileError(FileOp::Write, path, ENOSPC);
    data.remove_prefix(static_cast<size_t>(n));
  }
}

std::optional<std::uint64_t> fileSize(const std::string& path) {
  platform::FileStat st;
  if (platform::os().stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw FileError(FileOp::Stat, path, errno);
  }
  return st.size;
}

bool holdsRecords(const std::string& path) {
  const auto size = fileSize(path);
  return size && *size >= 2;
}

void forEachRecord(const std::string& path, const std::function<bool(std::string_view)>& fn) {
  if (!holdsRecords(path)) return;
  platform::Fd fd = openForReading(path);
  LineReader reader(fd.get(), path);
  std::string_view line;
  while (reader.next(line)) {
    if (!fn(line)) break;
  }
}

std::vector<std::string> readRecords(const std::string& path) {
  std::vector<std::string> out;
  forEachRecord(path, [&](std::string_view line) {
    out.emplace_back(line);
    return true;
  });
  return out;
}

void appendRecords(const std::string& path, std::string_view lines) {
  if (lines.empty()) return;
  // A file this call creates is removed again on failure, so that a failed
  // append leaves no empty file where there was none.
  bool created = false;
  int raw = platform::os().open(path.c_str(), O_RDWR | O_APPEND, 0);
  if (raw < 0 && errno == ENOENT) {
    raw = platform::os().open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0666);
    created = raw >= 0;
  }
  if (raw < 0) throw FileError(FileOp::Append, path, errno);
  platform::Fd fd(raw);
  platform::FileStat st;
  if (platform::os().fstat(fd.get(), &st) != 0) throw FileError(FileOp::Append, path, errno);
  const auto oldSize = static_cast<std::int64_t>(st.size);
  std::string data;
  if (oldSize > 0) {
    char last = 0;
    if (platform::os().pread(fd.get(), &last, 1, oldSize - 1) != 1) throw FileError(FileOp::Read, path, errno);
    if (last != '\n' && last != '\r') data.append(kLineEnd);
  }
  data.append(lines);
  try {
    writeAll(fd.get(), data, path);
    if (platform::os().fsync(fd.get()) != 0) throw FileError(FileOp::Sync, path, errno);
  } catch (const FileError& e) {
    // Cut back to the old length so that no half record stays behind.
    (void)platform::os().ftruncate(fd.get(), oldSize);
    if (created) {
      fd.close();
      (void)platform::os().unlink(path.c_str());
    }
    throw FileError(FileOp::Append, path, e.error());
  }
  if (fd.close() != 0) throw FileError(FileOp::Append, path, errno);
}

size_t nameStart(std::string_view path) noexcept {
  size_t at = path.size();
  while (at > 0 && !platform::isPathSeparator(path[at - 1])) --at;
  return at;
}

std::string parentDirectory(std::string_view path) {
  const size_t start = nameStart(path);
  if (start == 0) return ".";
  // "/x" lies in "/", and "D:\x" in "D:\", not in the drive's current directory "D:".
  return std::string(path.substr(0, std::max(start - 1, platform::rootLength(path))));
}

std::string readWholeFile(const std::string& path) {
  platform::Fd fd = openForReading(path);
  platform::FileStat st;
  if (platform::os().fstat(fd.get(), &st) != 0) throw FileError(FileOp::Stat, path, errno);
  std::string data;
  readAll(fd.get(), path, data, st.size);
  return data;
}

namespace {

// Reads to the end into `buffer` from its start, growing it as needed (never
// shrinking it); returns the bytes read.
template <typename Buffer>
size_t readToEnd(int fd, const std::string& path, Buffer& buffer, std::uint64_t expected) {
  constexpr size_t kBlock = 64 * 1024;
  // One byte more than expected, so that a file of the size expected ends
  // with the next read rather than a doubling of the buffer.
  if (buffer.size() < expected + 1) buffer.resize(static_cast<size_t>(expected) + 1);
  size_t used = 0;
  for (;;) {
    if (used == buffer.size()) buffer.resize(std::max(buffer.size() * 2, kBlock));
    const size_t n = readSome(fd, buffer.data() + used, buffer.size() - used, path);
    if (n == 0) return used;
    used += n;
  }
}

}  // namespace

void readAll(int fd, const std::string& path, std::string& out, std::uint64_t expected) {
  out.clear();
  try {
    out.resize(readToEnd(fd, path, out, expected));
  } catch (...) {
    out.clear();
    throw;
  }
}

std::string_view readAll(int fd, const std::string& path, std::vector<char>& buffer, std::uint64_t expected) {
  return std::string_view(buffer.data(), readToEnd(fd, path, buffer, expected));
}

namespace {

// Opens the directory and applies `flush` (fsync or syncfs) to it.
void flushDirectory(const std::string& dir, int (platform::Os::*flush)(int)) {
  const int raw = platform::os().open(dir.c_str(), O_RDONLY | O_DIRECTORY, 0);
  if (raw < 0) throw FileError(FileOp::Sync, dir, errno);
  platform::Fd fd(raw);
  if ((platform::os().*flush)(fd.get()) != 0) throw FileError(FileOp::Sync, dir, errno);
}

}  // namespace

void syncDirectory(const std::string& dir) { flushDirectory(dir, &platform::Os::fsync); }

void syncFileSystemOf(const std::string& dir) { flushDirectory(dir, &platform::Os::syncfs); }

void createEmpty(const std::string& path) {
  const int raw = platform::os().open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (raw < 0) throw FileError(FileOp::Create, path, errno);
  platform::Fd fd(raw);
  if (fd.close() != 0) throw FileError(FileOp::Create, path, errno);
}

void removeFile(const std::string& path) {
  if (platform::os().unlink(path.c_str()) != 0 && errno != ENOENT) throw FileError(FileOp::Remove, path, errno);
}

void renameOver(const std::string& from, const std::string& to) {
  if (platform::os().rename(from.c_str(), to.c_str()) != 0) throw FileError(FileOp::Rename, to, errno);
}

namespace {

// Six random characters for a temporary file's name.
void fillUnique(char* out) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::uint64_t state = platform::randomSeed();
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  std::uint64_t bits = state >> 16;
  for (int k = 0; k < 6; ++k, bits /= 62) out[k] = kChars[bits % 62];
}

}  // namespace

AtomicFile::AtomicFile(std::string target, mode_t mode, TempFileLog* log) : target_(std::move(target)) {
  create(platform::Directory(parentDirectory(target_)), mode, log);
}

AtomicFile::AtomicFile(const platform::Directory& dir, std::string target, mode_t mode, TempFileLog* log)
    : target_(std::move(target)) {
  create(dir, mode, log);
}

AtomicFile::AtomicFile(const platform::Directory& dir, std::string target, const ReplacedFile& original,
                       TempFileLog* log)
    : target_(std::move(target)) {
  const platform::FileStat& st = original.stat;
  if (st.device != original.directoryDevice) throw FileError(FileOp::Rename, target_, EXDEV);
  const auto mode = static_cast<mode_t>((st.mode & 07777) | 0200);
  create(dir, mode, log);
  try {
    keepOwner(st, mode);
  } catch (...) {
    discard();
    throw;
  }
}

void AtomicFile::keepOwner(const platform::FileStat& original, mode_t mode) {
  // Asked once: two system calls for each of many thousands of files show.
  static const std::uint32_t user = platform::processUser();
  static const std::uint32_t group = platform::processGroup();
  if (original.uid == user && original.gid == group) return;
  if (platform::os().fchown(fd_.get(), original.uid, original.gid) == 0) {
    // chown cleared set-user-id and set-group-id.
    if ((mode & 06000) != 0) (void)platform::os().fchmod(fd_.get(), mode);
  } else if (errno == EPERM) {
    (void)platform::os().fchown(fd_.get(), static_cast<std::uint32_t>(-1), original.gid);
  } else {
    throw FileError(FileOp::Create, target_, errno);
  }
}

void AtomicFile::discard() noexcept {
  const std::string temp = tempPath();
  fd_.close();
  if (!temp.empty()) (void)platform::os().unlink(temp.c_str());
  unique_[0] = '\0';
}

void AtomicFile::create(const platform::Directory& dir, mode_t mode, TempFileLog* log) {
  std::string name(kTempPrefix);
  name.append("XXXXXX");
  std::string path = dir.pathOf(name);  // for the log, and for messages
  const mode_t wanted = mode == kNewFileMode ? 0666 : static_cast<mode_t>(mode & 07777);
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    fillUnique(name.data() + name.size() - 6);
    path.replace(path.size() - 6, 6, name, name.size() - 6, 6);
    if (log) log->creating(path);
    fd = platform::os().createExclusiveAt(dir, name.c_str(), wanted);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) throw FileError(FileOp::Create, target_, errno);
  }
  name.copy(unique_, 6, name.size() - 6);
  fd_ = platform::Fd(fd);
  // Creation applied the umask; only a mode it cut short needs setting again.
  const mode_t created = static_cast<mode_t>(wanted & 0777 & ~platform::processUmask());
  if (mode != kNewFileMode && created != wanted && platform::os().fchmod(fd, wanted) != 0) {
    const int err = errno;
    discard();
    throw FileError(FileOp::Create, target_, err);
  }
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      fd_(std::move(other.fd_)),
      buffer_(std::move(other.buffer_)),
      finished_(other.finished_),
      placed_(other.placed_) {
  std::memcpy(unique_, other.unique_, sizeof unique_);
  other.unique_[0] = '\0';
}

AtomicFile::~AtomicFile() {
  fd_.close();
  if (!placed_ && unique_[0] != '\0') platform::os().unlink(tempPath().c_str());
}

std::string AtomicFile::tempPath() const {
  if (placed_ || unique_[0] == '\0') return {};
  std::string path = parentDirectory(target_);
  if (!platform::isPathSeparator(path.back())) path += platform::kPathSeparator;
  return path.append(kTempPrefix).append(unique_);
}

void AtomicFile::flush() {
  writeAll(fd_.get(), buffer_, target_);
  buffer_.clear();
}

void AtomicFile::write(std::string_view data) {
  if (buffer_.size() + data.size() > 64 * 1024) {
    flush();
    if (data.size() >= 64 * 1024) {
      writeAll(fd_.get(), data, target_);
      return;
    }
  }
  buffer_.append(data);
}

void AtomicFile::finish(bool sync) {
  if (finished_) return;
  flush();
  // A run may hold many finished files at once: give the buffer back.
  std::string().swap(buffer_);
  if (sync && platform::os().fsync(fd_.get()) != 0) throw FileError(FileOp::Sync, target_, errno);
  if (fd_.close() != 0) throw FileError(FileOp::Write, target_, errno);
  finished_ = true;
}

void AtomicFile::replaceTarget() {
  if (platform::os().rename(tempPath().c_str(), target_.c_str()) != 0) throw FileError(FileOp::Rename, target_, errno);
  placed_ = true;
}

void AtomicFile::replaceTarget(const platform::Directory& dir) {
  std::string temp(kTempPrefix);
  temp.append(unique_);
  const std::string name = target_.substr(nameStart(target_));
  if (platform::os().renameAt(dir, temp.c_str(), dir, name.c_str()) != 0) throw FileError(FileOp::Rename, target_, errno);
  placed_ = true;
}

void AtomicFile::commit(bool sync) {
  finish(sync);
  replaceTarget();
}

void writeFileAtomically(const std::string& path, std::string_view content) {
  AtomicFile file(path);
  file.write(content);
  file.commit();
}

namespace {

bool writeNewFileDirectly(const std::string& path, std::string_view content) {
  const int raw = platform::os().createExclusive(path.c_str(), 0666);
  if (raw < 0) {
    if (errno == EEXIST) return false;
    throw FileError(FileOp::Create, path, errno);
  }
  platform::Fd fd(raw);
  try {
    writeAll(fd.get(), content, path);
    if (platform::os().fsync(fd.get()) != 0) throw FileError(FileOp::Sync, path, errno);
    if (fd.close() != 0) throw FileError(FileOp::Write, path, errno);
  } catch (...) {
    fd.close();
    platform::os().unlink(path.c_str());  // ours: created above
    throw;
  }
  return true;
}

}  // namespace

bool writeNewFile(const std::string& path, std::string_view content) {
  if (fileSize(path)) return false;
  int err = 0;
  {
    AtomicFile file(path);
    file.write(content);
    file.finish(true);
    if (platform::os().link(file.tempPath().c_str(), path.c_str()) != 0) err = errno;
  }  // the temporary name goes; the file stays under `path` when linked
  if (err == EEXIST) return false;
  if (err != 0 && !refusesHardLinks(err)) throw FileError(FileOp::Create, path, err);
  if (err != 0 && !writeNewFileDirectly(path, content)) return false;
  syncDirectory(parentDirectory(path));
  return true;
}

}  // namespace borvantel::text
