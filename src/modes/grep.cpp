// maskery grep [--invert] [--count] [--quiet] [--which] NETWORKS|--in LIST... [FILE]...: the
// lines that hold an address inside a set of networks. maskery contains NETWORKS ITEM...:
// whether items lie inside them, as an exit status. Both build the set with the list
// engine; their statuses are grep's: 0 yes, 1 no, 2 an error.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "core/input_files.hpp"
#include "core/json.hpp"
#include "core/line_reader.hpp"
#include "core/prefault.hpp"
#include "core/untrusted.hpp"
#include "lists/line_pieces.hpp"
#include "lists/list_input.hpp"
#include "lists/lookup.hpp"
#include "lists/text_addresses.hpp"
#include "lists/threads.hpp"
#include "modes/execute.hpp"

namespace maskery {

namespace {

// A line of a searched file may be this long; a longer one is an error, found at its limit.
constexpr std::size_t kMaxGrepLine = std::size_t{1} << 20;
// A regular file this large or larger is searched in pieces of kPiece bytes on both threads.
constexpr std::size_t kPiecesFrom = std::size_t{2} << 20;
constexpr std::size_t kPiece = std::size_t{1} << 20;

// The items of a NETWORKS word: comma-separated, either family.
template <class F>
void word_items(std::string_view networks, F&& f) {
  for (;;) {
    const std::size_t comma = networks.find(',');
    f(parse_word(networks.substr(0, comma)));
    if (comma == std::string_view::npos) return;
    networks.remove_prefix(comma + 1);
  }
}

// The union of the networks, for the questions that need no item: is an address inside.
struct Union {
  SortedRanges<Range4> v4;
  SortedRanges<Range6> v6;
};

Union union_of(std::string_view networks, const std::vector<std::string_view>& lists) {
  ListSets sets, second;
  if (!networks.empty() || lists.empty()) {
    word_items(networks, [&](const Item& item) {
      if (item.kind == Item::Kind::inet) sets.v4.add(item.r4);
      if (item.kind == Item::Kind::inet6) sets.v6.add(item.r6);
    });
  }
  bool halves = false;
  for (const auto name : lists) halves |= read_list_halves(name, sets, second);
  if (!halves) return {sets.v4.take(), sets.v6.take()};
  // Each of the four sets sorted on one thread, the two threads at once; then each family's
  // two unions joined.
  SortedRanges<Range4> a4, b4;
  SortedRanges<Range6> a6, b6;
  constexpr std::size_t serial = std::numeric_limits<std::size_t>::max();
  for_each_task(4, [&](std::size_t task) {
    if (task == 0) a4 = sets.v4.take(RangeSet<Range4>::kPiece, serial);
    if (task == 1) b4 = second.v4.take(RangeSet<Range4>::kPiece, serial);
    if (task == 2) a6 = sets.v6.take(RangeSet<Range6>::kPiece, serial);
    if (task == 3) b6 = second.v6.take(RangeSet<Range6>::kPiece, serial);
  });
  return {unite(a4.view(), b4.view()), unite(a6.view(), b6.view())};
}

// The items themselves, for the question which item holds an address.
ItemList items_of(std::string_view networks, const std::vector<std::string_view>& lists) {
  ItemList list;
  if (!networks.empty() || lists.empty()) {
    word_items(networks, [&](const Item& item) { list.add(item); });
  }
  for (const auto name : lists) read_items(name, list);
  return list;
}

class Searcher {
 public:
  Searcher(const GrepRequest& rq, const RunContext& ctx)
      : rq_(rq),
        ctx_(ctx),
        json_(ctx.format == Format::json),
        by_item_(rq.which || json_),
        writes_items_(by_item_ && !rq.count && !rq.quiet) {
    if (by_item_) {
      items_ = items_of(rq.networks, rq.lists);
      // The two families' sweeps on the two threads at once.
      for_each_task(2, [this](std::size_t family) {
        if (family == 0) {
          most4_.emplace(std::span<const Range4>(items_.v4));
        } else {
          most6_.emplace(std::span<const Range6>(items_.v6));
        }
      });
    } else {
      Union u = union_of(rq.networks, rq.lists);
      v4_ = IndexedRanges4(std::move(u.v4));
      v6_ = std::move(u.v6);
    }
  }

