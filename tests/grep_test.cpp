// grep, contains and merge --common: what counts as an address in a line, the statuses, and
// a seeded randomised comparison with plain interval tests on both families.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
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

class GrepTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::string& text) {
    return tmp_.file(name, text);
  }
  TempDir tmp_{"grep"};
  const fs::path& dir_ = tmp_.path();
};

// Each line, and the addresses in it as they stand (everything inside 0.0.0.0/0 and ::/0).
TEST_F(GrepTest, WhatCountsAsAnAddress) {
  const struct {
    std::string line;
    std::vector<std::string> found;
  } rows[] = {
      {"host-10.0.0.9.example.com", {}},
      {"1.2.3.4.5", {}},
      {"a1.2.3.4", {}},
      {"10.0.0.256", {}},
      {"12:34:56", {}},
      {"00:1a:2b:3c:4d:5e", {}},
      {"1.2.3.4x", {}},
      {"2001:db8::1g", {}},
      {"v2001:db8::1", {}},
      {"file 2001:db8::1.txt", {}},
      {"10.0.0.1:8080", {"10.0.0.1"}},
      {"(10.0.0.1)", {"10.0.0.1"}},
      {"1.2.3.4,", {"1.2.3.4"}},
      {"closed by 10.0.0.1.", {"10.0.0.1"}},
      {"client=[2001:db8::1]:443", {"2001:db8::1"}},
      {"fe80::1%eth0", {"fe80::1"}},
      {"2001:db8::/32 and 10.0.0.0/8", {"2001:db8::", "10.0.0.0"}},
      {"range 10.0.0.1-10.0.0.9", {"10.0.0.1", "10.0.0.9"}},
      {"padded 010.001.002.003", {"010.001.002.003"}},
      {"from ::ffff:10.0.0.7 to 2001:DB8::A.", {"::ffff:10.0.0.7", "2001:DB8::A"}},
      {"tcp:10.0.0.8 udp:1.1.1.1:53", {"10.0.0.8", "1.1.1.1"}},
      {"1.2.3.4\t5.6.7.8", {"1.2.3.4", "5.6.7.8"}},
      {"::", {"::"}},
      {"at 12:00:01.5 ok", {}},
  };
  std::string text;
  std::string want;
  for (const auto& row : rows) {
    text += row.line + "\n";
    for (const auto& a : row.found)
      want += a + "\t" + (a.find(':') == std::string::npos ? "0.0.0.0/0" : "::/0") + "\n";
  }
  // A mapped address is inside an IPv4 item.
  const std::string in = file("log", text);
  std::string got = invoke({"grep", "--which", "0.0.0.0/0,::/0", in}).out;
  // ::ffff:10.0.0.7 is inside both; 0.0.0.0/0 has fewer addresses.
  std::string expect = want;
  const std::string mapped = "::ffff:10.0.0.7\t::/0\n";
  expect.replace(expect.find(mapped), mapped.size(), "::ffff:10.0.0.7\t0.0.0.0/0\n");
  EXPECT_EQ(got, expect);
}

