// The parts of the list engine on their own: the two readers of a list line agree, the fast
// prefixes of a range are the plain ones, the ordered pipeline emits every piece once, in
// order, whatever the threads do, and a file read in pieces is read as one reader reads it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "lists/line_pieces.hpp"
#include "lists/list_line.hpp"
#include "lists/lookup.hpp"
#include "lists/ordered_pipeline.hpp"
#include "lists/ranges.hpp"
#include "lists/threads.hpp"
#include "oracle.hpp"
#include "test_support.hpp"

namespace maskery::testing {
namespace {

// Lines made of the pieces that matter to the grammar, in random order and number.
std::string random_line(std::mt19937_64& rng) {
  static const char* const pieces[] = {
      "10",  "0",       "255",         "256", "1",  ".",   ":",    "::",   "ffff",
      "db8", "2001",    "/",           "/24", "/0", "/32", "/64",  "/128", "/129",
      "-",   " - ",     " ",           "\t",  "#",  "x",   "00",   "1.2",  "0x1",
      "::1", "1.2.3.4", "2001:db8::1", "\r",  "a",  "g",   "12345"};
  std::string s;
  const int n = static_cast<int>(rng() % 9);
  for (int i = 0; i < n; ++i) s += pieces[rng() % std::size(pieces)];
  return s;
}

bool same(const Item& a, const Item& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == Item::Kind::inet) return a.r4.first == b.r4.first && a.r4.last == b.r4.last;
  if (a.kind == Item::Kind::inet6) return a.r6.first == b.r6.first && a.r6.last == b.r6.last;
  return true;
}

TEST(ListLine, QuickReaderAgreesWithTheGeneralOne) {
  std::mt19937_64 rng(18);
  int accepted = 0;
  for (int i = 0; i < 300000; ++i) {
    std::string line = random_line(rng);
    Item quick;
    const char* stop = quick_item(line.data(), line.data() + line.size(), false, quick);
    if (stop == nullptr) continue;
    ++accepted;
    line.push_back('\0');  // the writable byte after a line
    Item general;
    ASSERT_NO_THROW(general = parse_item(line.data(), line.size() - 1, "")) << line;
    ASSERT_TRUE(same(quick, general)) << line;
  }
  EXPECT_GT(accepted, 1000);  // the generator does reach the fast path
}

// The reader of quads that may read ahead agrees with the one that tests for the end, on
// texts of digits and dots with what may follow them.
TEST(ListLine, QuadReaderAgreesWithTheBoundedOne) {
  std::mt19937_64 rng(22);
  static constexpr char alphabet[] = "0123456789012345678901234567890123456789.....-/ \nx:";
  for (int i = 0; i < 300000; ++i) {
    std::string text;
    const unsigned n = static_cast<unsigned>(rng() % 20);
    for (unsigned k = 0; k < n; ++k) text += alphabet[rng() % (sizeof alphabet - 1)];
    const std::size_t size = text.size();
    text.append(kQuadReach, rng() % 2 == 0 ? '\n' : '7');
    for (const bool padded : {false, true}) {
      std::uint32_t a = 0, b = 0;
      const char* bounded = scan_ipv4_decimal(text.data(), text.data() + size, a, padded);
      const char* quad = padded ? scan_ipv4_padded(text.data(), b) : scan_ipv4_quad(text.data(), b);
      // Within the text, the two agree; past its end only the quad reader looks.
      if (bounded != nullptr && bounded < text.data() + size) {
        ASSERT_EQ(quad, bounded) << text << (padded ? " padded" : "");
        ASSERT_EQ(a, b) << text;
      } else if (quad != nullptr && quad < text.data() + size) {
        FAIL() << "only the quad reader accepts " << text << (padded ? " padded" : "");
      }
    }
  }
}

TEST(ListLine, QuickReaderStopsAtTheNewline) {
  const std::string text = "10.1.2.0/24\n2001:db8::-2001:db8::ff\nrest";
  const char* e = text.data() + text.size();
  Item item;
  const char* nl = quick_item(text.data(), e, true, item);
  ASSERT_NE(nl, nullptr);
  EXPECT_EQ(nl - text.data(), 11);
  EXPECT_EQ(item.kind, Item::Kind::inet);
  EXPECT_EQ(item.r4.first, 0x0a010200u);
  EXPECT_EQ(item.r4.last, 0x0a0102ffu);
  nl = quick_item(nl + 1, e, true, item);
  ASSERT_NE(nl, nullptr);
  EXPECT_EQ(item.kind, Item::Kind::inet6);
  EXPECT_EQ(item.r6.last - item.r6.first, u128{0xff});
  EXPECT_EQ(quick_item(nl + 1, e, true, item), nullptr);  // no newline after it
}

template <class R>
std::vector<std::pair<Num<R>, unsigned>> fast(const R& r) {
  std::vector<std::pair<Num<R>, unsigned>> v;
  prefixes_of(r, [&](Num<R> a, unsigned len) { v.emplace_back(a, len); });
  return v;
}
template <class R>
std::vector<std::pair<Num<R>, unsigned>> plain(const R& r) {
  std::vector<std::pair<Num<R>, unsigned>> v;
  prefixes_of_plain(r, [&](Num<R> a, unsigned len) { v.emplace_back(a, len); });
  return v;
}

TEST(RangeArithmetic, PrefixesWithinA64AreThePlainOnes) {
  std::mt19937_64 rng(64);
  const u128 top = ~u128{0};
  std::vector<Range6> rows = {{0, 0}, {0, top}, {top, top}, {1, top - 1}, {0, ~std::uint64_t{0}}};
  for (int i = 0; i < 20000; ++i) {
    const u128 hi = i % 3 == 0 ? u128{rng()} << 64 : i % 3 == 1 ? 0 : ~u128{0} << 64;
    const u128 a = hi | rng() >> (rng() % 64);
    const u128 span = i % 5 == 0 ? u128{rng()} << 32 | rng() : rng() >> (rng() % 64);
    const u128 b = a + span < a ? top : a + span;
    rows.push_back({a, b});
  }
  for (const Range6& r : rows) {
    const auto got = fast(r);
    ASSERT_EQ(got, plain(r));
    // And the plain ones are right: consecutive aligned blocks from first to last.
    u128 at = r.first;
    for (const auto& [a, len] : got) {
      ASSERT_EQ(a, at);
      const u128 host = low_ones<u128>(128 - len);
      ASSERT_EQ(a & host, u128{0});
      at = a + host + 1;
    }
    ASSERT_EQ(at - 1, r.last);
  }
}

TEST(RangeArithmetic, SubtractLeavesWhatNoExceptionHolds) {
  const std::vector<Range4> ex = {{10, 19}, {30, 30}, {40, 49}};
  const std::span<const Range4> exs(ex);
  const struct {
    Range4 r;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> want;
  } rows[] = {
      {{0, 9}, {{0, 9}}},     {{0, 60}, {{0, 9}, {20, 29}, {31, 39}, {50, 60}}},
      {{12, 18}, {}},         {{15, 35}, {{20, 29}, {31, 35}}},
      {{49, 50}, {{50, 50}}},
  };
  for (const auto& row : rows) {
    std::size_t at = first_reaching(exs, row.r.first);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    subtract(row.r, exs, at, [&](const Range4& x) { got.emplace_back(x.first, x.last); });
    EXPECT_EQ(got, row.want) << row.r.first << "-" << row.r.last;
  }
}

// A pipeline whose stages note what they saw: pieces of random cost, a join that must see
// them in order, and an emit that must too.
struct Recorder {
  struct Worker {};
  struct Slot {
    std::size_t piece = 0;
    std::vector<int> text;
  };
  explicit Recorder(std::size_t pieces) : n(pieces) {}
  std::size_t n;
  std::size_t throw_at = ~std::size_t{0};
  std::size_t joined = 0;
  std::vector<std::size_t> emitted;
  std::atomic<int> made{0};
  void make(std::size_t p, Slot& s, Worker&) {
    if (p == throw_at) throw std::runtime_error("piece failed");
    s.piece = p;
    volatile unsigned spin = 0;
    for (unsigned i = 0; i < (p * 7919) % 20000; ++i) spin = spin + i;
    ++made;
  }
  void join(std::size_t p, Slot& s) {
    EXPECT_EQ(p, joined);
    EXPECT_EQ(s.piece, p);
    ++joined;
  }
  bool streams(const Slot& s) const { return s.piece % 5 == 3; }
  void stream(std::size_t p, Slot&) { emitted.push_back(p); }
  void render(std::size_t p, Slot& s) { s.text.assign(1, static_cast<int>(p)); }
  void emit(std::size_t p, Slot& s) {
    if (streams(s)) return;  // emitted as it streamed
    EXPECT_EQ(s.text, std::vector<int>(1, static_cast<int>(p)));
    emitted.push_back(p);
  }
};

TEST(OrderedPipeline, EmitsEveryPieceOnceInOrder) {
  for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{301}}) {
    Recorder r(n);
    run_ordered<Recorder::Slot>(n, r);
    std::vector<std::size_t> want(n);
    for (std::size_t i = 0; i < n; ++i) want[i] = i;
    EXPECT_EQ(r.emitted, want);
    EXPECT_EQ(r.joined, n);
  }
}

