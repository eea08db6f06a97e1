// What the conversion would change, to be looked at before it runs: the
// files in the conversion's order with how many lines of each it removes and
// adds, the totals and the warnings; and, file by file on demand, the change
// itself as the lines of its unified diff (convert --diff's text, decoded
// for reading) with the line numbers of both sides.
//
// Only the list is kept: a file's change is prepared again from the
// conversion's own plan when it is asked for (the last few are kept), so a
// review of a large tree holds no file's text but the one it shows.
#pragma once

#include "convert/conversion.h"
#include "convert/progress.h"
#include "convert/unified_diff.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace borvantel::run {

// Thrown by the events of a review being prepared (or any dry run) to stop
// it; nothing has changed.
class Cancelled : public text::Failure {
 public:
  Cancelled() : text::Failure("Przerwano.") {}
};

struct ReviewedFile {
  std::string path;  // as the dry run lists it (raw bytes, "\" separated)
  convert::FileEntry entry;
  convert::DiffCounts lines;  // removed and added by its diff
};

// One line of a file's diff as the review shows it.
struct DiffRow {
  enum class Kind { Hunk, Context, Removed, Added, NoNewline };
  Kind kind = Kind::Context;
  size_t oldLine = 0;  // 1-based; 0 where the row stands on no line of that side
  size_t newLine = 0;
  std::string text;  // UTF-8 without the marker; a hunk's whole "@@ ... @@" line
};

// The rows of a diff as appendUnifiedDiff writes it: the file's header
// lines left out, each line numbered from its hunk's head.
std::vector<DiffRow> diffRows(std::string_view diffText);

class ChangeReview {
 public:
  // Prepares the list as a dry run of the conversion: `events` hear of each
  // file and may throw (Cancelled) to stop it. Throws what the dry run
  // throws; nothing is changed either way.
  static ChangeReview prepare(const text::RunPaths& paths, convert::ConversionEvents& events);

  const std::vector<ReviewedFile>& files() const noexcept { return files_; }
  size_t includeFiles() const noexcept { return includeFiles_; }
  size_t sceneryFiles() const noexcept { return sceneryFiles_; }
  convert::DiffCounts lines() const noexcept { return lines_; }
  // The conversion's warnings, as run::warningLines gives them.
  const std::vector<std::string>& warnings() const noexcept { return warnings_; }
  // "Do zmiany: pliki *.inc: 2, pliki sceneryjne: 3; wiersze usunięte: 10,
  // dodane: 12." and, where the conversion warns, " Ostrzeżenia: 1."
  std::string summary() const;

  // The unified diff of file i as convert --diff writes it for reading
  // (decoded from Windows-1250, without colour), prepared again.
  std::string diffText(size_t i) const;
  // Its rows; the last few files asked for are kept.
  const std::vector<DiffRow>& diffRowsOf(size_t i);

 private:
  explicit ChangeReview(std::unique_ptr<convert::ConversionPlan> plan) : plan_(std::move(plan)) {}

  std::unique_ptr<convert::ConversionPlan> plan_;
  std::vector<ReviewedFile> files_;
  size_t includeFiles_ = 0;
  size_t sceneryFiles_ = 0;
  convert::DiffCounts lines_;
  std::vector<std::string> warnings_;
  static constexpr size_t kKept = 8;
  std::deque<std::pair<size_t, std::vector<DiffRow>>> kept_;  // most recent first
};

}  // namespace borvantel::run
