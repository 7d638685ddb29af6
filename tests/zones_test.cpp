// Reverse zones of networks, and the IPv4 PTR line, against names built from plain integers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "oracle.hpp"
#include "test_support.hpp"
#include "wide.hpp"

namespace maskery::testing {
namespace {

using Words = std::vector<std::string>;

std::string lines(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + "\n";
  return s;
}

// The in-addr.arpa name of the first bytes of v.
std::string name4(std::uint32_t v, unsigned bytes) {
  std::string s;
  for (unsigned i = bytes; i-- > 0;) s += std::to_string((v >> (24 - 8 * i)) & 0xff) + ".";
  return s + "in-addr.arpa.";
}

// The ip6.arpa name of the first nibbles of v.
std::string name6(u128 v, unsigned nibbles) {
  static const char hex[] = "0123456789abcdef";
  std::string s;
  for (unsigned i = nibbles; i-- > 0;) {
    s += hex[static_cast<unsigned>(v >> (124 - 4 * i)) & 0xf];
    s += '.';
  }
  return s + "ip6.arpa.";
}

TEST(Zones, Examples) {
  std::vector<std::string> slash1;
  for (int i = 0; i < 128; ++i) slash1.push_back(std::to_string(i) + ".in-addr.arpa.");
  const std::string c65 = "65.2.0.192.in-addr.arpa.\tIN\tCNAME\t65.";
  struct Row {
    Words words;
    Outcome expected;
  };
  const std::vector<Row> rows = {
      {{"zones", "inet", "192.168.10.77/22"},
       ok("8.168.192.in-addr.arpa.\n9.168.192.in-addr.arpa.\n10.168.192.in-addr.arpa.\n"
          "11.168.192.in-addr.arpa.\n")},
      {{"zones", "inet", "10.1.2.3/1"}, ok(lines(slash1))},
      {{"zones", "inet", "10.1.2.3/0"}, ok("in-addr.arpa.\n")},
      {{"zones", "inet", "10.1.2.3/8"}, ok("10.in-addr.arpa.\n")},
      {{"zones", "inet", "10.1.2.3/32"}, ok("3.2.1.10.in-addr.arpa.\n")},
      {{"zones", "inet", "10.1.2.3/40"}, ok("3.2.1.10.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.64/26"}, ok("64/26.2.0.192.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.64/26", "rfc4183"}, ok("64-26.2.0.192.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.64/26", "range"}, ok("64-127.2.0.192.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.64", "netmask", "255.255.255.192"},
       ok("64/26.2.0.192.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.64", "mask", "0.0.0.63", "rfc2317"},
       ok("64/26.2.0.192.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.65", "prefixlen", "31", "cnames"},
       ok("64/31.2.0.192.in-addr.arpa.\n"
          "64.2.0.192.in-addr.arpa.\tIN\tCNAME\t64.64/31.2.0.192.in-addr.arpa.\n" +
          c65 + "64/31.2.0.192.in-addr.arpa.\n")},
      {{"zones", "inet", "192.0.2.65/31", "cnames", "range"},
       invoke({"zones", "inet", "192.0.2.65/31", "range", "cnames"})},
      {{"zones", "inet6", "2001:db8:0:4::/62"},
       ok("4.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa.\n5.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa.\n"
          "6.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa.\n7.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa."
          "\n")},
      {{"zones", "inet6", "2001:db8::/32"}, ok("8.b.d.0.1.0.0.2.ip6.arpa.\n")},
      {{"zones", "inet6", "::/0"}, ok("ip6.arpa.\n")},
      {{"zones", "inet6", "8000::/1"},
       ok("8.ip6.arpa.\n9.ip6.arpa.\na.ip6.arpa.\nb.ip6.arpa.\nc.ip6.arpa.\nd.ip6.arpa.\n"
          "e.ip6.arpa.\nf.ip6.arpa.\n")},
      {{"zones", "inet6", "2001:DB8::1", "netmask", "ffff:ffff::"},
       ok("8.b.d.0.1.0.0.2.ip6.arpa.\n")},
      {{"--json", "zones", "inet", "192.0.2.64/30", "cnames"},
       ok("{\"family\":\"inet\",\"zones\":[\"64/30.2.0.192.in-addr.arpa.\"],\"cnames\":["
          "{\"name\":\"64.2.0.192.in-addr.arpa.\",\"target\":\"64.64/30.2.0.192.in-addr.arpa.\"},"
          "{\"name\":\"65.2.0.192.in-addr.arpa.\",\"target\":\"65.64/30.2.0.192.in-addr.arpa.\"},"
          "{\"name\":\"66.2.0.192.in-addr.arpa.\",\"target\":\"66.64/30.2.0.192.in-addr.arpa.\"},"
          "{\"name\":\"67.2.0.192.in-addr.arpa.\",\"target\":\"67.64/30.2.0.192.in-addr.arpa.\"}"
          "]}\n")},
      // Errors name the word at fault.
      {{"zones"}, named_error("must specify an address family")},
      {{"zones", "ipx", "10.0.0.0/8"}, named_error("invalid address family: ipx")},
      {{"zones", "inet"}, named_error("must specify a network")},
      {{"zones", "inet", "10.0.0.0"}, named_error("specify network bits or mask.")},
      {{"zones", "inet", "10.0.0.0", "cnames"}, named_error("invalid network keyword: cnames")},
      {{"zones", "inet", "10.0.0.0", "prefixlen"}, named_error("invalid words near prefixlen")},
      {{"zones", "inet", "10.0.0.0", "prefixlen", "8x"}, named_error("invalid prefix length: 8x")},
      {{"zones", "inet", "10.0.0.0/8", "extra"}, named_error("invalid zones word: extra")},
      {{"zones", "inet", "10.0.0.0/26", "range", "rfc2317"},
       named_error("invalid zones word: rfc2317")},
      {{"zones", "inet", "10.0.0.0/26", "cnames", "cnames"},
       named_error("invalid zones word: cnames")},
      {{"zones", "inet6", "::/64", "rfc2317"},
       named_error("zone styles are for inet only: rfc2317")},
      {{"zones", "inet", "10.0.0.0/24", "cnames"},
       named_error("`cnames' needs an inet network of prefix length 25 to 31")},
      {{"zones", "inet6", "::/126", "cnames"},
       named_error("`cnames' needs an inet network of prefix length 25 to 31")},
      {{"zones", "inet", "300.0.0.0/8"}, named_error("invalid address specification")},
      {{"zones", "inet", "/8"}, bare_error("invalid address/cidr specification\n")},
      {{"zones", "inet", "10.0.0.0", "netmask", "x"},
       bare_error("invalid mask specification: x\n")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.words[row.words.size() > 2 ? 2 : row.words.size() - 1]);
    EXPECT_EQ(invoke(row.words), row.expected);
  }
}

// Every length of both families, for random addresses: the zones are the blocks of the next
// boundary inside the network, named from integer arithmetic.
TEST(Zones, EveryLengthAgreesWithIntegerArithmetic) {
  std::mt19937_64 rng(11);
  const std::vector<std::string> styles = {"rfc2317", "rfc4183", "range"};
  for (int round = 0; round < 40; ++round) {
    const std::uint32_t a4 = random_v4(rng);
    for (unsigned len = 0; len <= 32; ++len) {
      SCOPED_TRACE(ntop(Address::v4(a4)) + "/" + std::to_string(len));
      const std::uint32_t mask = len == 0 ? 0 : ~0u << (32 - len);
      const std::uint32_t net = a4 & mask;
      std::vector<std::string> want;
      if (len > 24 && len < 32) {
        const std::string style = styles[rng() % 3];
        const unsigned first = net & 0xff, last = (net | ~mask) & 0xff;
        const std::string label =
            std::to_string(first) + (style == "rfc2317"   ? "/" + std::to_string(len)
                                     : style == "rfc4183" ? "-" + std::to_string(len)
                                                          : "-" + std::to_string(last));
        const std::string zone = label + "." + name4(net, 3);
        want.push_back(zone);
        for (unsigned h = first; h <= last; ++h) {
          want.push_back(std::to_string(h) + "." + name4(net, 3) + "\tIN\tCNAME\t" +
                         std::to_string(h) + "." + zone);
        }
        EXPECT_EQ(invoke({"zones", "inet", ntop(Address::v4(a4)) + "/" + std::to_string(len), style,
                          "cnames"}),
                  ok(lines(want)));
        continue;
      }
      const unsigned cut = (len + 7) / 8 * 8;
      for (std::uint64_t i = 0; i < (std::uint64_t{1} << (cut - len)); ++i) {
        const auto z = static_cast<std::uint32_t>(net + (i << (32 - cut)));
        want.push_back(name4(z, cut / 8));
      }
      EXPECT_EQ(invoke({"zones", "inet", ntop(Address::v4(a4)), "prefixlen", std::to_string(len)}),
                ok(lines(want)));
    }
    const u128 a6 = to_u128(random_v6(rng));
    for (unsigned len = 0; len <= 128; ++len) {
      SCOPED_TRACE(ntop(from_u128(a6)) + "/" + std::to_string(len));
      const u128 net = a6 & mask128(len);
      const unsigned cut = (len + 3) / 4 * 4;
      std::vector<std::string> want;
      for (unsigned i = 0; i < (1u << (cut - len)); ++i) {
        want.push_back(name6(cut == 0 ? net : net + (u128{i} << (128 - cut)), cut / 4));
      }
      EXPECT_EQ(invoke({"zones", "inet6", ntop(from_u128(a6)) + "/" + std::to_string(len)}),
                ok(lines(want)));
    }
  }
}

TEST(Arpa4, PtrLines) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {
    const std::uint32_t v = random_v4(rng);
    EXPECT_EQ(invoke({"arpa4", ntop(Address::v4(v)), "host.example."}),
              ok(name4(v, 4) + "\tIN\tPTR\thost.example.\n"));
  }
  struct Row {
    Words words;
    Outcome expected;
  };
  const std::vector<Row> rows = {
      {{"arpa4", "192.168.1.77", "h"}, ok("77.1.168.192.in-addr.arpa.\tIN\tPTR\th\n")},
      {{"arpa4", "10.1", "h", "ignored"}, ok("1.0.0.10.in-addr.arpa.\tIN\tPTR\th\n")},
      {{"arpa4", "255.255.255.255", "print"},
       ok("255.255.255.255.in-addr.arpa.\tIN\tPTR\tprint\n")},
      {{"arpa4"}, named_error("must specify ip address.")},
      {{"arpa4", "1.2.3.4"}, named_error("must specify a hostname.")},
      {{"arpa4", "1.2.3.4.5", "h"}, named_error("invalid address specification")},
      {{"arpa4", "::1", "h"}, named_error("invalid address specification")},
      {{"--json", "arpa4", "1.2.3.4", "a\"b"},
       ok("{\"family\":\"inet\",\"name\":\"4.3.2.1.in-addr.arpa.\",\"class\":\"IN\","
          "\"type\":\"PTR\",\"hostname\":\"a\\\"b\"}\n")},
  };
  for (const auto& row : rows) EXPECT_EQ(invoke(row.words), row.expected);
}

}  // namespace
}  // namespace maskery::testing
