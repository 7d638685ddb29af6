// merge: the addresses of the output are exactly those of the input less the exceptions, as
// the unique fewest prefixes, checked against a bit per address of a small universe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "lists/list_line.hpp"
#include "lists/lookup.hpp"
#include "modes/merge.hpp"
#include "oracle.hpp"
#include "test_support.hpp"
#include "wide.hpp"

namespace maskery::testing {
namespace {

namespace fs = std::filesystem;

class MergeTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::string& text) {
    return tmp_.file(name, text);
  }
  TempDir tmp_{"merge"};
  const fs::path& dir_ = tmp_.path();
};

// The universes: 10.0.0.0/20 and 2001:db8::/116, 4096 addresses each.
constexpr unsigned kBits = 12;
constexpr std::uint32_t kBase4 = 0x0a000000;
const u128 kBase6 = u128{0x20010db8} << 96;
using Universe = std::bitset<1u << kBits>;

std::string v4_text(std::uint32_t v) {
  return ntop(Address::v4(v));
}
std::string v6_text(u128 v) {
  return ntop(from_u128(v));
}

// The fewest prefixes of the set bits, by the plain rule: from each run's start, the largest
// aligned block that stays inside the run.
std::vector<std::pair<std::uint64_t, unsigned>> fewest_blocks(const Universe& u) {
  std::vector<std::pair<std::uint64_t, unsigned>> out;  // offset, size bits
  std::uint64_t i = 0;
  while (i < u.size()) {
    if (!u[i]) {
      ++i;
      continue;
    }
    std::uint64_t end = i;
    while (end < u.size() && u[end]) ++end;
    while (i < end) {
      unsigned k = 0;
      while (k < kBits && i % (std::uint64_t{2} << k) == 0 && i + (std::uint64_t{2} << k) <= end)
        ++k;
      out.emplace_back(i, k);
      i += std::uint64_t{1} << k;
    }
  }
  return out;
}

// A random item of the universe as a line, and its addresses set in u.
std::string random_item(std::mt19937_64& rng, bool v6, Universe& u) {
  const std::uint64_t size = u.size();
  std::uint64_t first, last;
  std::string line;
  const auto text = [&](std::uint64_t off) {
    return v6 ? v6_text(kBase6 + off) : v4_text(kBase4 + static_cast<std::uint32_t>(off));
  };
  switch (rng() % 3) {
    case 0:
      first = last = rng() % size;
      line = text(first);
      break;
    case 1: {
      const unsigned host = static_cast<unsigned>(rng() % (kBits + 1));
      const std::uint64_t at = rng() % size;  // host bits are ignored
      first = at >> host << host;
      last = first + (std::uint64_t{1} << host) - 1;
      line = text(at) + "/" + std::to_string((v6 ? 128 : 32) - host);
      break;
    }
    default:
      first = rng() % size;
      last = std::min(size - 1, first + rng() % 300);
      line = text(first) + (rng() % 2 ? "-" : " - ") + text(last);
  }
  for (std::uint64_t i = first; i <= last; ++i) u[i] = true;
  // White space, comments and blank lines around the item.
  if (rng() % 4 == 0) line = "  " + line + "\t";
  if (rng() % 5 == 0) line += " # note";
  if (rng() % 10 == 0) line = "\n# comment\n" + line;
  return line + "\n";
}

