#include "frontend.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "failure.hpp"
#include "number_words.hpp"
#include "version.hpp"

namespace maskery {

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

namespace {

// A mask word that is no address is refused, never taken as all ones.
Address mask_word(Family af, const char* word) {
  if (auto a = parse_address(af, word)) return *a;
  invalid_mask(word);
}

}  // namespace

unsigned long keyword_bits(Family af, std::string_view keyword, const char* value) {
  if (keyword == "prefixlen") return read_prefix_length(value);
  if (keyword == "netmask") return extractbits(mask_word(af, value));
  return extractbits(invert_mask(mask_word(Family::inet, value)));
}

bool is_network_keyword(Family af, std::string_view word) {
  return word == "prefixlen" || word == "netmask" || (word == "mask" && af == Family::inet);
}

std::optional<cmdargs> proccmdargs(std::span<const char* const> words, Format format, Sink& out) {
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
      write_result(stf(Family::inet, word(3)), format, out);
    } else if (family == "inet6") {
      if (n < 3) fail("must specify ip6 address or net");
      write_result(stf(Family::inet6, word(3)), format, out);
    } else {
      fail("invalid address family: "s.append(family));
    }
    return std::nullopt;
  }
  if (w1 == "int6" || w1 == "arpa6") {
    if (n < 2) fail("must specify ip6 address.");
    if (n < 3) fail("must specify a hostname.");
    const auto tree = w1 == "int6" ? ReverseTree::ip6_int : ReverseTree::ip6_arpa;
    write_result(reverse_zone(word(2), word(3), tree), format, out);
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
    write_result(mask_discover(word(3), cd.af), format, out);
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
  if (!is_network_keyword(cd.af, keyword)) usage();
  // Exactly four words, unless print mode lets "print" end a longer line.
  if (n != 4 && !cd.dorange) fail("invalid words near "s.append(keyword));
  cd.bits = keyword_bits(cd.af, keyword, word(4));
  return cd;
}

int run_request(std::span<const char* const> words, const RunContext& ctx) {
  if (words.empty()) usage();
  // New modes are first words that the original forms reject, so none of their output moves.
  const std::string_view first = words[0];
  if (first == "arpa4") return arpa4_mode(words, ctx);
  if (first == "zones") return zones_mode(words, ctx);
  if (first == "merge") return merge_mode(words, ctx);
  if (first == "batch") return batch_mode(words, ctx);
  const std::optional<cmdargs> cd = proccmdargs(words, ctx.format, ctx.out);
  if (cd) {
    write_result(cd->af == Family::inet6 ? ipv6_report(*cd) : ipv4_report(*cd), ctx.format,
                 ctx.out);
  }
  return 0;
}

int run(std::span<const char* const> words, Sink& out, Diagnostics& diag) {
  RunContext ctx{Format::text, out, diag};
  if (!words.empty() && std::string_view(words[0]) == "--json") {
    ctx.format = Format::json;
    words = words.subspan(1);
  }
  if (words.empty()) usage();
  // Help and version, as the first word only; any other word that starts with "-" is an
  // address family like any other, and wrong.
  const std::string_view first = words[0];
  if (first == "--help" || first == "-h") {
    out.write(msg::usage);
    out.write(msg::help);
    return 0;
  }
  if (first == "--version" || first == "-V") {
    out.write("maskery "s.append(kVersion).append("\n"));
    return 0;
  }
  return run_request(words, ctx);
}

}  // namespace maskery
