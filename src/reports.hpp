// The calculations and their reports. Each writes its lines to the sink it is given and
// throws Failure, before writing anything, when its words do not convert.
#pragma once

#include <string>

#include "address_primitives.hpp"
#include "output.hpp"

namespace maskery {

// A network report request, as the command line gives it.
struct cmdargs {
  Family af = Family::inet;
  std::string address;     // the address text
  unsigned long bits = 0;  // the prefix length; the command line keeps it below 2^31
  bool dorange = false;    // print mode: "; " before the report lines, then the listing
};

// Address texts this long or longer are never valid and are rejected, not cut.
inline constexpr std::size_t kAddressField = 64;

void ipv4_report(const cmdargs& cd, Sink& out);
void ipv6_report(const cmdargs& cd, Sink& out);

// Every address from first to last, both included, one per line. Stops at last even when
// last is the top of the address space.
void list_addresses(const Address& first, const Address& last, Sink& out);

// The prefix length a network needs for the number of addresses in the word.
void mask_discover(const char* number, Family af, Sink& out);

enum class ReverseTree { ip6_int, ip6_arpa };
// The PTR line of an IPv6 address under the given reverse tree.
void reverse_zone(const char* address, const char* hostname, ReverseTree tree, Sink& out);

// The 6to4 prefix of an IPv4 address ("inet"), or the IPv4 parent of a 6to4 text ("inet6").
void stf(Family af, const char* address, Sink& out);

}  // namespace maskery
