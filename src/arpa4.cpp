// maskery arpa4 ADDRESS HOSTNAME: the PTR line of an IPv4 address, the companion of arpa6.
#include <string>

#include "failure.hpp"
#include "frontend.hpp"
#include "zones.hpp"

namespace maskery {

PtrRecord reverse_zone4(const char* address, const char* hostname) {
  const Address a = packadrinfo(Family::inet, address);
  return {Family::inet, reverse_name(a, 32), hostname};
}

int arpa4_mode(std::span<const char* const> words, const RunContext& ctx) {
  if (words.size() < 2) fail("must specify ip address.");
  if (words.size() < 3) fail("must specify a hostname.");
  write_result(reverse_zone4(words[1], words[2]), ctx.format, ctx.out);
  return 0;
}

}  // namespace maskery
