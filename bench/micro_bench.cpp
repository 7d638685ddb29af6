// Per-line cost of the listing and of the address text form, into a sink that discards.
#include <benchmark/benchmark.h>

#include "core/address_text.hpp"
#include "core/sink.hpp"
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

}  // namespace

BENCHMARK_MAIN();
