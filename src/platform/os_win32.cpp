// The Windows side of the seam: the wide file calls behind the same POSIX-like
// interface. Descriptors are C runtime descriptors that own Windows handles
// (so Fd and every caller work unchanged); data moves with ReadFile and
// WriteFile on the handle, never through the runtime's text mode.
#include "platform/os.h"

#include "platform/win32.h"

#include <windows.h>
#include <winioctl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace borvantel::platform {
namespace {

using win32::failed;
using win32::systemPath;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Descriptors opened for appending: every write goes to the end of the file.
std::mutex appendMutex;
std::unordered_set<int> appending;

bool isAppending(int fd) {
  const std::lock_guard lock(appendMutex);
  return appending.count(fd) != 0;
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

std::int64_t nanosOf(const FILETIME& t) {
  // 100-nanosecond steps since 1601 to nanoseconds since 1970.
  const std::int64_t ticks = static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
  return (ticks - 116444736000000000LL) * 100;
}

bool isLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

int statHandle(HANDLE h, FileStat* st, bool linkItself) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return failed();
  st->type = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileType::Directory : FileType::Regular;
  if (linkItself && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) && isLinkTag(tag.ReparseTag)) {
      st->type = FileType::Link;
    }
  }
  const bool readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  st->mode = st->type == FileType::Directory ? 0777u : (readOnly ? 0444u : 0666u);
  st->size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  st->device = info.dwVolumeSerialNumber;
  st->inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  st->modifiedNs = nanosOf(info.ftLastWriteTime);
  st->uid = 0;
  st->gid = 0;
  return 0;
}

// A handle for reading the attributes of a file or a directory.
HANDLE openForAttributes(const char* path, bool linkItself) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (linkItself) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return ::CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

int statPath(const char* path, FileStat* st, bool linkItself) {
  const HANDLE h = openForAttributes(path, linkItself);
  if (h == INVALID_HANDLE_VALUE) return failed();
  const int rc = statHandle(h, st, linkItself);
  const int err = errno;
  ::CloseHandle(h);
  errno = err;
  return rc;
}

bool isDirectoryHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Clears the read-only mark of `path`; returns whether it had one.
bool clearReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  return ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != 0;
}

void restoreReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY);
}

// What CreateFileW is asked for the POSIX flags of an open.
struct OpenRequest {
  DWORD access;
  DWORD disposition;
  DWORD attributes;
};

OpenRequest openRequestOf(int flags, mode_t mode) {
  OpenRequest r{FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL};
  switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY: r.access |= GENERIC_WRITE; break;
    case O_RDWR: r.access |= GENERIC_READ | GENERIC_WRITE; break;
    default: r.access |= GENERIC_READ; break;
  }
  if (flags & O_CREAT) {
    if (flags & O_EXCL) {
      r.disposition = CREATE_NEW;
    } else if (flags & O_TRUNC) {
      r.disposition = CREATE_ALWAYS;
    } else {
      r.disposition = OPEN_ALWAYS;
    }
  } else if (flags & O_TRUNC) {
    r.disposition = TRUNCATE_EXISTING;
  }
  if ((flags & O_CREAT) && !(mode & 0200)) r.attributes = FILE_ATTRIBUTE_READONLY;
  if (flags & O_DIRECTORY) {
    r.attributes |= FILE_FLAG_BACKUP_SEMANTICS;
    r.access = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  }
  if (flags & O_NOFOLLOW) r.attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
  return r;
}

// Sets errno for an open that CreateFileW refused; returns -1. Opening a
// directory as a file is EISDIR, as on Linux.
int openFailed(const std::wstring& wide, int flags) {
  const DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED && !(flags & O_DIRECTORY)) {
    const DWORD found = ::GetFileAttributesW(wide.c_str());
    if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EISDIR;
      return -1;
    }
  }
  errno = win32::errnoOf(error);
  return -1;
}

// What Linux would have refused of an open handle, as an errno, or 0: the
// link itself opened with O_NOFOLLOW (ELOOP), a file opened with O_DIRECTORY
// (ENOTDIR).
int refusedAfterOpening(HANDLE h, int flags) {
  if (flags & O_NOFOLLOW) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLinkTag(tag.ReparseTag)) {
      return ELOOP;
    }
  }
  if ((flags & O_DIRECTORY) && !isDirectoryHandle(h)) return ENOTDIR;
  return 0;
}

}  // namespace

