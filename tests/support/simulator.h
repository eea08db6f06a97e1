// The scenery as the simulator reads it, written apart from the tool's own
// reading (convert/directive.h), so that tests of the conversion's promise do
// not take the tool's word for what the simulator sees:
//
// - tokens are separated by space, tab, ";" and line ends (CR LF, CR, LF);
// - "//" up to the end of the line and "/* ... */" are comments;
// - "include FILE P1 ... end" (keyword and "end" in any case) reads FILE,
//   relative to "scenery" ("/" or "\", ignoring case), with every "(pN)"
//   (p in any case) inside its tokens replaced by parameter N, or by nothing
//   where there is no parameter N.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace borvantel::testing {

// One token and the 1-based line it stands on.
struct SimToken {
  std::string text;
  size_t line;
};

// The tokens of a text.
std::vector<SimToken> simulatorTokens(const std::string& text);

// A directive as the simulator reads it, before any parameter is replaced.
struct SimDirective {
  size_t line;  // of the keyword
  std::string file;
  std::vector<std::string> parameters;
};
std::vector<SimDirective> simulatorDirectives(const std::string& text);

// A scenery tree in memory: path relative to "scenery" ("/" separated) -> bytes.
using SceneryFiles = std::map<std::string, std::string>;

// Where a file named by a directive is: its key in `files`, or "" when none.
std::string findNamed(const SceneryFiles& files, const std::string& named);

// Every token the simulator reads when it loads `file`, with the directives
// expanded in place (their own tokens are not part of the stream). A
// directive standing at (file, line) in `skip` reads as the token
// "<skipped>"; a missing file as "<missing NAME>". Expansion stops with
// "<too deep>" past 64 levels.
std::vector<std::string> simulatorStream(const SceneryFiles& files, const std::string& file,
                                         const std::set<std::pair<std::string, size_t>>& skip = {});

}  // namespace borvantel::testing
