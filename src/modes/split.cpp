// maskery split inet|inet6 NETWORK /LEN [--except LIST]...: every subnet of a length inside a
// network, or only the free ones. maskery split inet|inet6 NETWORK hosts COUNT...
// [--except LIST]...: blocks for counts of addresses, placed largest first at the lowest
// free aligned address.
//
// The subnets stream: memory is constant whatever their number, and a reader that goes
// away (head) ends the run.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "core/json.hpp"
#include "core/numbers.hpp"
#include "lists/list_input.hpp"
#include "lists/lookup.hpp"
#include "lists/ranges.hpp"
#include "modes/execute.hpp"

namespace maskery {

namespace {

// The decimal digits of a count of addresses (up to 2^128).
std::string decimal(u128 v) {
  char buf[40];
  char* p = buf + sizeof buf;
  do {
    *--p = static_cast<char>('0' + static_cast<unsigned>(v % 10));
    v /= 10;
  } while (v != 0);
  return {p, buf + sizeof buf};
}

template <class R>
std::string prefix_text(Num<R> a, unsigned len) {
  return range_text(R{a, a | low_ones<Num<R>>(kWidth<R> - len)}, false);
}

// The digits of every group without its leading zeros, made on first use: built before main,
// the table cost every run of the program 320 KiB and a tenth of a short merge's time.
struct GroupText {
  char text[4];
  std::uint8_t size;
};
const GroupText* group_texts() {
  static const std::vector<GroupText> table = [] {
    std::vector<GroupText> t(65536);
    for (unsigned g = 0; g < 65536; ++g) {
      const unsigned digits =
          g == 0 ? 1
                 : 4 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint16_t>(g))) / 4;
      for (unsigned i = 0; i < digits; ++i)
        t[g].text[i] = kHexDigits[g >> (4 * (digits - 1 - i)) & 0xf];
      t[g].size = static_cast<std::uint8_t>(digits);
    }
    return t;
  }();
  return table.data();
}

// The text of IPv6 subnets, which differ from one to the next in one group (the group of
// the last bit of their length) and have zeros after it: the text before and after that
// group is kept while the groups before it stay the same, so a line is two copies and the
// group's digits. (A full formatting took twice as long as the listing's lines.)
class SubnetText6 {
 public:
  explicit SubnetText6(unsigned len) : group_(len == 0 ? 0 : (len - 1) / 16) {}

  // Lines "TEXT" + end for the subnets first, first + step, ... up to last (as numbers), all
  // with the same groups but the group of the length's last bit, none of them in ::/64,
  // written from out on; returns their end. Each takes at most kLine bytes, and the stores of
  // the last reach kLine bytes past its start.
  static constexpr std::size_t kLine = 2 * (kMaxAddressText + 1) + 32;
  char* write_run(char* out, u128 first, u128 step, std::size_t n, const char* end,
                  std::size_t end_size) noexcept {
    const unsigned shift = 112 - 16 * group_;
    if (!cached_ || (first & ~(u128{0xffff} << shift)) != key_) {
      learn(first & ~(u128{0xffff} << shift), shift);
    }
    // The group's digits, then the text after the group and the end, in one store.
    char tail[kMaxAddressText + 1 + 16];
    std::memcpy(tail, tail_, tail_size_);
    std::memcpy(tail + tail_size_, end, end_size);
    const std::size_t tail_size = tail_size_ + end_size;
    const auto g = static_cast<unsigned>(first >> shift) & 0xffff;
    const auto gstep = static_cast<unsigned>(step >> shift);
    // The fewer bytes stored a line, the faster: most stems and tails take 16 bytes or fewer
    // ("2001:db8:1234:" and "::/56\n"); the widest stores made a /32 into /56s take 1.4
    // times as long.
    if (stem_size_ <= 16 && tail_size <= 16) {
      return run<16, 16>(out, g, gstep, n, tail, tail_size);
    }
    return run<sizeof stem_, sizeof tail>(out, g, gstep, n, tail, tail_size);
  }