  // Searches one file; returns the lines selected. With quiet, stops at the first.
  unsigned long file(std::string_view name, bool named) {
    InputFile in(name);
    const std::string prefix = named ? std::string(name) + ":" : std::string();
    // A large regular file is searched in pieces on both threads; a pipe, a small file, and
    // the forms that stop at once or number every line they write, a line at a time.
    if (!rq_.quiet && !json_ && list_threads() > 1) {
      struct stat st;
      const off_t start = ::lseek(in.fd(), 0, SEEK_CUR);
      if (start >= 0 && ::fstat(in.fd(), &st) == 0 && S_ISREG(st.st_mode) &&
          st.st_size - start >= static_cast<off_t>(kPiecesFrom)) {
        return pieces(in.fd(), start, st.st_size, name, prefix);
      }
    }
    LineReader reader(in.fd(), kMaxGrepLine);
    LineReader::Line line;
    unsigned long number = 0, selected = 0;
    while (next_line(reader, line, name)) {
      ++number;
      if (line.cut) too_long(name, number);
      if (!select(line.data, line.data + line.size, found_)) continue;
      ++selected;
      if (rq_.quiet) return selected;
      if (rq_.count) continue;
      write(name, prefix, number, std::string_view(line.data, line.size));
    }
    return selected;
  }

 private:
  struct Found {
    const char* begin;
    const char* end;
    std::uint32_t item;
  };

  [[noreturn]] static void too_long(std::string_view name, std::uint64_t number) {
    fail(shown(name, std::string_view::npos) + ":" + std::to_string(number) + ": " +
         std::string(msg::line_too_long));
  }

  // The results of one piece of a file searched in pieces: the text to write, the lines
  // selected, and the number within the piece of a line too long, where the piece stopped.
  struct Piece {
    Text text;
    std::vector<Found> found;
    unsigned long selected = 0;
    std::uint64_t cut = 0;
  };
  struct PieceHandler {
    const Searcher& s;
    std::string_view name;
    const std::string& prefix;
    unsigned long selected = 0;

    void clear(Piece& p) {
      p.text.clear();
      // Room for the lines of a whole piece, at once: grown step by step, each copy went to
      // new pages (a tenth of the bare list's time).
      p.text.room(kPiece + kPiece / 8);
      p.selected = 0;
      p.cut = 0;
    }
    bool line(Piece& p, std::uint64_t number, const LineReader::Line& line) {
      if (line.cut) {
        p.cut = number;
        return false;
      }
      if (s.select(line.data, line.data + line.size, p.found)) {
        take(p, line.data, line.data + line.size);
      }
      return true;
    }
    // Whole lines, each found with its addresses in one pass (a search for its end first
    // went over every line twice).
    std::size_t window(Piece& p, std::uint64_t, const char* b, const char* e) {
      std::size_t lines = 0;
      for (const char* line = b; line != e; ++lines) {
        const char* nl = nullptr;
        if (s.select_in_line(line, e, p.found, nl)) take(p, line, nl);
        line = nl + 1;
      }
      return lines;
    }
    // A selected line [b, e), its matches in p.found: counted, and written as the form asks.
    void take(Piece& p, const char* b, const char* e) {
      ++p.selected;
      if (s.rq_.count) return;
      if (s.rq_.which) {
        for (const Found& f : p.found) s.append_which(p.text, prefix, f);
      } else {
        append(p.text, prefix, b, e);
      }
    }
    void emit(Piece& p, std::uint64_t before) {
      selected += p.selected;
      s.ctx_.out.write(p.text.view());
      if (p.cut != 0) too_long(name, before + p.cut);
    }
  };

  unsigned long pieces(int fd, off_t start, off_t size, std::string_view name,
                       const std::string& prefix) {
    PieceHandler h{*this, name, prefix};
    try {
      for_each_line_piece<Piece>(fd, start, size, kPiece, kMaxGrepLine, h);
    } catch (const std::system_error& e) {
      file_failure(name, e.code().value());
    }
    return h.selected;
  }

