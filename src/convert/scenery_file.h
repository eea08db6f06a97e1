// The text rules of the scenery-file rewrite (zmiana_scn): an "include" line
// that names an include file of the assignment table gets the category,
// followed by "_&type", as its new first argument. Pure over one line, so that
// it is tested without files; the file work lives in conversion.cpp.
#pragma once

#include "convert/assignment_table.h"
#include "convert/directive.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::convert {

// What the new first argument ends with.
inline constexpr std::string_view kTypeSuffix = "_&type";

enum class SceneryLine {
  AsRead,      // written exactly as read
  Normalised,  // converted before: written in its normalised form
  Converted,   // the category argument was inserted
};

// A directive in the lines written that names an include file of the table
// but does not pass it its category: the line rule cannot reach it (see
// DirectiveProblem).
struct UnreachedDirective {
  size_t line = 0;  // in the file as written
  DirectiveProblem problem = DirectiveProblem::NoCategory;
  std::string named;  // the file it names, relative to "scenery" as the table holds it
};

// Holds the buffers the lines need, so that a file costs no allocation per line.
//
// It also reads every line it writes as the simulator will (DirectiveReader),
// from the last watchNewFile() on, and keeps the directives the line rule
// could not give their category (unreached()).
class SceneryLineRewriter {
 public:
  explicit SceneryLineRewriter(const AssignmentTable& table);

  // Appends the line as it is to be written (without line end) to `out`.
  // A candidate is a line that does not begin with "//" and contains "include"
  // ignoring case. It is normalised (tabs and ";" become spaces, runs of spaces
  // one space, outer spaces go) and split at spaces; with fewer than four
  // fields it stays as read. A third field holding "_&type" (ignoring case)
  // keeps the normalised form. Otherwise the second field, "/" turned into "\",
  // is looked up: found, the line becomes fields 1 and 2, CATEGORY_&type and
  // fields 3 onwards, joined by single spaces; not found, it stays as read.
  SceneryLine append(std::string_view line, std::string& out);
  // The same for a line already appended to `out` from `start` on (without
  // line end): rewritten in place, copied only where it may change.
  SceneryLine rewriteAppended(std::string& out, size_t start);

  // The same for many lines in two steps: look() splits every line and
  // starts fetching the table entries their keys need, so that the lookups
  // overlap; then appendLooked(j, out) does what append() does for lines[j].
  // The lines must stay valid until the last appendLooked().
  void look(std::span<const std::string_view> lines);
  SceneryLine appendLooked(size_t j, std::string& out);

  // The lines looked at from now on lie in one text, starting at `text`,
  // whose marks are found already: they are taken from there rather than
  // looked for in each line. Null: each line is searched on its own.
  void linesOf(TextMarks* marks, const char* text) noexcept;

  // A whole text in memory: every line as append() writes it, each ending
  // CR LF, appended to `out`. Returns whether a line was converted (where
  // none was, the file is left as it is).
  bool appendText(std::string_view content, std::string& out);

  // The lines appended from now on are the lines of a file from its first.
  void watchNewFile();
  // A line written to that file without this rewriter (an include file's
  // header), so that the line numbers stay right.
  void watchWritten(std::string_view line);
  // The file has ended: the directives that the lines written leave without
  // their category, in line order. Watching starts over.
  std::vector<UnreachedDirective> unreached();

 private:
  // A line as look() left it.
  struct Looked {
    enum class What : std::uint8_t { AsRead, Normalise, LookUp } what;
    std::string_view line;
    std::string_view fields[3];
    std::string_view rest;  // from the fourth field on
    std::uint32_t keyAt = 0;  // the folded key, in keys_
    std::uint32_t keySize = 0;
    std::uint64_t hash = 0;
    bool mayMatter = false;  // may open a directive or a comment (LineMarks)
    // One directive, from the line's start to an "end" at its end, and
    // nothing else that matters: the watch learns nothing from it.
    bool plainDirective = false;
  };
  void lookAt(std::string_view line, Looked& l);
  // The line as the rule writes it.
  SceneryLine appendByRule(const Looked& l, std::string& out);
  // The watch takes the line written for `l`.
  void watch(const Looked& l, std::string_view written);
  void judge(const Directive& d);
  const AssignmentTable& table_;
  std::array<char, 256> fold_;  // text::foldByte, at hand for the per-byte loop
  std::vector<Looked> looked_;
  std::string keys_;
  std::vector<std::string_view> batch_;  // appendText's lines at hand
  DirectiveReader reader_;
  TextMarks* textMarks_ = nullptr;  // see linesOf()
  const char* text_ = nullptr;
  TextMarks ownMarks_;                    // appendText's
  std::string tail_;  // rewriteAppended's line
  std::string directiveKey_;
  std::vector<UnreachedDirective> unreached_;
};

// The whole rewritten text of a scenery file (every line ending CR LF), or
// nullopt when no line is converted: then the file is left as it is, even if a
// line would change its normalised form.
std::optional<std::string> convertSceneryText(std::string_view text, const AssignmentTable& table);

}  // namespace borvantel::convert
