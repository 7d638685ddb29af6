// The print-mode listing against inet_ntop, one address at a time. The input is a first
// address (16 bytes; IPv4 when the 17th byte is odd, from its first four) and a count of
// up to 4096 addresses (bytes 18 and 19), cut at the top of the space.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/address_text.hpp"
#include "writers/writers.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 19) return 0;
  maskery::Address first{};
  std::memcpy(first.bytes.data(), data, 16);
  const bool v4 = data[16] & 1;
  if (v4) {
    first.af = maskery::Family::inet;
    std::memset(first.bytes.data() + 4, 0, 12);
  } else {
    first.af = maskery::Family::inet6;
  }
  unsigned count = (unsigned{data[17]} << 8 | data[18]) % 4096;

  std::string expected;
  maskery::Address cur = first;
  char text[INET6_ADDRSTRLEN];
  for (unsigned n = 0;; ++n) {
    if (inet_ntop(v4 ? AF_INET : AF_INET6, cur.bytes.data(), text, sizeof text) == nullptr) {
      std::abort();
    }
    expected += text;
    expected += '\n';
    if (n == count) break;
    // Next address, unless this is the top of the space.
    maskery::Address next = cur;
    int i = static_cast<int>(cur.size()) - 1;
    for (; i >= 0 && ++next.bytes[static_cast<unsigned>(i)] == 0; --i) {
    }
    if (i < 0) break;
    cur = next;
  }

  maskery::StringSink out;
  maskery::list_addresses(first, cur, out);
  if (out.str() != expected) std::abort();
  return 0;
}
