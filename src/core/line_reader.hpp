// Lines of a file descriptor, read in large blocks, in memory bounded by the longest line
// it keeps: a line longer than that is handed over cut, and says so, as soon as its
// max_line + 1st byte is read (so an endless line is known at once). The verdict depends on
// the bytes only, never on where the reads of them end.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace maskery {

class LineReader {
 public:
  // Reads fd (not closed here); lines longer than max_line are cut to max_line bytes.
  LineReader(int fd, std::size_t max_line);
  // Reads the bytes of a regular file from offset on, and no further than limit bytes.
  LineReader(int fd, std::size_t max_line, off_t offset, std::size_t limit);

  struct Line {
    char* data;        // writable, and followed by one more writable byte
    std::size_t size;  // without the newline
    bool cut;          // the line is longer than max_line: only its first max_line bytes are here
  };
  // The next line, or false at the end of the input. After a cut line, the next call first
  // skips the rest of it. A read error throws std::system_error with the reason.
  bool next(Line& line);
  // Where a positioned reader has read to: the offset after the last byte read.
  off_t position() const noexcept { return offset_; }
  // Where in the file a byte of a line handed over by a positioned reader stands.
  off_t offset_of(const char* p) const noexcept {
    return offset_ - static_cast<off_t>(end_ - static_cast<std::size_t>(p - buf_.get()));
  }
  // Starts over as a positioned reader of other bytes, the buffer kept.
  void restart(off_t offset, std::size_t limit) noexcept;
  // The unread bytes up to and including the last newline among them, for a caller that
  // finds the ends of lines itself; false when there is no whole line left that is shorter
  // than max_line (next() then deals with what remains). consume() takes what the caller
  // has read, up to just after a newline.
  bool window(const char*& begin, const char*& end);
  void consume(const char* to) noexcept { begin_ = static_cast<std::size_t>(to - buf_.get()); }

 private:
  bool fill();
  bool skip_rest();
  int fd_;
  std::size_t max_line_;
  std::size_t cap_;
  std::unique_ptr<char[]> buf_;
  std::size_t begin_ = 0, end_ = 0;
  std::size_t mapped_ = 0;  // bytes of buf_ mapped ahead (see prefault.hpp)
  bool eof_ = false;
  bool in_cut_line_ = false;  // the last line handed over was cut: its rest is unread
  bool positioned_ = false;   // pread from offset_, at most limit_ more bytes
  off_t offset_ = 0;
  std::size_t limit_ = 0;
};

// Skips a UTF-8 byte-order mark at the start of a line (the first of a file: some editors
// write one).
inline void skip_byte_order_mark(LineReader::Line& line) noexcept {
  if (line.size >= 3 && std::memcmp(line.data, "\xef\xbb\xbf", 3) == 0) {
    line.data += 3;
    line.size -= 3;
  }
}

}  // namespace maskery
