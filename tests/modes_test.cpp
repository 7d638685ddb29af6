// The single-shot modes: host count, reverse-zone line, 6to4.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "oracle.hpp"
#include "test_support.hpp"

namespace maskery::testing {
namespace {

using Words = std::vector<std::string>;

std::string hosts_lines(const char* theoretical, const char* working, const char* hosts) {
  return std::string("theoretical len: ") + theoretical + "\nworking len:     " + working +
         "\nhosts:           " + hosts + "\n";
}

TEST(Hosts, WorkedExamplesAndEdges) {
  struct Row {
    Words words;
    Outcome expected;
  };
  const std::vector<Row> rows = {
      {{"inet", "hosts", "100"}, ok(hosts_lines("25.356143810225276524761284235865", "25", "128"))},
      {{"inet6", "hosts", "100"},
       ok(hosts_lines("121.356143810225276524761284235865", "121", "128"))},
      {{"inet", "hosts", "1"}, ok(hosts_lines("32.000000000000000000000000000000", "32", "1"))},
      {{"inet6", "hosts", "1"}, ok(hosts_lines("128.000000000000000000000000000000", "128", "1"))},
      {{"inet", "hosts", "256"}, ok(hosts_lines("24.000000000000000000000000000000", "24", "256"))},
      // log(2^29) / ln 2 comes out a little above 29.
      {{"inet", "hosts", "536870912"},
       ok(hosts_lines("2.999999999999996447286321199499", "3", "536870912"))},
      {{"inet", "hosts", "257"}, ok(hosts_lines("23.994375450806121108371371519752", "23", "512"))},
      {{"inet", "hosts", "-1"},
       ok(hosts_lines("0.000000000335901972903229761869", "0", "4294967296"))},
      {{"inet", "hosts", "4294967295"},
       ok(hosts_lines("0.000000000335901972903229761869", "0", "4294967296"))},
      {{"inet6", "hosts", "-1"},
       ok(hosts_lines("96.000000000335901972903229761869", "96", "4294967296"))},
      {{"inet", "hosts", "12abc"}, bare_error("invalid mask specification: 12abc\n")},
      {{"inet", "hosts", " +12"}, invoke({"inet", "hosts", "12"})},
      {{"inet", "hosts", "-2147483648"}, invoke({"inet", "hosts", "2147483648"})},
      {{"inet", "hosts", "-4294967295"}, invoke({"inet", "hosts", "1"})},
      {{"inet", "hosts", "0"}, bare_error("invalid mask specification: 0\n")},
      {{"inet", "hosts", "abc"}, bare_error("invalid mask specification: abc\n")},
      {{"inet", "hosts", "print"}, bare_error("invalid mask specification: print\n")},
      {{"inet", "hosts", ""}, bare_error("invalid mask specification: \n")},
      // Counts that do not fit 32 bits are refused, not wrapped.
      {{"inet", "hosts", "4294967296"}, bare_error("invalid mask specification: 4294967296\n")},
      {{"inet", "hosts", "99999999999"}, bare_error("invalid mask specification: 99999999999\n")},
      {{"inet6", "hosts", "-4294967296"}, bare_error("invalid mask specification: -4294967296\n")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.words[2]);
    EXPECT_EQ(invoke(r.words), r.expected);
  }
}

// The three values, checked against integer arithmetic and an independent log2.
TEST(Hosts, AgreeWithIntegerArithmetic) {
  std::vector<std::uint32_t> counts = {1, 2, 3, 4294967295u};
  for (unsigned k = 0; k < 32; ++k) {
    const std::uint32_t p = std::uint32_t{1} << k;
    counts.insert(counts.end(), {p - 1, p, p + 1});
  }
  std::mt19937_64 rng(5);
  for (int i = 0; i < 2000; ++i)
    counts.push_back(static_cast<std::uint32_t>(rng() >> (rng() % 32)));
  for (const char* family : {"inet", "inet6"}) {
    const int mx = std::string(family) == "inet" ? 32 : 128;
    for (const std::uint32_t sp : counts) {
      if (sp == 0) continue;
      SCOPED_TRACE(std::to_string(sp) + " " + family);
      const Outcome o = invoke({family, "hosts", std::to_string(sp)});
      ASSERT_EQ(o.status, 0);
      const int need = static_cast<int>(std::bit_width(sp - 1));  // ceil(log2 sp)
      char theoretical[64];
      ASSERT_EQ(std::sscanf(o.out.c_str(), "theoretical len: %63s", theoretical), 1);
      const std::string t = theoretical;
      ASSERT_EQ(t.size() - t.find('.'), 31u) << t;  // thirty decimals
      EXPECT_NEAR(std::stod(t), mx - std::log2(static_cast<double>(sp)), 1e-9);
      const std::string rest = o.out.substr(o.out.find('\n') + 1);
      EXPECT_EQ(rest, "working len:     " + std::to_string(mx - need) +
                          "\nhosts:           " + std::to_string(std::uint64_t{1} << need) + "\n");
    }
  }
}

TEST(ReverseZone, WorkedExamplesAndEdges) {
  const std::string zeros = "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.";
  EXPECT_EQ(invoke({"arpa6", "::ffff:1.2.3.4", "x"}),
            ok("4.0.3.0.2.0.1.0.f.f.f.f.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.ip6.arpa."
               "\tIN\tPTR\tx\n"));
  EXPECT_EQ(invoke({"int6", "::1", "localhost."}),
            ok("1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.ip6.int.\tIN\tPTR\t"
               "localhost.\n"));
  EXPECT_EQ(invoke({"arpa6", "::", "h"}), ok(zeros + "ip6.arpa.\tIN\tPTR\th\n"));
  EXPECT_EQ(invoke({"arpa6", "2001:db8::1", "x"}),
            ok("1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa."
               "\tIN\tPTR\tx\n"));
  EXPECT_EQ(invoke({"arpa6", "2001:DB8::1", "x"}), invoke({"arpa6", "2001:db8::1", "x"}));
  EXPECT_EQ(invoke({"arpa6", "bogus", "host"}), named_error("invalid address specification"));
  EXPECT_EQ(invoke({"int6", "10.0.0.1", "host"}), named_error("invalid address specification"));
}

TEST(ReverseZone, AgreesWithTheWrittenOutAddress) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 20000; ++i) {
    const Address a = random_v6(rng);
    std::string text = ntop(a);
    if (i % 2) std::transform(text.begin(), text.end(), text.begin(), ::toupper);
    std::string digits;  // the 32 hexadecimal digits, most significant first
    for (const auto b : a.bytes) {
      char buf[3];
      std::snprintf(buf, sizeof buf, "%02x", b);
      digits += buf;
    }
    std::string name;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) name += std::string(1, *it) + ".";
    const bool arpa = rng() % 2;
    ASSERT_EQ(invoke({arpa ? "arpa6" : "int6", text, "host.example."}),
              ok(name + (arpa ? "ip6.arpa." : "ip6.int.") + "\tIN\tPTR\thost.example.\n"))
        << text;
  }
}

