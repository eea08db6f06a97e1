// The scenery-line rule written the plain way (normalise the whole line, split
// at spaces, look the key up), as a reference for the one-pass rewrite of the
// conversion: a randomized test and the fuzz target check that both always
// write the same bytes.
#pragma once

#include "convert/assignment_table.h"
#include "convert/scenery_file.h"
#include "text/codepage.h"

#include <string>
#include <string_view>

namespace borvantel::testing {

inline convert::SceneryLine referenceSceneryLine(const convert::AssignmentTable& table, std::string_view line,
                                                 std::string& out) {
  using convert::SceneryLine;
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (comment || !text::containsIgnoreCase(line, "include")) {
    out.append(line);
    return SceneryLine::AsRead;
  }
  std::string normal;
  bool space = false;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ';') {
      space = !normal.empty();
      continue;
    }
    if (space) normal.push_back(' ');
    space = false;
    normal.push_back(c);
  }
  const size_t end1 = normal.find(' ');
  const size_t end2 = end1 == std::string::npos ? end1 : normal.find(' ', end1 + 1);
  const size_t end3 = end2 == std::string::npos ? end2 : normal.find(' ', end2 + 1);
  if (end3 == std::string::npos) {
    out.append(line);
    return SceneryLine::AsRead;
  }
  if (text::containsIgnoreCase(std::string_view(normal).substr(end2 + 1, end3 - end2 - 1), convert::kTypeSuffix)) {
    out.append(normal);
    return SceneryLine::Normalised;
  }
  std::string key = normal.substr(end1 + 1, end2 - end1 - 1);
  for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(text::foldByte(static_cast<unsigned char>(c)));
  const std::string* category = table.categoryFolded(key);
  if (!category) {
    out.append(line);
    return SceneryLine::AsRead;
  }
  out.append(normal, 0, end2).append(" ").append(*category).append(convert::kTypeSuffix).append(normal, end2);
  return SceneryLine::Converted;
}

}  // namespace borvantel::testing
