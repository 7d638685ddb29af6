// Per-line cost of the listing and of the address text form, into a sink that discards; the
// two readers of dotted quads, on addresses in no order (as in a log) and sorted (as in many
// lists); and the search of log lines for every address they hold (grep --which reads each
// line to its end).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/address_text.hpp"
#include "core/sink.hpp"
#include "lists/text_addresses.hpp"
#include "writers/writers.hpp"

namespace {

class NullSink final : public maskery::Sink {
 protected:
  void drain(const char* data, std::size_t n) override {
    benchmark::DoNotOptimize(data);
    benchmark::DoNotOptimize(n);
  }
};

void list(benchmark::State& state, maskery::Family af, const char* first, const char* last) {
  const maskery::Address a = maskery::packadrinfo(af, first);
  const maskery::Address b = maskery::packadrinfo(af, last);
  NullSink out;
  for (auto _ : state) {
    maskery::list_addresses(a, b, out);
    out.flush();
  }
  state.SetItemsProcessed(state.iterations() * 65536);
}

void BM_ListIpv4Slash16(benchmark::State& state) {
  list(state, maskery::Family::inet, "10.1.0.0", "10.1.255.255");
}
BENCHMARK(BM_ListIpv4Slash16);

void BM_ListIpv6Slash112(benchmark::State& state) {
  list(state, maskery::Family::inet6, "2001:db8::ab:0", "2001:db8::ab:ffff");
}
BENCHMARK(BM_ListIpv6Slash112);

void BM_ListIpv4MappedSlash112(benchmark::State& state) {
  list(state, maskery::Family::inet6, "::ffff:10.1.0.0", "::ffff:10.1.255.255");
}
BENCHMARK(BM_ListIpv4MappedSlash112);

void BM_FormatIpv6(benchmark::State& state) {
  const maskery::Address a = maskery::packadrinfo(maskery::Family::inet6, "2001:db8:0:0:1:0:0:1");
  char buf[maskery::kMaxAddressText + 1];
  for (auto _ : state) {
    benchmark::DoNotOptimize(maskery::format_address(buf, a));
  }
}
BENCHMARK(BM_FormatIpv6);

// 100,000 quads, one a line, in no order or ascending with small gaps; the offsets of their
// starts. Sixteen bytes of newlines after the last, as the readers may look that far.
struct Quads {
  std::string text;
  std::vector<std::size_t> at;
};
Quads make_quads(bool sorted) {
  std::mt19937_64 rng(7);
  Quads q;
  std::uint32_t a = 0x01000000;
  for (int i = 0; i < 100000; ++i) {
    const auto v = sorted ? (a += 1 + static_cast<std::uint32_t>(rng() % 512))
                          : static_cast<std::uint32_t>(rng());
    char line[20];
    const int n = std::snprintf(line, sizeof line, "%u.%u.%u.%u\n", v >> 24, v >> 16 & 255,
                                v >> 8 & 255, v & 255);
    q.at.push_back(q.text.size());
    q.text.append(line, static_cast<std::size_t>(n));
  }
  q.text.append(maskery::kQuadReach, '\n');
  return q;
}

using QuadReader = const char* (*)(const char*, std::uint32_t&);
void read_quads(benchmark::State& state, QuadReader read, bool sorted) {
  const Quads q = make_quads(sorted);
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (const std::size_t at : q.at) {
      std::uint32_t v = 0;
      benchmark::DoNotOptimize(read(q.text.data() + at, v));
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(q.at.size()));
}

// The reader of list lines (branches on each number's length) and the reader of text
// (grep's: no branch on it, where the processor has SSE2).
BENCHMARK_CAPTURE(read_quads, ListReaderRandom, maskery::scan_ipv4_quad, false);
BENCHMARK_CAPTURE(read_quads, ListReaderSorted, maskery::scan_ipv4_quad, true);
BENCHMARK_CAPTURE(read_quads, TextReaderRandom, maskery::scan_ipv4_padded, false);
BENCHMARK_CAPTURE(read_quads, TextReaderSorted, maskery::scan_ipv4_padded, true);

// 100,000 lines of a web server's access log, each with its client's address first (nine in
// ten IPv4, the rest IPv6 in brackets) and the date, request and agent after it, whose times,
// versions and file names have the dots and colons that the search must look at and pass.
std::string make_log() {
  std::mt19937_64 rng(11);
  const char* const requests[] = {"GET / HTTP/1.1", "GET /index.html HTTP/1.1",
                                  "GET /api/v1/items?id=42 HTTP/1.1"};
  const char* const agents[] = {"Mozilla/5.0 (X11; Linux x86_64)", "curl/8.5.0",
                                "Go-http-client/1.1"};
  std::string text;
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t r = rng();
    char client[48];
    const auto v = static_cast<std::uint32_t>(r);
    if (r >> 60 == 0) {
      std::snprintf(client, sizeof client, "[2001:db8:%x:%x::%x]", v >> 16, v & 0xffff,
                    static_cast<unsigned>(r >> 32 & 0xfff));
    } else {
      std::snprintf(client, sizeof client, "%u.%u.%u.%u", v >> 24, v >> 16 & 255, v >> 8 & 255,
                    v & 255);
    }
    char line[256];
    const int n = std::snprintf(
        line, sizeof line, "%s - - [10/Dec/2026:13:55:%02d +0000] \"%s\" 200 %u \"-\" \"%s\"\n",
        client, i % 60, requests[r >> 40 & 1 ? 0 : (r >> 41) % 3],
        static_cast<unsigned>(r >> 44 & 0x3fff), agents[(r >> 58) % 3]);
    text.append(line, static_cast<std::size_t>(n));
  }
  return text;
}

void read_log_lines(benchmark::State& state) {
  const std::string log = make_log();
  const char* const e = log.data() + log.size();
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (const char* line = log.data(); line != e;) {
      const char* nl =
          maskery::for_each_address_in_line(line, e, [&](const maskery::TextAddress& a) {
            sum += a.v6 ? static_cast<std::uint64_t>(a.value6) : a.v4;
            return true;
          });
      line = nl + 1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(read_log_lines);

}  // namespace

BENCHMARK_MAIN();