int Os::open(const char* path, int flags, mode_t mode) {
  const OpenRequest request = openRequestOf(flags, mode);
  const std::wstring wide = systemPath(path);
  const HANDLE h =
      ::CreateFileW(wide.c_str(), request.access, kShareAll, nullptr, request.disposition, request.attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) return openFailed(wide, flags);
  if (const int err = refusedAfterOpening(h, flags)) {
    ::CloseHandle(h);
    errno = err;
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    ::CloseHandle(h);
    errno = EMFILE;
    return -1;
  }
  if (flags & O_APPEND) {
    const std::lock_guard lock(appendMutex);
    appending.insert(fd);
  }
  return fd;
}

int Os::createExclusive(const char* path, mode_t mode) { return open(path, O_RDWR | O_CREAT | O_EXCL, mode); }

// No calls relative to a directory: Directory keeps the path alone.
int Os::openDirectory(const char*) { return -1; }
void Os::closeDirectory(int) {}

ssize_t Os::read(int fd, void* buf, size_t n) {
  DWORD got = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!::ReadFile(handleOf(fd), buf, want, &got, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    errno = win32::errnoOf(error);
    return -1;
  }
  return static_cast<ssize_t>(got);
}

ssize_t Os::write(int fd, const void* buf, size_t n) {
  DWORD put = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  OVERLAPPED atEnd{};
  OVERLAPPED* where = nullptr;
  if (isAppending(fd)) {
    // Both halves all ones: write at the end of the file, as one operation.
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    where = &atEnd;
  }
  if (!::WriteFile(handleOf(fd), buf, want, &put, where)) return failed();
  return static_cast<ssize_t>(put);
}

int Os::close(int fd) {
  {
    const std::lock_guard lock(appendMutex);
    appending.erase(fd);
  }
  return ::_close(fd);
}

int Os::fsync(int fd) {
  const HANDLE h = handleOf(fd);
  // A directory's entries need no flush of their own: NTFS journals them, and
  // every replacing rename is written through.
  if (isDirectoryHandle(h)) return 0;
  return ::FlushFileBuffers(h) ? 0 : failed();
}

// One call of the seam: a subclass that watches or fails fsync must not see
// a second call here.
int Os::syncfs(int fd) { return Os::fsync(fd); }

int Os::ftruncate(int fd, std::int64_t size) {
  FILE_END_OF_FILE_INFO info{};
  info.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(handleOf(fd), FileEndOfFileInfo, &info, sizeof info) ? 0 : failed();
}

int Os::fchmod(int fd, mode_t mode) {
  // Windows keeps one permission: the read-only mark.
  const HANDLE h = handleOf(fd);
  FILE_BASIC_INFO info{};
  if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info)) return failed();
  if (mode & 0200) {
    info.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
  } else {
    info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
  }
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) ? 0 : failed();
}

int Os::rename(const char* from, const char* to) {
  const std::wstring source = systemPath(from);
  const std::wstring target = systemPath(to);
  constexpr DWORD kReplace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (::MoveFileExW(source.c_str(), target.c_str(), kReplace)) return 0;
  DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    // A directory moves only to a free name.
    const DWORD attributes = ::GetFileAttributesW(source.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
      error = ::GetLastError();
    } else if (clearReadOnly(target)) {
      // Linux replaces a read-only file too; the new file carries no mark.
      if (::MoveFileExW(source.c_str(), target.c_str(), kReplace)) return 0;
      error = ::GetLastError();
      restoreReadOnly(target);
    }
  }
  errno = win32::errnoOf(error);
  return -1;
}

int Os::unlink(const char* path) {
  const std::wstring wide = systemPath(path);
  if (::DeleteFileW(wide.c_str())) return 0;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EISDIR;
      return -1;
    }
    // Linux removes a read-only file as well.
    if (clearReadOnly(wide)) {
      if (::DeleteFileW(wide.c_str())) return 0;
      const DWORD again = ::GetLastError();
      restoreReadOnly(wide);
      errno = win32::errnoOf(again);
      return -1;
    }
  }
  errno = win32::errnoOf(error);
  return -1;
}