TEST(OrderedPipeline, AFailureStopsEveryThreadAndIsThrownOnce) {
  Recorder r(200);
  r.throw_at = 57;
  EXPECT_THROW(run_ordered<Recorder::Slot>(200, r), std::runtime_error);
  EXPECT_LE(r.emitted.size(), std::size_t{57});
  for (std::size_t i = 0; i < r.emitted.size(); ++i) EXPECT_EQ(r.emitted[i], i);
}

// A helper thread runs its work once, on a core this process may use, and is joined by
// join() or, at the latest, when it goes out of scope.
TEST(Threads, HelperRunsItsWorkAndIsJoined) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  std::atomic<int> runs{0}, cpu{-1};
  {
    Helper h([&] {
      cpu = sched_getcpu();
      ++runs;
    });
    h.join();
    EXPECT_EQ(runs, 1);
    h.join();  // a second join is harmless
  }
  ASSERT_GE(cpu.load(), 0);
  EXPECT_TRUE(CPU_ISSET(cpu.load(), &allowed));
  {
    Helper h([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ++runs;
    });
  }
  EXPECT_EQ(runs, 2);
}

// The byte-a-pass sort gives what a stable comparison sort gives: keys that differ in one
// byte only (passes skipped), in all four, and many equal ones.
TEST(Lookup, RadixSortIsAStableSort) {
  std::mt19937_64 rng(23);
  for (const std::uint32_t mask : {0xffffffffu, 0x00ff0000u, 0xff0000ffu, 0x7u, 0u}) {
    for (const std::size_t n :
         {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{1000}, std::size_t{70000}}) {
      std::vector<std::pair<std::uint32_t, std::uint32_t>> v(n);
      for (std::uint32_t i = 0; i < n; ++i) v[i] = {static_cast<std::uint32_t>(rng()) & mask, i};
      auto want = v;
      std::stable_sort(want.begin(), want.end(),
                       [](const auto& x, const auto& y) { return x.first < y.first; });
      radix_sort32(v, [](const auto& x) { return x.first; });
      ASSERT_EQ(v, want) << "mask " << mask << ", " << n << " keys";
    }
  }
}

