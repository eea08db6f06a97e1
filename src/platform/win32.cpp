#include "platform/win32.h"

#include <windows.h>

#include <array>
#include <cerrno>
#include <unordered_map>
#include <vector>

namespace borvantel::platform::win32 {
namespace {

// The characters of Windows-1250, the code page of the tool's bytes.
#include "platform/cp1250_table.inc"

char16_t unicodeOfByte(unsigned char b) noexcept { return kCp1250Unicode[b]; }

// Character -> byte, built once from the code page table.
const std::unordered_map<char16_t, unsigned char>& reverseTable() {
  static const auto table = [] {
    std::unordered_map<char16_t, unsigned char> out;
    for (int b = 0; b < 256; ++b) {
      const char16_t c = unicodeOfByte(static_cast<unsigned char>(b));
      if (c != 0xFFFD) out.emplace(c, static_cast<unsigned char>(b));
    }
    return out;
  }();
  return table;
}

template <typename Missing>
bool narrowInto(std::wstring_view text, std::string& out, Missing&& missing) {
  const auto& table = reverseTable();
  out.clear();
  out.reserve(text.size());
  bool whole = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<char16_t>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (const auto it = table.find(c); it != table.end()) {
      out.push_back(static_cast<char>(it->second));
      continue;
    }
    whole = false;
    if (!missing(out)) return false;
    // A surrogate pair is one character.
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) ++i;
  }
  return whole;
}

bool hasDotPart(std::string_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && path[end] != '\\' && path[end] != '/') ++end;
    const std::string_view part = path.substr(start, end - start);
    if (part == "." || part == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::wstring widen(std::string_view bytes) {
  std::wstring out(bytes.size(), L'\0');
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<wchar_t>(unicodeOfByte(static_cast<unsigned char>(bytes[i])));
  return out;
}

std::optional<std::string> narrow(std::wstring_view text) {
  std::string out;
  if (!narrowInto(text, out, [](std::string&) { return false; })) return std::nullopt;
  return out;
}

std::string narrowShown(std::wstring_view text) {
  std::string out;
  narrowInto(text, out, [](std::string& o) {
    o.push_back('?');
    return true;
  });
  return out;
}

std::wstring systemPath(std::string_view path) {
  std::wstring wide = widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.rfind(L"\\\\?\\", 0) == 0 || hasDotPart(path)) return wide;
  const bool drive = wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\';
  if (drive) return L"\\\\?\\" + wide;
  const bool unc = wide.size() > 2 && wide[0] == L'\\' && wide[1] == L'\\';
  if (unc) return L"\\\\?\\UNC\\" + wide.substr(2);
  return wide;
}

int errnoOf(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    case ERROR_PRIVILEGE_NOT_HELD:
      return EPERM;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return ENOTSUP;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_NO_UNICODE_TRANSLATION:
      return EILSEQ;
    default:
      return EIO;
  }
}

int failed() {
  errno = errnoOf(::GetLastError());
  return -1;
}

}  // namespace borvantel::platform::win32
