#include "lists/list_line.hpp"

#include <cstring>
#include <string>

#include "core/address_text.hpp"
#include "core/failure.hpp"
#include "core/untrusted.hpp"

namespace maskery {

namespace {

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

// One address token (no blanks in it) of either family.
bool read_token(const char* p, const char* end, Item::Kind& kind, u128& value) noexcept {
  std::uint32_t v4;
  if (scan_ipv4_decimal(p, end, v4) == end) {
    kind = Item::Kind::inet;
    value = v4;
    return true;
  }
  if (std::memchr(p, ':', static_cast<std::size_t>(end - p)) != nullptr) {
    if (scan_ipv6(p, end, value) != end) return false;
    kind = Item::Kind::inet6;
    return true;
  }
  const auto n = static_cast<std::size_t>(end - p);
  if (n == 0 || n >= kAddressField) return false;
  // The classic IPv4 reader stops at white space; an item must be one word.
  for (const char* q = p; q != end; ++q) {
    if (is_blank(*q)) return false;
  }
  char buf[kAddressField];
  std::memcpy(buf, p, n);
  buf[n] = '\0';
  const auto v = parse_ipv4(buf);
  if (!v) return false;
  kind = Item::Kind::inet;
  value = *v;
  return true;
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
    if (c == '#') {
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
  constexpr std::string_view kNotItem = "not an address, prefix or range";

  Item::Kind kind{}, kind2{};
  u128 first = 0, last = 0;
  if (dash != nullptr) {
    if (!read_token(b, trim_end(b, dash), kind, first) ||
        !read_token(trim_begin(dash + 1, e), e, kind2, last)) {
      bad_line(where, kNotItem, text);
    }
    if (kind != kind2) bad_line(where, "a range of two families", text);
    if (first > last) bad_line(where, "a range that ends before it starts", text);
  } else if (slash != nullptr) {
    if (!read_token(b, slash, kind, first)) bad_line(where, kNotItem, text);
    const unsigned width = kind == Item::Kind::inet ? 32 : 128;
    unsigned len;
    if (prefix_length(slash, e, width, len) != e) bad_line(where, "invalid prefix length", text);
    // Host bits below the length are ignored.
    const u128 mask = low_ones<u128>(width - len);
    first &= ~mask;
    last = first | mask;
    if (kind == Item::Kind::inet) last &= 0xffffffff;
  } else {
    if (!read_token(b, e, kind, first)) bad_line(where, kNotItem, text);
    last = first;
  }
  item.kind = kind;
  if (kind == Item::Kind::inet) {
    item.r4 = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last)};
  } else {
    item.r6 = {first, last};
  }
  return item;
}

namespace {

const char* quick_number(const char* p, const char* e, std::uint32_t& v) noexcept {
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
const char* quick_range(const char* p, const char* e, R& out) noexcept {
  using N = Num<R>;
  constexpr unsigned width = kWidth<R>;
  N first;
  const char* end = quick_number(p, e, first);
  if (end == nullptr) return nullptr;
  N last = first;
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
  if (!dotted && whole(stop = quick_range(p, e, item.r6))) {
    item.kind = Item::Kind::inet6;
    return stop;
  }
  if (whole(stop = quick_range(p, e, item.r4))) {
    item.kind = Item::Kind::inet;
    return stop;
  }
  if (dotted && whole(stop = quick_range(p, e, item.r6))) {
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