  char* write(char* out, u128 a) noexcept {
    const auto hi = static_cast<std::uint64_t>(a >> 64);
    const auto lo = static_cast<std::uint64_t>(a);
    const unsigned shift = 112 - 16 * group_;
    const auto g = static_cast<unsigned>(a >> shift) & 0xffff;
    const u128 key = a & ~(u128{0xffff} << shift);
    // In ::/64 the dotted forms may take over; and a zero group changes the "::".
    if (g == 0 || hi == 0) return format_ipv6(out, hi, lo);
    if (!cached_ || key != key_) learn(key, shift);
    std::memcpy(out, stem_, sizeof stem_);
    out += stem_size_;
    const GroupText& t = groups_[g];
    std::memcpy(out, t.text, 4);
    out += t.size;
    std::memcpy(out, tail_, sizeof tail_);
    return out + tail_size_;
  }

 private:
  template <std::size_t kStem, std::size_t kTail>
  char* run(char* out, unsigned g, unsigned gstep, std::size_t n, const char* tail,
            std::size_t tail_size) const noexcept {
    // A stretch of lines whose group has as many digits is lines of one length: each line's
    // place is known without the one before, and the stores of lines overlap in time.
    for (std::size_t i = 0; i < n;) {
      const unsigned digits = groups_[g].size;
      const unsigned past = 1u << (4 * digits);  // the first group with one digit more
      const std::size_t k = std::min<std::size_t>(n - i, (past - g + gstep - 1) / gstep);
      const std::size_t line = stem_size_ + digits + tail_size;
      for (std::size_t j = 0; j < k; ++j, g += gstep) {
        char* p = out + j * line;
        std::memcpy(p, stem_, kStem);
        std::memcpy(p + stem_size_, groups_[g].text, 4);
        std::memcpy(p + stem_size_ + digits, tail, kTail);
      }
      out += k * line;
      i += k;
    }
    return out;
  }

  // Where the group's digits stand: the texts with ffff and fffe there differ in its last.
  void learn(u128 key, unsigned shift) noexcept {
    char a[kMaxAddressText + 1], b[kMaxAddressText + 1];
    const u128 x = key | u128{0xffff} << shift, y = key | u128{0xfffe} << shift;
    const auto n = static_cast<std::size_t>(format_value(a, x) - a);
    format_value(b, y);
    std::size_t d = 0;
    while (a[d] == b[d]) ++d;
    stem_size_ = d - 3;
    std::memcpy(stem_, a, stem_size_);
    tail_size_ = n - d - 1;
    std::memcpy(tail_, a + d + 1, tail_size_);
    key_ = key;
    cached_ = true;
    groups_ = group_texts();
  }

  unsigned group_;
  const GroupText* groups_ = nullptr;  // from the first learn() on
  bool cached_ = false;
  u128 key_ = 0;
  std::size_t stem_size_ = 0, tail_size_ = 0;
  char stem_[kMaxAddressText + 1]{};
  char tail_[kMaxAddressText + 1]{};
};

// Writes subnets: "ADDRESS/LEN" lines, or the elements of a JSON array.
template <class R>
class SubnetWriter {
 public:
  SubnetWriter(unsigned len, bool json, Sink& out) : len_(len), json_(json), out_(out), six_(len) {
    char* p = suffix_;
    *p++ = '/';
    const std::string l = std::to_string(len);
    p = std::copy(l.begin(), l.end(), p);
    *p++ = json_ ? '"' : '\n';
    suffix_size_ = static_cast<std::size_t>(p - suffix_);
  }
  // The subnets from a to b (the address of the last), in order.
  bool operator()(Num<R> a, Num<R> b) {
    const Num<R> step = low_ones<Num<R>>(kWidth<R> - len_) + 1;
    if constexpr (std::is_same_v<Num<R>, u128>) {
      // Runs within one value of the groups before the length's last group, outside ::/64,
      // a bufferful at a time; the first subnet of such a run, whose group is 0, and JSON
      // go one at a time.
      const unsigned shift = len_ == 0 ? 112 : 112 - 16 * ((len_ - 1) / 16);
      for (;;) {
        const u128 run_last = std::min(b, (a | low_ones<u128>(shift + 16)) & ~(step - 1));
        if (json_ || (a >> 64) == 0 || ((a >> shift) & 0xffff) == 0) {
          (*this)(a);
        } else {
          constexpr std::size_t lines =
              (Sink::kMaxReserve - SubnetText6::kLine) / SubnetText6::kLine;
          // Blocks in the run: a shift, as step is a power of two (and not 2^128, since a is
          // not the start of the space).
          const u128 n = ((run_last - a) >> (kWidth<R> - len_)) + 1;
          for (u128 done = 0; done < n;) {
            const auto k = static_cast<std::size_t>(std::min<u128>(n - done, lines));
            char* p = out_.reserve(lines * SubnetText6::kLine + SubnetText6::kLine);
            out_.commit(six_.write_run(p, a + done * step, step, k, suffix_, suffix_size_));
            done += k;
          }
          a = run_last;
        }
        if (a == b) return true;
        a += step;
      }
    } else {
      for (;; a += step) {
        (*this)(a);
        if (a == b) return true;
      }
    }
  }

