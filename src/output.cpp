#include "output.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "failure.hpp"

namespace maskery {

Sink::Sink() : buf_(new char[kCapacity + kSlack]) {}

Sink::~Sink() = default;

void Sink::write(std::string_view s) {
  while (!s.empty()) {
    if (used_ == kCapacity) drain_buffer();
    const std::size_t n = std::min(s.size(), kCapacity - used_);
    std::memcpy(buf_.get() + used_, s.data(), n);
    used_ += n;
    s.remove_prefix(n);
  }
}

void Sink::drain_buffer() {
  const std::size_t n = used_;
  used_ = 0;  // a failed drain loses the buffer; the run ends on the failure anyway
  if (n != 0) drain(buf_.get(), n);
}

void FdSink::drain(const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      fail(std::string("write error: ") + std::strerror(errno));
    }
    if (w == 0) fail("write error: " + std::string(std::strerror(EIO)));
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

char* append_decimal(char* out, std::uint64_t v) noexcept {
  return std::to_chars(out, out + 20, v).ptr;
}

}  // namespace maskery
