#include "text/lines.h"

#include "text/file_calls.h"
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

size_t countLineEnds(const char* p, size_t n) noexcept {
  // Each LF, and each CR that no LF follows.
  size_t count = 0;
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  // Sixteen counters of one byte each, added up before any can overflow.
  while (i + 17 <= n) {
    __m128i counters = _mm_setzero_si128();
    for (int round = 0; round < 255 && i + 17 <= n; ++round, i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
      const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(bytes, lf),
                                        _mm_andnot_si128(_mm_cmpeq_epi8(after, lf), _mm_cmpeq_epi8(bytes, cr)));
      counters = _mm_sub_epi8(counters, ends);  // a hit is -1
    }
    const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<size_t>(_mm_cvtsi128_si32(sums)) + static_cast<size_t>(_mm_extract_epi16(sums, 4));
  }
#endif
  for (; i < n; ++i) count += p[i] == '\n' || (p[i] == '\r' && (i + 1 == n || p[i + 1] != '\n'));
  return count;
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
  const size_t got = readSome(fd_, buf_.data() + end_, buf_.size() - end_, path_);
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
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

bool LineReader::peekRest(std::string_view& rest) {
  while (!eof_) {
    if (begin_ == 0 && end_ == buf_.size()) return false;  // fill() would grow the buffer
    fill();
  }
  rest = std::string_view(buf_.data() + begin_, end_ - begin_);
  return true;
}

}  // namespace borvantel::text
