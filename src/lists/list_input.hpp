// Reading lists: files (or standard input, "-") of list lines into the sets of both
// families. A bad line or a failed read is a Failure "FILE:LINE: <reason>: <text>" or
// "FILE: <reason>", naming the first in the order of the file.
#pragma once

#include <string_view>
#include <utility>

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

// Adds the items of the list in the file to sets. A large regular file is read by the two
// list threads, a half each: parsing is what takes the time.
void read_list(std::string_view name, ListSets& sets);

}  // namespace maskery
