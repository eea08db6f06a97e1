#include "convert/directive.h"

#include "convert/scenery_file.h"
#include "text/codepage.h"

#include <algorithm>
#include <array>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace borvantel::convert {
namespace {

constexpr std::string_view kKeyword = "include";
constexpr std::string_view kEnd = "end";

// The marks that may begin at `i`.
void markAt(std::string_view s, size_t i, LineMarks& marks) noexcept {
  if (s[i] == '/') {
    if (i + 1 < s.size()) {
      marks.commentOpener |= s[i + 1] == '*';
      marks.lineComment |= s[i + 1] == '/';
    }
  } else if (s.size() - i >= kKeyword.size() && isWordIgnoringCase(s.substr(i, kKeyword.size()), kKeyword)) {
    marks.includes = std::min(marks.includes + 1, 2u);
  }
}

}  // namespace

void DirectiveReader::reset() noexcept {
  tokens_.reset();
  state_ = State::Idle;
  line_ = 0;
}

void DirectiveReader::takePlain(const PlainDirective& plain) {
  current_.line = line_;
  current_.file = plain.file;
  current_.hasParameters = !isWordIgnoringCase(plain.first, kEnd);
  current_.passesCategory = current_.hasParameters && text::containsIgnoreCase(plain.first, kTypeSuffix);
  current_.endsOnItsLine = current_.ended = true;
}

void DirectiveReader::keepFile() {
  if (state_ == State::Idle || current_.file.empty() || current_.file.data() == file_.data()) return;
  file_.assign(current_.file);
  current_.file = file_;
}

bool DirectiveReader::take(std::string_view token) {
  switch (state_) {
    case State::Idle:
      if (isWordIgnoringCase(token, kKeyword)) {
        state_ = State::File;
        current_.line = line_;
        current_.file = {};
        current_.hasParameters = current_.passesCategory = current_.endsOnItsLine = current_.ended = false;
      }
      return false;
    case State::File:
      current_.file = token;
      state_ = State::First;
      return false;
    case State::First:
      state_ = State::Parameters;
      if (!isWordIgnoringCase(token, kEnd)) {
        current_.hasParameters = true;
        current_.passesCategory = text::containsIgnoreCase(token, kTypeSuffix);
        return false;
      }
      break;
    case State::Parameters:
      if (!isWordIgnoringCase(token, kEnd)) return false;
      break;
  }
  state_ = State::Idle;
  current_.ended = true;
  current_.endsOnItsLine = line_ == current_.line;
  return true;
}

namespace {

#if defined(__SSE2__)
// Positions [0, 16) of `p` (with six more bytes readable past them)
// where a mark may begin: "i" with "e" six bytes on (any case: only 'I' and
// 'i' fold to 'i', 'E' and 'e' to 'e'), or "/" before "*" or "/".
unsigned candidates16(const char* p) noexcept {
  const __m128i lowerCase = _mm_set1_epi8(0x20);
  const __m128i at0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i at1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  const __m128i at6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kKeyword.size() - 1));
  const __m128i keyword = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(at0, lowerCase), _mm_set1_epi8('i')),
                                        _mm_cmpeq_epi8(_mm_or_si128(at6, lowerCase), _mm_set1_epi8('e')));
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i comment = _mm_and_si128(
      _mm_cmpeq_epi8(at0, slash), _mm_or_si128(_mm_cmpeq_epi8(at1, _mm_set1_epi8('*')), _mm_cmpeq_epi8(at1, slash)));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(keyword, comment)));
}
#endif

}  // namespace

LineMarks marksOf(std::string_view line) noexcept {
  LineMarks marks;
  const char* p = line.data();
  const size_t n = line.size();
  size_t i = 0;
#if defined(__SSE2__)
  const auto take = [&](size_t at, unsigned hits) {
    for (; hits != 0; hits &= hits - 1) markAt(line, at + static_cast<size_t>(std::countr_zero(hits)), marks);
  };
  constexpr size_t kStep = 16 + kKeyword.size() - 1;  // bytes a step reads
  if (n >= kStep) {
    for (; i + kStep <= n; i += 16) take(i, candidates16(p + i));
    // One more step ending at the last byte, without the positions taken.
    const size_t last = n - kStep;
    if (i < n - (kKeyword.size() - 1)) take(last, candidates16(p + last) & ~((1u << (i - last)) - 1));
    i = std::max(i, n - (kKeyword.size() - 1));  // too short for "include" from here on
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == '/' || (static_cast<unsigned char>(p[i]) | 0x20) == 'i') markAt(line, i, marks);
  }
  return marks;
}

void TextMarks::find(std::string_view text) {
  marks_.clear();
  next_ = 0;
  hasInclude_ = false;
  // marksOf on the whole text, keeping where each mark stands.
  const char* p = text.data();
  const size_t n = text.size();
  // At most one mark begins at a byte: a candidate's first byte tells which.
  const auto keep = [&](size_t i) {
    if (p[i] == '/') {
      if (i + 1 < n && (p[i + 1] == '*' || p[i + 1] == '/')) {
        marks_.push_back(std::uint64_t{i} << 2 | (p[i + 1] == '*' ? CommentOpener : LineComment));
      }
    } else if (n - i >= kKeyword.size() && isWordIgnoringCase(text.substr(i, kKeyword.size()), kKeyword)) {
      hasInclude_ = true;
      marks_.push_back(std::uint64_t{i} << 2 | Include);
    }
  };
  size_t i = 0;
#if defined(__SSE2__)
  constexpr size_t kStep = 16 + kKeyword.size() - 1;
  for (; i + kStep <= n; i += 16) {
    for (unsigned hits = candidates16(p + i); hits != 0; hits &= hits - 1) {
      keep(i + static_cast<size_t>(std::countr_zero(hits)));
    }
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == '/' || (static_cast<unsigned char>(p[i]) | 0x20) == 'i') keep(i);
  }
}

