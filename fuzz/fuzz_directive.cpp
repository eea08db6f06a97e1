// The tool's reading of include directives against a reading written apart
// (tests/support/simulator): the same directives, in the same lines, with or
// without the quick path for plain lines, and the marks of a whole text
// handed out a line at a time equal to those of each line on its own.
#include "convert/directive.h"
#include "support/simulator.h"
#include "text/codepage.h"
#include "text/lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using borvantel::convert::Directive;

struct Seen {
  size_t line;
  std::string file;
  bool hasParameters;
  bool passesCategory;
  bool operator==(const Seen&) const = default;
};

// Every directive of `text` as the tool reads it, told each line's marks
// (the quick path) or not.
std::vector<Seen> read(std::string_view text, bool withMarks) {
  borvantel::convert::DirectiveReader reader;
  borvantel::convert::TextMarks marks;
  marks.find(text);
  std::vector<Seen> seen;
  const auto keep = [&](const Directive& d) {
    seen.push_back({d.line, std::string(d.file), d.hasParameters, d.passesCategory});
  };
  borvantel::text::LineSplitter lines(text);
  for (std::string_view line; lines.next(line);) {
    const size_t begin = static_cast<size_t>(line.data() - text.data());
    const borvantel::convert::LineMarks fromText = marks.marksIn(begin, begin + line.size());
    const borvantel::convert::LineMarks own = borvantel::convert::marksOf(line);
    if (fromText.includes != own.includes || fromText.commentOpener != own.commentOpener ||
        fromText.lineComment != own.lineComment) {
      std::abort();
    }
    if (withMarks) {
      reader.line(line, own, keep);
    } else {
      reader.line(line, keep);
    }
  }
  reader.finish(keep);
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<Seen> quick = read(text, true);
  if (quick != read(text, false)) std::abort();
  std::vector<Seen> apart;
  for (const auto& d : borvantel::testing::simulatorDirectives(text)) {
    if (d.file.empty()) continue;  // the text ended before a name: no directive to judge
    const bool passes =
        !d.parameters.empty() && borvantel::text::containsIgnoreCase(d.parameters.front(), "_&type");
    apart.push_back({d.line, d.file, !d.parameters.empty(), passes});
  }
  if (quick != apart) std::abort();
  return 0;
}
