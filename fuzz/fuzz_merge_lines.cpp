// Lines of a merge list, any bytes. Properties: no crash or sanitizer report; a line is an
// item exactly when the program's own address reader accepts its text; and the merged
// ranges are exactly the union of the items, computed by a plain sort and fold.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "lists/list_line.hpp"
#include "modes/merge.hpp"

namespace {

using maskery::Item;

// The exact union of the items, by std::sort and a plain fold: apart from the set's buckets,
// pieces and packing, so that a fold that bridged a gap, or lost or split a range, differs.
template <class R>
std::vector<R> plain_union(std::vector<R> items) {
  std::sort(items.begin(), items.end(), [](const R& a, const R& b) { return a.first < b.first; });
  std::vector<R> out;
  for (const R& r : items) {
    if (!out.empty() && maskery::joins(out.back(), r)) {
      out.back().last = std::max(out.back().last, r.last);
    } else {
      out.push_back(r);
    }
  }
  return out;
}

template <class R>
void check_merged(std::vector<R> items, maskery::RangeSet<R>& flat, maskery::RangeSet<R>& buckets) {
  const std::vector<R> want = plain_union(std::move(items));
  // Held in one array; and in buckets, cut into small pieces (so that short inputs are cut
  // and joined again too) and drained by both threads.
  for (const auto& merged : {flat.take(2), buckets.take(2, 0)}) {
    if (merged.size() != want.size()) std::abort();
    for (std::size_t i = 0; i < want.size(); ++i) {
      if (merged[i].first != want[i].first || merged[i].last != want[i].last) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  maskery::RangeSet<maskery::Range4> v4, b4(0);
  maskery::RangeSet<maskery::Range6> v6, b6(0);
  std::vector<maskery::Range4> items4;
  std::vector<maskery::Range6> items6;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    line.push_back('\0');  // the writable byte after the line that the reader gives
    const std::string plain = line.substr(0, line.size() - 1);
    Item item;
    bool accepted = true;
    try {
      item = maskery::read_item(line.data(), line.size() - 1);
    } catch (const maskery::Failure& f) {
      if (f.text().substr(0, 2) != ": ") std::abort();
      accepted = false;
    }
    // A bare address word: the item is what the address readers make of it (IPv6 text, or
    // a dotted quad of four decimal numbers), and nothing else.
    if (!plain.empty() && plain.find_first_of("#;-/ \t\r\n\v\f") == std::string::npos) {
      const bool colon = plain.find(':') != std::string::npos;
      std::optional<maskery::Address> want;
      if (colon) {
        if (plain.find('\0') == std::string::npos) {
          want = maskery::parse_address(maskery::Family::inet6, plain.c_str());
        }
      } else {
        std::uint32_t v;
        const char* const e = plain.data() + plain.size();
        if (maskery::scan_ipv4_decimal(plain.data(), e, v) == e) want = maskery::Address::v4(v);
      }
      if (want.has_value() != accepted) std::abort();
      if (accepted) {
        const maskery::Address got = item.kind == Item::Kind::inet
                                         ? maskery::from_value(item.r4.first)
                                         : maskery::from_value(item.r6.first);
        if (!(got == *want)) std::abort();
      }
    }
    if (!accepted) continue;
    if (item.kind == Item::Kind::inet) {
      v4.add(item.r4);
      b4.add(item.r4);
      items4.push_back(item.r4);
    } else if (item.kind == Item::Kind::inet6) {
      v6.add(item.r6);
      b6.add(item.r6);
      items6.push_back(item.r6);
    }
  }
  check_merged(items4, v4, b4);
  check_merged(items6, v6, b6);
  return 0;
}
