// The address readers and the text form against the platform's inet_aton, inet_pton and
// inet_ntop, over a million seeded random and mutated inputs each.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "lists/list_line.hpp"
#include "modes/merge.hpp"
#include "oracle.hpp"

namespace maskery::testing {
namespace {

constexpr int kCases = 1'000'000;

std::string random_ipv4_text(std::mt19937_64& rng) {
  static constexpr char alphabet[] = "0123456789012345678901234567890123456789....xXaAfFgG \t\n+-/";
  std::string s;
  if (rng() % 4 == 0) {  // any mix of the characters that matter
    const unsigned n = static_cast<unsigned>(rng() % 16);
    for (unsigned i = 0; i < n; ++i) s += alphabet[rng() % (sizeof alphabet - 1)];
    return s;
  }
  const unsigned parts = 1 + static_cast<unsigned>(rng() % 5);
  for (unsigned i = 0; i < parts; ++i) {
    if (i != 0) s += '.';
    std::uint64_t v = rng() % 3 == 0 ? rng() % 300 : rng() >> (rng() % 64);
    char buf[32];
    switch (rng() % 4) {
      case 0:
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
        break;
      case 1:
        std::snprintf(buf, sizeof buf, "0%llo", static_cast<unsigned long long>(v));
        break;
      default:
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
        break;
    }
    s += buf;
  }
  if (rng() % 8 == 0) s.insert(rng() % (s.size() + 1), 1, alphabet[rng() % (sizeof alphabet - 1)]);
  if (rng() % 8 == 0 && !s.empty()) s.erase(rng() % s.size(), 1);
  return s;
}

std::string random_ipv6_text(std::mt19937_64& rng) {
  static constexpr char alphabet[] = "0123456789abcdefABCDEF::::....xg 0";
  std::string s = ntop(random_v6(rng));
  if (rng() % 3 == 0) {  // written out longhand, mixed case, with leading zeros
    const Address a = random_v6(rng);
    s.clear();
    for (unsigned i = 0; i < 8; ++i) {
      char buf[8];
      const unsigned g = unsigned{a.bytes[2 * i]} << 8 | a.bytes[2 * i + 1];
      std::snprintf(buf, sizeof buf, rng() % 2 ? "%04X" : "%x", g);
      if (i != 0) s += ':';
      s += buf;
    }
  }
  const unsigned edits = static_cast<unsigned>(rng() % 4);
  for (unsigned e = 0; e < edits; ++e) {
    const std::size_t at = rng() % (s.size() + 1);
    switch (rng() % 3) {
      case 0:
        s.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]);
        break;
      case 1:
        if (at < s.size()) s.erase(at, 1);
        break;
      default:
        if (at < s.size()) s[at] = alphabet[rng() % (sizeof alphabet - 1)];
        break;
    }
  }
  return s;
}

TEST(TextOracle, Ipv4ReaderAgreesWithInetAton) {
  std::mt19937_64 rng(20261210);
  int accepted = 0;
  for (int i = 0; i < kCases; ++i) {
    const std::string text = random_ipv4_text(rng);
    in_addr expected{};
    const bool ok = inet_aton(text.c_str(), &expected) != 0;
    const auto got = parse_ipv4(text.c_str());
    ASSERT_EQ(got.has_value(), ok) << "\"" << text << "\"";
    if (ok) {
      ++accepted;
      ASSERT_EQ(*got, ntohl(expected.s_addr)) << "\"" << text << "\"";
    }
  }
  // Both outcomes must be well represented for the comparison to mean anything.
  EXPECT_GT(accepted, kCases / 10);
  EXPECT_LT(accepted, kCases * 9 / 10);
}

TEST(TextOracle, Ipv6ReaderAgreesWithInetPton) {
  std::mt19937_64 rng(1210);
  int accepted = 0;
  for (int i = 0; i < kCases; ++i) {
    const std::string text = random_ipv6_text(rng);
    unsigned char expected[16];
    const bool ok = inet_pton(AF_INET6, text.c_str(), expected) == 1;
    const auto got = parse_ipv6(text.c_str());
    ASSERT_EQ(got.has_value(), ok) << "\"" << text << "\"";
    if (ok) {
      ++accepted;
      ASSERT_EQ(std::memcmp(got->data(), expected, 16), 0) << "\"" << text << "\"";
    }
  }
  EXPECT_GT(accepted, kCases / 10);
  EXPECT_LT(accepted, kCases * 9 / 10);
}