TEST_F(MergeTest, EqualsTheFewestPrefixesOfTheSetLessTheExceptions) {
  std::mt19937_64 rng(20261210);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    Universe in4, in6, ex4, ex6;
    std::string input, except;
    const int items = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < items; ++i) {
      const bool v6 = rng() % 2 == 0;
      input += random_item(rng, v6, v6 ? in6 : in4);
    }
    const bool with_except = round % 2 == 1;
    if (with_except) {
      for (int i = 0; i < 1 + static_cast<int>(rng() % 10); ++i) {
        const bool v6 = rng() % 2 == 0;
        except += random_item(rng, v6, v6 ? ex6 : ex4);
      }
    }
    const Universe want4 = in4 & ~ex4, want6 = in6 & ~ex6;

    std::string prefixes, ranges;
    for (const auto& [off, k] : fewest_blocks(want4)) {
      prefixes +=
          v4_text(kBase4 + static_cast<std::uint32_t>(off)) + "/" + std::to_string(32 - k) + "\n";
    }
    for (const auto& [off, k] : fewest_blocks(want6)) {
      prefixes += v6_text(kBase6 + off) + "/" + std::to_string(128 - k) + "\n";
    }
    const auto runs = [&](const Universe& u, auto&& text) {
      for (std::size_t i = 0; i < u.size(); ++i) {
        if (!u[i] || (i > 0 && u[i - 1])) continue;
        std::size_t e = i;
        while (e + 1 < u.size() && u[e + 1]) ++e;
        ranges += text(i) + "-" + text(e) + "\n";
      }
    };
    runs(want4, [](std::size_t i) { return v4_text(kBase4 + static_cast<std::uint32_t>(i)); });
    runs(want6, [](std::size_t i) { return v6_text(kBase6 + i); });

    const std::string in = file("in", input);
    std::vector<std::string> words = {"merge"};
    if (with_except) words.insert(words.end(), {"--except", file("ex", except)});
    words.push_back(in);
    const Outcome got = invoke(words);
    ASSERT_EQ(got, ok(prefixes)) << input << "--- except\n" << except;
    words.insert(words.begin() + 1, "--ranges");
    EXPECT_EQ(invoke(words), ok(ranges));
    // Merging the output again changes nothing.
    EXPECT_EQ(invoke({"merge", file("again", prefixes)}), ok(prefixes));
  }
}