  // Which item holds the address: kNone, or its place among its family's items, with kSix
  // set for an IPv6 item.
  static constexpr std::uint32_t kNone = MostSpecific<Range4>::kNone;
  static constexpr std::uint32_t kSix = std::uint32_t{1} << 31;
  std::uint32_t holder(const TextAddress& a) const {
    const std::uint32_t six = a.v6 ? most6_->find(a.value6) : kNone;
    const std::uint32_t four = !a.v6 || a.mapped ? most4_->find(a.v4) : kNone;
    if (six == kNone) return four;
    if (four == kNone) return six | kSix;
    // A mapped address inside an IPv6 item and an IPv4 one: the fewer addresses, then the
    // first given.
    const Range4& r4 = items_.v4[four];
    const Range6& r6 = items_.v6[six];
    const u128 size4 = r4.last - r4.first, size6 = r6.last - r6.first;
    const std::uint32_t n4 = items_.v4_item[four] & ~ItemList::kWritten;
    const std::uint32_t n6 = items_.v6_item[six] & ~ItemList::kWritten;
    return size4 < size6 || (size4 == size6 && n4 < n6) ? four : six | kSix;
  }

  bool inside(const TextAddress& a) const {
    if (a.v6 && find_range(v6_.view(), a.value6) != nullptr) return true;
    return (!a.v6 || a.mapped) && v4_.holds(a.v4);
  }

  // Whether the line is selected; the matches (for --which and JSON) are kept in found.
  bool select(const char* b, const char* e, std::vector<Found>& found) const {
    const char* nl;
    return by_item_ ? select_from<false, true>(b, e, found, nl)
                    : select_from<false, false>(b, e, found, nl);
  }
  // The same for the line that starts at b and ends at the first newline before e; nl is set
  // to that newline.
  bool select_in_line(const char* b, const char* e, std::vector<Found>& found,
                      const char*& nl) const {
    return by_item_ ? select_from<true, true>(b, e, found, nl)
                    : select_from<true, false>(b, e, found, nl);
  }
  // With kByItem (--which, JSON) every match and its item is wanted, not only whether there is
  // one: two loops, so that each is as lean as its form allows.
  template <bool kInWindow, bool kByItem>
  bool select_from(const char* b, const char* e, std::vector<Found>& found, const char*& nl) const {
    bool any = false, in = false;
    found.clear();
    const char* seen = b;  // the end of the last address
    const auto each = [&](const TextAddress& a) {
      any = true;
      seen = a.end;
      if constexpr (kByItem) {
        const std::uint32_t h = holder(a);
        if (h != kNone) {
          in = true;
          found.push_back({a.begin, a.end, h});
          if (writes_items_) prefetch_item(h);
        }
      } else if (inside(a)) {
        in = true;
      }
      // Without --invert a line is selected at its first match; with it, rejected there.
      return kByItem || !in;
    };
    if constexpr (kInWindow) {
      nl = for_each_address_in_line(b, e, each);
      // Stopped at a match: the rest of the line is unread. In a list of addresses it is
      // nothing, and the newline is the next byte.
      if (nl == nullptr) {
        nl = seen != e && *seen == '\n' ? seen
                                        : static_cast<const char*>(std::memchr(
                                              seen, '\n', static_cast<std::size_t>(e - seen)));
      }
    } else {
      for_each_address(b, e, each);
    }
    return rq_.invert ? any && !in : in;
  }

  void write(std::string_view name, const std::string& prefix, unsigned long number,
             std::string_view text) {
    Sink& out = ctx_.out;
    if (json_) {
      std::string s = "{\"file\":";
      append_json_string(s, name);
      s += ",\"line\":" + std::to_string(number) + ",\"text\":";
      append_json_string(s, text);
      s += ",\"matches\":[";
      for (std::size_t i = 0; i < found_.size(); ++i) {
        s += i == 0 ? "{\"address\":" : ",{\"address\":";
        append_json_string(
            s, std::string_view(found_[i].begin,
                                static_cast<std::size_t>(found_[i].end - found_[i].begin)));
        s += ",\"item\":";
        char buf[kMaxRangeText];
        append_json_string(s, std::string_view(buf, write_item(buf, found_[i].item)));
        s += '}';
      }
      s += "]}\n";
      out.write(s);
      return;
    }
    if (rq_.which) {
      which_.clear();
      for (const auto& f : found_) append_which(which_, prefix, f);
      out.write(which_.view());
      return;
    }
    out.write(prefix);
    out.write(text);
    out.write("\n");
  }