  bool operator()(Num<R> a) {
    char* p = out_.reserve(2 * kMaxAddressText);
    if (json_) {
      if (!first_) *p++ = ',';
      *p++ = '"';
      first_ = false;
    }
    if constexpr (std::is_same_v<Num<R>, u128>) {
      p = six_.write(p, a);
    } else {
      p = format_address(p, Address::v4(a));
    }
    std::memcpy(p, suffix_, sizeof suffix_);
    out_.commit(p + suffix_size_);
    return true;
  }

 private:
  unsigned len_;
  bool json_;
  Sink& out_;
  SubnetText6 six_;
  bool first_ = true;
  char suffix_[8]{};
  std::size_t suffix_size_ = 0;
};

// Every aligned block of size step in [first, last] that shares no address with used, in
// order, as runs of consecutive ones: f(a, b) for the blocks from a to b (the address of the
// last), until f returns false. Blocks that a used range covers are stepped over at once.
template <class R, class F>
void free_runs(Num<R> first, Num<R> last, Num<R> step_less_one, std::span<const R> used, F&& f) {
  std::size_t at = first_reaching(used, first);
  Num<R> a = first;
  for (;;) {
    const Num<R> end = a + step_less_one;
    while (at < used.size() && used[at].last < a) ++at;
    if (at < used.size() && used[at].first <= end) {
      // The next block after the used range, aligned; none when it reaches the end.
      const Num<R> u = used[at].last;
      if (u >= last) return;
      a = (u | step_less_one) + 1;     // the block after the one that holds u
      if (a == 0 || a > last) return;  // wrapped past the top of the space, or past the net
      continue;
    }
    // Free up to the block before the one where the next used range starts, or to the end.
    const Num<R> b = at < used.size() && used[at].first <= last
                         ? (used[at].first & ~step_less_one) - step_less_one - 1
                         : last & ~step_less_one;
    if (!f(a, b)) return;
    if (b + step_less_one >= last) return;
    a = b + step_less_one + 1;
  }
}

// The same, one block at a time: f(a), until f returns false.
template <class R, class F>
void free_blocks(Num<R> first, Num<R> last, Num<R> step_less_one, std::span<const R> used, F&& f) {
  free_runs<R>(first, last, step_less_one, used, [&](Num<R> a, Num<R> b) {
    for (;; a += step_less_one + 1) {
      if (!f(a)) return false;
      if (a == b) return true;
    }
  });
}

