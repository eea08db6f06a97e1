// Include-file lines through the renumbering: no crash or sanitizer report,
// and only the digits of references change (every other byte stays, in order).
#include "convert/include_file.h"
#include "text/lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

std::string withoutDigits(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c < '0' || c > '9') out.push_back(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  borvantel::text::LineSplitter lines(text);
  std::string_view line;
  std::string out;
  while (lines.next(line)) {
    out.clear();
    borvantel::convert::appendIncludeLine(line, out);
    if (withoutDigits(out) != withoutDigits(line)) std::abort();
  }
  return 0;
}
