// What the simulator reads of a scenery or include file, as far as the
// conversion's promise goes: the simulator must see the same scenery after the
// conversion, with the category as the new parameter 1.
//
// 1. Tokens are separated by space, tab, ";" and line ends.
// 2. "//" up to the end of its line, and "/*" up to the next "*/" (across
//    lines), are comments; either opener also ends the token it stands in.
// 3. The token "include" (in any case) opens a directive: the next token names
//    the file, relative to "scenery" ("/" or "\", compared ignoring case), and
//    the tokens up to the next "end" (in any case) are its parameters, each
//    "(pN)" in the named file standing for parameter N.
//
// The conversion rewrites lines, the simulator reads tokens; this module is
// the one reading of a directive that the conversion's warnings and the check
// of a whole tree share. It reads lines fed one at a time, so that the
// conversion can watch the lines it writes as it writes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace borvantel::convert {

// Splits lines into tokens, carrying a "/* ... */" comment from line to line.
class Tokenizer {
 public:
  // Calls token(std::string_view) for each token of `line` (without its line
  // end), in order.
  template <typename Token>
  void line(std::string_view line, Token&& token);
  bool inBlockComment() const noexcept { return block_; }
  void reset() noexcept { block_ = false; }

 private:
  bool block_ = false;
};

// One include directive as the simulator reads it.
struct Directive {
  size_t line = 0;  // 1-based line of the keyword
  // The named file as written; empty when the text ended first. Valid while
  // the reader hands the directive out (it views the line fed last, or the
  // reader's own copy where the directive ran on from an earlier line).
  std::string_view file;
  bool hasParameters = false;
  // Its first parameter is a category ("..._&type", in any case), as the
  // conversion writes it.
  bool passesCategory = false;
  bool endsOnItsLine = false;  // its "end" stands on the keyword's line
  bool ended = false;          // an "end" was read at all
};

// What a line (or a whole text) holds that may open a directive or a
// comment, found in one pass, sixteen bytes a step where the processor
// allows. A line without "include" and "/*" can be skipped while the reader
// is idle.
struct LineMarks {
  unsigned includes = 0;       // "include" in any case: 0, 1, or 2 for more
  bool commentOpener = false;  // "/*"
  bool lineComment = false;    // "//"
  bool any() const noexcept { return includes != 0 || commentOpener; }
};
LineMarks marksOf(std::string_view line) noexcept;

// The same for a whole text at once, handed out a line at a time: cheaper
// than marksOf on each of many short lines.
class TextMarks {
 public:
  // Finds every mark of `text`, which must outlive the calls of marksIn().
  void find(std::string_view text);
  // The marks of the line text[begin, end); lines must be asked for in order.
  LineMarks marksIn(size_t begin, size_t end) noexcept;
  // Where the next mark at or after `from` stands that can open a directive
  // or a comment ("include" or "/*"); npos when there is none.
  size_t nextOpener(size_t from) const noexcept;
  // Whether the text holds "include" at all.
  bool hasInclude() const noexcept { return hasInclude_; }

 private:
  enum Kind : std::uint8_t { Include, CommentOpener, LineComment };
  std::vector<std::uint64_t> marks_;  // position << 2 | Kind, in order
  size_t next_ = 0;
  bool hasInclude_ = false;
};

// A plain directive line: one directive from the line's first field to an
// "end" as its last, with at least one field after the file, and nothing
// else that matters (no second "include", no comment). Most directive lines
// are plain, and are read without the tokenizer.
struct PlainDirective {
  std::string_view file;
  std::string_view first;  // the third field: the first parameter, or "end"
};
std::optional<PlainDirective> plainDirective(std::string_view line, const LineMarks& marks) noexcept;
// The same rule on a line split already: its first, third and last fields.
bool isPlainDirective(const LineMarks& marks, std::string_view first, std::string_view third,
                      std::string_view last) noexcept;
// The last field of a text (space, tab and ";" separate fields).
std::string_view lastField(std::string_view text) noexcept;

// Reads the directives of a text fed to it a line at a time.
class DirectiveReader {
 public:
  // Feeds the next line; calls done(const Directive&) for each directive
  // whose "end" stands in it.
  template <typename Done>
  void line(std::string_view text, Done&& done);
  // The same, where the line's marks are known (a plain line is read
  // without the tokenizer).
  template <typename Done>
  void line(std::string_view text, const LineMarks& marks, Done&& done);
  // The next line, known to hold nothing the reader needs: allowed only
  // while idle() and for a line that holds neither "include" nor "/*".
  void skipLine() noexcept { ++line_; }
  void skipLines(size_t count) noexcept { line_ += count; }
  // No directive and no comment open: a line without "include" and "/*"
  // cannot matter.
  bool idle() const noexcept { return state_ == State::Idle && !tokens_.inBlockComment(); }
  // The text has ended: a directive still open that names its file is
  // handed to `done` without its "end".
  template <typename Done>
  void finish(Done&& done);
  // Starts over on another text.
  void reset() noexcept;
  // 1-based number of the line fed last.
  size_t lineNumber() const noexcept { return line_; }

