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

// One pass over the line: its first three fields are views into it, and only
// a line that is written in its normalised form is ever copied field by field.
void SceneryLineRewriter::lookAt(std::string_view line, Looked& l) {
  l.what = Looked::What::AsRead;
  l.line = line;
  l.mayMatter = false;
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (comment) return;
  const size_t begin = textMarks_ ? static_cast<size_t>(line.data() - text_) : 0;
  const LineMarks marks = textMarks_ ? textMarks_->marksIn(begin, begin + line.size()) : marksOf(line);
  l.mayMatter = marks.any();
  l.plainDirective = false;
  if (marks.includes == 0) return;

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
  l.plainDirective = isPlainDirective(marks, l.fields[0], l.fields[2], lastField(l.rest));

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
  const size_t start = out.size();
  const SceneryLine kind = appendByRule(l, out);
  watch(l, std::string_view(out).substr(start));
  return kind;
}

SceneryLine SceneryLineRewriter::appendByRule(const Looked& l, std::string& out) {
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

void SceneryLineRewriter::watch(const Looked& l, std::string_view written) {
  // A plain directive line ends its one directive; the rule either gave it
  // its category or it names a file the table does not hold.
  if (reader_.idle() && (!l.mayMatter || l.plainDirective)) {
    reader_.skipLine();
    return;
  }
  reader_.line(written, [&](const Directive& d) { judge(d); });
}

void SceneryLineRewriter::judge(const Directive& d) {
  // A category passed is all the rule can do; the table answers the rest.
  if (d.passesCategory || d.file.empty()) return;
  directiveKey(d.file, directiveKey_);
  const AssignmentRow* row = table_.findFolded(directiveKey_);
  if (!row) return;
  if (const std::optional<DirectiveProblem> problem = problemOf(d, true)) {
    unreached_.push_back(UnreachedDirective{d.line, *problem, row->path});
  }
}

void SceneryLineRewriter::watchNewFile() {
  reader_.reset();
  unreached_.clear();
}

void SceneryLineRewriter::watchWritten(std::string_view line) {
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (reader_.idle() && (comment || !marksOf(line).any())) {
    reader_.skipLine();
    return;
  }
  reader_.line(line, [&](const Directive& d) { judge(d); });
}

std::vector<UnreachedDirective> SceneryLineRewriter::unreached() {
  reader_.finish([&](const Directive& d) { judge(d); });
  std::vector<UnreachedDirective> found = std::move(unreached_);
  watchNewFile();
  return found;
}

SceneryLine SceneryLineRewriter::rewriteAppended(std::string& out, size_t start) {
  const std::string_view line = std::string_view(out).substr(start);
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (reader_.idle() && (comment || !marksOf(line).any())) {
    // Neither the rule nor the watch has anything to do with it.
    reader_.skipLine();
    return SceneryLine::AsRead;
  }
  tail_.assign(line);
  out.resize(start);
  return append(tail_, out);
}

SceneryLine SceneryLineRewriter::append(std::string_view line, std::string& out) {
  look(std::span<const std::string_view>(&line, 1));
  return appendLooked(0, out);
}

void SceneryLineRewriter::linesOf(TextMarks* marks, const char* text) noexcept {
  textMarks_ = marks;
  text_ = text;
}

bool SceneryLineRewriter::appendText(std::string_view content, std::string& out) {
  ownMarks_.find(content);
  linesOf(&ownMarks_, content.data());
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
  linesOf(nullptr, nullptr);
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
