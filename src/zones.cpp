// maskery zones FAMILY NETWORK [STYLE] [cnames]: the reverse zones of a network.
#include "zones.hpp"

#include <string>
#include <string_view>

#include "failure.hpp"
#include "frontend.hpp"
#include "json.hpp"

namespace maskery {

namespace {

using namespace std::string_literals;

std::string label_of(unsigned first, unsigned len, ZoneStyle style) {
  const unsigned last = first + (1u << (32 - len)) - 1;
  switch (style) {
    case ZoneStyle::rfc2317:
      return std::to_string(first) + "/" + std::to_string(len);
    case ZoneStyle::rfc4183:
      return std::to_string(first) + "-" + std::to_string(len);
    case ZoneStyle::range:
      break;
  }
  return std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

std::string reverse_labels(const Address& a, unsigned len) {
  std::string s;
  if (a.af == Family::inet) {
    for (unsigned i = len / 8; i-- > 0;) s.append(std::to_string(a.bytes[i])).push_back('.');
    return s;
  }
  s.reserve(len / 2);
  for (unsigned i = len / 4; i-- > 0;) {
    const unsigned byte = a.bytes[i / 2];
    s += kHexDigits[i % 2 == 0 ? byte >> 4 : byte & 0xf];
    s += '.';
  }
  return s;
}

std::string reverse_name(const Address& a, unsigned len) {
  return reverse_labels(a, len) + (a.af == Family::inet ? "in-addr.arpa." : "ip6.arpa.");
}

ZonesReport reverse_zones(const Address& address, unsigned long len, ZoneStyle style, bool cnames) {
  ZonesReport r;
  r.af = address.af;
  const unsigned width = address.width();
  const unsigned plen = len >= width ? width : static_cast<unsigned>(len);
  const Address net = unsetmask(address, plen);
  // Zones are cut at byte (IPv4) or nibble (IPv6) boundaries.
  const unsigned step = r.af == Family::inet ? 8 : 4;

  if (r.af == Family::inet && plen > 24 && plen < 32) {
    const unsigned first = net.bytes[3];
    const std::string parent = reverse_name(net, 24);
    const std::string label = label_of(first, plen, style);
    r.zones.push_back(label + "." + parent);
    if (cnames) {
      r.with_cnames = true;
      const unsigned count = 1u << (32 - plen);
      for (unsigned i = 0; i < count; ++i) {
        const std::string host = std::to_string(first + i);
        r.cnames.push_back({host + "." + parent, host + "." + label + "." + parent});
      }
    }
    return r;
  }
  if (cnames) fail("`cnames' needs an inet network of prefix length 25 to 31");

  // The next boundary at or above the length, and the zones at it that share the network.
  const unsigned cut = (plen + step - 1) / step * step;
  const unsigned count = 1u << (cut - plen);  // at most 2^7 (IPv4 /1) or 2^3 (IPv6)
  Address zone = net;
  for (unsigned i = 0; i < count; ++i) {
    r.zones.push_back(reverse_name(zone, cut));
    if (i + 1 == count) break;
    // The next zone: add one at the last unit of the cut, which never carries past it.
    if (r.af == Family::inet) {
      ++zone.bytes[cut / 8 - 1];
    } else {
      const unsigned nibble = cut / 4 - 1;
      zone.bytes[nibble / 2] =
          static_cast<std::uint8_t>(zone.bytes[nibble / 2] + (nibble % 2 == 0 ? 0x10 : 0x01));
    }
  }
  return r;
}

void write_result(const ZonesReport& r, Format f, Sink& out) {
  std::string s;
  if (f == Format::text) {
    for (const auto& z : r.zones) s.append(z).push_back('\n');
    for (const auto& c : r.cnames)
      s.append(c.name).append("\tIN\tCNAME\t").append(c.target) += '\n';
    out.write(s);
    return;
  }
  s = json_object_of(family_name(r.af)) + ",\"zones\":[";
  for (std::size_t i = 0; i < r.zones.size(); ++i) {
    if (i != 0) s += ',';
    append_json_string(s, r.zones[i]);
  }
  s += ']';
  if (r.with_cnames) {
    s += ",\"cnames\":[";
    for (std::size_t i = 0; i < r.cnames.size(); ++i) {
      s += i != 0 ? ",{\"name\":" : "{\"name\":";
      append_json_string(s, r.cnames[i].name);
      s += ",\"target\":";
      append_json_string(s, r.cnames[i].target);
      s += '}';
    }
    s += ']';
  }
  s += "}\n";
  out.write(s);
}

int zones_mode(std::span<const char* const> words, const RunContext& ctx) {
  const std::size_t n = words.size();
  if (n < 2) fail("must specify an address family");
  const std::string_view family = words[1];
  cmdargs cd;
  if (family == "inet") {
    cd.af = Family::inet;
  } else if (family == "inet6") {
    cd.af = Family::inet6;
  } else {
    fail("invalid address family: "s.append(family));
  }
  if (n < 3) fail("must specify a network");

  // The network, as the reports read it: address/len, or address keyword value.
  std::size_t next;
  const std::string_view w = words[2];
  if (w.find('/') != std::string_view::npos) {
    split_cidr(w, cd);
    next = 3;
  } else {
    if (n < 4) fail("specify network bits or mask.");
    const std::string_view keyword = words[3];
    if (!is_network_keyword(cd.af, keyword)) fail("invalid network keyword: "s.append(keyword));
    if (n < 5) fail("invalid words near "s.append(keyword));
    cd.address = w;
    cd.bits = keyword_bits(cd.af, keyword, words[4]);
    next = 5;
  }

  ZoneStyle style = ZoneStyle::rfc2317;
  bool styled = false, cnames = false;
  for (std::size_t i = next; i < n; ++i) {
    const std::string_view word = words[i];
    if (word == "cnames" && !cnames) {
      cnames = true;
      continue;
    }
    if (!styled && (word == "rfc2317" || word == "rfc4183" || word == "range")) {
      if (cd.af == Family::inet6) fail("zone styles are for inet only: "s.append(word));
      style = word == "rfc2317"   ? ZoneStyle::rfc2317
              : word == "rfc4183" ? ZoneStyle::rfc4183
                                  : ZoneStyle::range;
      styled = true;
      continue;
    }
    fail("invalid zones word: "s.append(word));
  }
  write_result(reverse_zones(request_address(cd), cd.bits, style, cnames), ctx.format, ctx.out);
  return 0;
}

}  // namespace maskery
