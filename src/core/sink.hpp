// The one output sink of a run: a large buffer, drained in whole blocks and at the end,
// every write checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace maskery {

class Sink {
 public:
  // Output leaves in blocks of exactly this size (but the last): whole pages, so a pipe
  // takes them without merging partial pages, and as large as cat's.
  static constexpr std::size_t kBlock = std::size_t{128} << 10;
  // The most a writer may ask for at once.
  static constexpr std::size_t kMaxReserve = std::size_t{16} << 10;
  // Writers may store up to this many bytes past the end they commit.
  static constexpr std::size_t kSlack = 64;

  Sink();
  virtual ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void write(std::string_view s);

  // At least n (at most kMaxReserve) writable bytes, plus kSlack more that may be
  // scribbled on; hand the end of what was written to commit().
  char* reserve(std::size_t n) {
    if (used_ + n > limit_) [[unlikely]]
      make_room(n);
    return buf_.get() + used_;
  }
  void commit(char* end) noexcept { used_ = static_cast<std::size_t>(end - buf_.get()); }

  // Drains everything buffered; throws Failure when the destination refuses it.
  void flush();

 protected:
  virtual void drain(const char* data, std::size_t n) = 0;

 private:
  void drain_block();
  void make_room(std::size_t n);
  void map_to(std::size_t end) noexcept;
  std::unique_ptr<char[]> buf_;
  std::size_t used_ = 0;
  std::size_t mapped_ = 0;  // bytes of buf_ mapped ahead (see prefault.hpp)
  std::size_t limit_ = 0;   // reserve() needs no more than this: below a block and mapped
};

// Writes to a file descriptor; a failed write is the failure "write error: <reason>".
class FdSink final : public Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}

 protected:
  void drain(const char* data, std::size_t n) override;

 private:
  int fd_;
  bool large_ = false;  // a whole block has gone out: this is a listing
};

// Collects everything in memory, for tests.
class StringSink final : public Sink {
 public:
  // Everything written so far, flushed.
  const std::string& str() {
    flush();
    return out_;
  }

 protected:
  void drain(const char* data, std::size_t n) override { out_.append(data, n); }

 private:
  std::string out_;
};

}  // namespace maskery
