#include "lists/list_line.hpp"

#include <cstring>
#include <string>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "core/untrusted.hpp"

namespace maskery {

namespace {

constexpr bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

[[noreturn]] void bad_line(std::string_view where, std::string_view reason, std::string_view text) {
  std::string s(where);
  s.append(": ").append(reason).append(": ").append(shown(text));
  fail(std::move(s));
}

// "/len" at p: one to three decimal digits, len from 0 to width. Returns where the digits
// stop, or null.
const char* prefix_length(const char* p, const char* e, unsigned width, unsigned& len) noexcept {
  if (p == e || *p != '/') return nullptr;
  len = 0;
  int digits = 0;
  for (++p; p != e && *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) {
    len = len * 10 + static_cast<unsigned>(*p - '0');
  }
  return digits == 0 || digits > 3 || len > width ? nullptr : p;
}

// Why a token is not an address of a list, when it is not.
enum class Token { ok, bad, leading_zero, hexadecimal, short_form };

// Why a token that has the shape of a classic IPv4 text (one to four numbers with dots,
// each decimal or 0x hexadecimal) is not a list address: a number in another base, or fewer
// than four of them. The classic forms were read as octal and hexadecimal once, so a
// zero-padded block list was misread.
Token ambiguity(const char* p, const char* end) noexcept {
  bool hex = false, zero = false;
  int parts = 0;
  for (const char* q = p;; ++q) {
    if (q == end || !is_digit(*q)) return Token::bad;  // an empty or a non-numeric part
    ++parts;
    if (*q == '0' && q + 1 != end && (q[1] == 'x' || q[1] == 'X')) {
      hex = true;
      q += 2;
      if (q == end || hex_digit(*q) < 0) return Token::bad;
      while (q != end && hex_digit(*q) >= 0) ++q;
    } else {
      zero = zero || (*q == '0' && q + 1 != end && is_digit(q[1]));
      while (q != end && is_digit(*q)) ++q;
    }
    if (q == end) break;
    if (*q != '.' || parts == 4) return Token::bad;
  }
  if (hex) return Token::hexadecimal;
  if (zero) return Token::leading_zero;
  return parts < 4 ? Token::short_form : Token::bad;
}

// One address token (no blanks in it) of either family: IPv4 as four decimal numbers 0-255
// without leading zeros, and nothing else, since lists build filters.
Token read_token(const char* p, const char* end, Item::Kind& kind, u128& value) noexcept {
  std::uint32_t v4;
  if (scan_ipv4_decimal(p, end, v4) == end) {
    kind = Item::Kind::inet;
    value = v4;
    return Token::ok;
  }
  const auto n = static_cast<std::size_t>(end - p);
  if (std::memchr(p, ':', n) != nullptr) {
    if (scan_ipv6(p, end, value) != end) return Token::bad;
    kind = Item::Kind::inet6;
    return Token::ok;
  }
  return ambiguity(p, end);
}

std::string_view reason(Token t) noexcept {
  switch (t) {
    case Token::leading_zero:
      return msg::ambiguous_leading_zero;
    case Token::hexadecimal:
      return msg::ambiguous_hexadecimal;
    case Token::short_form:
      return msg::ambiguous_short_form;
    case Token::ok:
    case Token::bad:
      break;
  }
  return msg::not_item;
}

const char* trim_end(const char* b, const char* e) noexcept {
  while (e != b && is_blank(e[-1])) --e;
  return e;
}
const char* trim_begin(const char* b, const char* e) noexcept {
  while (b != e && is_blank(*b)) ++b;
  return b;
}

}  // namespace

Item parse_item(char* line, std::size_t size, std::string_view where) {
  // One pass over the line for the comment, the dash and the slash: lines are short, and
  // three memchr calls took longer than the parsing (perf, 10 million lines).
  const char* b = line;
  const char* e = line + size;
  const char* dash = nullptr;
  const char* slash = nullptr;
  for (const char* p = b; p != e; ++p) {
    const char c = *p;
    if (is_comment(c)) {
      e = p;
      break;
    }
    if (c == '-' && dash == nullptr) dash = p;
    if (c == '/' && slash == nullptr) slash = p;
  }
  b = trim_begin(b, e);
  e = trim_end(b, e);
  Item item;
  if (b == e) return item;
  const std::string_view text(b, static_cast<std::size_t>(e - b));
  const auto token = [&](const char* tb, const char* te, Item::Kind& k, u128& v) {
    const Token t = read_token(tb, te, k, v);
    if (t != Token::ok) bad_line(where, reason(t), text);
  };

  Item::Kind kind{}, kind2{};
  u128 first = 0, last = 0;
  if (dash != nullptr) {
    token(b, trim_end(b, dash), kind, first);
    token(trim_begin(dash + 1, e), e, kind2, last);
    if (kind != kind2) bad_line(where, msg::two_families, text);
    if (first > last) bad_line(where, msg::ends_before_start, text);
  } else if (slash != nullptr) {
    token(b, slash, kind, first);
    const unsigned width = kind == Item::Kind::inet ? 32 : 128;
    unsigned len;
    if (prefix_length(slash, e, width, len) != e) bad_line(where, msg::item_prefix_length, text);
    // Host bits below the length are ignored.
    const u128 mask = low_ones<u128>(width - len);
    first &= ~mask;
    last = first | mask;
    if (kind == Item::Kind::inet) last &= 0xffffffff;
  } else {
    token(b, e, kind, first);
    last = first;
  }
  item.kind = kind;
  item.range = dash != nullptr;
  if (kind == Item::Kind::inet) {
    item.r4 = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)};
  } else {
    item.r6 = {first, last};
  }
  return item;
}

