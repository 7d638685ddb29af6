// The one output sink of a run: a large buffer, drained when full and at the end, every
// write checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace maskery {

class Sink {
 public:
  // Large writes keep the system calls per line negligible; 128 KiB matches what cat uses.
  static constexpr std::size_t kCapacity = std::size_t{128} << 10;
  // Writers may store up to this many bytes past the end they commit.
  static constexpr std::size_t kSlack = 64;

  Sink();
  virtual ~Sink();
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void write(std::string_view s);
  void write(char c) { write(std::string_view(&c, 1)); }

  // At least n (at most kCapacity) writable bytes, plus kSlack more that may be scribbled
  // on; hand the end of what was written to commit().
  char* reserve(std::size_t n) {
    if (kCapacity - used_ < n) drain_buffer();
    return buf_.get() + used_;
  }
  void commit(char* end) noexcept { used_ = static_cast<std::size_t>(end - buf_.get()); }

  // Drains what is buffered; throws Failure when the destination refuses it.
  void flush() { drain_buffer(); }

 protected:
  virtual void drain(const char* data, std::size_t n) = 0;

 private:
  void drain_buffer();
  std::unique_ptr<char[]> buf_;
  std::size_t used_ = 0;
};

// Writes to a file descriptor; a failed write is the failure "write error: <reason>".
class FdSink final : public Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}

 protected:
  void drain(const char* data, std::size_t n) override;

 private:
  int fd_;
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

// Appends the decimal text of v and returns the end.
char* append_decimal(char* out, std::uint64_t v) noexcept;

}  // namespace maskery
