#include "convert/include_file.h"

#include "text/codepage.h"
#include "text/lines.h"

#include <cstring>

namespace borvantel::convert {
namespace {

constexpr std::string_view kHeaderTag = "//$infotype:";

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The first of two bytes at or after `from`, or npos. A plain loop: the
// library's find_first_of calls memchr once per byte of the line.
size_t findEither(std::string_view line, char a, char b, size_t from) noexcept {
  for (size_t i = from; i < line.size(); ++i) {
    if (line[i] == a || line[i] == b) return i;
  }
  return std::string_view::npos;
}

bool hasP(std::string_view line) noexcept { return findEither(line, 'p', 'P', 0) != std::string_view::npos; }

bool contains(std::string_view line, char c) noexcept {
  return !line.empty() && std::memchr(line.data(), c, line.size()) != nullptr;
}

}  // namespace

void appendIncremented(std::string& out, std::string_view digits) {
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  if (digits.empty()) {
    out.push_back('1');
    return;
  }
  const size_t start = out.size();
  out.append(digits);
  for (size_t k = out.size(); k > start;) {
    --k;
    if (out[k] != '9') {
      ++out[k];
      return;
    }
    out[k] = '0';
  }
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(start), '1');
}

bool isDigitRun(std::string_view s) noexcept {
  if (s.empty()) return false;
  for (char c : s) {
    if (!isDigit(c)) return false;
  }
  return true;
}

void renumberComment(std::string_view line, std::string& out) {
  // The state table, step by step; each step sees the state the previous one
  // left. In state 2 the number buffer is line[numStart, i): digits only.
  int state = 0;
  size_t numStart = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    const bool digit = isDigit(c);
    // Step 1 (a digit in state 2) only lengthens the number.
    if (state == 2 && !digit) {  // step 2
      appendIncremented(out, line.substr(numStart, i - numStart));
      state = 0;
    }
    if (state == 1 && digit) {  // step 3
      state = 2;
      numStart = i;
    } else if (state == 1 && c != ' ') {  // step 4
      state = 0;
    }
    if (c == 'p' || c == 'P') state = 1;  // step 5
    if (state != 2) out.push_back(c);     // step 6
  }
  if (state == 2) appendIncremented(out, line.substr(numStart));
}

void renumberReferences(std::string_view line, std::string& out) {
  // The state table taken a run at a time: in states 0 and 1 every character
  // is copied, so only the character that changes the state is looked for.
  constexpr size_t npos = std::string_view::npos;
  int state = 0;
  size_t i = 0;
  while (i < line.size()) {
    if (state == 0) {
      const size_t open = line.find('(', i);  // "(" gives state 1
      if (open == npos) break;
      out.append(line.substr(i, open + 1 - i));
      i = open + 1;
      state = 1;
    } else if (state == 1) {
      const size_t p = findEither(line, 'p', 'P', i);  // only a p leaves state 1; the p is copied
      if (p == npos) break;
      out.append(line.substr(i, p + 1 - i));
      i = p + 1;
      state = 2;
    } else {
      const size_t end = findEither(line, '(', ')', i);
      if (end == npos) break;  // still collecting at the line end: written as it stood
      const std::string_view collected = line.substr(i, end - i);
      if (line[end] == ')') {
        if (isDigitRun(collected)) {
          appendIncremented(out, collected);
        } else {
          out.append(collected);  // "(p)", "(p x)", "(stone.bmp)": not a number
        }
        out.push_back(')');
        state = 0;
      } else {
        // A "(" inside the number: what was collected is written as it stood,
        // and the "(" opens a new reference as it would from state 0.
        out.append(collected);
        out.push_back('(');
        state = 1;
      }
      i = end + 1;
    }
  }
  out.append(line.substr(i));
}

void appendIncludeLine(std::string_view line, std::string& out) {
  const bool comment = line.size() >= 2 && line[0] == '/' && line[1] == '/';
  if (comment) {
    if (hasP(line)) {
      renumberComment(line, out);
      return;
    }
  } else if (contains(line, '(') && contains(line, ')') && hasP(line)) {
    renumberReferences(line, out);
    return;
  }
  out.append(line);
}

void appendHeader(std::string_view category, std::string& out) {
  out.append(kHeaderPrefix);
  out.append(text::toUpper(category));
  out.append(text::kLineEnd);
}

bool carriesHeader(std::string_view line) noexcept {
  return contains(line, '$') && text::containsIgnoreCase(line, kHeaderTag);
}

std::string convertIncludeText(std::string_view content, std::string_view category) {
  std::string out;
  out.reserve(content.size() + content.size() / 8 + 64);
  appendHeader(category, out);
  text::LineSplitter lines(content);
  std::string_view line;
  while (lines.next(line)) {
    appendIncludeLine(line, out);
    out.append(text::kLineEnd);
  }
  return out;
}

}  // namespace borvantel::convert