int Os::link(const char* from, const char* to) {
  if (::CreateHardLinkW(systemPath(to).c_str(), systemPath(from).c_str(), nullptr)) return 0;
  return failed();
}

int Os::mkdir(const char* path, mode_t) {
  return ::CreateDirectoryW(systemPath(path).c_str(), nullptr) ? 0 : failed();
}

int Os::rmdir(const char* path) { return ::RemoveDirectoryW(systemPath(path).c_str()) ? 0 : failed(); }

int Os::stat(const char* path, FileStat* st) { return statPath(path, st, false); }
int Os::lstat(const char* path, FileStat* st) { return statPath(path, st, true); }
int Os::fstat(int fd, FileStat* st) { return statHandle(handleOf(fd), st, false); }

ssize_t Os::pread(int fd, void* buf, size_t n, std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD got = 0;
  const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!::ReadFile(handleOf(fd), buf, want, &got, &at)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    errno = win32::errnoOf(error);
    return -1;
  }
  return static_cast<ssize_t>(got);
}

std::int64_t Os::lseek(int fd, std::int64_t offset, int whence) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  LARGE_INTEGER now{};
  const DWORD method = whence == SEEK_CUR ? FILE_CURRENT : whence == SEEK_END ? FILE_END : FILE_BEGIN;
  if (!::SetFilePointerEx(handleOf(fd), distance, &now, method)) return failed();
  return now.QuadPart;
}

// Windows files take their access from the directory they are created in; there
// is no owner to carry over.
int Os::fchown(int, std::uint32_t, std::uint32_t) { return 0; }

int Os::realpath(const char* path, std::string& resolved) {
  const HANDLE h = openForAttributes(path, false);
  if (h == INVALID_HANDLE_VALUE) return failed();
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD n = 0;
  for (;;) {
    n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n < buffer.size()) break;
    buffer.resize(n);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (n == 0) {
    errno = win32::errnoOf(error);
    return -1;
  }
  buffer.resize(n);
  // The tool's own form: "D:\..." and "\\server\...", without "\\?\".
  if (buffer.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    buffer = L"\\\\" + buffer.substr(8);
  } else if (buffer.rfind(L"\\\\?\\", 0) == 0) {
    buffer = buffer.substr(4);
  }
  auto out = win32::narrow(buffer);
  if (!out) {
    errno = EILSEQ;
    return -1;
  }
  resolved = std::move(*out);
  return 0;
}

int Os::listDirectory(const char* path, std::vector<DirEntry>& entries, std::vector<std::string>* unmappable) {
  std::string pattern = path;
  if (pattern.empty() || !isPathSeparator(pattern.back())) pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW data{};
  const HANDLE find = ::FindFirstFileExW(systemPath(pattern).c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                         nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return 0;  // an empty drive has no "."
    errno = win32::errnoOf(error);
    return -1;
  }
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD attributes = data.dwFileAttributes;
    FileType type = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileType::Directory : FileType::Regular;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && isLinkTag(data.dwReserved0)) type = FileType::Link;
    const bool hidden = (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
    auto bytes = win32::narrow(name);
    if (!bytes) {
      if (unmappable && !hidden) {
        std::string shown = win32::narrowShown(name);
        if (type == FileType::Directory) shown += '\\';
        unmappable->push_back(std::move(shown));
      }
      continue;
    }
    entries.push_back(DirEntry{std::move(*bytes), type, hidden});
  } while (::FindNextFileW(find, &data));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (error == ERROR_NO_MORE_FILES) return 0;
  errno = win32::errnoOf(error);
  return -1;
}

int absolutePath(std::string_view path, std::string& out) {
  const std::wstring wide = win32::widen(path);
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) {
      out.assign(path);
      return win32::failed();
    }
    if (n < buffer.size()) {
      const std::wstring_view full(buffer.data(), n);
      if (auto bytes = win32::narrow(full)) {
        out = std::move(*bytes);
        return 0;
      }
      out = win32::narrowShown(full);
      errno = EILSEQ;
      return -1;
    }
    buffer.resize(n);
  }
}

}  // namespace borvantel::platform
