#include "frontend.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "number_words.hpp"
#include "version.hpp"

namespace maskery {

namespace {

using namespace std::string_literals;

// Address and length of an address/length word: its first two non-empty pieces between
// slashes; anything after them is ignored.
void split_cidr(std::string_view word, cmdargs& cd) {
  std::string_view pieces[2];
  std::size_t found = 0;
  while (found < 2) {
    const std::size_t slash = word.find('/');
    const std::string_view piece = word.substr(0, slash);
    if (!piece.empty()) pieces[found++] = piece;
    if (slash == std::string_view::npos) break;
    word.remove_prefix(slash + 1);
  }
  if (found < 2) fail_bare(std::string(msg::invalid_cidr));
  cd.address = std::string(pieces[0]);
  // The piece ends at a slash or at the end of the word; read_prefix_length wants it alone.
  cd.bits = read_prefix_length(std::string(pieces[1]).c_str());
}

// A mask word that is no address is refused, never taken as all ones.
Address mask_word(Family af, const char* word) {
  if (auto a = parse_address(af, word)) return *a;
  invalid_mask(word);
}

}  // namespace

std::optional<cmdargs> proccmdargs(std::span<const char* const> words, Sink& out) {
  const std::size_t n = words.size();
  if (n == 0) usage();
  // Word k, counted from 1, or null when there is none.
  const auto word = [&](std::size_t k) -> const char* { return k <= n ? words[k - 1] : nullptr; };
  const std::string_view w1 = word(1);

  if (w1 == "stf") {
    if (n < 2) fail("must specify an address family");
    const std::string_view family = word(2);
    if (family == "inet") {
      if (n < 3) fail("must specify ip address");
      stf(Family::inet, word(3), out);
    } else if (family == "inet6") {
      if (n < 3) fail("must specify ip6 address or net");
      stf(Family::inet6, word(3), out);
    } else {
      fail("invalid address family: "s.append(family));
    }
    return std::nullopt;
  }
  if (w1 == "int6" || w1 == "arpa6") {
    if (n < 2) fail("must specify ip6 address.");
    if (n < 3) fail("must specify a hostname.");
    reverse_zone(word(2), word(3), w1 == "int6" ? ReverseTree::ip6_int : ReverseTree::ip6_arpa,
                 out);
    return std::nullopt;
  }

  cmdargs cd;
  cd.dorange = std::string_view(word(n)) == "print";
  if (w1 == "inet") {
    cd.af = Family::inet;
  } else if (w1 == "inet6") {
    cd.af = Family::inet6;
  } else {
    fail("`"s.append(w1).append("' is an invalid address family."));
  }
  if (n == 1) usage();

  const std::string_view w2 = word(2);
  if (w2 == "hosts") {
    if (n < 3) usage();
    mask_discover(word(3), cd.af, out);
    return std::nullopt;
  }
  if (w2.find('/') != std::string_view::npos) {
    split_cidr(w2, cd);
    return cd;
  }

  // The keyword form: address, keyword, value.
  if (n == 2) fail("specify network bits or mask.");
  cd.address = w2;
  const std::string_view keyword = word(3);
  const bool known = keyword == "prefixlen" || keyword == "netmask" ||
                     (keyword == "mask" && cd.af == Family::inet);
  if (!known) usage();
  // Exactly four words, unless print mode lets "print" end a longer line.
  if (n != 4 && !cd.dorange) fail("invalid words near "s.append(keyword));
  const char* value = word(4);
  if (keyword == "prefixlen") {
    cd.bits = read_prefix_length(value);
  } else if (keyword == "netmask") {
    cd.bits = extractbits(mask_word(cd.af, value));
  } else {
    cd.bits = extractbits(invert_mask(mask_word(Family::inet, value)));
  }
  return cd;
}

void run(std::span<const char* const> words, Sink& out) {
  if (words.empty()) usage();
  // Help and version, as the first word only; any other word that starts with "-" is an
  // address family like any other, and wrong.
  const std::string_view first = words[0];
  if (first == "--help" || first == "-h") {
    out.write(msg::usage);
    return;
  }
  if (first == "--version" || first == "-V") {
    out.write("maskery "s.append(kVersion).append("\n"));
    return;
  }
  const std::optional<cmdargs> cd = proccmdargs(words, out);
  if (!cd) return;
  if (cd->af == Family::inet6) {
    ipv6_report(*cd, out);
  } else {
    ipv4_report(*cd, out);
  }
}

}  // namespace maskery
