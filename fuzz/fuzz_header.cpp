// The header and marker tests of include files: no crash or sanitizer report,
// and the scan and the conversion agree on which text carries a header.
#include "convert/include_file.h"
#include "scan/scan.h"
#include "text/codepage.h"
#include "text/lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bool anyHeader = false;
  borvantel::text::LineSplitter lines(text);
  std::string_view line;
  while (lines.next(line)) {
    const bool header = borvantel::convert::carriesHeader(line);
    if (header != borvantel::text::containsIgnoreCase(line, "//$infotype:")) std::abort();
    anyHeader = anyHeader || header;
    (void)borvantel::scan::headerCategory(line);
  }
  const auto found = borvantel::scan::examineIncludeText(text);
  if ((found.kind == borvantel::scan::IncludeExamination::Kind::Header) != anyHeader) std::abort();
  return 0;
}
