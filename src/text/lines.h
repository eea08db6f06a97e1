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

// Splits an in-memory text into lines.
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text) noexcept : text_(text) {}
  // Sets `line` to the next line; false when no line is left.
  bool next(std::string_view& line) noexcept;

 private:
  std::string_view text_;
  size_t pos_ = 0;
  size_t nextCr_ = 0;  // cached positions of the next CR and LF, so that
  size_t nextLf_ = 0;  // files with only one kind of line end stay linear
  bool crKnown_ = false;
  bool lfKnown_ = false;
};

// Reads lines from an open file descriptor in large blocks. Throws FileError
// (naming `path`) when reading fails.
class LineReader {
 public:
  LineReader(int fd, std::string path, size_t blockSize = 64 * 1024);
  // Starts over on another file, keeping the buffer.
  void reset(int fd, std::string_view path);
  bool next(std::string_view& line);
  // 1-based number of the line last returned.
  size_t lineNumber() const noexcept { return lineNumber_; }

 private:
  bool fill();
  int fd_;
  std::string path_;
  std::vector<char> buf_;
  size_t begin_ = 0;
  size_t end_ = 0;
  // Cached positions of the next CR and LF at or after begin_ (end_ when there
  // is none in the buffer), so that each byte is searched once, by memchr.
  size_t nextCr_ = 0;
  size_t nextLf_ = 0;
  bool cacheValid_ = false;
  bool eof_ = false;
  size_t lineNumber_ = 0;
};

// Appends `line` and CR LF.
inline void appendLine(std::string& out, std::string_view line) {
  out.append(line);
  out.append(kLineEnd);
}

}  // namespace borvantel::text
