// The merged addresses of both families, and their writer.
#pragma once

#include "core/sink.hpp"
#include "lists/range_set.hpp"
#include "writers/writers.hpp"

namespace maskery {

// The input items and the exceptions, held until the writer drains them in order.
struct MergeResult {
  RangeSet<Range4> v4;
  RangeSet<Range6> v6;
  SortedRanges<Range4> except4;
  SortedRanges<Range6> except6;
  bool ranges = false;  // write first-last ranges rather than prefixes
};

// Writes the addresses of r (which it empties), less the exceptions, as prefixes or ranges.
void write_result(MergeResult& r, Format f, Sink& out);

}  // namespace maskery
