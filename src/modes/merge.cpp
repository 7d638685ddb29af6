// maskery merge [--ranges] [--skip-bad] [--common] [--except FILE]... [FILE]...: address lists
// to the fewest prefixes (or the maximal ranges) of their union (with --common, of their
// intersection), less the exceptions. The list engine does the work; this is the mode's
// writer.
#include "modes/merge.hpp"

#include <cstring>
#include <span>
#include <string_view>

#include "core/address_text.hpp"
#include "lists/list_input.hpp"
#include "lists/lookup.hpp"
#include "modes/execute.hpp"

namespace maskery {

namespace {

// Lines of prefixes or of ranges. In JSON, array elements (quoted strings, or objects), each
// after a comma: the pieces are made apart, and the first comma of all is left out when
// they are written.

class Writer {
 public:
  Writer(Format f, bool ranges, Text& out) : json_(f == Format::json), ranges_(ranges), out_(out) {}

  template <class N>
  void prefix(N a, unsigned len) {
    char* p = start();
    p = number(p, a);
    *p++ = '/';
    if (len >= 100) *p++ = static_cast<char>('0' + len / 100);
    if (len >= 10) *p++ = static_cast<char>('0' + len / 10 % 10);
    *p++ = static_cast<char>('0' + len % 10);
    end(p);
  }
  template <class N>
  void range(N a, N b) {
    char* p = start();
    if (json_) {
      std::memcpy(p, "{\"first\":\"", 10);
      p = number(p + 10, a);
      std::memcpy(p, "\",\"last\":\"", 10);
      p = number(p + 10, b);
      *p++ = '"';
      *p++ = '}';
      out_.commit(p);
      return;
    }
    p = number(p, a);
    *p++ = '-';
    p = number(p, b);
    end(p);
  }

 private:
  char* start() {
    char* p = out_.reserve(128);
    if (json_) {
      *p++ = ',';
      if (!ranges_) *p++ = '"';
    }
    return p;
  }
  void end(char* p) {
    *p++ = json_ ? '"' : '\n';
    out_.commit(p);
  }

  char* number(char* p, std::uint32_t v) noexcept { return format_ipv4(p, v); }
  char* number(char* p, u128 v) noexcept {
    return six_.write(p, static_cast<std::uint64_t>(v >> 64), static_cast<std::uint64_t>(v));
  }

  bool json_;
  bool ranges_;
  Text& out_;
  Ipv6Text six_;
};

// Writes one family's ranges, less the exceptions ex, as prefixes or as ranges.
template <class R>
void write_family(RangeSet<R>& set, std::span<const R> ex, Format f, bool ranges, bool& first,
                  Sink& out) {
  const auto render = [&](std::span<const R> piece, Text& text) {
    Writer w(f, ranges, text);
    // Where the exceptions that can touch this piece start.
    std::size_t at = first_reaching(ex, piece.front().first);
    for (const R& r : piece) {
      if (ranges) {
        subtract(r, ex, at, [&](const R& x) { w.range(x.first, x.last); });
      } else {
        subtract(r, ex, at, [&](const R& x) {
          prefixes_of(x, [&](Num<R> a, unsigned len) { w.prefix(a, len); });
        });
      }
    }
  };
  const auto emit = [&](std::span<const R>, const Text& text) {
    std::string_view s = text.view();
    if (s.empty()) return;
    if (f == Format::json && first) s.remove_prefix(1);
    first = false;
    out.write(s);
  };
  set.drain(render, emit);
}

}  // namespace

void write_result(MergeResult& r, Format f, Sink& out) {
  if (f == Format::json) out.write(r.ranges ? "{\"ranges\":[" : "{\"prefixes\":[");
  bool first = true;
  write_family(r.v4, r.except4.view(), f, r.ranges, first, out);
  write_family(r.v6, r.except6.view(), f, r.ranges, first, out);
  if (f == Format::json) out.write("]}\n");
}

int merge_mode(const MergeRequest& request, const RunContext& ctx) {
  MergeResult r;
  r.ranges = request.ranges;
  SkippedLines skipped(ctx.diag);
  SkippedLines* const skip = request.skip_bad ? &skipped : nullptr;
  {
    ListSets ex;
    for (const auto name : request.excepts) read_list(name, ex, skip);
    r.except4 = ex.v4.take();
    r.except6 = ex.v6.take();
  }
  ListSets in;
  if (request.common && request.files.size() > 1) {
    // The addresses of every file: each file's union, intersected in turn.
    SortedRanges<Range4> v4;
    SortedRanges<Range6> v6;
    for (std::size_t i = 0; i < request.files.size(); ++i) {
      ListSets one;
      read_list(request.files[i], one, skip);
      SortedRanges<Range4> f4 = one.v4.take();
      SortedRanges<Range6> f6 = one.v6.take();
      v4 = i == 0 ? std::move(f4) : intersect(v4.view(), f4.view());
      v6 = i == 0 ? std::move(f6) : intersect(v6.view(), f6.view());
    }
    for (const Range4& x : v4) in.v4.add(x);
    for (const Range6& x : v6) in.v6.add(x);
  } else {
    for (const auto name : request.files) read_list(name, in, skip);
  }
  skipped.finish();
  r.v4 = std::move(in.v4);
  r.v6 = std::move(in.v6);
  write_result(r, ctx.format, ctx.out);
  return 0;
}

}  // namespace maskery
