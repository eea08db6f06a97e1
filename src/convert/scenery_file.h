// The text rules of the scenery-file rewrite (zmiana_scn): an "include" line
// that names an include file of the assignment table gets the category,
// followed by "_&type", as its new first argument. Pure over one line, so that
// it is tested without files; the file work lives in conversion.cpp.
#pragma once

#include "convert/assignment_table.h"

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

// Holds the buffers the lines need, so that a file costs no allocation per line.
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

  // The same for many lines in two steps: look() splits every line and
  // starts fetching the table entries their keys need, so that the lookups
  // overlap; then appendLooked(j, out) does what append() does for lines[j].
  // The lines must stay valid until the last appendLooked().
  void look(std::span<const std::string_view> lines);
  SceneryLine appendLooked(size_t j, std::string& out);

  // A whole text in memory: every line as append() writes it, each ending
  // CR LF, appended to `out`. Returns whether a line was converted (where
  // none was, the file is left as it is).
  bool appendText(std::string_view content, std::string& out);

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
  };
  // Whether the line contains "include", ignoring case.
  bool mentionsInclude(std::string_view line) const noexcept;
  void lookAt(std::string_view line, Looked& l);
  const AssignmentTable& table_;
  std::array<char, 256> fold_;  // text::foldByte, at hand for the per-byte loop
  std::vector<Looked> looked_;
  std::string keys_;
  std::vector<std::string_view> batch_;  // appendText's lines at hand
};

// The whole rewritten text of a scenery file (every line ending CR LF), or
// nullopt when no line is converted: then the file is left as it is, even if a
// line would change its normalised form.
std::optional<std::string> convertSceneryText(std::string_view text, const AssignmentTable& table);

}  // namespace borvantel::convert
