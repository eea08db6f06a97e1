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
#include <vector>

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
  std::vector<std::string_view> batch;
  while (lines.next(line)) batch.push_back(line);
  // All lines looked at first, as the conversion takes a batch of them.
  rewriter.look(batch);
  std::vector<std::string> written(batch.size());
  std::vector<borvantel::convert::SceneryLine> kinds(batch.size());
  for (size_t j = 0; j < batch.size(); ++j) kinds[j] = rewriter.appendLooked(j, written[j]);
  std::string plain;
  std::string twice;
  for (size_t j = 0; j < batch.size(); ++j) {
    plain.clear();
    if (kinds[j] != borvantel::testing::referenceSceneryLine(table(), batch[j], plain) || written[j] != plain) {
      std::abort();
    }
    if (kinds[j] != borvantel::convert::SceneryLine::Converted) continue;
    twice.clear();
    rewriter.append(written[j], twice);
    if (twice != written[j]) std::abort();
  }
  return 0;
}
