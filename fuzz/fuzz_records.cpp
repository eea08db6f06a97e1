// Records split into fields: no crash or sanitizer report; normalising twice
// changes nothing, and a record of exactly two fields is those two fields
// joined by one space.
#include "text/lines.h"
#include "text/records.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  borvantel::text::LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    const std::string normal = borvantel::text::normaliseSpaces(line);
    if (borvantel::text::normaliseSpaces(normal) != normal) std::abort();
    (void)borvantel::text::splitAtSpaces(line);
    borvantel::text::TwoFields fields;
    if (borvantel::text::exactlyTwoFields(normal, fields)) {
      if (std::string(fields.first) + " " + std::string(fields.second) != normal) std::abort();
    }
    (void)borvantel::text::leadingTwoFields(line, fields);
  }
  return 0;
}