template <class R>
int split_family(const SplitRequest& rq, const RunContext& ctx) {
  constexpr unsigned width = kWidth<R>;
  const Family af = rq.network.af;
  const Address address = request_address(rq.network);
  if (rq.network.bits > width) {
    fail(std::string(msg::invalid_prefix_length) + std::to_string(rq.network.bits));
  }
  const auto netlen = static_cast<unsigned>(rq.network.bits);
  const Num<R> host = low_ones<Num<R>>(width - netlen);
  Num<R> first;
  if constexpr (std::is_same_v<Num<R>, u128>) {
    first = v6_value(address) & ~host;
  } else {
    first = address.v4_value() & ~host;
  }
  const Num<R> last = first | host;
  const std::string network = prefix_text<R>(first, netlen);

  // The words first, then the lists, then the output.
  unsigned len = 0;
  if (rq.length != nullptr) {
    const std::string_view w = rq.length;
    const std::string digits(w.starts_with("/") ? w.substr(1) : w);
    const unsigned long l = read_prefix_length(digits.c_str());
    if (l > width) fail(std::string(msg::invalid_prefix_length) + digits);
    len = static_cast<unsigned>(l);
    if (len < netlen) {
      fail("/" + digits + std::string(msg::shorter_than_network) + network);
    }
  }
  std::vector<HostsReport> counts;
  for (const char* c : rq.counts) counts.push_back(mask_discover(c, af));
  ListSets used_sets;
  for (const auto name : rq.excepts) read_list(name, used_sets);
  SortedRanges<R> used;
  if constexpr (std::is_same_v<Num<R>, u128>) {
    used = used_sets.v6.take();
  } else {
    used = used_sets.v4.take();
  }

  Sink& out = ctx.out;
  const bool json = ctx.format == Format::json;
  const std::string head =
      json_object_of(family_name(af)) + ",\"network\":\"" + network + "\",\"subnets\":[";
  if (rq.length != nullptr) {
    if (json) out.write(head);
    SubnetWriter<R> write(len, json, out);
    free_runs<R>(first, last, low_ones<Num<R>>(width - len), used.view(), write);
    if (json) out.write("]}\n");
    return 0;
  }

  // Host counts: largest first (ties in the order given), each at the lowest free address
  // aligned to its size.
  std::vector<std::size_t> order(counts.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto lens = [&](std::size_t i) { return static_cast<unsigned>(counts[i].working_len); };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t x, std::size_t y) { return lens(x) < lens(y); });
  std::vector<R> taken(used.begin(), used.end());  // sorted; placed blocks are added
  std::vector<Num<R>> placed(counts.size());
  bool fits = true;
  for (const std::size_t i : order) {
    const unsigned l = std::max(lens(i), netlen);
    const Num<R> size_less_one = low_ones<Num<R>>(width - l);
    bool found = false;
    if (lens(i) >= netlen) {
      free_blocks<R>(first, last, size_less_one, std::span<const R>(taken), [&](Num<R> a) {
        found = true;
        placed[i] = a;
        return false;
      });
    }
    if (!found) {
      fits = false;
      break;
    }
    const R block{placed[i], placed[i] + size_less_one};
    taken.insert(std::upper_bound(taken.begin(), taken.end(), block,
                                  [](const R& x, const R& y) { return x.first < y.first; }),
                 block);
  }
  if (!fits) {
    u128 needed = 0, free = u128{last - first} + 1;
    for (const auto& c : counts)
      needed += u128{1} << (width - static_cast<unsigned>(c.working_len));
    for (const R& r : used) {
      const Num<R> f = std::max(r.first, first), l = std::min(r.last, last);
      if (f <= l) free -= u128{l - f} + 1;
    }
    // All of ::/0 is 2^128 addresses, one more than a 128-bit number holds.
    const std::string free_text = width == 128 && netlen == 0 && used.empty()
                                      ? std::string(power_of_two_decimal(128))
                                      : decimal(free);
    fail(std::string(msg::hosts_do_not_fit) + network + ": " + decimal(needed) +
         " addresses needed, " + free_text + " free");
  }
  std::string s = json ? head : std::string();
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const std::string subnet = prefix_text<R>(placed[i], lens(i));
    const std::string count = std::to_string(counts[i].count);
    if (json) {
      s += (i == 0 ? "{\"network\":\"" : ",{\"network\":\"") + subnet + "\",\"hosts\":" + count +
           "}";
    } else {
      s += subnet + "\t" + count + "\n";
    }
  }
  if (json) s += "]}\n";
  out.write(s);
  return 0;
}

}  // namespace

int split_mode(const SplitRequest& rq, const RunContext& ctx) {
  return rq.network.af == Family::inet ? split_family<Range4>(rq, ctx)
                                       : split_family<Range6>(rq, ctx);
}

}  // namespace maskery
