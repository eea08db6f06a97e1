#include "text/lines.h"

#include "text/files.h"
#include "platform/os.h"

#include <cerrno>
#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace borvantel::text {

size_t findLineEnd(const char* p, size_t n) noexcept {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; i + 16 <= n; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
    if (hits != 0) return i + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(hits)));
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == '\r' || p[i] == '\n') return i;
  }
  return n;
}

bool LineSplitter::next(std::string_view& line) noexcept {
  const size_t n = text_.size();
  if (pos_ >= n) return false;
  const size_t end = pos_ + findLineEnd(text_.data() + pos_, n - pos_);
  line = text_.substr(pos_, end - pos_);
  if (end >= n) {
    pos_ = n;
  } else if (text_[end] == '\r' && end + 1 < n && text_[end + 1] == '\n') {
    pos_ = end + 2;
  } else {
    pos_ = end + 1;
  }
  return true;
}

LineReader::LineReader(int fd, std::string path, size_t blockSize)
    : fd_(fd), path_(std::move(path)), buf_(blockSize < 16 ? 16 : blockSize) {}

void LineReader::reset(int fd, std::string_view path) {
  fd_ = fd;
  path_.assign(path);
  begin_ = end_ = searched_ = 0;
  eof_ = false;
  lineNumber_ = 0;
}

bool LineReader::fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  for (;;) {
    const ssize_t got = platform::os().read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError(FileOp::Read, path_, errno);
    }
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<size_t>(got);
    return true;
  }
}

bool LineReader::takeBuffered(std::string_view& line) {
  const char* data = buf_.data();
  const size_t from = begin_ + searched_;
  const size_t e = from + findLineEnd(data + from, end_ - from);
  // A CR at the end of the block may be the first half of CR LF.
  if (e == end_ || (data[e] == '\r' && e + 1 == end_ && !eof_)) {
    searched_ = e - begin_;
    return false;
  }
  line = std::string_view(data + begin_, e - begin_);
  begin_ = (data[e] == '\r' && e + 1 < end_ && data[e + 1] == '\n') ? e + 2 : e + 1;
  searched_ = 0;
  ++lineNumber_;
  return true;
}

bool LineReader::next(std::string_view& line) {
  while (!takeBuffered(line)) {
    if (fill()) continue;
    // The end of the file: a CR at the very end ends its line; anything else
    // left is a last line without a line end.
    if (takeBuffered(line)) return true;
    if (end_ == begin_) return false;
    line = std::string_view(buf_.data() + begin_, end_ - begin_);
    begin_ = end_;
    searched_ = 0;
    ++lineNumber_;
    return true;
  }
  return true;
}

bool LineReader::nextBuffered(std::string_view& line) { return takeBuffered(line); }

}  // namespace borvantel::text
