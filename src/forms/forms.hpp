// The forms: the calculations of the network report, host count, PTR line and 6to4, and
// their records (the reverse zones are in zones.hpp). Each calculation returns a plain record
// of its values, or throws Failure when its words do not convert; the writers
// (writers/writers.hpp) render a record as text or JSON through the sink.
#pragma once

#include <string>
#include <string_view>

#include "core/address_text.hpp"

namespace maskery {

// A network report request, as the command line gives it.
struct cmdargs {
  Family af = Family::inet;
  std::string address;     // the address text
  unsigned long bits = 0;  // the prefix length; the command line keeps it below 2^31
  bool dorange = false;    // print mode: "; " before the report lines, then the listing
};

// The values of a network report, both families.
struct NetworkReport {
  Family af = Family::inet;
  Address first;            // the first address of the network
  Address last;             // the last address
  std::string_view hosts;   // the number of addresses, exact decimal digits (static text)
  unsigned long prefixlen;  // the length as given, even above the width
  Address netmask;          // the contiguous mask of the length, capped at the width
  Address mask;             // IPv4: the inverse mask
  bool dorange = false;     // print mode: the listing follows
};

// The address of the request, or the failure "invalid address specification".
Address request_address(const cmdargs& cd);

// The report of the network of either family; the two names are its entry points by family.
NetworkReport network_report(const cmdargs& cd);
NetworkReport ipv4_report(const cmdargs& cd);
NetworkReport ipv6_report(const cmdargs& cd);

// The exact decimal text of 2 to the power k, for k up to 128, as static text.
std::string_view power_of_two_decimal(unsigned k) noexcept;

// The prefix length a network needs for a number of addresses.
struct HostsReport {
  Family af = Family::inet;
  double theoretical_len = 0;  // printed with 30 decimals
  double working_len = 0;      // a whole number, printed with none
  double hosts = 0;            // a power of two, printed with none
  std::uint32_t count = 0;     // the count as read (not printed; split writes it back)
};
HostsReport mask_discover(const char* number, Family af);

// A PTR line: the reverse name of an address, and the host name it points at.
struct PtrRecord {
  Family af = Family::inet6;
  std::string name;           // absolute: it ends with the tree and a dot
  std::string_view hostname;  // the word as given
};

// The reverse tree of a PTR line: in-addr.arpa for IPv4; ip6.arpa or the old ip6.int for IPv6.
enum class ReverseTree { in_addr_arpa, ip6_int, ip6_arpa };
// The PTR line of an address of the tree's family.
PtrRecord ptr_record(const char* address, const char* hostname, ReverseTree tree);
// The entry points by family: IPv6 under the given tree, IPv4 under in-addr.arpa.
PtrRecord reverse_zone(const char* address, const char* hostname, ReverseTree tree);
PtrRecord reverse_zone4(const char* address, const char* hostname);

// The labels of the reverse name of the first len bits of a, each followed by a dot: the
// bytes (IPv4, len a multiple of 8) or the nibbles (IPv6, len a multiple of 4) from the last
// of them to the first. The tree comes after them.
std::string reverse_labels(const Address& a, unsigned len);

// The same with its tree: in-addr.arpa. or ip6.arpa.
std::string reverse_name(const Address& a, unsigned len);

// The 6to4 prefix of an IPv4 address ("inet"), or the IPv4 parent of a 6to4 text ("inet6").
struct StfReport {
  Address parent;  // the IPv4 address; the network is 2002:<its four bytes>::/48
};
StfReport stf(Family af, const char* address);

// "inet" or "inet6".
constexpr std::string_view family_name(Family af) noexcept {
  return af == Family::inet ? "inet" : "inet6";
}

}  // namespace maskery
