#include "text/records.h"

#include "text/lines.h"

namespace borvantel::text {

std::string normaliseSpaces(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  bool pendingSpace = false;
  for (char c : line) {
    if (c == ' ') {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out.push_back(' ');
    pendingSpace = false;
    out.push_back(c);
  }
  return out;
}

std::vector<std::string_view> splitAtSpaces(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t space = line.find(' ', start);
    if (space == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
}

bool exactlyTwoFields(std::string_view line, TwoFields& out) noexcept {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  if (line.find(' ', space + 1) != std::string_view::npos) return false;
  out.first = line.substr(0, space);
  out.second = line.substr(space + 1);
  return true;
}

bool leadingTwoFields(std::string_view line, TwoFields& out) noexcept {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  const size_t end = line.find(' ', space + 1);
  out.first = line.substr(0, space);
  out.second = line.substr(space + 1, end == std::string_view::npos ? std::string_view::npos : end - space - 1);
  return true;
}

void appendRecord(std::string& out, std::string_view first, std::string_view second) {
  out.append(first).append(" ").append(second).append(kLineEnd);
}

}  // namespace borvantel::text
