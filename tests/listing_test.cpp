// The listing against a reference made one address at a time with inet_ntop.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/address_text.hpp"
#include "oracle.hpp"
#include "wide.hpp"
#include "writers/writers.hpp"

namespace maskery::testing {
namespace {

std::string listing(const Address& first, const Address& last) {
  StringSink out;
  list_addresses(first, last, out);
  return out.str();
}

std::string reference_v4(std::uint32_t first, std::uint32_t last) {
  std::string s;
  for (std::uint64_t v = first; v <= last; ++v) {
    s += ntop(Address::v4(static_cast<std::uint32_t>(v)));
    s += '\n';
  }
  return s;
}

std::string reference_v6(u128 first, u128 last) {
  std::string s;
  for (u128 v = first;; ++v) {
    s += ntop(from_u128(v));
    s += '\n';
    if (v == last) break;
  }
  return s;
}

TEST(Listing, ShortIpv4NetworksAtRandomPlaces) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const unsigned len = 20 + static_cast<unsigned>(rng() % 13);  // 1 to 4096 addresses
    const std::uint32_t mask = len == 0 ? 0 : ~std::uint32_t{0} << (32 - len);
    const std::uint32_t first = random_v4(rng) & mask;
    const std::uint32_t last = first | ~mask;
    ASSERT_EQ(listing(Address::v4(first), Address::v4(last)), reference_v4(first, last))
        << ntop(Address::v4(first)) << "/" << len;
  }
}

TEST(Listing, ShortIpv6NetworksThroughEveryTextShape) {
  std::mt19937_64 rng(8);
  for (int i = 0; i < 3000; ++i) {
    const unsigned len = 116 + static_cast<unsigned>(rng() % 13);  // 1 to 4096 addresses
    const u128 first = to_u128(random_v6(rng)) & mask128(len);
    const u128 last = first | ~mask128(len);
    ASSERT_EQ(listing(from_u128(first), from_u128(last)), reference_v6(first, last))
        << ntop(from_u128(first)) << "/" << len;
  }
}

TEST(Listing, RangesThatDoNotStartOrEndOnABlock) {
  std::mt19937_64 rng(9);
  for (int i = 0; i < 2000; ++i) {
    const u128 first = to_u128(random_v6(rng));
    const u128 span = rng() % 700;
    const u128 last = first > ~u128{0} - span ? ~u128{0} : first + span;
    ASSERT_EQ(listing(from_u128(first), from_u128(last)), reference_v6(first, last))
        << ntop(from_u128(first));
    const std::uint32_t f4 = random_v4(rng);
    const std::uint32_t l4 =
        f4 > 0xffffffffu - 700 ? 0xffffffffu : f4 + static_cast<std::uint32_t>(span);
    ASSERT_EQ(listing(Address::v4(f4), Address::v4(l4)), reference_v4(f4, l4)) << f4;
  }
}

TEST(Listing, WholeSixteens) {
  for (const char* net : {"10.20.0.0", "255.255.0.0", "0.0.0.0"}) {
    const std::uint32_t first = *parse_ipv4(net);
    EXPECT_EQ(listing(Address::v4(first), Address::v4(first | 0xffff)),
              reference_v4(first, first | 0xffff))
        << net;
  }
  for (const char* net : {"2001:db8::", "::ffff:10.1.0.0", "::1.2.0.0", "::", "1:2:3:4:5:6:0:0",
                          "ffff:ffff:ffff:ffff:ffff:ffff:ffff:0"}) {
    const u128 first = to_u128(Address::v6(*parse_ipv6(net)));
    EXPECT_EQ(listing(from_u128(first), from_u128(first | 0xffff)),
              reference_v6(first, first | 0xffff))
        << net;
  }
}

TEST(Listing, StopsAtTheTopOfTheSpace) {
  EXPECT_EQ(listing(Address::v4(0xfffffffe), Address::v4(0xffffffff)),
            "255.255.255.254\n255.255.255.255\n");
  const u128 top = ~u128{0};
  EXPECT_EQ(listing(from_u128(top - 1), from_u128(top)),
            "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe\nffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n");
  EXPECT_EQ(listing(from_u128(top), from_u128(top)), "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n");
}

}  // namespace
}  // namespace maskery::testing
