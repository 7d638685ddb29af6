// What a run asks for: one request value a form or mode, read from the words by the front
// end (cli/words.hpp) and carried out by execute() (execute.hpp). Words are kept as the
// command line gave them; the calculations convert them, so that every failure comes in the
// order the forms have always given it.
#pragma once

#include <string_view>
#include <variant>
#include <vector>

#include "forms/forms.hpp"
#include "forms/zones.hpp"

namespace maskery {

// inet|inet6 NETWORK [print]: the network report (and its listing).
struct ReportRequest {
  cmdargs network;
};
// inet|inet6 hosts COUNT
struct HostsRequest {
  Family af = Family::inet;
  const char* count = nullptr;
};
// arpa4|arpa6|int6 ADDRESS HOSTNAME
struct PtrRequest {
  ReverseTree tree = ReverseTree::ip6_arpa;
  const char* address = nullptr;
  const char* hostname = nullptr;
};
// stf inet|inet6 ADDRESS
struct StfRequest {
  Family af = Family::inet;
  const char* address = nullptr;
};
// zones FAMILY NETWORK [STYLE] [cnames]
struct ZonesRequest {
  cmdargs network;
  ZoneStyle style = ZoneStyle::rfc2317;
  bool cnames = false;
};
// merge [--ranges] [--skip-bad] [--common] [--except FILE]... [FILE]...
struct MergeRequest {
  std::vector<std::string_view> files;    // standard input ("-") when none were given
  std::vector<std::string_view> excepts;  // lists whose addresses leave the result
  bool ranges = false;                    // first-last ranges rather than prefixes
  bool skip_bad = false;                  // bad lines named on standard error and skipped
  bool common = false;                    // the addresses in every file, not in any
};
// grep [--invert] [--count] [--quiet] [--which] NETWORKS|--in LIST... [FILE]...
struct GrepRequest {
  std::string_view networks;            // comma-separated items, when no --in is given
  std::vector<std::string_view> lists;  // --in
  std::vector<std::string_view> files;  // standard input ("-") when none were given
  bool invert = false, count = false, quiet = false, which = false;
};
// contains NETWORKS ITEM...
struct ContainsRequest {
  std::string_view networks;
  std::vector<std::string_view> items;
};
// split inet|inet6 NETWORK (/LEN | hosts COUNT...) [--except LIST]...
struct SplitRequest {
  cmdargs network;                        // ADDRESS/LEN, host bits ignored
  const char* length = nullptr;           // "/LEN": subnets of that length
  std::vector<const char*> counts;        // or, after "hosts": blocks for these counts
  std::vector<std::string_view> excepts;  // lists of the addresses in use
};
// batch [FILE]...
struct BatchRequest {
  std::vector<std::string_view> files;  // standard input ("-") when none were given
};
// --help, --version
struct HelpRequest {};
struct VersionRequest {};

using Request = std::variant<ReportRequest, HostsRequest, PtrRequest, StfRequest, ZonesRequest,
                             MergeRequest, GrepRequest, ContainsRequest, SplitRequest, BatchRequest,
                             HelpRequest, VersionRequest>;

}  // namespace maskery
