#include "convert/scenery_file.h"

#include "text/codepage.h"
#include "text/lines.h"

namespace borvantel::convert {

SceneryLineRewriter::SceneryLineRewriter(const AssignmentTable& table) : table_(table) {
  for (size_t b = 0; b < fold_.size(); ++b) fold_[b] = static_cast<char>(text::foldByte(static_cast<unsigned char>(b)));
}

namespace {

// What separates the fields of an "include" line.
constexpr std::array<bool, 256> kSeparator = [] {
  std::array<bool, 256> table{};
  table[' '] = table['\t'] = table[';'] = true;
  return table;
}();

bool isSeparator(char c) noexcept { return kSeparator[static_cast<unsigned char>(c)]; }

}  // namespace

bool SceneryLineRewriter::mentionsInclude(std::string_view line) const noexcept {
  static constexpr std::string_view kWord = "include";
  if (line.size() < kWord.size()) return false;
  const size_t last = line.size() - kWord.size();
  for (size_t i = 0; i <= last; ++i) {
    if (fold_[static_cast<unsigned char>(line[i])] != kWord[0]) continue;
    size_t k = 1;
    while (k < kWord.size() && fold_[static_cast<unsigned char>(line[i + k])] == kWord[k]) ++k;
    if (k == kWord.size()) return true;
  }
  return false;
}

// One pass over the line: its first three fields are views into it, and only
// a line that is written in its normalised form is ever copied field by field.
SceneryLine SceneryLineRewriter::append(std::string_view line, std::string& out) {
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (comment || !mentionsInclude(line)) {
    out.append(line);
    return SceneryLine::AsRead;
  }

  const size_t n = line.size();
  size_t at = 0;
  std::string_view fields[3];
  for (std::string_view& field : fields) {
    while (at < n && isSeparator(line[at])) ++at;
    const size_t start = at;
    while (at < n && !isSeparator(line[at])) ++at;
    field = line.substr(start, at - start);
  }
  while (at < n && isSeparator(line[at])) ++at;
  if (at == n) {  // fewer than four fields
    out.append(line);
    return SceneryLine::AsRead;
  }
  const std::string_view rest = line.substr(at);  // from the fourth field on

  SceneryLine kind = SceneryLine::Normalised;
  const std::string* category = nullptr;
  if (!text::containsIgnoreCase(fields[2], kTypeSuffix)) {
    // The key with "/" turned into a backslash, folded for the table's hash lookup.
    key_.assign(fields[1]);
    for (char& c : key_) {
      c = c == '/' ? '\\' : fold_[static_cast<unsigned char>(c)];
    }
    category = table_.categoryFolded(key_);
    if (!category) {
      out.append(line);
      return SceneryLine::AsRead;
    }
    kind = SceneryLine::Converted;
  }
  out.append(fields[0]).push_back(' ');
  out.append(fields[1]).push_back(' ');
  if (category) out.append(*category).append(kTypeSuffix).push_back(' ');
  out.append(fields[2]);
  // The fourth field on, joined by single spaces.
  size_t i = 0;
  while (i < rest.size()) {
    const size_t start = i;
    while (i < rest.size() && !isSeparator(rest[i])) ++i;
    out.push_back(' ');
    out.append(rest.substr(start, i - start));
    while (i < rest.size() && isSeparator(rest[i])) ++i;
  }
  return kind;
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