// The list reader of merge, which reads the usual IPv6 forms in one pass of its own before
// it asks the address reader, on the words that are addresses or nothing.
TEST(TextOracle, ListItemsAgreeWithInetPton) {
  std::mt19937_64 rng(1211);
  int accepted = 0, words = 0;
  for (int i = 0; i < kCases; ++i) {
    std::string text = random_ipv6_text(rng);
    if (text.find(':') == std::string::npos ||
        text.find_first_of(std::string("#-/ \t\r\n\v\f\0", 10)) != std::string::npos) {
      continue;
    }
    ++words;
    unsigned char expected[16];
    const bool ok = inet_pton(AF_INET6, text.c_str(), expected) == 1;
    Item item;
    bool read = true;
    try {
      item = read_item(text.data(), text.size());
    } catch (const Failure&) {
      read = false;
    }
    ASSERT_EQ(read, ok) << "\"" << text << "\"";
    if (!ok) continue;
    ++accepted;
    ASSERT_EQ(item.kind, Item::Kind::inet6) << "\"" << text << "\"";
    u128 want = 0;
    for (const unsigned char b : expected) want = want << 8 | b;
    ASSERT_TRUE(item.r6.first == want && item.r6.last == want) << "\"" << text << "\"";
  }
  EXPECT_GT(accepted, words / 10);
  EXPECT_LT(accepted, words * 9 / 10);
}

// IPv4 items of lists are the strict form that inet_pton reads: four decimal numbers 0-255,
// no leading zeros. The classic forms that inet_aton also takes are refused.
TEST(TextOracle, ListIpv4ItemsAgreeWithInetPton) {
  std::mt19937_64 rng(1912);
  int accepted = 0, words = 0;
  for (int i = 0; i < kCases; ++i) {
    std::string text = random_ipv4_text(rng);
    if (rng() % 2 == 0) {  // a dotted quad, now and then with a number out of range or padded
      text.clear();
      for (int k = 0; k < 4; ++k) {
        if (k != 0) text += '.';
        if (rng() % 16 == 0) text += '0';
        text += std::to_string(rng() % 16 == 0 ? 256 + rng() % 100 : rng() % 256);
      }
    }
    if (text.empty() ||
        text.find_first_of(std::string("#;-/ \t\r\n\v\f\0", 11)) != std::string::npos) {
      continue;
    }
    ++words;
    in_addr expected{};
    const bool ok = inet_pton(AF_INET, text.c_str(), &expected) == 1;
    Item item;
    bool read = true;
    try {
      item = read_item(text.data(), text.size());
    } catch (const Failure&) {
      read = false;
    }
    ASSERT_EQ(read, ok) << "\"" << text << "\"";
    if (!ok) continue;
    ++accepted;
    ASSERT_EQ(item.kind, Item::Kind::inet) << "\"" << text << "\"";
    ASSERT_EQ(item.r4.first, ntohl(expected.s_addr)) << "\"" << text << "\"";
    ASSERT_EQ(item.r4.last, item.r4.first);
  }
  EXPECT_GT(accepted, words / 20);
  EXPECT_LT(accepted, words * 9 / 10);
}

TEST(TextOracle, TextFormAgreesWithInetNtop) {
  std::mt19937_64 rng(42);
  char buf[kMaxAddressText + 1];
  for (int i = 0; i < kCases; ++i) {
    const Address a6 = random_v6(rng);
    ASSERT_EQ(std::string(buf, format_address(buf, a6)), ntop(a6));
    const Address a4 = Address::v4(random_v4(rng));
    ASSERT_EQ(std::string(buf, format_address(buf, a4)), ntop(a4));
  }
}

// The writer that keeps the text before the last group, over runs of addresses that differ
// only there (zero or not), and jumps to new addresses of every shape in between.
TEST(TextOracle, RunsOfAddressesAgreeWithInetNtop) {
  std::mt19937_64 rng(77);
  Ipv6Text text;
  char buf[kMaxAddressText + 1];
  for (int i = 0; i < kCases / 8; ++i) {
    Address a = random_v6(rng);
    const unsigned run = 1 + static_cast<unsigned>(rng() % 8);
    for (unsigned j = 0; j < run; ++j) {
      if (j != 0) {
        const unsigned last =
            rng() % 4 == 0 ? 0u : static_cast<unsigned>(rng() >> (48 + rng() % 16));
        a.bytes[14] = static_cast<std::uint8_t>(last >> 8);
        a.bytes[15] = static_cast<std::uint8_t>(last);
      }
      std::uint64_t hi = 0, lo = 0;
      for (unsigned b = 0; b < 8; ++b) {
        hi = hi << 8 | a.bytes[b];
        lo = lo << 8 | a.bytes[8 + b];
      }
      ASSERT_EQ(std::string(buf, text.write(buf, hi, lo)), ntop(a));
    }
  }
}

}  // namespace
}  // namespace maskery::testing
