// How a run fails: the exact message and the form in which main writes it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace maskery {

class Failure : public std::runtime_error {
 public:
  enum class Form {
    named,  // "<program name>: <text>\n"
    bare,   // the text exactly as it stands
  };

  Failure(Form form, std::string text)
      : std::runtime_error(text), form_(form), text_(std::move(text)) {}

  Form form() const noexcept { return form_; }
  const std::string& text() const noexcept { return text_; }

  // The bytes for standard error, under the given program name.
  std::string render(std::string_view program_name) const;

 private:
  Form form_;
  std::string text_;
};

// Standard output refused a write: the run cannot go on, whatever mode it is in.
class WriteFailure final : public Failure {
 public:
  explicit WriteFailure(std::string text) : Failure(Form::named, std::move(text)) {}
};

// The last component of the name the program was started under.
std::string_view program_name(const char* argv0) noexcept;

// Every message text of the program, in one place.
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
    "       maskery merge [--ranges] [--except file]... [file]...\n"
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
    "  batch [file]...            one request per line, as if each were given here\n"
    "\n"
    "Options:\n"
    "  --json          write each result as one JSON object on one line\n"
    "  --ranges        (merge) write first-last ranges instead of prefixes\n"
    "  --except file   (merge) take the addresses listed in file out of the result\n"
    "  -h, --help      print this help and exit\n"
    "  -V, --version   print the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on any error (in batch: when any request failed).\n"
    "\n"
    "Full documentation: man maskery\n";
inline constexpr std::string_view invalid_address = "invalid address specification";
inline constexpr std::string_view invalid_cidr = "invalid address/cidr specification\n";
}  // namespace msg

[[noreturn]] void usage();
[[noreturn]] void fail(std::string text);               // named form
[[noreturn]] void fail_bare(std::string text);          // bare form
[[noreturn]] void invalid_mask(std::string_view word);  // "invalid mask specification: %s\n"

}  // namespace maskery