TEST_F(GrepTest, StatusesAndForms) {
  const std::string log = file("log", "a 10.1.2.3 b\nno address\nc 192.168.1.1\n\nd 2001:db8::5\n");
  const std::string log2 = file("log2", "e 10.9.9.9\n");
  EXPECT_EQ(invoke({"grep", "10.0.0.0/8", log}), ok("a 10.1.2.3 b\n"));
  EXPECT_EQ(invoke({"grep", "10.0.0.0/8", log, log2}),
            ok(log + ":a 10.1.2.3 b\n" + log2 + ":e 10.9.9.9\n"));
  EXPECT_EQ(invoke({"grep", "--invert", "10.0.0.0/8", log}), ok("c 192.168.1.1\nd 2001:db8::5\n"));
  EXPECT_EQ(invoke({"grep", "--count", "10.0.0.0/8,2001:db8::5-2001:db8::9", log}), ok("2\n"));
  EXPECT_EQ(invoke({"grep", "-c", "10.0.0.0/8", log, log2}), ok(log + ":1\n" + log2 + ":1\n"));
  EXPECT_EQ(invoke({"grep", "--quiet", "10.0.0.0/8", log}), ok(""));
  EXPECT_EQ(invoke({"grep", "--quiet", "11.0.0.0/8", log}), (Outcome{"", "", 1}));
  EXPECT_EQ(invoke({"grep", "11.0.0.0/8", log}), (Outcome{"", "", 1}));
  EXPECT_EQ(invoke({"grep", "--which", "10.0.0.0/8,10.1.0.0/16,10.1.2.0-10.1.2.255", log}),
            ok("10.1.2.3\t10.1.2.0-10.1.2.255\n"));
  EXPECT_EQ(invoke({"grep", "--which", "10.1.2.3/8,10.1.2.3/8", log}),
            ok("10.1.2.3\t10.0.0.0/8\n"));
  // An IPv6 range item: every address of it, not only its first.
  EXPECT_EQ(invoke({"grep", "2001:db8::5-2001:db8::9", file("r", "x 2001:db8::7\n")}),
            ok("x 2001:db8::7\n"));
  const std::string list = file("list", "# blocked\n10.1.0.0/16 ; note\n");
  EXPECT_EQ(invoke({"grep", "--in", list, log}), ok("a 10.1.2.3 b\n"));
  EXPECT_EQ(invoke({"--json", "grep", "10.0.0.0/8", log}),
            ok("{\"file\":\"" + log +
               "\",\"line\":1,\"text\":\"a 10.1.2.3 b\",\"matches\":[{\"address\":\"10.1.2.3\","
               "\"item\":\"10.0.0.0/8\"}]}\n"));
  EXPECT_EQ(invoke({"grep", "10.0.0.0/8", file("s", "x 10.0.0.1")}), ok("x 10.0.0.1\n"));
  // Standard input, and any bytes in a line, passed through as they are.
  const std::string odd = std::string("\xff\x00 10.0.0.1 \r", 14);
  EXPECT_EQ(invoke({"grep", "10.0.0.0/8", file("odd", odd + "\n")}), ok(odd + "\n"));

  // Errors: status 2, and nothing on standard output.
  const Outcome bad = invoke({"grep", "10.0.0.0/33", log});
  EXPECT_EQ(bad, (Outcome{"", "maskery: invalid prefix length: 10.0.0.0/33\n", 2}));
  EXPECT_EQ(invoke({"grep", "10.0.0.0/8,bogus", log}).status, 2);
  EXPECT_EQ(invoke({"grep", "--in", file("bad", "10.0.0.0/8\nbogus\n"), log}),
            (Outcome{"",
                     "maskery: " + (dir_ / "bad").string() +
                         ":2: not an address, prefix or range: bogus\n",
                     2}));
  EXPECT_EQ(
      invoke({"grep", "10.0.0.0/8", (dir_ / "missing").string()}),
      (Outcome{"", "maskery: " + (dir_ / "missing").string() + ": No such file or directory\n",
               2}));
  EXPECT_EQ(invoke({"grep"}), (Outcome{"", "maskery: must specify networks (or --in LIST)\n", 2}));
  EXPECT_EQ(invoke({"grep", "--bogus", "1.1.1.1"}),
            (Outcome{"", "maskery: invalid option: --bogus\n", 2}));
  const std::string longline = file("long", "10.0.0.1\n" + std::string((1u << 20) + 1, 'x') + "\n");
  EXPECT_EQ(invoke({"grep", "10.0.0.0/8", longline}),
            (Outcome{"10.0.0.1\n", "maskery: " + longline + ":2: line too long\n", 2}));
}

TEST(Contains, Statuses) {
  EXPECT_EQ(invoke({"contains", "10.0.0.0/8", "10.1.2.3"}), ok(""));
  EXPECT_EQ(invoke({"contains", "10.0.0.0/8", "10.0.0.0/7"}), (Outcome{"", "", 1}));
  EXPECT_EQ(invoke({"contains", "10.0.0.0/9,10.128.0.0/9", "10.0.0.0/8", "10.1.0.0-10.200.0.0"}),
            ok(""));
  EXPECT_EQ(invoke({"contains", "2001:db8::/32", "2001:db8::1-2001:db8:1::", "10.0.0.1"}),
            (Outcome{"", "", 1}));
  EXPECT_EQ(invoke({"--json", "contains", "10.0.0.0/8", "10.1.1.1", "11.0.0.1", "::1"}),
            (Outcome{"{\"contains\":false,\"outside\":[\"11.0.0.1\",\"::1\"]}\n", "", 1}));
  EXPECT_EQ(invoke({"--json", "contains", "::/0", "::1"}),
            ok("{\"contains\":true,\"outside\":[]}\n"));
  EXPECT_EQ(invoke({"contains", "10.0.0.0/8", "10.0.0.1/x"}).status, 2);
  EXPECT_EQ(invoke({"contains", "10.0.0.0/8"}),
            (Outcome{"", "maskery: must specify an address, prefix or range\n", 2}));
}