  // The item is written once its line has been read to the end: asked for now, it has come
  // from memory by then (on a busy machine, waiting for it took a sixth of --which's time).
  void prefetch_item(std::uint32_t k) const noexcept {
    const std::uint32_t i = k & ~kSix;
    if (k & kSix) {
      __builtin_prefetch(&items_.v6[i]);
      __builtin_prefetch(&items_.v6_item[i]);
    } else {
      __builtin_prefetch(&items_.v4[i]);
      __builtin_prefetch(&items_.v4_item[i]);
    }
  }

  // The item as --which names it, at out: ADDRESS/LEN (host bits cleared) for an address or
  // prefix item, FIRST-LAST for a range. Returns the end.
  char* write_item(char* out, std::uint32_t k) const noexcept {
    const std::uint32_t i = k & ~kSix;
    return k & kSix
               ? write_range_text(out, items_.v6[i], (items_.v6_item[i] & ItemList::kWritten) != 0)
               : write_range_text(out, items_.v4[i], (items_.v4_item[i] & ItemList::kWritten) != 0);
  }

  // A line of --which: the address as it stands, a tab, the item.
  void append_which(Text& t, const std::string& prefix, const Found& f) const {
    const auto n = static_cast<std::size_t>(f.end - f.begin);
    char* to = t.reserve(prefix.size() + n + kMaxRangeText + 2);
    to = std::copy(prefix.begin(), prefix.end(), to);
    to = std::copy(f.begin, f.end, to);
    *to++ = '\t';
    to = write_item(to, f.item);
    *to++ = '\n';
    t.commit(to);
  }
  // A selected line: the prefix, the line [b, e), a newline.
  static void append(Text& t, const std::string& prefix, const char* b, const char* e) {
    const auto n = static_cast<std::size_t>(e - b);
    char* to = t.reserve(prefix.size() + n + 1);
    to = std::copy(prefix.begin(), prefix.end(), to);
    std::memcpy(to, b, n);
    to[n] = '\n';
    t.commit(to + n + 1);
  }

  const GrepRequest& rq_;
  const RunContext& ctx_;
  bool json_, by_item_;
  bool writes_items_;  // each item found is written (not only counted)
  IndexedRanges4 v4_;
  SortedRanges<Range6> v6_;
  ItemList items_;
  std::optional<MostSpecific<Range4>> most4_;
  std::optional<MostSpecific<Range6>> most6_;
  std::vector<Found> found_;
  Text which_;  // the --which lines of a line, written at once
};

}  // namespace

int grep_mode(const GrepRequest& rq, const RunContext& ctx) {
  // The set of 100,000 items made in 0.93 of the time.
  keep_freed_memory();
  try {
    Searcher s(rq, ctx);
    const bool named = rq.files.size() > 1;
    unsigned long total = 0;
    for (const auto name : rq.files) {
      const unsigned long n = s.file(name, named);
      total += n;
      if (rq.quiet && n > 0) break;
      if (rq.count && !rq.quiet) {
        if (ctx.format == Format::json) {
          std::string j = "{\"file\":";
          append_json_string(j, name);
          ctx.out.write(j + ",\"count\":" + std::to_string(n) + "}\n");
        } else {
          ctx.out.write((named ? std::string(name) + ":" : std::string()) + std::to_string(n) +
                        "\n");
        }
      }
    }
    ctx.out.flush();
    return total > 0 ? 0 : 1;
  } catch (const Failure& f) {
    throw f.with_status(2);
  }
}

int contains_mode(const ContainsRequest& rq, const RunContext& ctx) {
  try {
    const Union set = union_of(rq.networks, {});
    std::vector<std::string_view> outside;
    for (const auto word : rq.items) {
      const Item item = parse_word(word);
      const bool in = item.kind == Item::Kind::inet ? covers(set.v4.view(), item.r4)
                                                    : covers(set.v6.view(), item.r6);
      if (!in) outside.push_back(word);
    }
    if (ctx.format == Format::json) {
      std::string s = outside.empty() ? "{\"contains\":true,\"outside\":["
                                      : "{\"contains\":false,\"outside\":[";
      for (std::size_t i = 0; i < outside.size(); ++i) {
        if (i != 0) s += ',';
        append_json_string(s, outside[i]);
      }
      s += "]}\n";
      ctx.out.write(s);
    }
    ctx.out.flush();
    return outside.empty() ? 0 : 1;
  } catch (const Failure& f) {
    throw f.with_status(2);
  }
}

}  // namespace maskery
