// Bits, masks and address text, case by case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/address_text.hpp"
#include "core/failure.hpp"

namespace maskery {
namespace {

Address v4(const char* text) {
  return packadrinfo(Family::inet, text);
}
Address v6(const char* text) {
  return packadrinfo(Family::inet6, text);
}

TEST(Bits, PositionZeroIsTheTopBitOfTheFirstByte) {
  const Address a = v4("192.168.1.77");  // c0 a8 01 4d
  EXPECT_EQ(a.v4_value(), 0xc0a8014du);
  EXPECT_EQ(getipaddress(unsetmask(a, 2)), "192.0.0.0");  // positions 2 to 31 cleared
  EXPECT_EQ(getipaddress(setmask(a, 30)), "192.168.1.79");
  EXPECT_EQ(getipaddress(from_value(u128{1} << 127)), "8000::");
  EXPECT_EQ(v6_value(v6("::1")), u128{1});
  EXPECT_EQ(v6_value(v6("2001:db8::8:800:200c:417a")) >> 112, u128{0x2001});
  EXPECT_EQ(from_value(v6_value(v6("2001:db8::8:800:200c:417a"))), v6("2001:db8::8:800:200c:417a"));
}

TEST(Masks, HostBitsClearedAndSet) {
  struct Row {
    const char* addr;
    unsigned len;
    const char* first;
    const char* last;
  };
  const std::vector<Row> rows = {
      {"192.168.1.77", 24, "192.168.1.0", "192.168.1.255"},
      {"192.168.1.77", 32, "192.168.1.77", "192.168.1.77"},
      {"192.168.1.77", 33, "192.168.1.77", "192.168.1.77"},
      {"192.168.1.77", 4294967295u, "192.168.1.77", "192.168.1.77"},
      {"192.168.1.77", 0, "0.0.0.0", "255.255.255.255"},
      {"192.168.1.77", 23, "192.168.0.0", "192.168.1.255"},
      {"2001:db8:1:2::1", 0, "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2::1", 48, "2001:db8:1::", "2001:db8:1:ffff:ffff:ffff:ffff:ffff"},
      {"2001:db8:1:2::1", 128, "2001:db8:1:2::1", "2001:db8:1:2::1"},
      {"2001:db8:1:2::1", 200, "2001:db8:1:2::1", "2001:db8:1:2::1"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.addr) + "/" + std::to_string(r.len));
    const bool is6 = std::string(r.addr).find(':') != std::string::npos;
    const Address a = is6 ? v6(r.addr) : v4(r.addr);
    EXPECT_EQ(getipaddress(unsetmask(a, r.len)), r.first);
    EXPECT_EQ(getipaddress(setmask(a, r.len)), r.last);
  }
}

TEST(Masks, PrefixLengthToMask) {
  struct Row {
    unsigned n;
    const char* mask;
  };
  for (const auto& r : std::vector<Row>{
           {0, "::"},
           {1, "8000::"},
           {20, "ffff:f000::"},
           {64, "ffff:ffff:ffff:ffff::"},
           {127, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe"},
           {128, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
           {200, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
       }) {
    EXPECT_EQ(getipaddress(plen2mask(r.n)), r.mask) << r.n;
  }
  EXPECT_EQ(getipaddress(unsetmask(v6("2001:db8:1:2::1"), 48)), "2001:db8:1::");
  EXPECT_EQ(getipaddress(netmask_of(Family::inet6, 48)), "ffff:ffff:ffff::");
  EXPECT_EQ(getipaddress(unsetmask(v4("10.1.2.3"), 12)), "10.0.0.0");
  EXPECT_EQ(getipaddress(netmask_of(Family::inet, 12)), "255.240.0.0");
}

TEST(Masks, CountingAndInverting) {
  EXPECT_EQ(extractbits(v4("255.255.255.0")), 24u);
  EXPECT_EQ(extractbits(v4("255.0.255.0")), 16u);
  EXPECT_EQ(extractbits(v4("0.0.0.0")), 0u);
  EXPECT_EQ(extractbits(v4("255.255.255.255")), 32u);
  EXPECT_EQ(extractbits(v6("ffff:ffff:ffff:ffff::")), 64u);
  EXPECT_EQ(extractbits(v6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")), 128u);
  EXPECT_EQ(getipaddress(invert_mask(v4("255.255.255.0"))), "0.0.0.255");
  EXPECT_EQ(getipaddress(invert_mask(v4("0.0.0.0"))), "255.255.255.255");
  EXPECT_EQ(invert_mask(invert_mask(v4("255.0.255.0"))), v4("255.0.255.0"));
  EXPECT_EQ(getipaddress(invert_mask(v6("ffff::"))), "0:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
}

TEST(AddressText, ClassicIpv4Forms) {
  struct Row {
    const char* text;
    const char* value;  // null: not an address
  };
  for (const auto& r : std::vector<Row>{
           {"10", "0.0.0.10"},
           {"10.1", "10.0.0.1"},
           {"10.1.2", "10.1.0.2"},
           {"010.0.0.1", "8.0.0.1"},
           {"0x0a000001", "10.0.0.1"},
           {"0X0A.0xff.0.077", "10.255.0.63"},
           {"255.255.255.255", "255.255.255.255"},
           {"0xffffffff", "255.255.255.255"},
           {"4294967295", "255.255.255.255"},
           {"1.2.3.4 more text", "1.2.3.4"},
           {"1.2.3.4\tx", "1.2.3.4"},
           {"1.16777215", "1.255.255.255"},
           {"4294967296", nullptr},
           {"1.16777216", nullptr},
           {"256.1.1.1", nullptr},
           {"1.2.3.4.5", nullptr},
           {"1.2.3.256", nullptr},
           {"", nullptr},
           {" 1.2.3.4", nullptr},
           {"1.2.3.4x", nullptr},
           {"1..2", nullptr},
           {"1.2.", nullptr},
           {"08", nullptr},
           {"0x", nullptr},
           {"0xg", nullptr},
           {"+1", nullptr},
           {"99999999999999999999999", nullptr},
       }) {
    SCOPED_TRACE(r.text);
    const auto v = parse_ipv4(r.text);
    if (r.value == nullptr) {
      EXPECT_FALSE(v.has_value());
      EXPECT_THROW(packadrinfo(Family::inet, r.text), Failure);
    } else {
      ASSERT_TRUE(v.has_value());
      EXPECT_EQ(getipaddress(Address::v4(*v)), r.value);
    }
  }
}

TEST(AddressText, Ipv6FormsAndTextForm) {
  struct Row {
    const char* text;
    const char* canonical;  // null: not an address
  };
  for (const auto& r : std::vector<Row>{
           {"2001:db8::1", "2001:db8::1"},
           {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
           {"::", "::"},
           {"::1", "::1"},
           {"1::", "1::"},
           {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
           {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},         // "::" may stand for one group
           {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // equal runs: the first wins
           {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},        // the longer run wins
           {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"},         // a single zero is not a run
           {"::1.2.3.4", "::1.2.3.4"},
           {"::ffff:10.0.0.1", "::ffff:10.0.0.1"},
           {"::0.0.1.0", "::100"},
           {"::1.2.0.0", "::1.2.0.0"},
           {"::ffff:0:0", "::ffff:0.0.0.0"},
           {"0:0:0:0:0:fffe:1:2", "::fffe:1:2"},
           {"1::1.2.3.4", "1::102:304"},
           {"::", "::"},
           {"2001:db8::g", nullptr},
           {"10.0.0.1", nullptr},
           {":::", nullptr},
           {"1:::2", nullptr},
           {":1::", nullptr},
           {"1:", nullptr},
           {"1::2::3", nullptr},
           {"12345::", nullptr},
           {"1:2:3:4:5:6:7:8:9", nullptr},
           {"1:2:3:4:5:6:7:8::", nullptr},
           {"::1.2.3.04", nullptr},
           {"::1.2.3", nullptr},
           {"::1.2.3.4.5", nullptr},
           {"::256.0.0.0", nullptr},
           {"1:2:3:4:5:6:7:1.2.3.4", nullptr},
           {" ::1", nullptr},
           {"::1 ", nullptr},
           {"", nullptr},
       }) {
    SCOPED_TRACE(r.text);
    const auto b = parse_ipv6(r.text);
    if (r.canonical == nullptr) {
      EXPECT_FALSE(b.has_value());
      EXPECT_THROW(packadrinfo(Family::inet6, r.text), Failure);
    } else {
      ASSERT_TRUE(b.has_value());
      EXPECT_EQ(getipaddress(Address::v6(*b)), r.canonical);
    }
  }
}

TEST(AddressText, FailureMessage) {
  try {
    packadrinfo(Family::inet, "300.1.1.1");
    FAIL() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.render("maskery"), "maskery: invalid address specification\n");
  }
}

TEST(ProgramName, LastComponentOfTheStartedName) {
  EXPECT_EQ(program_name("./maskery"), "maskery");
  EXPECT_EQ(program_name("/usr/local/bin/mk"), "mk");
  EXPECT_EQ(program_name("maskery"), "maskery");
  EXPECT_EQ(program_name(nullptr), "maskery");
}

}  // namespace
}  // namespace maskery