// Random items and lines in small universes (10.0.0.0/24 and 2001:db8::/120), the expected
// answers by plain interval tests over the items.
struct Rng {
  std::mt19937_64 g;
  unsigned below(unsigned n) { return static_cast<unsigned>(g() % n); }
};

struct TestItem {
  bool v6;
  unsigned first, last;  // offsets in the universe
  bool range;
  std::string text;
};

std::string address_text(bool v6, unsigned off) {
  return v6 ? ntop(from_value((u128{0x20010db8} << 96) | off)) : "10.0.0." + std::to_string(off);
}

TestItem random_item(Rng& r) {
  TestItem it{};
  it.v6 = r.below(2) == 0;
  switch (r.below(3)) {
    case 0:
      it.first = it.last = r.below(256);
      it.text = address_text(it.v6, it.first);
      break;
    case 1: {
      const unsigned host = r.below(9);
      const unsigned len = (it.v6 ? 128 : 32) - host;
      it.first = r.below(256) >> host << host;
      it.last = it.first + (1u << host) - 1;
      it.text = address_text(it.v6, it.first + r.below(1u << host)) + "/" + std::to_string(len);
      break;
    }
    default:
      it.first = r.below(256);
      it.last = std::min(255u, it.first + r.below(40));
      it.range = true;
      it.text = address_text(it.v6, it.first) + "-" + address_text(it.v6, it.last);
      break;
  }
  return it;
}

std::string item_out(const TestItem& it) {
  if (it.range) return address_text(it.v6, it.first) + "-" + address_text(it.v6, it.last);
  unsigned host = 0;
  while ((1u << host) < it.last - it.first + 1) ++host;
  return address_text(it.v6, it.first) + "/" + std::to_string((it.v6 ? 128 : 32) - host);
}

TEST_F(GrepTest, AgreesWithPlainIntervalTests) {
  Rng r{std::mt19937_64(2020)};
  std::size_t matched = 0, inverted = 0;
  for (int round = 0; round < 60; ++round) {
    std::vector<TestItem> items(1 + r.below(8));
    for (auto& it : items) it = random_item(r);
    std::string networks;
    for (const auto& it : items) networks += (networks.empty() ? "" : ",") + it.text;
    std::string text, want_lines, want_invert, want_which;
    int selected = 0;
    for (int l = 0; l < 80; ++l) {
      std::string line = r.below(4) == 0 ? "GET /" : "";
      bool any = false, in = false;
      std::string which;
      const unsigned n = r.below(4);
      for (unsigned k = 0; k < n; ++k) {
        const bool v6 = r.below(2) == 0;
        const unsigned off = r.below(256);
        std::string a = address_text(v6, off);
        const bool real = r.below(6) != 0;
        if (real) {
          static const char* const before[] = {" ", " (", " [", " client=", "\t", " tcp:"};
          static const char* const after_v4[] = {" ", ")", ":8080", ".", ",", "/24"};
          static const char* const after_v6[] = {" ", ")", "]:443", ".", "%eth0", "/64"};
          std::string b = before[r.below(6)];
          std::string c = v6 ? after_v6[r.below(6)] : after_v4[r.below(6)];
          if (b == " [" && !v6) b = " ";
          if (b == " tcp:" && v6) b = " ";
          if (c == "]:443" && b != " [") c = " ";
          if (b == " [" && c != "]:443") c = "]:443";
          line += b + a + c + " ";
          any = true;
          // The most specific item that holds it: fewest addresses, the first on a tie.
          int best = -1;
          for (int i = 0; i < static_cast<int>(items.size()); ++i) {
            const auto& it = items[static_cast<std::size_t>(i)];
            if (it.v6 != v6 || off < it.first || off > it.last) continue;
            if (best < 0 || it.last - it.first < items[static_cast<std::size_t>(best)].last -
                                                     items[static_cast<std::size_t>(best)].first) {
              best = i;
            }
          }
          if (best >= 0) {
            in = true;
            which += a + "\t" + item_out(items[static_cast<std::size_t>(best)]) + "\n";
          }
        } else {
          static const char* const spoil[] = {"x", ".5", "_", "g"};
          line += " " + a + spoil[r.below(4)] + " ";
        }
      }
      text += line + "\n";
      if (in) {
        want_lines += line + "\n";
        ++selected;
      }
      if (any && !in) want_invert += line + "\n";
      want_which += which;
    }
    SCOPED_TRACE(networks);
    const std::string log = file("log", text);
    const Outcome got = invoke({"grep", networks, log});
    ASSERT_EQ(got, (Outcome{want_lines, "", selected > 0 ? 0 : 1}));
    ASSERT_EQ(invoke({"grep", "--invert", networks, log}).out, want_invert);
    ASSERT_EQ(invoke({"grep", "--count", networks, log}).out, std::to_string(selected) + "\n");
    ASSERT_EQ(invoke({"grep", "--which", networks, log}).out, want_which);
    // The same items from a list file.
    std::string list;
    for (const auto& it : items) list += it.text + "\n";
    ASSERT_EQ(invoke({"grep", "--which", "--in", file("items", list), log}).out, want_which);
    matched += want_which.size();
    inverted += want_invert.size();
  }
  // Both answers are well represented, so the comparison means something.
  EXPECT_GT(matched, 5000u);
  EXPECT_GT(inverted, 5000u);
}

