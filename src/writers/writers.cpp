// The writers of the forms: text lines, byte for byte, and JSON.
#include <charconv>
#include <cstring>
#include <string>

#include "core/json.hpp"
#include "writers/writers.hpp"

namespace maskery {

namespace {

// Appends into a run of sink memory reserved by the caller.
struct Cursor {
  char* p;
  Cursor& operator<<(std::string_view s) noexcept {
    std::memcpy(p, s.data(), s.size());
    p += s.size();
    return *this;
  }
  Cursor& operator<<(const Address& a) noexcept {
    p = format_address(p, a);
    return *this;
  }
  Cursor& dec(unsigned long v) noexcept {
    p = std::to_chars(p, p + 20, v).ptr;
    return *this;
  }
  Cursor& hex(unsigned long v) noexcept {
    p = std::to_chars(p, p + 16, v, 16).ptr;
    return *this;
  }
};

// A JSON string value that needs no escaping: an address.
void append_json_address(std::string& s, const Address& a) {
  char buf[kMaxAddressText + 2];
  buf[0] = '"';
  char* end = format_address(buf + 1, a);
  *end++ = '"';
  s.append(buf, end);
}

// A double in fixed notation with the given number of decimals, exactly as printf's "%.*f"
// gives it: both write the correctly rounded decimal of the binary value. to_chars took a
// sixth of the time printf did, which mattered for batch runs of host counts.
std::string format_double(int decimals, double v) {
  char buf[512];  // 30 decimals of a value below 2^129 need about 70
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

// The listing of a report, as JSON elements after "addresses":[ .
void write_json_listing(const NetworkReport& r, Sink& out) {
  out.write(",\"addresses\":[");
  list_addresses(r.first, r.last, out, ListStyle::json_elements);
  out.write("]}\n");
}

}  // namespace

void write_result(const NetworkReport& r, Format f, Sink& out) {
  if (f == Format::text) {
    const std::string_view pre = r.dorange ? "; " : "";
    Cursor c{out.reserve(1024)};
    c << pre << "range:       " << r.first << " > " << r.last << "\n";
    if (r.af == Family::inet) {
      const std::uint32_t lo = r.first.v4_value(), hi = r.last.v4_value();
      c << pre << "range b10:   ";
      c.dec(lo) << " > ";
      c.dec(hi) << "\n" << pre << "range b16:   0x";
      c.hex(lo) << " > 0x";
      c.hex(hi) << "\n";
    }
    c << pre << "hosts:       " << r.hosts << "\n" << pre << "prefixlen:   ";
    c.dec(r.prefixlen) << "\n";
    if (r.af == Family::inet) {
      c << pre << "netmask:     " << r.netmask << "\n" << pre << "mask:        " << r.mask << "\n";
    } else {
      c << pre << "mask:        " << r.netmask << "\n";
    }
    out.commit(c.p);
    if (r.dorange) list_addresses(r.first, r.last, out);
    return;
  }

  std::string s = json_object_of(family_name(r.af));
  s.reserve(320);
  s += ",\"range\":{\"first\":";
  append_json_address(s, r.first);
  s += ",\"last\":";
  append_json_address(s, r.last);
  s += '}';
  if (r.af == Family::inet) {
    const std::uint32_t lo = r.first.v4_value(), hi = r.last.v4_value();
    char buf[16];
    const auto hex = [&](std::uint32_t v) {
      return std::string_view(buf, std::to_chars(buf, buf + sizeof buf, v, 16).ptr);
    };
    s += ",\"range_b10\":{\"first\":" + std::to_string(lo) + ",\"last\":" + std::to_string(hi);
    s += "},\"range_b16\":{\"first\":\"0x";
    s += hex(lo);
    s += "\",\"last\":\"0x";
    s += hex(hi);
    s += "\"}";
  }
  s += ",\"hosts\":\"";
  s += r.hosts;
  s += "\",\"prefixlen\":" + std::to_string(r.prefixlen);
  if (r.af == Family::inet) {
    s += ",\"netmask\":";
    append_json_address(s, r.netmask);
    s += ",\"mask\":";
    append_json_address(s, r.mask);
  } else {
    s += ",\"mask\":";
    append_json_address(s, r.netmask);
  }
  if (!r.dorange) {
    s += "}\n";
    out.write(s);
    return;
  }
  out.write(s);
  write_json_listing(r, out);
}

void write_result(const HostsReport& r, Format f, Sink& out) {
  const std::string theoretical = format_double(30, r.theoretical_len);
  const std::string working = format_double(0, r.working_len);
  const std::string hosts = format_double(0, r.hosts);
  if (f == Format::text) {
    out.write("theoretical len: " + theoretical + "\nworking len:     " + working +
              "\nhosts:           " + hosts + "\n");
    return;
  }
  out.write(json_object_of(family_name(r.af)) + ",\"theoretical_len\":\"" + theoretical +
            "\",\"working_len\":" + working + ",\"hosts\":\"" + hosts + "\"}\n");
}

void write_result(const PtrRecord& r, Format f, Sink& out) {
  std::string s;
  if (f == Format::text) {
    s.reserve(r.name.size() + r.hostname.size() + 12);
    s.append(r.name).append("\tIN\tPTR\t").append(r.hostname).push_back('\n');
  } else {
    s = json_object_of(family_name(r.af));
    s += ",\"name\":";
    append_json_string(s, r.name);
    s += ",\"class\":\"IN\",\"type\":\"PTR\",\"hostname\":";
    append_json_string(s, r.hostname);
    s += "}\n";
  }
  out.write(s);
}

void write_result(const StfReport& r, Format f, Sink& out) {
  std::string network = "2002:";
  for (unsigned i = 0; i < 4; ++i) {
    if (i == 2) network += ':';
    network += kHexDigits[r.parent.bytes[i] >> 4];
    network += kHexDigits[r.parent.bytes[i] & 0xf];
  }
  network += "::/48";
  const std::string parent = getipaddress(r.parent);
  if (f == Format::text) {
    out.write("6to4 network:        " + network + "\nip version 4 parent: " + parent + "\n");
  } else {
    out.write("{\"6to4_network\":\"" + network + "\",\"ip_version_4_parent\":\"" + parent +
              "\"}\n");
  }
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

}  // namespace maskery
