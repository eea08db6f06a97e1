// Scenery lines through the rewrite: no crash or sanitizer report, the same
// bytes as the plain form of the rule, and a line that already carries its
// category (the rewrite's own output) is left as it is when rewritten again.
#include "convert/assignment_table.h"
#include "convert/scenery_file.h"
#include "support/scenery_reference.h"
#include "text/lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

const borvantel::convert::AssignmentTable& table() {
  static const borvantel::convert::AssignmentTable t({{"tory\\most.inc", "MOST"},
                                                      {"a.inc", "A"},
                                                      {"TORY\\Most.inc", "INNY"},
                                                      {"x", "X_&TYPE"}});
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  borvantel::convert::SceneryLineRewriter rewriter(table());
  borvantel::text::LineSplitter lines(text);
  std::string_view line;
  std::string once;
  std::string twice;
  std::string plain;
  while (lines.next(line)) {
    once.clear();
    plain.clear();
    const auto kind = rewriter.append(line, once);
    if (kind != borvantel::testing::referenceSceneryLine(table(), line, plain) || once != plain) std::abort();
    if (kind != borvantel::convert::SceneryLine::Converted) continue;
    twice.clear();
    rewriter.append(once, twice);
    if (twice != once) std::abort();
  }
  return 0;
}