// A list of networks large enough to be read in two halves (each sorted on its own thread,
// the two unions then joined) gives the union that a look at every item gives, and to --which
// the items numbered in the order of the file: items of both families in one /16 and one
// /112, so that the halves overlap, nest and touch; and a bad line in its second half is named
// by its line in the file.
TEST_F(GrepTest, LargeListsReadInHalvesAsSmallOnes) {
  Rng r{std::mt19937_64(314)};
  std::vector<bool> in4(65536), in6(65536);
  // For --which: the item that holds each address, the smallest and then the first given, as
  // its size less one and its text.
  std::vector<std::pair<unsigned, std::string>> best4(65536, {65536, ""}), best6 = best4;
  std::string list;
  const auto address = [](bool v6, unsigned off) {
    return v6 ? ntop(from_value((u128{0x20010db8} << 96) | off))
              : "10.9." + std::to_string(off >> 8) + "." + std::to_string(off & 255);
  };
  while (list.size() < (std::size_t{600} << 10)) {
    const bool v6 = r.below(4) == 0;
    const unsigned first = r.below(65536);
    // Ranges of a few widths, so that items of one size overlap and the first given wins.
    const unsigned last = std::min(65535u, first + (r.below(16) == 0 ? 8 * (1 + r.below(4)) : 0));
    const std::string item = address(v6, first) + (last > first ? "-" + address(v6, last) : "");
    const std::string named = last > first ? item : item + (v6 ? "/128" : "/32");
    for (unsigned a = first; a <= last; ++a) {
      (v6 ? in6 : in4)[a] = true;
      auto& best = (v6 ? best6 : best4)[a];
      if (last - first < best.first) best = {last - first, named};
    }
    list += item + "\n";
  }
  std::string text, want, want_which;
  int selected = 0;
  for (int l = 0; l < 20000; ++l) {
    const bool v6 = r.below(4) == 0;
    const unsigned a = r.below(65536);
    const std::string line = "from " + address(v6, a) + " x";
    text += line + "\n";
    if ((v6 ? in6 : in4)[a]) {
      want += line + "\n";
      want_which += address(v6, a) + "\t" + (v6 ? best6 : best4)[a].second + "\n";
      ++selected;
    }
  }
  const std::string lines = file("lines", text);
  const std::string big = file("big-list", list);
  EXPECT_EQ(invoke({"grep", "--in", big, lines}), ok(want));
  EXPECT_EQ(invoke({"grep", "--which", "--in", big, lines}), ok(want_which));
  ASSERT_GT(selected, 2000);
  ASSERT_LT(selected, 18000);

  const std::size_t at = list.find('\n', list.size() * 3 / 4) + 1;
  const auto line = static_cast<std::size_t>(std::count(
                        list.begin(), list.begin() + static_cast<std::ptrdiff_t>(at), '\n')) +
                    1;
  const std::string bad = file("bad-list", list.substr(0, at) + "10.9.0.0/33\n" + list.substr(at));
  const Outcome refused{
      "", "maskery: " + bad + ":" + std::to_string(line) + ": invalid prefix length: 10.9.0.0/33\n",
      2};
  EXPECT_EQ(invoke({"grep", "--in", bad, lines}), refused);
  EXPECT_EQ(invoke({"grep", "--which", "--in", bad, lines}), refused);
}

