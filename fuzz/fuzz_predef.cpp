// "predef.txt" read and matched: no crash or sanitizer report, and the indexed
// lookup finds the row that trying every row in order finds. The input is the
// file's text, a NUL, then file names one per line.
#include "categories/predef.h"
#include "text/lines.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view file = input.substr(0, split);
  const std::string_view names = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

  // The file as the tool reads it, without touching a disk.
  const int fd = ::memfd_create("predef", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (::write(fd, file.data(), file.size()) != static_cast<ssize_t>(file.size())) {
    ::close(fd);
    return 0;
  }
  const auto rows = borvantel::categories::wczytaj_predef("/proc/self/fd/" + std::to_string(fd));
  ::close(fd);

  const borvantel::categories::PredefMatcher matcher(rows);
  borvantel::text::LineSplitter lines(names);
  std::string_view name;
  while (lines.next(name)) {
    const borvantel::categories::PredefRow* expected = nullptr;
    for (const auto& row : rows) {
      if (borvantel::categories::patternMatches(row.pattern, name)) {
        expected = &row;
        break;
      }
    }
    // The matcher keeps its own copy of the rows: compared by content.
    const borvantel::categories::PredefRow* found = matcher.firstMatch(name);
    if ((found == nullptr) != (expected == nullptr)) std::abort();
    if (found && (found->pattern != expected->pattern || found->category != expected->category)) std::abort();
  }
  return 0;
}
