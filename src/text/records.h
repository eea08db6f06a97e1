// Records of the tool's text files: space normalisation and field splitting,
// and the two-field record "path category" as every working file writes it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace borvantel::text {

// Every run of spaces becomes one space; leading and trailing spaces go.
// Only the space character counts; a tab is an ordinary character.
std::string normaliseSpaces(std::string_view line);

// Splits at every space; adjacent spaces give empty fields.
std::vector<std::string_view> splitAtSpaces(std::string_view line);

// The two fields of a record split at every space, when it has exactly two.
struct TwoFields {
  std::string_view first;
  std::string_view second;
};
bool exactlyTwoFields(std::string_view line, TwoFields& out) noexcept;

// The first two fields when the line has at least two (further ones ignored).
bool leadingTwoFields(std::string_view line, TwoFields& out) noexcept;

// Appends the record "first second" and its CR LF to `out`.
void appendRecord(std::string& out, std::string_view first, std::string_view second);

}  // namespace borvantel::text