// The most specific item that holds a, the first on a tie, by a look at every item.
template <class R>
std::uint32_t most_specific_of_all(const std::vector<R>& items, Num<R> a) {
  std::uint32_t want = MostSpecific<R>::kNone;
  for (std::uint32_t i = 0; i < items.size(); ++i) {
    if (a < items[i].first || a > items[i].last) continue;
    if (want == MostSpecific<R>::kNone ||
        items[i].last - items[i].first < items[want].last - items[want].first) {
      want = i;
    }
  }
  return want;
}

// Items crowded into a few /16s (so that the index looks at their /24s), spread over the
// rest, and holding whole /16s, at the edges of the space and of the /16s: which item holds an
// address, and whether the union does, are what a look at every item says.
TEST(Lookup, CrowdedAndSparseSetsAgreeWithALookAtEveryItem) {
  std::mt19937_64 rng(606);
  for (int round = 0; round < 30; ++round) {
    const std::uint32_t crowded[] = {0x0a000000, 0x0a010000, 0xffff0000, 0x00000000};
    const auto somewhere = [&]() -> std::uint32_t {
      if (rng() % 3 == 0) return static_cast<std::uint32_t>(rng());
      return crowded[rng() % 4] | static_cast<std::uint32_t>(rng() % 65536);
    };
    std::vector<Range4> items(1 + rng() % 400);
    for (auto& r : items) {
      std::uint32_t a = somewhere();
      std::uint32_t span = rng() % 4 == 0 ? static_cast<std::uint32_t>(rng() % 70000)
                                          : static_cast<std::uint32_t>(rng() % 300);
      if (rng() % 8 == 0) {  // whole /16s, or a /16 and a little more
        a &= 0xffff0000;
        span = (0x10000u << rng() % 3) - 1 + static_cast<std::uint32_t>(rng() % 2);
      }
      r = {a, a > 0xffffffffu - span ? 0xffffffffu : a + span};
    }
    const MostSpecific<Range4> most{std::span<const Range4>(items)};
    // The union, as sorted and apart ranges.
    std::vector<Range4> sorted = items;
    std::sort(sorted.begin(), sorted.end(),
              [](const Range4& x, const Range4& y) { return x.first < y.first; });
    std::vector<Range4> merged;
    for (const Range4& r : sorted) {
      if (!merged.empty() && r.first <= merged.back().last + std::uint64_t{1}) {
        merged.back().last = std::max(merged.back().last, r.last);
      } else {
        merged.push_back(r);
      }
    }
    const IndexedRanges4 in(SortedRanges<Range4>::adopt(std::move(merged)));
    for (int q = 0; q < 3000; ++q) {
      std::uint32_t a = somewhere();
      if (q % 3 == 0) {  // at an edge of an item
        const Range4& r = items[rng() % items.size()];
        a = q % 2 == 0 ? r.first - 1 : r.last + 1;
      } else if (q % 7 == 0) {  // at an edge of a /16
        a = (a & 0xffff0000) | (q % 2 == 0 ? 0 : 0xffff);
      }
      const std::uint32_t want = most_specific_of_all(items, a);
      ASSERT_EQ(most.find(a), want) << "round " << round << ", address " << a;
      ASSERT_EQ(in.holds(a), want != MostSpecific<Range4>::kNone) << a;
    }
  }
}

