// The address readers and the text form against the platform's inet_aton, inet_pton and
// inet_ntop. Any disagreement is a crash.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/address_text.hpp"

namespace {

void check_text(const maskery::Address& a) {
  char mine[maskery::kMaxAddressText + 1];
  char theirs[INET6_ADDRSTRLEN];
  char* end = maskery::format_address(mine, a);
  const int af = a.af == maskery::Family::inet ? AF_INET : AF_INET6;
  if (inet_ntop(af, a.bytes.data(), theirs, sizeof theirs) == nullptr) std::abort();
  if (std::string_view(mine, static_cast<std::size_t>(end - mine)) != theirs) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // As a word: the bytes up to the first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* word = text.c_str();

  in_addr v4{};
  const bool aton = inet_aton(word, &v4) != 0;
  const auto mine4 = maskery::parse_ipv4(word);
  if (mine4.has_value() != aton) std::abort();
  if (aton && *mine4 != ntohl(v4.s_addr)) std::abort();
  if (aton) check_text(maskery::Address::v4(*mine4));

  unsigned char v6[16];
  const bool pton = inet_pton(AF_INET6, word, v6) == 1;
  const auto mine6 = maskery::parse_ipv6(word);
  if (mine6.has_value() != pton) std::abort();
  if (pton && std::memcmp(mine6->data(), v6, 16) != 0) std::abort();
  if (pton) check_text(maskery::Address::v6(*mine6));

  // As raw bytes: the text form of any address.
  if (size >= 16) {
    std::array<std::uint8_t, 16> b;
    std::memcpy(b.data(), data, 16);
    check_text(maskery::Address::v6(b));
    check_text(maskery::Address::v4(std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                                    std::uint32_t{b[2]} << 8 | b[3]));
  }
  return 0;
}
