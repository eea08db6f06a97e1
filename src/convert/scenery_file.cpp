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
void SceneryLineRewriter::lookAt(std::string_view line, Looked& l) {
  l.what = Looked::What::AsRead;
  l.line = line;
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (comment || !mentionsInclude(line)) return;

  const size_t n = line.size();
  size_t at = 0;
  for (std::string_view& field : l.fields) {
    while (at < n && isSeparator(line[at])) ++at;
    const size_t start = at;
    while (at < n && !isSeparator(line[at])) ++at;
    field = line.substr(start, at - start);
  }
  while (at < n && isSeparator(line[at])) ++at;
  if (at == n) return;  // fewer than four fields
  l.rest = line.substr(at);

  if (text::containsIgnoreCase(l.fields[2], kTypeSuffix)) {
    l.what = Looked::What::Normalise;
    return;
  }
  // The key with "/" turned into a backslash, folded for the table's hash lookup.
  l.what = Looked::What::LookUp;
  l.keyAt = static_cast<std::uint32_t>(keys_.size());
  l.keySize = static_cast<std::uint32_t>(l.fields[1].size());
  keys_.resize(keys_.size() + l.keySize);
  char* key = keys_.data() + l.keyAt;
  for (const char c : l.fields[1]) *key++ = c == '/' ? '\\' : fold_[static_cast<unsigned char>(c)];
  l.hash = table_.hashFolded(std::string_view(keys_).substr(l.keyAt, l.keySize));
#if defined(__GNUC__) || defined(__clang__)
  // Here, not in a table member: GCC takes a function that only prefetches
  // for one without effect and drops the call.
  if (const void* slot = table_.slotAddress(l.hash)) __builtin_prefetch(slot);
#endif
}

void SceneryLineRewriter::look(std::span<const std::string_view> lines) {
  if (looked_.size() < lines.size()) looked_.resize(lines.size());
  keys_.clear();
  for (size_t j = 0; j < lines.size(); ++j) lookAt(lines[j], looked_[j]);
}

SceneryLine SceneryLineRewriter::appendLooked(size_t j, std::string& out) {
  const Looked& l = looked_[j];
  if (l.what == Looked::What::AsRead) {
    out.append(l.line);
    return SceneryLine::AsRead;
  }
  const std::string* category = nullptr;
  if (l.what == Looked::What::LookUp) {
    category = table_.categoryFolded(std::string_view(keys_).substr(l.keyAt, l.keySize), l.hash);
    if (!category) {
      out.append(l.line);
      return SceneryLine::AsRead;
    }
  }
  out.append(l.fields[0]).push_back(' ');
  out.append(l.fields[1]).push_back(' ');
  if (category) out.append(*category).append(kTypeSuffix).push_back(' ');
  out.append(l.fields[2]);
  // The fourth field on, joined by single spaces.
  const std::string_view rest = l.rest;
  size_t i = 0;
  while (i < rest.size()) {
    const size_t start = i;
    while (i < rest.size() && !isSeparator(rest[i])) ++i;
    out.push_back(' ');
    out.append(rest.substr(start, i - start));
    while (i < rest.size() && isSeparator(rest[i])) ++i;
  }
  return category ? SceneryLine::Converted : SceneryLine::Normalised;
}

SceneryLine SceneryLineRewriter::append(std::string_view line, std::string& out) {
  look(std::span<const std::string_view>(&line, 1));
  return appendLooked(0, out);
}

bool SceneryLineRewriter::appendText(std::string_view content, std::string& out) {
  // In batches, as the conversion reads files, so that the lookups overlap.
  constexpr size_t kBatch = 64;
  bool converted = false;
  text::LineSplitter lines(content);
  std::string_view line;
  for (bool more = lines.next(line); more;) {
    batch_.clear();
    do {
      batch_.push_back(line);
    } while ((more = lines.next(line)) && batch_.size() < kBatch);
    look(batch_);
    for (size_t j = 0; j < batch_.size(); ++j) {
      converted |= appendLooked(j, out) == SceneryLine::Converted;
      out.append(text::kLineEnd);
    }
  }
  return converted;
}

std::optional<std::string> convertSceneryText(std::string_view content, const AssignmentTable& table) {
  SceneryLineRewriter rewriter(table);
  std::string out;
  out.reserve(content.size() + content.size() / 8 + 64);
  if (!rewriter.appendText(content, out)) return std::nullopt;
  return out;
}

}  // namespace borvantel::convert
