#include "convert/scenery_file.h"

#include "text/codepage.h"
#include "text/lines.h"

namespace borvantel::convert {

SceneryLineRewriter::SceneryLineRewriter(const AssignmentTable& table) : table_(table) {
  for (size_t b = 0; b < fold_.size(); ++b) fold_[b] = static_cast<char>(text::foldByte(static_cast<unsigned char>(b)));
}

SceneryLine SceneryLineRewriter::append(std::string_view line, std::string& out) {
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (comment || !text::containsIgnoreCase(line, "include")) {
    out.append(line);
    return SceneryLine::AsRead;
  }

  normal_.clear();
  bool space = false;
  for (char c : line) {
    if (c == ' ' || c == '\t' || c == ';') {
      space = !normal_.empty();
      continue;
    }
    if (space) normal_.push_back(' ');
    space = false;
    normal_.push_back(c);
  }

  // Four fields or more: three single spaces, the third one ending field 3.
  const std::string_view normal = normal_;
  const size_t end1 = normal.find(' ');
  const size_t end2 = end1 == std::string_view::npos ? end1 : normal.find(' ', end1 + 1);
  const size_t end3 = end2 == std::string_view::npos ? end2 : normal.find(' ', end2 + 1);
  if (end3 == std::string_view::npos) {
    out.append(line);
    return SceneryLine::AsRead;
  }
  if (text::containsIgnoreCase(normal.substr(end2 + 1, end3 - end2 - 1), kTypeSuffix)) {
    out.append(normal);
    return SceneryLine::Normalised;
  }

  // The key with "/" turned into a backslash, folded for the table's hash lookup.
  key_.assign(normal.substr(end1 + 1, end2 - end1 - 1));
  for (char& c : key_) {
    c = c == '/' ? '\\' : fold_[static_cast<unsigned char>(c)];
  }
  const std::string* category = table_.categoryFolded(key_);
  if (!category) {
    out.append(line);
    return SceneryLine::AsRead;
  }
  out.append(normal.substr(0, end2));
  out.push_back(' ');
  out.append(*category);
  out.append(kTypeSuffix);
  out.append(normal.substr(end2));
  return SceneryLine::Converted;
}

std::optional<std::string> convertSceneryText(std::string_view content, const AssignmentTable& table) {
  SceneryLineRewriter rewriter(table);
  std::string out;
  out.reserve(content.size() + content.size() / 8 + 64);
  bool changed = false;
  text::LineSplitter lines(content);
  std::string_view line;
  while (lines.next(line)) {
    changed |= rewriter.append(line, out) == SceneryLine::Converted;
    out.append(text::kLineEnd);
  }
  if (!changed) return std::nullopt;
  return out;
}

}  // namespace borvantel::convert