LineMarks TextMarks::marksIn(size_t begin, size_t end) noexcept {
  LineMarks marks;
  while (next_ < marks_.size() && (marks_[next_] >> 2) < begin) ++next_;
  for (; next_ < marks_.size() && (marks_[next_] >> 2) < end; ++next_) {
    const size_t at = static_cast<size_t>(marks_[next_] >> 2);
    switch (static_cast<Kind>(marks_[next_] & 3)) {
      case Include:
        // "include" must end within the line.
        if (at + kKeyword.size() <= end) marks.includes = std::min(marks.includes + 1, 2u);
        break;
      case CommentOpener: marks.commentOpener |= at + 2 <= end; break;
      case LineComment: marks.lineComment |= at + 2 <= end; break;
    }
  }
  return marks;
}

size_t TextMarks::nextOpener(size_t from) const noexcept {
  for (size_t k = next_; k < marks_.size(); ++k) {
    if ((marks_[k] >> 2) >= from && static_cast<Kind>(marks_[k] & 3) != LineComment) {
      return static_cast<size_t>(marks_[k] >> 2);
    }
  }
  return std::string_view::npos;
}

namespace {

constexpr std::array<bool, 256> kSeparators = [] {
  std::array<bool, 256> table{};
  table[' '] = table['\t'] = table[';'] = true;
  return table;
}();

bool separatorAt(std::string_view s, size_t i) noexcept { return kSeparators[static_cast<unsigned char>(s[i])]; }

}  // namespace

bool isPlainDirective(const LineMarks& marks, std::string_view first, std::string_view third,
                      std::string_view last) noexcept {
  return marks.includes == 1 && !marks.commentOpener && !marks.lineComment && !third.empty() &&
         isWordIgnoringCase(first, kKeyword) && isWordIgnoringCase(last, kEnd);
}

std::string_view lastField(std::string_view text) noexcept {
  size_t last = text.size();
  while (last > 0 && separatorAt(text, last - 1)) --last;
  size_t first = last;
  while (first > 0 && !separatorAt(text, first - 1)) --first;
  return text.substr(first, last - first);
}

std::optional<PlainDirective> plainDirective(std::string_view line, const LineMarks& marks) noexcept {
  if (marks.includes != 1 || marks.commentOpener || marks.lineComment) return std::nullopt;
  const size_t n = line.size();
  size_t i = 0;
  const auto field = [&] {
    while (i < n && separatorAt(line, i)) ++i;
    const size_t start = i;
    while (i < n && !separatorAt(line, i)) ++i;
    return line.substr(start, i - start);
  };
  const std::string_view first = field();
  const std::string_view file = field();
  const std::string_view third = field();
  if (!isPlainDirective(marks, first, third, lastField(line))) return std::nullopt;
  return PlainDirective{file, third};
}

std::string problemLine(std::string_view file, size_t line, DirectiveProblem problem, std::string_view named) {
  const std::string quoted = "„" + text::displayName(named) + "”";
  std::string message;
  switch (problem) {
    case DirectiveProblem::Split:
      message = "dyrektywa include pliku " + quoted +
                ", który ma kategorię, nie kończy się w tym wierszu: konwersja zmienia wiersze i nie dopisze jej "
                "kategorii, a plik odczyta parametry o jedno miejsce dalej; złącz ją w jeden wiersz";
      break;
    case DirectiveProblem::NoParameters:
      message = "dyrektywa include pliku " + quoted +
                ", który ma kategorię, nie przekazuje parametrów, więc nie przekaże mu też kategorii jako parametru 1";
      break;
    case DirectiveProblem::NoCategory:
      message = "plik " + quoted +
                " ma kategorię, a pierwszym parametrem dyrektywy include nie jest kategoria (…_&type): plik odczyta "
                "parametry o jedno miejsce dalej";
      break;
    case DirectiveProblem::CategoryWithoutHeader:
      message = "dyrektywa include przekazuje kategorię plikowi " + quoted +
                ", który nie ma nagłówka //$infotype:: plik odczyta parametry o jedno miejsce wcześniej";
      break;
    case DirectiveProblem::MissingFile:
      message = "dyrektywa include wskazuje plik " + quoted + ", którego nie ma w katalogu scenery";
      break;
  }
  return text::displayName(file) + ":" + std::to_string(line) + ": " + message;
}

namespace {

const std::array<char, 256>& directiveFold() {
  static const std::array<char, 256> fold = [] {
    std::array<char, 256> table{};
    for (size_t b = 0; b < table.size(); ++b) table[b] = static_cast<char>(text::foldByte(static_cast<unsigned char>(b)));
    table['/'] = '\\';
    return table;
  }();
  return fold;
}

}  // namespace

void directiveKey(std::string_view named, char* key) noexcept {
  const std::array<char, 256>& fold = directiveFold();
  for (const char c : named) *key++ = fold[static_cast<unsigned char>(c)];
}

void directiveKey(std::string_view named, std::string& key) {
  key.resize(named.size());
  directiveKey(named, key.data());
}

}  // namespace borvantel::convert
