// split: subnets of a length, the free ones, and blocks for host counts, against plain integer
// arithmetic in the test and the platform's inet_ntop.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "oracle.hpp"
#include "test_support.hpp"

namespace maskery::testing {
namespace {

namespace fs = std::filesystem;

// An IPv6 address as a number, read by the platform.
u128 value6(const char* text) {
  in6_addr a{};
  EXPECT_EQ(::inet_pton(AF_INET6, text, &a), 1) << text;
  u128 v = 0;
  for (const unsigned char b : a.s6_addr) v = v << 8 | b;
  return v;
}

std::string write_list(const std::string& name, const std::string& text) {
  const fs::path p = fs::temp_directory_path() / (name + std::to_string(::getpid()));
  std::ofstream(p, std::ios::binary) << text;
  return p.string();
}

TEST(Split, Examples) {
  EXPECT_EQ(invoke({"split", "inet", "192.168.0.77/22", "/24"}),
            ok("192.168.0.0/24\n192.168.1.0/24\n192.168.2.0/24\n192.168.3.0/24\n"));
  EXPECT_EQ(invoke({"split", "inet6", "2001:db8::/32", "/34"}),
            ok("2001:db8::/34\n2001:db8:4000::/34\n2001:db8:8000::/34\n2001:db8:c000::/34\n"));
  const std::string used = write_list("split_used", "10.1.0.0/21\n10.1.8.0/21\n10.1.16.0/21\n");
  const std::string free = invoke({"split", "inet", "10.1.0.0/16", "/21", "--except", used}).out;
  EXPECT_EQ(free.substr(0, 28), "10.1.24.0/21\n10.1.32.0/21\n10");
  EXPECT_EQ(invoke({"split", "inet", "192.168.1.0/24", "hosts", "100", "50", "10"}),
            ok("192.168.1.0/25\t100\n192.168.1.128/26\t50\n192.168.1.192/28\t10\n"));
  EXPECT_EQ(invoke({"split", "inet", "192.168.1.0/24", "hosts", "200", "100", "50"}),
            named_error("hosts do not fit in 192.168.1.0/24: 448 addresses needed, 256 free"));
  EXPECT_EQ(invoke({"split", "inet", "192.168.0.0/22", "/20"}),
            named_error("/20 is shorter than the network 192.168.0.0/22"));
  EXPECT_EQ(invoke({"split", "inet", "192.168.0.0/22", "/33"}),
            named_error("invalid prefix length: 33"));
  EXPECT_EQ(invoke({"split", "inet", "192.168.0.0/22", "/x"}),
            named_error("invalid prefix length: x"));
  EXPECT_EQ(invoke({"split", "inet", "10.0.0.0/8"}),
            named_error("must specify /LEN or hosts COUNT..."));
  EXPECT_EQ(invoke({"split", "inet", "10.0.0.0/8", "hosts"}), named_error("must specify a count"));
  EXPECT_EQ(invoke({"split", "inet", "300.0.0.0/8", "/9"}),
            named_error("invalid address specification"));
  EXPECT_EQ(invoke({"split", "inet", "10.0.0.0/8", "hosts", "0"}),
            bare_error("invalid mask specification: 0\n"));
  EXPECT_EQ(invoke({"--json", "split", "inet", "10.0.0.0/30", "/31"}),
            ok("{\"family\":\"inet\",\"network\":\"10.0.0.0/30\",\"subnets\":[\"10.0.0.0/31\","
               "\"10.0.0.2/31\"]}\n"));
  EXPECT_EQ(
      invoke({"--json", "split", "inet6", "2001:db8::/48", "hosts", "256", "1"}),
      ok("{\"family\":\"inet6\",\"network\":\"2001:db8::/48\",\"subnets\":[{\"network\":"
         "\"2001:db8::/120\",\"hosts\":256},{\"network\":\"2001:db8::100/128\",\"hosts\":1}]}\n"));
  // A bad list is reported before anything is written.
  EXPECT_EQ(
      invoke({"split", "inet", "10.0.0.0/8", "/9", "--except", write_list("split_bad", "x\n")}),
      named_error(fs::temp_directory_path().string() + "/split_bad" + std::to_string(::getpid()) +
                  ":1: not an address, prefix or range: x"));
  // The whole IPv6 space does not fit a 128-bit count.
  EXPECT_EQ(invoke({"split", "inet6", "::/0", "hosts", "1", "1", "1"}),
            ok("::/128\t1\n::1/128\t1\n::2/128\t1\n"));
}

// Whole IPv6 splits of tens of thousands of subnets, written a run at a time: across the wrap
// of the group before the length's last (where the text of the groups before changes), into
// ::/64 and its dotted forms, with a zero group that moves the "::", and with used ranges
// that cut the runs.
TEST(Split, WholeIpv6SplitsAgreeWithInetNtop) {
  const struct {
    const char* network;
    unsigned netlen, len;
    std::vector<std::pair<const char*, const char*>> used;
  } rows[] = {
      {"2001:db8::", 40, 56, {}},
      {"2001:db8:ff::", 48, 64, {{"2001:db8:ff:5::", "2001:db8:ff:9::1"}}},
      {"::", 104, 120, {}},                             // in ::/64, dotted
      {"::ffff:0:0", 112, 120, {}},                     // mapped
      {"1:0:0:0:1::", 80, 96, {}},                      // a zero group after a nonzero one
      {"2001:db8:1234:5678:9abc::", 80, 96, {}},        // a text before the group past 16
      {"fe80::", 10, 26, {{"fe80::", "fe80:7fff::"}}},  // the top of the first run used
      {"ffff:ffff:ffff:ff00::", 56, 72, {{"ffff:ffff:ffff:ff80::", "ffff:ffff:ffff:ff80::"}}},
  };
  for (const auto& row : rows) {
    const u128 first = value6(row.network);
    const u128 step = u128{1} << (128 - row.len);
    const u128 count = u128{1} << (row.len - row.netlen);
    std::vector<std::string> words = {"split", "inet6",
                                      std::string(row.network) + "/" + std::to_string(row.netlen),
                                      "/" + std::to_string(row.len)};
    std::string list;
    for (const auto& [a, b] : row.used) list += std::string(a) + "-" + b + "\n";
    if (!list.empty()) words.insert(words.end(), {"--except", write_list("split_whole", list)});
    std::string want;
    for (u128 i = 0; i < count; ++i) {
      const u128 a = first + i * step;
      bool touched = false;
      for (const auto& [f, l] : row.used) {
        touched = touched || (value6(f) <= a + step - 1 && value6(l) >= a);
      }
      if (!touched) want += ntop(from_value(a)) + "/" + std::to_string(row.len) + "\n";
    }
    EXPECT_EQ(invoke(words).out, want) << row.network << "/" << row.netlen << " /" << row.len;
  }
}

// A random network and length, random lists in use: the free blocks are exactly the aligned
// blocks of the length that no item touches; host blocks are placed greedily, largest first.
TEST(Split, AgreesWithIntegerArithmetic) {
  std::mt19937_64 rng(21);
  for (int round = 0; round < 300; ++round) {
    const bool v6 = round % 2 == 1;
    const unsigned width = v6 ? 128 : 32;
    const unsigned netlen = static_cast<unsigned>(rng() % (width + 1));
    const unsigned len = std::min(width, netlen + static_cast<unsigned>(rng() % 9));
    // The network at the bottom, at the top, or anywhere.
    u128 base = v6 ? (u128{rng()} << 64 | rng()) : (rng() & 0xffffffff);
    if (round % 7 == 0) base = 0;
    if (round % 7 == 1) base = v6 ? ~u128{0} : 0xffffffff;
    const u128 host = low_ones<u128>(width - netlen);
    const u128 first = base & ~host, last = first | host;
    const auto text = [&](u128 a) {
      return v6 ? ntop(from_value(a)) : ntop(Address::v4(static_cast<std::uint32_t>(a)));
    };
    const std::string network = text(first) + "/" + std::to_string(netlen);
    // Items in use, near the network.
    std::vector<std::pair<u128, u128>> used;
    std::string list;
    const u128 span = host < 4096 ? host : u128{4096};
    for (unsigned k = static_cast<unsigned>(rng() % 4); k > 0; --k) {
      u128 a = first + (span == 0 ? 0 : rng() % (span + 1));
      u128 b = a + rng() % (1 + span / 4);
      if (b < a || b > (v6 ? ~u128{0} : u128{0xffffffff})) b = a;
      used.emplace_back(a, b);
      list += text(a) + "-" + text(b) + "\n";
    }
    const std::string listfile = write_list("split_list", list);
    std::vector<std::string> words = {"split", v6 ? "inet6" : "inet", network,
                                      "/" + std::to_string(len)};
    if (!used.empty()) words.insert(words.end(), {"--except", listfile});
    const u128 step = low_ones<u128>(width - len);
    std::string want;
    unsigned lines = 0;
    for (u128 a = first;; a += step + 1) {
      bool touched = false;
      for (const auto& [f, l] : used) touched = touched || (f <= a + step && l >= a);
      if (!touched) want += text(a) + "/" + std::to_string(len) + "\n";
      if (a + step >= last || ++lines == 300) break;
    }
    SCOPED_TRACE(network + " /" + std::to_string(len) + " " + list);
    const std::string got = invoke(words).out;
    ASSERT_EQ(got.substr(0, want.size()), want);  // the first 300 blocks at most

    // Host counts: blocks of 2^k, largest first, each at the lowest aligned free address.
    if (width - netlen > 12) continue;
    std::vector<unsigned> sizes;  // host bits of each count
    std::vector<std::string> countw = {"split", v6 ? "inet6" : "inet", network, "hosts"};
    for (unsigned k = 1 + static_cast<unsigned>(rng() % 3); k > 0; --k) {
      const unsigned count = 1 + static_cast<unsigned>(rng() % 40);
      unsigned bits = 0;
      while ((1u << bits) < count) ++bits;
      sizes.push_back(bits);
      countw.push_back(std::to_string(count));
    }
    if (!used.empty()) countw.insert(countw.end(), {"--except", listfile});
    std::vector<std::size_t> order(sizes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](auto x, auto y) { return sizes[x] > sizes[y]; });
    std::vector<std::pair<u128, u128>> taken = used;
    std::vector<u128> at(sizes.size());
    bool fits = true;
    for (const auto i : order) {
      bool found = false;
      const u128 size = u128{1} << sizes[i];
      for (u128 a = first; sizes[i] <= width - netlen && a + size - 1 <= last; a += size) {
        bool free = true;
        for (const auto& [f, l] : taken) free = free && (l < a || f > a + size - 1);
        if (free) {
          at[i] = a;
          taken.emplace_back(a, a + size - 1);
          found = true;
          break;
        }
        if (a + size - 1 == last) break;
      }
      fits = fits && found;
      if (!fits) break;
    }
    const Outcome got_hosts = invoke(countw);
    if (!fits) {
      ASSERT_EQ(got_hosts.status, 1);
      ASSERT_EQ(got_hosts.out, "");
      ASSERT_EQ(got_hosts.err.rfind("maskery: hosts do not fit in " + network + ": ", 0), 0u);
      continue;
    }
    std::string want_hosts;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      want_hosts +=
          text(at[i]) + "/" + std::to_string(width - sizes[i]) + "\t" + countw[4 + i] + "\n";
    }
    ASSERT_EQ(got_hosts, ok(want_hosts));
  }
}

}  // namespace
}  // namespace maskery::testing
