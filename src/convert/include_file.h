// The text rules of the include-file rewrite (zmiana_inc): the category header
// and the two renumberings that shift every parameter number up by one. Pure
// functions over one line, so that they are tested without files; the file
// work lives in conversion.cpp.
#pragma once

#include <string>
#include <string_view>

namespace borvantel::convert {

// What the rewrite puts before the category on the new first line.
inline constexpr std::string_view kHeaderPrefix = "//$infotype: ";

// Appends the decimal number `digits` (ASCII digits, any length) plus one,
// without leading zeros: "1" gives "2", "9" gives "10", "007" gives "8".
void appendIncremented(std::string& out, std::string_view digits);

// Whether `s` is a non-empty run of ASCII decimal digits.
bool isDigitRun(std::string_view s) noexcept;

// Comment renumbering: every p or P followed, directly or after plain spaces,
// by digits has those digits replaced by their value plus one. Appends the
// renumbered line to `out`.
void renumberComment(std::string_view line, std::string& out);

// Parameter-reference renumbering: the number of every "(p" ... ")" reference
// is raised by one. Collected text that is not a non-empty digit run, and text
// still being collected when the line ends, are written back as they stood, so
// no byte is ever lost. Appends the renumbered line to `out`.
void renumberReferences(std::string_view line, std::string& out);

// One line of an include file as the rewrite writes it (without line end),
// appended to `out`: comment lines with p get the comment renumbering, other
// lines with p, "(" and ")" the reference renumbering, the rest stay as read.
void appendIncludeLine(std::string_view line, std::string& out);

// Appends the header line for `category` (upper-cased), ending CR LF.
void appendHeader(std::string_view category, std::string& out);

// Whether a line holds "//$infotype:" anywhere, ignoring case: the file has a
// category header already.
bool carriesHeader(std::string_view line) noexcept;

// The whole rewritten text of an include file: the header, then every line
// renumbered, each ending CR LF.
std::string convertIncludeText(std::string_view text, std::string_view category);

}  // namespace borvantel::convert
