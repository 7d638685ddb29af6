// Reading lists: files (or standard input, "-") of list lines into the sets of both
// families. A bad line or a failed read is a Failure "FILE:LINE: <reason>: <text>" or
// "FILE: <reason>", naming the first in the order of the file, unless bad lines are to be
// skipped. File names and line text in messages are shown escaped.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/diagnostics.hpp"
#include "lists/list_line.hpp"
#include "lists/range_set.hpp"

namespace maskery {

struct ListSets {
  RangeSet<Range4> v4;
  RangeSet<Range6> v6;
  void absorb(ListSets&& other) {
    v4.absorb(std::move(other.v4));
    v6.absorb(std::move(other.v6));
  }
};

// The items of lists one by one, for a mode that needs them apart (which item holds an
// address): each family's ranges in the order given, and for each its number among the items
// of both, with kWritten set when it was written FIRST-LAST. Twelve bytes an IPv4 item.
struct ItemList {
  static constexpr std::uint32_t kWritten = std::uint32_t{1} << 31;
  std::vector<Range4> v4;
  std::vector<std::uint32_t> v4_item;
  std::vector<Range6> v6;
  std::vector<std::uint32_t> v6_item;
  std::uint32_t count = 0;  // items of both families

  void add(const Item& item);
  // Room for the items of either family of a list of this many bytes, had its lines 16 bytes
  // (most have more): reserved, not touched, it spares the copies and the new pages of
  // growing step by step.
  void expect(std::size_t bytes) {
    const std::size_t n = std::min<std::size_t>(bytes / 16, std::size_t{1} << 24);
    v4.reserve(n);
    v4_item.reserve(n);
    // IPv6 lines are longer: a third as many.
    v6.reserve(n / 3);
    v6_item.reserve(n / 3);
  }
  // The items of other after these, numbered on from them.
  void absorb(ItemList&& other);

  // How far each array is mapped ahead of its end (prefault.hpp).
  std::size_t mapped4 = 0, mapped4_item = 0, mapped6 = 0, mapped6_item = 0;
};

// Bad lines to skip rather than fail on: each is named through diag, the first kNamed of a
// run, and finish() gives the count of the rest.
class SkippedLines {
 public:
  static constexpr std::size_t kNamed = 100;
  explicit SkippedLines(Diagnostics& diag) : diag_(diag) {}
  void skip(std::string text);                        // "FILE:LINE: <reason>: <text>"
  void more(std::size_t n) noexcept { count_ += n; }  // bad lines past those a part names
  void finish();

 private:
  Diagnostics& diag_;
  std::size_t count_ = 0;
};

// Adds the items of the list in the file to sets. A large regular file is read by the two
// list threads, a half each: parsing is what takes the time. Standard input is read from its
// position on and left at its end, as a filter leaves it. With skipped, a bad line is
// handed to it and the reading goes on.
void read_list(std::string_view name, ListSets& sets, SkippedLines* skipped = nullptr);

// The same for a list of which only the union is wanted (grep's networks), read in halves from
// 256 KiB on: the second half's items go to second, so that each of the two sets can be sorted
// on a thread of its own and their unions joined (unite), rather than one set sorting them
// all. A set of 100,000 networks was ready in 0.92 of the time. (A merge also writes its
// result, which the second thread shares: its lists are read in halves from 2 MiB.) Returns
// whether it was read in halves.
bool read_list_halves(std::string_view name, ListSets& first, ListSets& second);

}  // namespace maskery

namespace maskery {

// The same for a list whose items are kept one by one.
void read_items(std::string_view name, ItemList& list);

}  // namespace maskery
