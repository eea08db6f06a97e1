#include "text/lines.h"

#include "text/files.h"
#include "text/os.h"

#include <cerrno>
#include <algorithm>
#include <cstring>

namespace borvantel::text {

bool LineSplitter::next(std::string_view& line) noexcept {
  const size_t n = text_.size();
  if (pos_ >= n) return false;
  if (!crKnown_ || nextCr_ < pos_) {
    const void* p = std::memchr(text_.data() + pos_, '\r', n - pos_);
    nextCr_ = p ? static_cast<size_t>(static_cast<const char*>(p) - text_.data()) : n;
    crKnown_ = true;
  }
  if (!lfKnown_ || nextLf_ < pos_) {
    const void* p = std::memchr(text_.data() + pos_, '\n', n - pos_);
    nextLf_ = p ? static_cast<size_t>(static_cast<const char*>(p) - text_.data()) : n;
    lfKnown_ = true;
  }
  const size_t end = std::min(nextCr_, nextLf_);
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
  begin_ = end_ = 0;
  cacheValid_ = false;
  eof_ = false;
  lineNumber_ = 0;
}

bool LineReader::fill() {
  if (eof_) return false;
  cacheValid_ = false;  // the bytes move and more arrive
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  for (;;) {
    const ssize_t got = os().read(fd_, buf_.data() + end_, buf_.size() - end_);
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

bool LineReader::next(std::string_view& line) {
  for (;;) {
    const char* data = buf_.data();
    if (!cacheValid_ || nextCr_ < begin_) {
      const void* p = std::memchr(data + begin_, '\r', end_ - begin_);
      nextCr_ = p ? static_cast<size_t>(static_cast<const char*>(p) - data) : end_;
    }
    if (!cacheValid_ || nextLf_ < begin_) {
      const void* p = std::memchr(data + begin_, '\n', end_ - begin_);
      nextLf_ = p ? static_cast<size_t>(static_cast<const char*>(p) - data) : end_;
    }
    cacheValid_ = true;
    const size_t e = std::min(nextCr_, nextLf_);
    if (e < end_) {
      if (data[e] == '\r' && e + 1 == end_ && !eof_) {
        // A CR at the end of the block may be the first half of CR LF.
        fill();
        continue;
      }
      line = std::string_view(data + begin_, e - begin_);
      begin_ = (data[e] == '\r' && e + 1 < end_ && data[e + 1] == '\n') ? e + 2 : e + 1;
      ++lineNumber_;
      return true;
    }
    if (!fill()) {
      if (end_ == begin_) return false;
      line = std::string_view(buf_.data() + begin_, end_ - begin_);
      begin_ = end_;
      ++lineNumber_;
      return true;
    }
  }
}

}  // namespace borvantel::text
