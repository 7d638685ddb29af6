// Every message text of the program, in one place: the code and the fuzz targets take them
// from here.
#pragma once

#include <string_view>

namespace maskery {

namespace msg {
inline constexpr std::string_view usage =
    "usage: maskery [inet | inet6] address [netmask | mask ] mask <print>\n"
    "       maskery [inet | inet6] address [prefixlen] len <print>\n"
    "       maskery [inet | inet6] hosts value\n"
    "       maskery [int6 | arpa6] address hostname\n"
    "       maskery stf [inet | inet6 ] address\n";
// What --help adds after the usage text.
inline constexpr std::string_view help =
    "       maskery arpa4 address hostname\n"
    "       maskery zones [inet | inet6] network [rfc2317 | rfc4183 | range] [cnames]\n"
    "       maskery merge [--ranges] [--skip-bad] [--common] [--except file]... [file]...\n"
    "       maskery grep [--invert] [--count] [--quiet] [--which] networks [file]...\n"
    "       maskery grep [options] --in list [--in list]... [file]...\n"
    "       maskery contains networks item...\n"
    "       maskery split [inet | inet6] network (/len | hosts count...) [--except file]...\n"
    "       maskery batch [file]...\n"
    "       maskery --json form...\n"
    "\n"
    "Calculate IPv4 and IPv6 networks.\n"
    "\n"
    "  inet|inet6 address/len, or address prefixlen len, netmask mask, mask inverse-mask\n"
    "        report the network: first and last address, number of addresses, prefix\n"
    "        length and masks; with print, every line starts with \"; \" and every\n"
    "        address of the network is listed after the report\n"
    "  inet|inet6 hosts count     the prefix length a network of count addresses needs\n"
    "  arpa6|int6 address name    the PTR line of an IPv6 address (ip6.arpa or ip6.int)\n"
    "  arpa4 address name         the PTR line of an IPv4 address (in-addr.arpa)\n"
    "  stf inet address           the 6to4 prefix of an IPv4 address\n"
    "  stf inet6 prefix           the IPv4 address inside a 6to4 prefix\n"
    "  zones family network       the reverse zones that cover the network; rfc2317,\n"
    "                             rfc4183 or range names a classless zone, cnames adds\n"
    "                             the CNAME lines its parent zone needs\n"
    "  merge [file]...            the addresses, prefixes and ranges of the files (or of\n"
    "                             standard input) as the fewest prefixes\n"
    "  grep networks [file]...    the lines that hold an address inside the networks\n"
    "                             (comma-separated addresses, prefixes and ranges)\n"
    "  contains networks item...  status 0 when every item lies inside the networks\n"
    "  split family network /len  every subnet of that length; with --except, the free ones\n"
    "  split family network hosts count...\n"
    "                             blocks for the counts, largest first, lowest free first\n"
    "  batch [file]...            one request per line, as if each were given here\n"
    "\n"
    "Options:\n"
    "  --json          write each result as one JSON object on one line\n"
    "  --ranges        (merge) write first-last ranges instead of prefixes\n"
    "  --except file   (merge) take the addresses listed in file out of the result\n"
    "  --skip-bad      (merge) name every bad line on standard error and skip it\n"
    "  --common        (merge) the addresses in every file rather than in any\n"
    "  --in list       (grep) the networks listed in a file; may be repeated\n"
    "  --invert, --count, --quiet, --which\n"
    "                  (grep) lines with no address inside; their number; nothing;\n"
    "                  each matching address and the item that holds it\n"
    "  -h, --help      print this help and exit\n"
    "  -V, --version   print the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on any error (in batch: when any request failed);\n"
    "grep and contains: 0 yes, 1 no, 2 on an error.\n"
    "\n"
    "Full documentation: man maskery\n";

// The words of the command line (and of a batch line). Exact texts:
inline constexpr std::string_view invalid_address = "invalid address specification";
inline constexpr std::string_view invalid_cidr = "invalid address/cidr specification\n";  // bare
inline constexpr std::string_view need_family = "must specify an address family";
inline constexpr std::string_view need_ip = "must specify ip address";
inline constexpr std::string_view need_ip_dot = "must specify ip address.";
inline constexpr std::string_view need_ip6_or_net = "must specify ip6 address or net";
inline constexpr std::string_view need_ip6 = "must specify ip6 address.";
inline constexpr std::string_view need_hostname = "must specify a hostname.";
inline constexpr std::string_view need_network = "must specify a network";
inline constexpr std::string_view need_bits = "specify network bits or mask.";
inline constexpr std::string_view cnames_length =
    "`cnames' needs an inet network of prefix length 25 to 31";
// Texts that the offending word follows:
inline constexpr std::string_view invalid_family = "invalid address family: ";
inline constexpr std::string_view invalid_words_near = "invalid words near ";
inline constexpr std::string_view invalid_prefix_length = "invalid prefix length: ";
inline constexpr std::string_view invalid_keyword = "invalid network keyword: ";
inline constexpr std::string_view invalid_zones_word = "invalid zones word: ";
inline constexpr std::string_view styles_inet_only = "zone styles are for inet only: ";
inline constexpr std::string_view invalid_mask = "invalid mask specification: ";  // bare, + "\n"
// A first word that is no form: "`WORD' is an invalid address family."
inline constexpr std::string_view word_quote = "`";
inline constexpr std::string_view unknown_form = "' is an invalid address family.";

// Lists, and the modes that read files.
inline constexpr std::string_view not_item = "not an address, prefix or range";
inline constexpr std::string_view two_families = "a range of two families";
inline constexpr std::string_view ends_before_start = "a range that ends before it starts";
inline constexpr std::string_view item_prefix_length = "invalid prefix length";
inline constexpr std::string_view ambiguous_leading_zero = "ambiguous IPv4 address (leading zero)";
inline constexpr std::string_view ambiguous_hexadecimal = "ambiguous IPv4 address (hexadecimal)";
inline constexpr std::string_view ambiguous_short_form = "ambiguous IPv4 address (short form)";
inline constexpr std::string_view line_too_long = "line too long";
inline constexpr std::string_view too_many_items = "too many items";
inline constexpr std::string_view more_bad_lines = " more bad lines skipped";  // after the count
inline constexpr std::string_view need_option_file = "option --except needs a file";
inline constexpr std::string_view invalid_option = "invalid option: ";
inline constexpr std::string_view not_in_batch = "' cannot be used in a batch";  // after "`WORD"
inline constexpr std::string_view nul_in_word = "a NUL byte in a word";
inline constexpr std::string_view json_first = "--json must be the first word";

// split.
inline constexpr std::string_view need_split = "must specify /LEN or hosts COUNT...";
inline constexpr std::string_view need_count = "must specify a count";
inline constexpr std::string_view invalid_split_word = "invalid split word: ";
inline constexpr std::string_view shorter_than_network = " is shorter than the network ";
inline constexpr std::string_view hosts_do_not_fit = "hosts do not fit in ";

// grep and contains.
inline constexpr std::string_view need_in_file = "option --in needs a file";
inline constexpr std::string_view need_networks = "must specify networks (or --in LIST)";
inline constexpr std::string_view need_items = "must specify an address, prefix or range";
inline constexpr std::string_view which_invert = "--which and --invert cannot be used together";

// Standard output.
inline constexpr std::string_view write_error = "write error: ";  // and the reason
// Every text that the command line's words alone can bring (no file read), for the fuzz
// target's check that a failure is one of the program's own messages. Exact texts:
inline constexpr std::string_view word_failures[] = {
    invalid_address, need_family,  need_ip,      need_ip_dot,   need_ip6_or_net, need_ip6,
    need_hostname,   need_network, need_bits,    cnames_length, need_split,      need_count,
    need_networks,   need_items,   which_invert, json_first,    need_option_file};
// Texts that a word follows:
inline constexpr std::string_view word_failure_heads[] = {
    invalid_family,     invalid_words_near, invalid_prefix_length,
    invalid_keyword,    invalid_zones_word, styles_inet_only,
    invalid_split_word, invalid_option,     hosts_do_not_fit};
// The reasons an item word is not an item, each followed by ": " and the word:
inline constexpr std::string_view item_failures[] = {not_item,
                                                     two_families,
                                                     ends_before_start,
                                                     item_prefix_length,
                                                     ambiguous_leading_zero,
                                                     ambiguous_hexadecimal,
                                                     ambiguous_short_form};
}  // namespace msg

}  // namespace maskery