TEST_F(MergeTest, EdgesOfTheAddressSpace) {
  struct Row {
    std::string input, output;
  };
  const std::vector<Row> rows = {
      {"0.0.0.0/1\n128.0.0.0/1\n", "0.0.0.0/0\n"},
      {"::/1\n8000::/1\n", "::/0\n"},
      {"::/0\n::1\n", "::/0\n"},
      {"255.255.255.255\n255.255.255.254\n", "255.255.255.254/31\n"},
      {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe-ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n",
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/127\n"},
      {"0.0.0.0-255.255.255.255\n", "0.0.0.0/0\n"},
      {"0.0.0.1-255.255.255.255\n",
       "0.0.0.1/32\n0.0.0.2/31\n0.0.0.4/30\n0.0.0.8/29\n0.0.0.16/28\n0.0.0.32/27\n0.0.0.64/26\n"
       "0.0.0.128/25\n0.0.1.0/24\n0.0.2.0/23\n0.0.4.0/22\n0.0.8.0/21\n0.0.16.0/20\n0.0.32.0/19\n"
       "0.0.64.0/18\n0.0.128.0/17\n0.1.0.0/16\n0.2.0.0/15\n0.4.0.0/14\n0.8.0.0/13\n0.16.0.0/12\n"
       "0.32.0.0/11\n0.64.0.0/10\n0.128.0.0/9\n1.0.0.0/8\n2.0.0.0/7\n4.0.0.0/6\n8.0.0.0/5\n"
       "16.0.0.0/4\n32.0.0.0/3\n64.0.0.0/2\n128.0.0.0/1\n"},
      // At the end of a /64, across into the next, and the whole of one.
      {"2001:db8::ffff:ffff:ffff:fffd-2001:db8::ffff:ffff:ffff:ffff\n",
       "2001:db8::ffff:ffff:ffff:fffd/128\n2001:db8::ffff:ffff:ffff:fffe/127\n"},
      {"2001:db8::ffff:ffff:ffff:fffe-2001:db8:0:1::1\n",
       "2001:db8::ffff:ffff:ffff:fffe/127\n2001:db8:0:1::/127\n"},
      {"2001:db8::-2001:db8::ffff:ffff:ffff:ffff\n", "2001:db8::/64\n"},
      // A range too wide to be held as one item, alone and overlapping another such.
      {"2001:db8::1-2001:db8::1:0\n",
       "2001:db8::1/128\n2001:db8::2/127\n2001:db8::4/126\n2001:db8::8/125\n2001:db8::10/124\n"
       "2001:db8::20/123\n2001:db8::40/122\n2001:db8::80/121\n2001:db8::100/120\n"
       "2001:db8::200/119\n2001:db8::400/118\n2001:db8::800/117\n2001:db8::1000/116\n"
       "2001:db8::2000/115\n2001:db8::4000/114\n2001:db8::8000/113\n2001:db8::1:0/128\n"},
      {"2001:db8::8000-2001:db8::1:0\n2001:db8::1-2001:db8::8000\n::1\n",
       "::1/128\n2001:db8::1/128\n2001:db8::2/127\n2001:db8::4/126\n2001:db8::8/125\n"
       "2001:db8::10/124\n2001:db8::20/123\n2001:db8::40/122\n2001:db8::80/121\n"
       "2001:db8::100/120\n2001:db8::200/119\n2001:db8::400/118\n2001:db8::800/117\n"
       "2001:db8::1000/116\n2001:db8::2000/115\n2001:db8::4000/114\n2001:db8::8000/113\n"
       "2001:db8::1:0/128\n"},
      // Two /128s that are not a pair stay apart; nothing is read as the other family.
      {"2001:db8::1/128\n2001:db8::2/128\n", "2001:db8::1/128\n2001:db8::2/128\n"},
      {"2000::/16\n10.0.0.0/8\n", "10.0.0.0/8\n2000::/16\n"},
      // Host bits below the length.
      {"192.168.1.77/24\n10.0.0.1\n", "10.0.0.1/32\n192.168.1.0/24\n"},
      {"# only a comment\n\n   \n", ""},
      {"", ""},
      {"1.2.3.4", "1.2.3.4/32\n"},  // no newline at the end
      {"1.2.3.4\r\n", "1.2.3.4/32\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input);
    EXPECT_EQ(invoke({"merge", file("in", row.input)}), ok(row.output));
  }
  // A wide range as the exception.
  EXPECT_EQ(invoke({"merge", "--except", file("x", "2001:db8::1-2001:db8::ff00\n"),
                    file("in", "2001:db8::/112\n")}),
            ok("2001:db8::/128\n2001:db8::ff01/128\n2001:db8::ff02/127\n2001:db8::ff04/126\n"
               "2001:db8::ff08/125\n2001:db8::ff10/124\n2001:db8::ff20/123\n"
               "2001:db8::ff40/122\n2001:db8::ff80/121\n"));
  // Several files in turn; the JSON form.
  EXPECT_EQ(invoke({"merge", file("a", "10.0.0.0/25\n"), file("b", "10.0.0.128/25\n::1\n")}),
            ok("10.0.0.0/24\n::1/128\n"));
  EXPECT_EQ(invoke({"--json", "merge", file("a", "10.0.0.0/25\n::1\n")}),
            ok("{\"prefixes\":[\"10.0.0.0/25\",\"::1/128\"]}\n"));
  EXPECT_EQ(invoke({"--json", "merge", "--ranges", file("a", "10.0.0.0/25\n")}),
            ok("{\"ranges\":[{\"first\":\"10.0.0.0\",\"last\":\"10.0.0.127\"}]}\n"));
  EXPECT_EQ(invoke({"--json", "merge", file("a", "")}), ok("{\"prefixes\":[]}\n"));
}

TEST_F(MergeTest, BadLinesNameTheFileTheLineAndTheText) {
  struct Row {
    std::string input, message;
  };
  const std::string long_text(100, 'x');
  const std::vector<Row> rows = {
      {"10.0.0.1\nfoo\n", ":2: not an address, prefix or range: foo"},
      {"10.0.0.1 10.0.0.2\n", ":1: not an address, prefix or range: 10.0.0.1 10.0.0.2"},
      {"1.2.3.4/33\n", ":1: invalid prefix length: 1.2.3.4/33"},
      {"::/129\n", ":1: invalid prefix length: ::/129"},
      {"1.2.3.4/\n", ":1: invalid prefix length: 1.2.3.4/"},
      {"1.2.3.4/+8\n", ":1: invalid prefix length: 1.2.3.4/+8"},
      {"1.2.3.4-::1\n", ":1: a range of two families: 1.2.3.4-::1"},
      {"1.2.3.5-1.2.3.4\n", ":1: a range that ends before it starts: 1.2.3.5-1.2.3.4"},
      {"1.2.3.4-\n", ":1: not an address, prefix or range: 1.2.3.4-"},
      {"300.1.1.1\n", ":1: not an address, prefix or range: 300.1.1.1"},
      {"\x1b[31m\n", ":1: not an address, prefix or range: \\x1b[31m"},
      {"\x9b"
       "31m \xc2\x9b"
       "31m\n",
       ":1: not an address, prefix or range: \\x9b31m \\xc2\\x9b31m"},
      {"1.2.3.4\n\xef\xbb\xbf"
       "1.2.3.5\n",
       ":2: not an address, prefix or range: \\xef\\xbb\\xbf1.2.3.5"},
      {long_text + "\n", ":1: not an address, prefix or range: " + std::string(80, 'x') + "..."},
      {std::string(5000, '1') + "\n", ":1: line too long: " + std::string(80, '1') + "..."},
      // Its classic reading is 0.
      {std::string(64, '0') + "\n",
       ":1: ambiguous IPv4 address (leading zero): " + std::string(64, '0')},
      {"1::2 - 1::1\n", ":1: a range that ends before it starts: 1::2 - 1::1"},
      {"1::/64 - 1::1\n", ":1: not an address, prefix or range: 1::/64 - 1::1"},
      // The classic IPv4 forms are refused in lists, with the reason: they were misread.
      {"010.000.000.001\n", ":1: ambiguous IPv4 address (leading zero): 010.000.000.001"},
      {"192.168.001.010\n", ":1: ambiguous IPv4 address (leading zero): 192.168.001.010"},
      {"08.1.1.1\n", ":1: ambiguous IPv4 address (leading zero): 08.1.1.1"},
      {"1.2.3.4-1.2.3.05\n", ":1: ambiguous IPv4 address (leading zero): 1.2.3.4-1.2.3.05"},
      {"0x0a000002\n", ":1: ambiguous IPv4 address (hexadecimal): 0x0a000002"},
      {"10.0.0.0x1\n", ":1: ambiguous IPv4 address (hexadecimal): 10.0.0.0x1"},
      {"10.0.0.0x\n", ":1: not an address, prefix or range: 10.0.0.0x"},
      {"10.1\n", ":1: ambiguous IPv4 address (short form): 10.1"},
      {"192.168/16\n", ":1: ambiguous IPv4 address (short form): 192.168/16"},
      {"10.0.0.256\n", ":1: not an address, prefix or range: 10.0.0.256"},
      {"1.2.3.4.5\n", ":1: not an address, prefix or range: 1.2.3.4.5"},
      // A NUL byte is part of the word, not its end.
      {std::string("1.2.3.4\0/8\n", 11), ":1: not an address, prefix or range: 1.2.3.4\\x00/8"},
      {std::string("10\0.1.2.3\n", 10), ":1: not an address, prefix or range: 10\\x00.1.2.3"},
      {std::string("::1\0:ffff\n", 10), ":1: not an address, prefix or range: ::1\\x00:ffff"},
      {std::string("1.2.3.4\0junk\n", 13), ":1: not an address, prefix or range: 1.2.3.4\\x00junk"},
      {std::string("1\0.\0\x32\0.\0\x33\0.\0\x34\0\n\0", 17),
       ":1: not an address, prefix or range: 1\\x00.\\x002\\x00.\\x003\\x00.\\x004\\x00"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input.substr(0, 40));
    const std::string in = file("in", row.input);
    EXPECT_EQ(invoke({"merge", in}), named_error(in + row.message));
  }
  // Comments as block lists write them, and a byte-order mark at the start of a file.
  EXPECT_EQ(invoke({"merge", file("in",
                                  "\xef\xbb\xbf"
                                  "1.10.16.0/20 ; SBL256894\n; note\n1.2.3.4;x\n")}),
            ok("1.2.3.4/32\n1.10.16.0/20\n"));
  // A long comment is no error; a missing file is.
  EXPECT_EQ(invoke({"merge", file("in", "1.2.3.4 #" + std::string(10000, 'c') + "\n")}),
            ok("1.2.3.4/32\n"));
  const std::string missing = (dir_ / "missing").string();
  EXPECT_EQ(invoke({"merge", missing}), named_error(missing + ": No such file or directory"));
  EXPECT_EQ(invoke({"merge", "--except"}), named_error("option --except needs a file"));
  EXPECT_EQ(invoke({"merge", "--bogus"}), named_error("invalid option: --bogus"));
}

// --skip-bad: every bad line is named (the first 100, then a count), and the rest is merged.
TEST_F(MergeTest, SkipBadNamesEveryBadLineAndGoesOn) {
  std::string text = "10.0.0.1\nfoo\n10.0.0.0\n";
  for (int i = 0; i < 120; ++i) text += "bad" + std::to_string(i) + "\n";
  text += "010.1.1.1\n192.168.0.0/16\n";
  const std::string in = file("in", text);
  const std::string ex = file("ex", "10.0.0.1\nnope\n");
  const Outcome got = invoke({"merge", "--skip-bad", "--except", ex, in});
  std::string err = "maskery: " + ex + ":2: not an address, prefix or range: nope\n" +
                    "maskery: " + in + ":2: not an address, prefix or range: foo\n";
  for (int i = 0; i < 98; ++i) {
    err += "maskery: " + in + ":" + std::to_string(4 + i) +
           ": not an address, prefix or range: bad" + std::to_string(i) + "\n";
  }
  err += "maskery: 23 more bad lines skipped\n";  // bad98 to bad119, and 010.1.1.1
  EXPECT_EQ(got, (Outcome{"10.0.0.0/32\n192.168.0.0/16\n", err, 0}));
  // Without it, the first bad line is the error.
  EXPECT_EQ(invoke({"merge", in}), named_error(in + ":2: not an address, prefix or range: foo"));
}

// A large file is read by two threads, a half each: the result and the line numbers of its
// messages are those of reading it whole (its parts, each too small to be read in halves).
TEST_F(MergeTest, LargeFilesReadInTwoHalves) {
  std::mt19937_64 rng(7);
  std::string parts[6], all;
  for (int i = 0; i < 600000; ++i) {
    const std::uint32_t v = static_cast<std::uint32_t>(rng());
    std::string line = rng() % 2 ? v4_text(v) : v4_text(v) + "/" + std::to_string(16 + rng() % 17);
    parts[i / 100000] += line + "\n";
  }
  std::vector<std::string> words{"merge"};
  for (int k = 0; k < 6; ++k) {
    ASSERT_LT(parts[k].size(), std::size_t{2} << 20);
    words.push_back(file("part" + std::to_string(k), parts[k]));
    all += parts[k];
  }
  ASSERT_GT(all.size(), std::size_t{8} << 20);
  const Outcome whole = invoke({"merge", file("whole", all)});
  ASSERT_EQ(whole.status, 0);
  EXPECT_EQ(invoke(words), whole);
  const std::string bad = file("bad", all + "bogus\n");
  EXPECT_EQ(invoke({"merge", bad}),
            named_error(bad + ":600001: not an address, prefix or range: bogus"));
}

template <class R>
using Num = decltype(R::first);

// Ranges as "first-last" texts, which a failed comparison shows readably.
template <class V>
std::vector<std::string> texts(const V& v) {
  std::vector<std::string> text;
  for (const auto& r : v)
    text.push_back(ntop(from_value(r.first)) + "-" + ntop(from_value(r.last)));
  return text;
}

// The union of v by std::sort and a plain fold.
template <class R>
std::vector<R> plain_fold(std::vector<R> v) {
  std::sort(v.begin(), v.end(), [](const R& a, const R& b) { return a.first < b.first; });
  std::vector<R> out;
  for (const R& r : v) {
    if (!out.empty() && (r.first <= out.back().last || r.first - out.back().last == 1)) {
      out.back().last = std::max(out.back().last, r.last);
    } else {
      out.push_back(r);
    }
  }
  return out;
}
template <class R>
std::vector<std::string> plain_union(std::vector<R> v) {
  return texts(plain_fold(std::move(v)));
}

// The set's own sort, and its result cut into pieces across several runs and joined again in
// order, against the plain union: clustered items, so that there are duplicates, nested
// items, buckets deep enough to be spread again, and ranges that reach across many pieces.
template <class R>
void check_pieces(std::mt19937_64& rng, unsigned width) {
  using N = Num<R>;
  const auto random_number = [&] { return static_cast<N>((u128{rng()} << 64) | rng()); };
  for (int round = 0; round < 3; ++round) {
    std::vector<R> items;
    for (int cluster = 0; cluster < 4; ++cluster) {
      const unsigned spread = 4 + static_cast<unsigned>(rng() % (width - 8));
      const N base = random_number();
      for (int i = 0; i < 5000; ++i) {
        const N first = base + (random_number() >> (width - spread));
        const N length = rng() % 8 == 0 ? random_number() >> (width - spread + 2) : 0;
        const N last = first + length < first ? ~N{0} : first + length;
        items.push_back({first, last});
        if (rng() % 10 == 0) items.push_back({first, first});  // a duplicate first
      }
    }
    const std::vector<std::string> want = plain_union(items);
    // Three sets taken together; and many, as when many files are read. Held in one array,
    // and in buckets drained by one thread or two.
    for (const std::size_t runs : {std::size_t{3}, std::size_t{197}}) {
      for (const std::size_t piece :
           {std::size_t{1}, std::size_t{7}, std::size_t{1000}, RangeSet<R>::kPiece}) {
        for (const auto& [flat, serial] : {std::pair{RangeSet<R>::kFlat, RangeSet<R>::kSerial},
                                           std::pair{std::size_t{0}, RangeSet<R>::kSerial},
                                           std::pair{std::size_t{0}, std::size_t{0}}}) {
          std::vector<RangeSet<R>> sets;
          for (std::size_t i = 0; i < runs; ++i) sets.emplace_back(flat);
          for (const R& r : items) sets[rng() % runs].add(r);
          for (std::size_t i = 1; i < runs; ++i) sets[0].absorb(std::move(sets[i]));
          EXPECT_EQ(texts(sets[0].take(piece, serial)), want)
              << runs << " sets, piece " << piece << ", round " << round << ", flat " << flat
              << ", serial " << serial;
        }
      }
    }
  }
}

TEST(RangeSet, SortsAndJoinsPiecesAsOneFold) {
  std::mt19937_64 rng(11);
  check_pieces<Range4>(rng, 32);
  check_pieces<Range6>(rng, 128);
}

// Two unions joined are the union of all their items: ranges that overlap, touch (the next
// starts one past the other's end) or nest across the two, and ranges at the top of the space.
template <class R>
void check_unite(std::mt19937_64& rng) {
  using N = Num<R>;
  for (int round = 0; round < 200; ++round) {
    // Near 0 or near the top, in a small stretch, so that the two sides meet often.
    const N base = round % 2 == 0 ? N{0} : static_cast<N>(~N{0} - 600);
    std::vector<R> a, b;
    for (int i = static_cast<int>(rng() % 30); i > 0; --i) {
      const N first = base + static_cast<N>(rng() % 600);
      const N length = std::min<N>(static_cast<N>(rng() % 20), static_cast<N>(~N{0} - first));
      (rng() % 2 == 0 ? a : b).push_back({first, static_cast<N>(first + length)});
    }
    std::vector<R> all = a;
    all.insert(all.end(), b.begin(), b.end());
    const std::vector<R> sa = plain_fold(std::move(a)), sb = plain_fold(std::move(b));
    const auto got = unite(std::span<const R>(sa), std::span<const R>(sb));
    EXPECT_EQ(texts(got), texts(plain_fold(std::move(all)))) << "round " << round;
  }
}

TEST(RangeSet, UniteJoinsTwoUnions) {
  std::mt19937_64 rng(12);
  check_unite<Range4>(rng);
  check_unite<Range6>(rng);
}

// A set of millions of items takes its later slabs in large pages, where the kernel gives
// them: the union is the same.
template <class R>
void check_large(std::mt19937_64& rng, std::size_t n) {
  using N = Num<R>;
  std::vector<R> items(n);
  for (R& r : items) {
    const auto first = static_cast<N>((u128{rng()} << 64) | rng());
    const auto length = static_cast<N>(rng() % 4 == 0 ? rng() % 5000 : 0);
    r = {first, first + length < first ? ~N{0} : static_cast<N>(first + length)};
  }
  RangeSet<R> set;
  for (const R& r : items) set.add(r);
  const auto got = set.take();
  const std::vector<R> want = plain_fold(std::move(items));
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_TRUE(got[i].first == want[i].first && got[i].last == want[i].last) << i;
  }
}

TEST(RangeSet, LargeSetsInLargeSlabs) {
  std::mt19937_64 rng(29);
  check_large<Range4>(rng, 1500000);  // 12 MB held
  check_large<Range6>(rng, 800000);   // 13 MB held
}

// A sorted list gives back the room of each bucket it leaves; items that come after it in
// any order go to those buckets again, into blocks that follow the cut ones.
template <class R>
void check_sorted_then_any(std::mt19937_64& rng, unsigned width) {
  using N = Num<R>;
  const auto random_number = [&] { return static_cast<N>((u128{rng()} << 64) | rng()); };
  for (const std::size_t sorted : {std::size_t{300}, std::size_t{20000}}) {
    std::vector<R> items;
    for (std::size_t i = 0; i < sorted; ++i) {
      const N first = random_number();
      const N length = static_cast<N>(rng() % 3);
      items.push_back({first, first < ~N{0} - 3 ? static_cast<N>(first + length) : first});
    }
    std::sort(items.begin(), items.end(), [](const R& a, const R& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < sorted / 4; ++i) {  // then any order: back into cut buckets
      const R& near = items[rng() % sorted];
      const N step = static_cast<N>(rng() % 64);
      const N first = static_cast<N>(near.first + step) < near.first
                          ? near.first
                          : static_cast<N>(near.first + step);
      items.push_back({first, first});
    }
    for (const std::size_t flat : {RangeSet<R>::kFlat, std::size_t{0}}) {
      RangeSet<R> set(flat);
      for (const R& r : items) set.add(r);
      EXPECT_EQ(texts(set.take()), plain_union(items))
          << width << " bits, " << sorted << " sorted, flat " << flat;
    }
  }
}

TEST(RangeSet, SortedItemsThenAnyOrder) {
  std::mt19937_64 rng(23);
  check_sorted_then_any<Range4>(rng, 32);
  check_sorted_then_any<Range6>(rng, 128);
}

TEST(RangeSet, HoldsIpv6ItemsInTheirPackedFormExactly) {
  using P = Packing<Range6>;
  const u128 top = ~u128{0};
  const u128 spans = P::kSpans - 1;  // the widest distance held as such
  const struct {
    Range6 r;
    bool fits;
  } rows[] = {
      {{0, 0}, true},
      {{0, top}, true},                                    // ::/0
      {{u128{1} << 127, top}, true},                       // 8000::/1
      {{top, top}, true},                                  // the last address
      {{5, 5 + spans}, true},                              // the widest distance held as such
      {{0, spans + 1}, false},                             // one more, and no prefix
      {{top - spans, top}, true},                          // the same at the top
      {{u128{1} << 64, (u128{2} << 64) - 1}, true},        // a /64
      {{u128{1} << 64, (u128{3} << 64) - 1}, false},       // two /64s, no prefix
      {{(u128{1} << 64) + 1, (u128{2} << 64) - 1}, false}  // wide and not aligned
  };
  for (const auto& row : rows) {
    EXPECT_EQ(P::fits(row.r), row.fits) << ntop(from_value(row.r.first));
    if (!row.fits) continue;
    const Range6 back = P::unpack(P::pack(row.r), P::bucket(row.r.first));
    EXPECT_TRUE(back.first == row.r.first && back.last == row.r.last)
        << ntop(from_value(row.r.first)) << "-" << ntop(from_value(row.r.last));
  }
  // Every prefix length, at a random address.
  std::mt19937_64 rng(5);
  for (unsigned len = 0; len <= 128; ++len) {
    const u128 host = len == 0 ? top : (u128{1} << (128 - len)) - 1;
    const u128 first = ((u128{rng()} << 64) | rng()) & ~host;
    const Range6 r{first, first | host};
    ASSERT_TRUE(P::fits(r)) << len;
    const Range6 back = P::unpack(P::pack(r), P::bucket(r.first));
    EXPECT_TRUE(back.first == r.first && back.last == r.last) << len;
  }
}

// Many items that start at one of two addresses, taken in turn so that none is folded as it
// comes, more than a piece holds: each address's items are one range, however far the
// furthest reaches (wide ranges that are no prefix included).
template <class R>
void check_two_starts(std::mt19937_64& rng, Num<R> a, Num<R> b, unsigned min_shift) {
  constexpr unsigned width = sizeof(Num<R>) * 8;
  std::vector<R> items;
  RangeSet<R> set(0);
  for (int i = 0; i < 4000; ++i) {
    const Num<R> first = i % 2 == 0 ? a : b;
    const auto span = static_cast<Num<R>>(((u128{rng()} << 64) | rng()) >>
                                          (128 - width + min_shift + rng() % (width - min_shift)));
    const Num<R> last = first + span < first ? ~Num<R>{0} : first + span;
    items.push_back({first, last});
    set.add(items.back());
  }
  // Each address's furthest item comes last, in the last blocks.
  for (const Num<R> first : {a, b}) {
    Num<R> furthest = first;
    for (const R& r : items) {
      if (r.first == first) furthest = std::max(furthest, r.last);
    }
    if (furthest != ~Num<R>{0}) {
      items.push_back({first, furthest + 1});
      set.add(items.back());
    }
  }
  EXPECT_EQ(texts(set.take(1, 0)), plain_union(items));
}

TEST(RangeSet, ManyItemsFromTwoAddresses) {
  std::mt19937_64 rng(9);
  const u128 net = u128{0x20010db8} << 96;
  // Ranges that are held as they are, and wide ones, kept apart.
  check_two_starts<Range6>(rng, net | 0x100, net | (u128{1} << 90), 66);
  check_two_starts<Range6>(rng, net | 0x100, net | (u128{1} << 90), 20);
  check_two_starts<Range4>(rng, 0x0a000000, 0x0a100000, 12);
}

// Many copies of two ranges near the end of a bucket (the top 12 bits), apart and taken in
// turn so that none is folded as it comes: more than a bucket may hold, so that each range's
// copies are made one range and held as its prefixes; one range reaches into the next
// bucket, and some of its prefixes belong there.
TEST(RangeSet, OneRangeReachingIntoTheNextBucket) {
  const u128 next = u128{0x301} << 116;
  for (const int copies : {1000, 5000}) {  // split by one core, and by both
    std::vector<Range6> items = {{next - 3000, next - 3000}, {next + 1500, next + 1600}};
    for (int i = 0; i < copies; ++i) {
      items.push_back(i % 2 == 0 ? Range6{next - 1000, next + 1000}
                                 : Range6{next - 1900, next - 1500});
    }
    RangeSet<Range6> set(0);
    for (const Range6& r : items) set.add(r);
    EXPECT_EQ(texts(set.take(1, 0)), plain_union(items)) << copies;
  }
}

// More wide ranges than are made into text at once: alone, and in three buckets with an item
// each, so that with pieces of one item three pieces have hundreds each, made on two threads.
TEST(RangeSet, ManyWideRangesTakenInSlices) {
  for (const std::size_t piece : {std::size_t{1}, RangeSet<Range6>::kPiece}) {
    for (const bool with_items : {false, true}) {
      std::vector<Range6> items;
      for (unsigned bucket = 0x200; bucket < 0x203; ++bucket) {
        const u128 base = u128{bucket} << 116;
        for (int i = 0; i < 400; ++i) {
          const u128 first = base + (u128(i) << 20) + 1;
          items.push_back({first, first + (u128{1} << 19)});
        }
        const u128 between = base + (u128{3} << 19);  // after the first of them
        if (with_items) items.push_back({between, between});
      }
      for (const std::size_t flat : {RangeSet<Range6>::kFlat, std::size_t{0}}) {
        RangeSet<Range6> set(flat);
        for (const Range6& r : items) set.add(r);
        EXPECT_EQ(texts(set.take(piece, 0)), plain_union(items))
            << piece << " " << with_items << " " << flat;
      }
    }
  }
}

}  // namespace
}  // namespace maskery::testing