std::string stf_lines(const char* network, const char* parent) {
  return std::string("6to4 network:        ") + network + "\nip version 4 parent: " + parent + "\n";
}

TEST(SixToFour, WorkedExamplesAndEdges) {
  struct Row {
    Words words;
    Outcome expected;
  };
  const std::string bad = "invalid address specification";
  const std::vector<Row> rows = {
      {{"stf", "inet", "192.0.2.1"}, ok(stf_lines("2002:c000:0201::/48", "192.0.2.1"))},
      {{"stf", "inet6", "2002:c000:0201::"}, ok(stf_lines("2002:c000:0201::/48", "192.0.2.1"))},
      {{"stf", "inet", "10.1"}, ok(stf_lines("2002:0a00:0001::/48", "10.0.0.1"))},
      {{"stf", "inet", "255.255.255.255"}, ok(stf_lines("2002:ffff:ffff::/48", "255.255.255.255"))},
      {{"stf", "inet", "1.2.3.4.5"}, named_error(bad)},
      // 6to4 text is read as IPv6 groups: short groups mean what they mean in IPv6.
      {{"stf", "inet6", "2002:c000:201::"}, ok(stf_lines("2002:c000:0201::/48", "192.0.2.1"))},
      {{"stf", "inet6", "2002:c0::"}, ok(stf_lines("2002:00c0:0000::/48", "0.192.0.0"))},
      {{"stf", "inet6", "2002:c000:02"}, ok(stf_lines("2002:c000:0002::/48", "192.0.0.2"))},
      {{"stf", "inet6", "2002:c000::"}, ok(stf_lines("2002:c000:0000::/48", "192.0.0.0"))},
      {{"stf", "inet6", "2002:c000"}, ok(stf_lines("2002:c000:0000::/48", "192.0.0.0"))},
      {{"stf", "inet6", "2002:c000:0201::1"}, ok(stf_lines("2002:c000:0201::/48", "192.0.2.1"))},
      {{"stf", "inet6", "2002:C000:0201::/48"}, ok(stf_lines("2002:c000:0201::/48", "192.0.2.1"))},
      {{"stf", "inet6", "2002:C0A8:0101::"}, ok(stf_lines("2002:c0a8:0101::/48", "192.168.1.1"))},
      {{"stf", "inet6", "2002:c000:0201:ffff:1:2:3:4"},
       ok(stf_lines("2002:c000:0201::/48", "192.0.2.1"))},
      {{"stf", "inet6", "2001:db8::1"}, named_error(bad)},
      {{"stf", "inet6", "2002:"}, named_error(bad)},
      {{"stf", "inet6", "2002::1"}, named_error(bad)},
      {{"stf", "inet6", " 2002:c000::"}, named_error(bad)},
      {{"stf", "inet6", "2002"}, named_error(bad)},
      {{"stf", "inet6", ""}, named_error(bad)},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.words[2]);
    EXPECT_EQ(invoke(r.words), r.expected);
  }
}

TEST(SixToFour, BothDirectionsAgreeWithIndependentFormatting) {
  std::mt19937_64 rng(13);
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t v = random_v4(rng);
    char network[32];
    std::snprintf(network, sizeof network, "2002:%04x:%04x::/48", v >> 16, v & 0xffff);
    const Outcome expected = ok(stf_lines(network, ntop(Address::v4(v)).c_str()));
    ASSERT_EQ(invoke({"stf", "inet", ntop(Address::v4(v))}), expected);

    // The same prefix written as a person might: any case, leading zeros or not, any tail.
    static const char* const tails[] = {"::", "::1", ":0:0:0:0:1", "", "::/48", ":1::/64"};
    const char* const formats[] = {"2002:%x:%x", "2002:%04X:%04x", "2002:%X:%04X"};
    char text[64];
    std::snprintf(text, sizeof text, formats[rng() % 3], v >> 16, v & 0xffff);
    ASSERT_EQ(invoke({"stf", "inet6", std::string(text) + tails[rng() % 6]}), expected) << text;
  }
}

}  // namespace
}  // namespace maskery::testing