TEST(Lookup, MostSpecificIpv6AgreesWithALookAtEveryItem) {
  std::mt19937_64 rng(607);
  const auto u128_of = [&] { return u128{rng()} << 64 | rng(); };
  for (int round = 0; round < 30; ++round) {
    // Crowded top bits (one /16, and one /24 within it, that the index splits again), the
    // edges of the space, and anywhere.
    const u128 crowded[] = {u128{0x20010db8} << 96, u128{0x20010d00} << 96, 0, ~u128{0}};
    const auto somewhere = [&]() -> u128 {
      if (rng() % 3 == 0) return u128_of();
      const u128 base = crowded[rng() % 4];
      const u128 low = u128_of() >> (rng() % 2 == 0 ? 104 : 16);
      return base == ~u128{0} ? base - low : base | low;
    };
    std::vector<Range6> items(1 + rng() % 400);
    for (auto& r : items) {
      const u128 a = somewhere();
      const u128 span = rng() % 4 == 0 ? u128_of() >> (rng() % 128) : u128{rng() % 300};
      r = {a, a > ~u128{0} - span ? ~u128{0} : a + span};
    }
    const MostSpecific<Range6> most{std::span<const Range6>(items)};
    for (int q = 0; q < 3000; ++q) {
      u128 a = somewhere();
      if (q % 3 == 0) {  // at an edge of an item
        const Range6& r = items[rng() % items.size()];
        a = q % 2 == 0 ? r.first - 1 : r.last + 1;
      }
      const std::uint32_t want = most_specific_of_all(items, a);
      ASSERT_EQ(most.find(a), want) << "round " << round << ", query " << q;
    }
  }
}

