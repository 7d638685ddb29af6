#include "cli/words.hpp"

#include <string>
#include <string_view>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "core/numbers.hpp"

namespace maskery {

namespace {

using namespace std::string_literals;

// The words, counted from 1 as the messages count them; word(k) is null past the end.
struct Words {
  std::span<const char* const> w;
  std::size_t size() const noexcept { return w.size(); }
  const char* operator()(std::size_t k) const noexcept {
    return k <= w.size() ? w[k - 1] : nullptr;
  }
};

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

bool is_network_keyword(Family af, std::string_view word) {
  return word == "prefixlen" || word == "netmask" || (word == "mask" && af == Family::inet);
}

unsigned long keyword_bits(Family af, std::string_view keyword, const char* value) {
  if (keyword == "prefixlen") return read_prefix_length(value);
  if (keyword == "netmask") return extractbits(mask_word(af, value));
  return extractbits(invert_mask(mask_word(Family::inet, value)));
}

// "inet" or "inet6" as word k, for the forms that name the family second.
Family family_word(const Words& word, std::size_t k, std::string_view missing) {
  if (word.size() < k) fail(std::string(missing));
  const std::string_view family = word(k);
  if (family == "inet") return Family::inet;
  if (family == "inet6") return Family::inet6;
  fail(std::string(msg::invalid_family).append(family));
}

// How the network words end for a form: the reports let "print" end a longer keyword line;
// zones take more words after the network and name a wrong keyword.
enum class NetworkUse { report, zones };

// The network from word k on, as the reports read it: ADDRESS/LEN, or ADDRESS KEYWORD VALUE.
// Returns the first word after it.
std::size_t network_words(const Words& word, std::size_t k, NetworkUse use, cmdargs& cd) {
  const std::size_t n = word.size();
  const std::string_view w = word(k);
  if (w.find('/') != std::string_view::npos) {
    split_cidr(w, cd);
    return k + 1;
  }
  if (n == k) fail(std::string(msg::need_bits));
  const std::string_view keyword = word(k + 1);
  if (use == NetworkUse::report) {
    cd.address = w;
    if (!is_network_keyword(cd.af, keyword)) usage();
    // Exactly four words, unless print mode lets "print" end a longer line.
    if (n != k + 2 && !cd.dorange) fail(std::string(msg::invalid_words_near).append(keyword));
  } else {
    if (!is_network_keyword(cd.af, keyword)) {
      fail(std::string(msg::invalid_keyword).append(keyword));
    }
    if (n < k + 2) fail(std::string(msg::invalid_words_near).append(keyword));
    cd.address = w;
  }
  cd.bits = keyword_bits(cd.af, keyword, word(k + 2));
  return k + 3;
}

ZonesRequest zones_words(const Words& word) {
  const std::size_t n = word.size();
  ZonesRequest r;
  r.network.af = family_word(word, 2, msg::need_family);
  if (n < 3) fail(std::string(msg::need_network));
  const std::size_t next = network_words(word, 3, NetworkUse::zones, r.network);
  bool styled = false;
  for (std::size_t i = next; i <= n; ++i) {
    const std::string_view w = word(i);
    if (w == "cnames" && !r.cnames) {
      r.cnames = true;
      continue;
    }
    if (!styled && (w == "rfc2317" || w == "rfc4183" || w == "range")) {
      if (r.network.af == Family::inet6) fail(std::string(msg::styles_inet_only).append(w));
      r.style = w == "rfc2317"   ? ZoneStyle::rfc2317
                : w == "rfc4183" ? ZoneStyle::rfc4183
                                 : ZoneStyle::range;
      styled = true;
      continue;
    }
    fail(std::string(msg::invalid_zones_word).append(w));
  }
  return r;
}

MergeRequest merge_words(const Words& word) {
  MergeRequest r;
  bool options = true;
  for (std::size_t i = 2; i <= word.size(); ++i) {
    const std::string_view w = word(i);
    if (options && w == "--") {
      options = false;
    } else if (options && w == "--ranges") {
      r.ranges = true;
    } else if (options && w == "--skip-bad") {
      r.skip_bad = true;
    } else if (options && w == "--common") {
      r.common = true;
    } else if (options && w == "--except") {
      if (i == word.size()) fail(std::string(msg::need_option_file));
      r.excepts.push_back(word(++i));
    } else if (options && w.starts_with("--except=")) {
      r.excepts.push_back(w.substr(9));
    } else if (options && w == "--json") {
      fail(std::string(msg::json_first));
    } else if (options && w.size() > 1 && w[0] == '-') {
      fail(std::string(msg::invalid_option).append(w));
    } else {
      r.files.push_back(w);
    }
  }
  if (r.files.empty()) r.files.emplace_back("-");
  return r;
}

// The failures of grep and contains are status 2: their 1 means "no".
[[noreturn]] void fail2(std::string text) {
  throw Failure(Failure::Form::named, std::move(text)).with_status(2);
}

GrepRequest grep_words(const Words& word) {
  GrepRequest r;
  std::vector<std::string_view> positional;
  bool options = true;
  for (std::size_t i = 2; i <= word.size(); ++i) {
    const std::string_view w = word(i);
    if (options && w == "--") {
      options = false;
    } else if (options && (w == "--invert" || w == "-v")) {
      r.invert = true;
    } else if (options && (w == "--count" || w == "-c")) {
      r.count = true;
    } else if (options && (w == "--quiet" || w == "-q")) {
      r.quiet = true;
    } else if (options && w == "--which") {
      r.which = true;
    } else if (options && w == "--in") {
      if (i == word.size()) fail2(std::string(msg::need_in_file));
      r.lists.push_back(word(++i));
    } else if (options && w.starts_with("--in=")) {
      r.lists.push_back(w.substr(5));
    } else if (options && w == "--json") {
      fail2(std::string(msg::json_first));
    } else if (options && w.size() > 1 && w[0] == '-') {
      fail2(std::string(msg::invalid_option).append(w));
    } else {
      positional.push_back(w);
    }
  }
  std::size_t at = 0;
  if (r.lists.empty()) {
    if (positional.empty()) fail2(std::string(msg::need_networks));
    r.networks = positional[at++];
  }
  r.files.assign(positional.begin() + static_cast<std::ptrdiff_t>(at), positional.end());
  if (r.files.empty()) r.files.emplace_back("-");
  if (r.which && r.invert) fail2(std::string(msg::which_invert));
  return r;
}

ContainsRequest contains_words(const Words& word) {
  ContainsRequest r;
  if (word.size() < 2) fail2(std::string(msg::need_networks));
  if (word.size() < 3) fail2(std::string(msg::need_items));
  r.networks = word(2);
  for (std::size_t i = 3; i <= word.size(); ++i) r.items.emplace_back(word(i));
  return r;
}

SplitRequest split_words(const Words& word) {
  const std::size_t n = word.size();
  SplitRequest r;
  r.network.af = family_word(word, 2, msg::need_family);
  if (n < 3) fail(std::string(msg::need_network));
  split_cidr(word(3), r.network);
  if (n < 4) fail(std::string(msg::need_split));
  std::size_t i = 4;
  if (std::string_view(word(4)) == "hosts") {
    for (++i; i <= n && !std::string_view(word(i)).starts_with("--except"); ++i) {
      r.counts.push_back(word(i));
    }
    if (r.counts.empty()) fail(std::string(msg::need_count));
  } else {
    r.length = word(i++);
  }
  for (; i <= n; ++i) {
    const std::string_view w = word(i);
    if (w == "--except") {
      if (i == n) fail(std::string(msg::need_option_file));
      r.excepts.push_back(word(++i));
    } else if (w.starts_with("--except=")) {
      r.excepts.push_back(w.substr(9));
    } else if (w == "--json") {
      fail(std::string(msg::json_first));
    } else {
      fail(std::string(msg::invalid_split_word).append(w));
    }
  }
  return r;
}

}  // namespace

Request proccmdargs(std::span<const char* const> words) {
  const Words word{words};
  const std::size_t n = word.size();
  if (n == 0) usage();
  const std::string_view w1 = word(1);

  if (w1 == "stf") {
    const Family af = family_word(word, 2, msg::need_family);
    if (n < 3) fail(std::string(af == Family::inet ? msg::need_ip : msg::need_ip6_or_net));
    return StfRequest{af, word(3)};
  }
  if (w1 == "int6" || w1 == "arpa6") {
    if (n < 2) fail(std::string(msg::need_ip6));
    if (n < 3) fail(std::string(msg::need_hostname));
    return PtrRequest{w1 == "int6" ? ReverseTree::ip6_int : ReverseTree::ip6_arpa, word(2),
                      word(3)};
  }

  cmdargs cd;
  cd.dorange = std::string_view(word(n)) == "print";
  if (w1 == "inet") {
    cd.af = Family::inet;
  } else if (w1 == "inet6") {
    cd.af = Family::inet6;
  } else {
    fail(std::string(msg::word_quote).append(w1).append(msg::unknown_form));
  }
  if (n == 1) usage();
  if (std::string_view(word(2)) == "hosts") {
    if (n < 3) usage();
    return HostsRequest{cd.af, word(3)};
  }
  network_words(word, 2, NetworkUse::report, cd);
  return ReportRequest{std::move(cd)};
}

Request read_request(std::span<const char* const> words) {
  if (words.empty()) usage();
  // New modes are first words that the original forms reject, so none of their output moves.
  const Words word{words};
  const std::string_view first = words[0];
  if (first == "arpa4") {
    if (word.size() < 2) fail(std::string(msg::need_ip_dot));
    if (word.size() < 3) fail(std::string(msg::need_hostname));
    return PtrRequest{ReverseTree::in_addr_arpa, word(2), word(3)};
  }
  if (first == "zones") return zones_words(word);
  if (first == "merge") return merge_words(word);
  if (first == "grep") return grep_words(word);
  if (first == "contains") return contains_words(word);
  if (first == "split") return split_words(word);
  if (first == "batch") {
    BatchRequest r{{words.begin() + 1, words.end()}};
    // A first-word option given later would be taken for a file that is not there.
    for (const auto f : r.files) {
      if (f == "--json") fail(std::string(msg::json_first));
    }
    if (r.files.empty()) r.files.emplace_back("-");
    return r;
  }
  return proccmdargs(words);
}

}  // namespace maskery
