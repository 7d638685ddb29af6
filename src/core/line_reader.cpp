#include "core/line_reader.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "core/prefault.hpp"

namespace maskery {

namespace {
// Reads of 128 KiB, as cat's: the buffer stays in the second-level cache, and a small file
// touches no more of it than it needs (reads of 1 MiB were a sixth of a 40,000-line list's
// page faults, and no faster on large files). The rest of the buffer is for a long line.
constexpr std::size_t kRead = std::size_t{64} << 10;
}  // namespace

LineReader::LineReader(int fd, std::size_t max_line)
    : fd_(fd), max_line_(max_line), cap_(max_line + kRead + 1), buf_(new char[cap_]) {}

LineReader::LineReader(int fd, std::size_t max_line, off_t offset, std::size_t limit)
    : LineReader(fd, max_line) {
  positioned_ = true;
  offset_ = offset;
  limit_ = limit;
}

void LineReader::restart(off_t offset, std::size_t limit) noexcept {
  begin_ = end_ = 0;
  eof_ = in_cut_line_ = false;
  positioned_ = true;
  offset_ = offset;
  limit_ = limit;
}

bool LineReader::fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buf_.get(), buf_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  for (;;) {
    std::size_t room = std::min(cap_ - 1 - end_, kRead);
    if (positioned_ && room > limit_) room = limit_;
    if (end_ + room > mapped_) {  // the room of this read, mapped at once
      prefault(buf_.get() + mapped_, end_ + room - mapped_);
      mapped_ = end_ + room;
    }
    const ssize_t n = positioned_ ? ::pread(fd_, buf_.get() + end_, room, offset_)
                                  : ::read(fd_, buf_.get() + end_, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category());
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    end_ += static_cast<std::size_t>(n);
    if (positioned_) {
      offset_ += n;
      limit_ -= static_cast<std::size_t>(n);
    }
    return true;
  }
}

bool LineReader::window(const char*& begin, const char*& end) {
  for (;;) {
    const char* start = buf_.get() + begin_;
    const std::size_t avail = end_ - begin_;
    // From the back: the last newline is at most a line from the end.
    for (std::size_t i = avail; i-- > 0;) {
      if (start[i] == '\n') {
        begin = start;
        end = start + i + 1;
        return true;
      }
    }
    if (avail >= max_line_ || !fill()) return false;
  }
}

bool LineReader::skip_rest() {
  // The rest of a line handed over cut: up to and past its newline.
  for (;;) {
    auto* p = static_cast<char*>(std::memchr(buf_.get() + begin_, '\n', end_ - begin_));
    if (p != nullptr) {
      begin_ = static_cast<std::size_t>(p - buf_.get()) + 1;
      return true;
    }
    begin_ = end_;
    if (!fill()) return false;
  }
}

bool LineReader::next(Line& line) {
  if (in_cut_line_) {
    in_cut_line_ = false;
    if (!skip_rest()) return false;
  }
  std::size_t scanned = 0;  // bytes after begin_ known to hold no newline; fill() keeps it
  for (;;) {
    char* start = buf_.get() + begin_;
    const std::size_t avail = end_ - begin_;
    auto* nl = static_cast<char*>(std::memchr(start + scanned, '\n', avail - scanned));
    if (nl != nullptr) {
      const auto size = static_cast<std::size_t>(nl - start);
      begin_ += size + 1;
      line = {start, std::min(size, max_line_), size > max_line_};
      return true;
    }
    scanned = avail;
    if (avail > max_line_) {
      // Known to be too long, whatever follows: handed over at once, its first max_line
      // bytes, and the rest is skipped only if the caller reads on.
      line = {start, max_line_, true};
      begin_ += max_line_;
      in_cut_line_ = true;
      return true;
    }
    if (!fill()) {
      if (avail == 0) return false;
      line = {buf_.get() + begin_, avail, false};  // the last line, without a newline
      begin_ = end_;
      return true;
    }
  }
}

}  // namespace maskery
