// Line splitting for the tool's text files. A line ends at CR LF, at a lone CR
// or at a lone LF; the end bytes are not part of the line, and a final line end
// does not begin another line. Lines are handed out as views into a reused
// buffer, so the hot loops allocate nothing per line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::text {

inline constexpr std::string_view kLineEnd = "\r\n";

// Where the first CR or LF of `n` bytes stands (`n` when there is none): one
// pass, sixteen bytes a step where the processor allows.
size_t findLineEnd(const char* p, size_t n) noexcept;

// How many line ends (CR LF, a lone CR, a lone LF) `n` bytes hold, so that
// lines that need no look can be passed over in one step.
size_t countLineEnds(const char* p, size_t n) noexcept;

// Splits an in-memory text into lines.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text) noexcept : text_(text) {}
  // Sets `line` to the next line; false when no line is left.
  bool next(std::string_view& line) noexcept;

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Reads lines from an open file descriptor in large blocks. Throws FileError
// (naming `path`) when reading fails.
class LineReader {
 public:
  LineReader(int fd, std::string path, size_t blockSize = 64 * 1024);
  // Starts over on another file, keeping the buffer.
  void reset(int fd, std::string_view path);
  bool next(std::string_view& line);
  // The next line only if it is already read whole: false where next() would
  // have to read on (or is at the end). Lines returned since the last call of
  // next() stay valid together until the next call of next() or reset().
  bool nextBuffered(std::string_view& line);
  // The rest of the file, when it fits in the buffer: read to its end
  // without taking a line, so that next() goes on as if it had not been
  // called. False (having read less) when the rest is longer.
  bool peekRest(std::string_view& rest);
  // 1-based number of the line last returned.
  size_t lineNumber() const noexcept { return lineNumber_; }

 private:
  bool fill();
  // The next line if the buffer holds it whole, without reading.
  bool takeBuffered(std::string_view& line);
  int fd_;
  std::string path_;
  std::vector<char> buf_;
  size_t begin_ = 0;
  size_t end_ = 0;
  // Bytes from begin_ on known to hold no line end: a line longer than the
  // block is not searched again from its start after each read.
  size_t searched_ = 0;
  bool eof_ = false;
  size_t lineNumber_ = 0;
};

// Appends `line` and CR LF.
inline void appendLine(std::string& out, std::string_view line) {
  out.append(line);
  out.append(kLineEnd);
}

}  // namespace borvantel::text