// A file large enough to be searched in pieces on both threads reads as a small one: the
// lines in order, numbered across the pieces, the forms, and a line too long past the first
// pieces, with every selected line before it written and none after.
TEST_F(GrepTest, LargeFilesReadInPiecesAsSmallOnes) {
  Rng r{std::mt19937_64(99)};
  std::string text, want, want_invert, want_which;
  unsigned long selected = 0, lines = 0;
  while (text.size() < (std::size_t{5} << 20)) {
    const unsigned k = r.below(256);
    std::string line, which;
    switch (r.below(5)) {
      case 0:
        line = "in 10.0." + std::to_string(k) + ".1 x";
        which = "10.0." + std::to_string(k) + ".1\t10.0.0.0/16\n";
        break;
      case 1:
        line = "[2001:db8::" + std::to_string(k) + "]:80 and ::ffff:10.1.0." + std::to_string(k);
        which = "2001:db8::" + std::to_string(k) + "\t2001:db8::/32\n";
        break;
      case 2:
        line = "out 10.2.0." + std::to_string(k);
        break;
      case 3:
        line = std::string(r.below(3000), 'z');
        break;
      default:
        line = "";
    }
    text += line + "\n";
    ++lines;
    if (!which.empty()) {
      want += line + "\n";
      want_which += which;
      ++selected;
    } else if (line.find('.') != std::string::npos) {
      want_invert += line + "\n";
    }
  }
  const std::string networks = "10.0.0.0/16,2001:db8::/32";
  const std::string big = file("big", text);
  EXPECT_EQ(invoke({"grep", networks, big}), ok(want));
  EXPECT_EQ(invoke({"grep", "--invert", networks, big}), ok(want_invert));
  EXPECT_EQ(invoke({"grep", "--which", networks, big}), ok(want_which));
  EXPECT_EQ(invoke({"grep", "--which", "-c", networks, big}), ok(std::to_string(selected) + "\n"));
  EXPECT_EQ(invoke({"grep", "-c", networks, big, big}),
            ok(big + ":" + std::to_string(selected) + "\n" + big + ":" + std::to_string(selected) +
               "\n"));
  EXPECT_EQ(invoke({"grep", "11.0.0.0/8", big}), (Outcome{"", "", 1}));

  // A line too long, two thirds of the way in.
  std::size_t cut = text.size() * 2 / 3;
  cut = text.find('\n', cut) + 1;
  const std::size_t before = static_cast<std::size_t>(
      std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(cut), '\n'));
  std::string head;
  for (std::size_t at = 0, n = 0; n < before; ++n) {
    const std::size_t nl = text.find('\n', at);
    const std::string line = text.substr(at, nl - at);
    if (line.find("in 10.0.") == 0 || line.find("[2001:db8::") == 0) head += line + "\n";
    at = nl + 1;
  }
  const std::string longer = file(
      "longer", text.substr(0, cut) + std::string((1u << 20) + 1, '1') + "\n" + text.substr(cut));
  EXPECT_EQ(
      invoke({"grep", networks, longer}),
      (Outcome{head, "maskery: " + longer + ":" + std::to_string(before + 1) + ": line too long\n",
               2}));
  EXPECT_GT(selected, 1000u);
  EXPECT_GT(lines, 5000u);
}

TEST_F(GrepTest, MergeCommonIsTheIntersection) {
  Rng r{std::mt19937_64(77)};
  for (int round = 0; round < 100; ++round) {
    const unsigned files = 1 + r.below(3);
    std::vector<std::string> words = {"merge", "--ranges", "--common"};
    std::bitset<256> all4, all6;
    all4.set();
    all6.set();
    for (unsigned f = 0; f < files; ++f) {
      std::bitset<256> b4, b6;
      std::string text;
      for (unsigned k = r.below(6); k > 0; --k) {
        const TestItem it = random_item(r);
        text += it.text + "\n";
        for (unsigned a = it.first; a <= it.last; ++a) (it.v6 ? b6 : b4).set(a);
      }
      all4 &= b4;
      all6 &= b6;
      words.push_back(file("f" + std::to_string(f), text));
    }
    std::string want;
    for (const bool v6 : {false, true}) {
      const auto& bits = v6 ? all6 : all4;
      for (unsigned a = 0; a < 256;) {
        if (!bits[a]) {
          ++a;
          continue;
        }
        unsigned b = a;
        while (b + 1 < 256 && bits[b + 1]) ++b;
        want += address_text(v6, a) + "-" + address_text(v6, b) + "\n";
        a = b + 1;
      }
    }
    ASSERT_EQ(invoke(words), ok(want));
  }
}

}  // namespace
}  // namespace maskery::testing
