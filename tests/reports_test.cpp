// Network reports for random addresses and lengths against plain integer arithmetic and
// the platform's inet_ntop.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "oracle.hpp"
#include "test_support.hpp"
#include "wide.hpp"

namespace maskery::testing {
namespace {

std::string decimal(u128 v) {
  std::string s;
  do {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return s;
}

TEST(ReportOracle, Ipv4) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t addr = random_v4(rng);
    const unsigned len = static_cast<unsigned>(rng() % 33);
    const bool print = len >= 22 && rng() % 2;
    const std::uint32_t mask = len == 0 ? 0 : ~std::uint32_t{0} << (32 - len);
    const std::uint32_t first = addr & mask;
    const std::uint32_t last = first | ~mask;
    const std::string p = print ? "; " : "";
    char b16[64];
    std::snprintf(b16, sizeof b16, "range b16:   0x%x > 0x%x\n", first, last);
    std::string expected =
        p + "range:       " + ntop(Address::v4(first)) + " > " + ntop(Address::v4(last)) + "\n" +
        p + "range b10:   " + std::to_string(first) + " > " + std::to_string(last) + "\n" + p +
        b16 + p + "hosts:       " + std::to_string(std::uint64_t{1} << (32 - len)) + "\n" + p +
        "prefixlen:   " + std::to_string(len) + "\n" + p +
        "netmask:     " + ntop(Address::v4(mask)) + "\n" + p +
        "mask:        " + ntop(Address::v4(~mask)) + "\n";
    if (print) {
      for (std::uint64_t v = first; v <= last; ++v) {
        expected += ntop(Address::v4(static_cast<std::uint32_t>(v))) + "\n";
      }
    }
    std::vector<std::string> words = {"inet", ntop(Address::v4(addr)) + "/" + std::to_string(len)};
    if (print) words.push_back("print");
    ASSERT_EQ(invoke(words), ok(expected)) << words[1];
  }
}

TEST(ReportOracle, Ipv6) {
  std::mt19937_64 rng(4);
  for (int i = 0; i < 20000; ++i) {
    const Address a = random_v6(rng);
    const unsigned len = static_cast<unsigned>(rng() % 129);
    const bool print = len >= 112 && rng() % 2;
    const u128 mask = mask128(len);
    const u128 first = to_u128(a) & mask;
    const u128 last = first | ~mask;
    const std::string p = print ? "; " : "";
    const std::string hosts =
        len == 0 ? "340282366920938463463374607431768211456" : decimal(u128{1} << (128 - len));
    std::string expected = p + "range:       " + ntop(from_u128(first)) + " > " +
                           ntop(from_u128(last)) + "\n" + p + "hosts:       " + hosts + "\n" + p +
                           "prefixlen:   " + std::to_string(len) + "\n" + p +
                           "mask:        " + ntop(from_u128(mask)) + "\n";
    if (print) {
      for (u128 v = first;; ++v) {
        expected += ntop(from_u128(v)) + "\n";
        if (v == last) break;
      }
    }
    std::vector<std::string> words = {"inet6", ntop(a), "prefixlen", std::to_string(len)};
    if (print) words.push_back("print");
    ASSERT_EQ(invoke(words), ok(expected)) << words[1] << "/" << len;
  }
}

}  // namespace
}  // namespace maskery::testing