 private:
  enum class State { Idle, File, First, Parameters };
  // Takes one token; true when it ends a directive.
  bool take(std::string_view token);
  // Takes a plain line (see plainDirective) as the tokens would.
  void takePlain(const PlainDirective& plain);
  // A directive runs on past the line fed: its file, which views that
  // line, is copied.
  void keepFile();

  Tokenizer tokens_;
  State state_ = State::Idle;
  Directive current_;
  std::string file_;  // current_.file where it outlives its line
  size_t line_ = 0;
};

// What is wrong with a directive as the simulator will read it.
enum class DirectiveProblem {
  // It names a file that carries a category, but does not end on its own
  // line, and its first parameter is not a category: a conversion, which
  // rewrites lines, cannot give it the category.
  Split,
  // It names a file that carries a category and passes no parameter at all.
  NoParameters,
  // It names a file that carries a category; its first parameter is not a
  // category (it does not begin its line, or shares it with another).
  NoCategory,
  // It passes a category to a file without a category header.
  CategoryWithoutHeader,
  // It names a file that does not exist below "scenery".
  MissingFile,
};

// The problem of a directive naming a file that carries a category
// (`categorised`) or not; nullopt when the simulator reads it as intended.
// Existence is the caller's to judge (MissingFile).
inline std::optional<DirectiveProblem> problemOf(const Directive& d, bool categorised) noexcept {
  if (!categorised) return d.passesCategory ? std::optional(DirectiveProblem::CategoryWithoutHeader) : std::nullopt;
  if (d.passesCategory) return std::nullopt;
  if (!d.endsOnItsLine) return DirectiveProblem::Split;
  if (!d.hasParameters) return DirectiveProblem::NoParameters;
  return DirectiveProblem::NoCategory;
}

// One line of a report, "FILE:LINE: message" (Polish, UTF-8): `file` is the
// file holding the directive as the other commands print it (raw bytes, "\"
// separated), `named` the file it names (its path below "scenery" where it
// is known, else as written).
std::string problemLine(std::string_view file, size_t line, DirectiveProblem problem, std::string_view named);

// The folded key of a named file for a lookup among relative paths: "/"
// becomes "\", the rest folded as text::foldByte folds it. Into `key`,
// whose room is reused.
void directiveKey(std::string_view named, std::string& key);
// The same into `named.size()` bytes at `key`.
void directiveKey(std::string_view named, char* key) noexcept;

// Whether `s` is `word` (ASCII letters, lower case) in any case. Only the
// ASCII capitals fold to those letters in Windows-1250, so setting the 0x20
// bit compares them as text::equalsIgnoreCase does, without its table.
constexpr bool isWordIgnoringCase(std::string_view s, std::string_view word) noexcept {
  if (s.size() != word.size()) return false;
  for (size_t k = 0; k < s.size(); ++k) {
    if ((static_cast<unsigned char>(s[k]) | 0x20) != static_cast<unsigned char>(word[k])) return false;
  }
  return true;
}

// ------------------------------------------------------------------ details

namespace detail {
inline bool isSeparator(char c) noexcept { return c == ' ' || c == '\t' || c == ';'; }
inline bool opensComment(std::string_view s, size_t i) noexcept {
  return s[i] == '/' && i + 1 < s.size() && (s[i + 1] == '/' || s[i + 1] == '*');
}
}  // namespace detail

template <typename Token>
void Tokenizer::line(std::string_view s, Token&& token) {
  size_t i = 0;
  while (i < s.size()) {
    if (block_) {
      const size_t close = s.find("*/", i);
      if (close == std::string_view::npos) return;
      block_ = false;
      i = close + 2;
    } else if (detail::isSeparator(s[i])) {
      ++i;
    } else if (detail::opensComment(s, i)) {
      if (s[i + 1] == '/') return;
      block_ = true;
      i += 2;
    } else {
      const size_t start = i;
      while (i < s.size() && !detail::isSeparator(s[i]) && !detail::opensComment(s, i)) ++i;
      token(s.substr(start, i - start));
    }
  }
}

template <typename Done>
void DirectiveReader::line(std::string_view text, Done&& done) {
  ++line_;
  tokens_.line(text, [&](std::string_view token) {
    if (take(token)) done(static_cast<const Directive&>(current_));
  });
  keepFile();
}

template <typename Done>
void DirectiveReader::line(std::string_view text, const LineMarks& marks, Done&& done) {
  if (idle()) {
    if (const std::optional<PlainDirective> plain = plainDirective(text, marks)) {
      ++line_;
      takePlain(*plain);
      done(static_cast<const Directive&>(current_));
      return;
    }
  }
  line(text, std::forward<Done>(done));
}

template <typename Done>
void DirectiveReader::finish(Done&& done) {
  if (state_ != State::Idle && state_ != State::File) done(static_cast<const Directive&>(current_));
  state_ = State::Idle;
}

}  // namespace borvantel::convert
