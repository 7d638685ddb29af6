// The calculations of the network reports, host counts, PTR lines and 6to4, and their records.
// Each calculation returns a plain record of its values, or throws Failure when its words do not
// convert; the writers (report_writers.cpp) render a record as text or JSON through the sink.
#pragma once

#include <string>
#include <string_view>

#include "address_primitives.hpp"
#include "output.hpp"

namespace maskery {

// How a result is written: the text made for eyes, or one JSON object per result.
enum class Format : std::uint8_t { text, json };

// A network report request, as the command line gives it.
struct cmdargs {
  Family af = Family::inet;
  std::string address;     // the address text
  unsigned long bits = 0;  // the prefix length; the command line keeps it below 2^31
  bool dorange = false;    // print mode: "; " before the report lines, then the listing
};

// Address texts this long or longer are never valid and are rejected, not cut.
inline constexpr std::size_t kAddressField = 64;

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

NetworkReport ipv4_report(const cmdargs& cd);
NetworkReport ipv6_report(const cmdargs& cd);

// The exact decimal text of 2 to the power k, for k up to 128, as static text.
std::string_view power_of_two_decimal(unsigned k) noexcept;

// The lines of a listing: text (one address and a newline each) or the elements of a JSON
// array (each address quoted, separated by commas).
enum class ListStyle : std::uint8_t { lines, json_elements };

// Every address from first to last, both included. Stops at last even when last is the top
// of the address space.
void list_addresses(const Address& first, const Address& last, Sink& out,
                    ListStyle style = ListStyle::lines);

// The prefix length a network needs for a number of addresses.
struct HostsReport {
  Family af = Family::inet;
  double theoretical_len = 0;  // printed with 30 decimals
  double working_len = 0;      // a whole number, printed with none
  double hosts = 0;            // a power of two, printed with none
};
HostsReport mask_discover(const char* number, Family af);

// A PTR line: the reverse name of an address, and the host name it points at.
struct PtrRecord {
  Family af = Family::inet6;
  std::string name;           // absolute: it ends with the tree and a dot
  std::string_view hostname;  // the word as given
};

enum class ReverseTree { ip6_int, ip6_arpa };
// The PTR line of an IPv6 address under the given reverse tree.
PtrRecord reverse_zone(const char* address, const char* hostname, ReverseTree tree);

// The 6to4 prefix of an IPv4 address ("inet"), or the IPv4 parent of a 6to4 text ("inet6").
struct StfReport {
  Address parent;  // the IPv4 address; the network is 2002:<its four bytes>::/48
};
StfReport stf(Family af, const char* address);

// The writers: each renders its record in the format through the sink.
void write_result(const NetworkReport& r, Format f, Sink& out);
void write_result(const HostsReport& r, Format f, Sink& out);
void write_result(const PtrRecord& r, Format f, Sink& out);
void write_result(const StfReport& r, Format f, Sink& out);

// "inet" or "inet6".
constexpr std::string_view family_name(Family af) noexcept {
  return af == Family::inet ? "inet" : "inet6";
}

}  // namespace maskery
