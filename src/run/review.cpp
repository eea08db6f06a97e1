#include "run/review.h"

#include "run/changes.h"

#include <charconv>

namespace borvantel::run {
namespace {

// A dry run's changes as a list: each file's name, entry and line counts.
class Counting : public convert::ChangeSink {
 public:
  explicit Counting(std::vector<ReviewedFile>& files) : files_(files) {}
  void fileChanges(const convert::FileChange& change) override {
    files_.push_back(ReviewedFile{std::string(change.shown), change.entry,
                                  convert::countDiffLines(change.before, change.after)});
  }

 private:
  std::vector<ReviewedFile>& files_;
};

// One file's change written as a diff for reading.
class Writing : public convert::ChangeSink {
 public:
  explicit Writing(std::string& out) : out_(out) {}
  void fileChanges(const convert::FileChange& change) override {
    convert::DiffStyle style;
    style.forReading = true;
    convert::appendUnifiedDiff(change.path, change.before, change.after, style, out_);
  }

 private:
  std::string& out_;
};

// "@@ -a,b +c,d @@": where each side's lines begin (1-based; with no lines
// on a side, the line before them, which no row then uses).
bool hunkStarts(std::string_view head, size_t& oldFrom, size_t& newFrom) {
  const auto number = [&](char sign, size_t& value) {
    const size_t at = head.find(sign);
    if (at == std::string_view::npos) return false;
    const char* end = head.data() + head.size();
    return std::from_chars(head.data() + at + 1, end, value).ec == std::errc();
  };
  return number('-', oldFrom) && number('+', newFrom);
}

}  // namespace

std::vector<DiffRow> diffRows(std::string_view diffText) {
  std::vector<DiffRow> rows;
  size_t oldLine = 0;
  size_t newLine = 0;
  bool inHunk = false;
  for (size_t at = 0; at < diffText.size();) {
    size_t end = diffText.find('\n', at);
    if (end == std::string_view::npos) end = diffText.size();
    std::string_view line = diffText.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with("@@ ")) {
      inHunk = hunkStarts(line, oldLine, newLine);
      rows.push_back({DiffRow::Kind::Hunk, 0, 0, std::string(line)});
      continue;
    }
    if (!inHunk || line.empty()) continue;  // the file's header lines
    const std::string text(line.substr(1));
    switch (line.front()) {
      case ' ': rows.push_back({DiffRow::Kind::Context, oldLine++, newLine++, text}); break;
      case '-': rows.push_back({DiffRow::Kind::Removed, oldLine++, 0, text}); break;
      case '+': rows.push_back({DiffRow::Kind::Added, 0, newLine++, text}); break;
      case '\\': rows.push_back({DiffRow::Kind::NoNewline, 0, 0, std::string(line)}); break;
      default: inHunk = false; break;  // the next file's header
    }
  }
  return rows;
}

ChangeReview ChangeReview::prepare(const text::RunPaths& paths, convert::ConversionEvents& events) {
  ChangeReview review(std::make_unique<convert::ConversionPlan>(paths));
  Counting sink(review.files_);
  convert::ConversionOptions options;
  options.changes = &sink;
  const convert::ConversionResult result = convert::runConversion(*review.plan_, events, options);
  for (const ReviewedFile& f : review.files_) {
    ++(f.entry.phase == convert::ConversionPhase::IncludeFiles ? review.includeFiles_ : review.sceneryFiles_);
    review.lines_.removed += f.lines.removed;
    review.lines_.added += f.lines.added;
  }
  review.warnings_ = warningLines(result);
  return review;
}

std::string ChangeReview::summary() const {
  std::string s = "Do zmiany: pliki *.inc: " + std::to_string(includeFiles_) +
                  ", pliki sceneryjne: " + std::to_string(sceneryFiles_) +
                  "; wiersze usunięte: " + std::to_string(lines_.removed) +
                  ", dodane: " + std::to_string(lines_.added) + ".";
  if (!warnings_.empty()) s += " Ostrzeżenia: " + std::to_string(warnings_.size()) + ".";
  return s;
}

std::string ChangeReview::diffText(size_t i) const {
  std::string out;
  Writing sink(out);
  convert::ConversionEvents quiet;
  convert::ConversionOptions options;
  options.changes = &sink;
  options.only = files_.at(i).entry;
  options.threads = 1;
  convert::runConversion(*plan_, quiet, options);
  return out;
}

const std::vector<DiffRow>& ChangeReview::diffRowsOf(size_t i) {
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->first != i) continue;
    auto found = std::move(*it);
    kept_.erase(it);
    kept_.push_front(std::move(found));
    return kept_.front().second;
  }
  kept_.emplace_front(i, diffRows(diffText(i)));
  if (kept_.size() > kKept) kept_.pop_back();
  return kept_.front().second;
}

}  // namespace borvantel::run