// Each line as a whole-file reader hands it over: its number, its bytes, whether cut.
struct SeenLine {
  std::uint64_t number;
  std::string text;
  bool cut;
  bool operator==(const SeenLine&) const = default;
};

struct LineCollector {
  struct Slot {
    std::vector<SeenLine> lines;
  };
  std::vector<SeenLine> seen;
  void clear(Slot& s) { s.lines.clear(); }
  bool line(Slot& s, std::uint64_t number, const LineReader::Line& l) {
    s.lines.push_back({number, std::string(l.data, l.size), l.cut});
    return true;
  }
  void emit(Slot& s, std::uint64_t before) {
    for (SeenLine l : s.lines) {
      l.number += before;
      seen.push_back(std::move(l));
    }
  }
};

// The same, handed whole lines at once where it can be.
struct WindowCollector : LineCollector {
  std::atomic<std::size_t> windows{0};
  std::size_t window(Slot& s, std::uint64_t lines, const char* b, const char* e) {
    std::size_t n = 0;
    for (const char* p = b; p != e; ++n) {
      const auto* nl =
          static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(e - p)));
      s.lines.push_back({lines + n + 1, std::string(p, nl), false});
      p = nl + 1;
    }
    ++windows;
    return n;
  }
};

// Files of short lines, long ones, empty ones, NULs and no last newline, cut in pieces of
// every size from one byte up: every line is handed over once, in order, numbered and cut
// as one reader of the whole file hands it over, from any starting offset, a line at a time
// or in windows of whole lines.
TEST(LinePieces, EveryLineOnceAsOneReaderSeesIt) {
  TempDir tmp("pieces");
  std::mt19937_64 rng(4242);
  constexpr std::size_t max_line = 16;
  std::size_t windows = 0;
  for (int round = 0; round < 40; ++round) {
    std::string text;
    for (unsigned n = 1 + static_cast<unsigned>(rng() % 30); n > 0; --n) {
      const std::size_t len = rng() % 5 == 0 ? rng() % 60 : rng() % 12;
      for (std::size_t i = 0; i < len; ++i) text += "ab\0.:x9"[rng() % 7];
      text += '\n';
    }
    if (rng() % 3 == 0) text.pop_back();
    const std::string path = tmp.file("f", text);
    const off_t from = static_cast<off_t>(rng() % 4 == 0 ? rng() % (text.size() + 1) : 0);
    std::vector<SeenLine> want;
    {
      const int fd = ::open(path.c_str(), O_RDONLY);
      LineReader r(fd, max_line, from, std::numeric_limits<std::size_t>::max());
      LineReader::Line l;
      for (std::uint64_t k = 1; r.next(l); ++k) {
        want.push_back({k, std::string(l.data, l.size), l.cut});
      }
      ::close(fd);
    }
    for (std::size_t size = 1; size <= text.size() + 1; ++size) {
      const auto check = [&](auto& c) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        for_each_line_piece<LineCollector::Slot>(fd, from, static_cast<off_t>(text.size()), size,
                                                 max_line, c);
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(text.size()));
        ::close(fd);
        return c.seen == want;
      };
      LineCollector lines;
      ASSERT_TRUE(check(lines)) << "round " << round << ", pieces of " << size;
      WindowCollector whole;
      ASSERT_TRUE(check(whole)) << "round " << round << ", pieces of " << size << ", windows";
      windows += whole.windows;
    }
  }
  EXPECT_GT(windows, 1000u);  // the windows were taken, so that they were tested
}

}  // namespace
}  // namespace maskery::testing