Item parse_word(std::string_view word) {
  std::string line(word);
  line.push_back('\0');  // the writable byte after a line
  Item item;
  try {
    item = parse_item(line.data(), word.size(), "");
  } catch (const Failure& f) {
    throw Failure(Failure::Form::named, f.text().substr(2));  // without the empty place
  }
  // A word is an item, never a comment or nothing.
  if (item.kind == Item::Kind::none || word.find_first_of("#;") != std::string_view::npos) {
    fail(std::string(msg::not_item).append(": ").append(shown(word)));
  }
  return item;
}

namespace {

const char* quick_number(const char* p, const char* e, std::uint32_t& v) noexcept {
  if (e - p >= static_cast<std::ptrdiff_t>(kQuadReach)) return scan_ipv4_quad(p, v);
  return scan_ipv4_decimal(p, e, v);
}
const char* quick_number(const char* p, const char* e, u128& v) noexcept {
  return scan_ipv6(p, e, v);
}

// The common lines of one family, "ADDRESS", "ADDRESS/LEN" and "FIRST - LAST", with the
// addresses in their usual forms and nothing else, in one pass; every other line takes the
// general path, which also gives the messages. This halved the time of reading (perf, 10
// million lines), and reading ranges here too took another tenth off an IPv6 list. Returns
// where the item stops, or null.
template <class R>
const char* quick_range(const char* p, const char* e, R& out, bool& range) noexcept {
  using N = Num<R>;
  constexpr unsigned width = kWidth<R>;
  N first;
  const char* end = quick_number(p, e, first);
  if (end == nullptr) return nullptr;
  N last = first;
  range = false;
  if (end != e && *end == '/') {
    unsigned len;
    end = prefix_length(end, e, width, len);
    if (end == nullptr) return nullptr;
    const N host = low_ones<N>(width - len);
    first &= ~host;
    last = first | host;
  } else if (end != e && (*end == ' ' || *end == '-')) {
    while (end != e && *end == ' ') ++end;
    if (end == e || *end != '-') return nullptr;
    ++end;
    while (end != e && *end == ' ') ++end;
    end = quick_number(end, e, last);
    if (end == nullptr || last < first) return nullptr;
    range = true;
  }
  out = {first, last};
  return end;
}

}  // namespace

const char* quick_item(const char* p, const char* e, bool to_newline, Item& item) noexcept {
  const auto whole = [&](const char* stop) {
    return stop != nullptr && (to_newline ? stop != e && *stop == '\n' : stop == e);
  };
  // A dotted quad has a dot in its first four bytes; trying the other family first cost an
  // IPv6 list a thirtieth of its time. Either way both are tried.
  bool dotted = false;
  for (const char* q = p + 1; q < e && q < p + 4; ++q) dotted = dotted || *q == '.';
  const char* stop;
  if (!dotted && whole(stop = quick_range(p, e, item.r6, item.range))) {
    item.kind = Item::Kind::inet6;
    return stop;
  }
  if (whole(stop = quick_range(p, e, item.r4, item.range))) {
    item.kind = Item::Kind::inet;
    return stop;
  }
  if (dotted && whole(stop = quick_range(p, e, item.r6, item.range))) {
    item.kind = Item::Kind::inet6;
    return stop;
  }
  return nullptr;
}

Item read_item(char* line, std::size_t size) {
  Item item;
  if (quick_item(line, line + size, false, item) != nullptr) return item;
  return parse_item(line, size, "");
}

}  // namespace maskery
