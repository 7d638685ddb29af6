// The command line end to end: words in, exact standard output, standard error and status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/words.hpp"
#include "test_support.hpp"
#include "version.hpp"

namespace maskery::testing {
namespace {

using Words = std::vector<std::string>;

struct Row {
  Words words;
  Outcome expected;
};

std::string join(const Words& w) {
  std::string s;
  for (const auto& x : w) s += "[" + x + "]";
  return s;
}

void check_rows(const std::vector<Row>& rows) {
  for (const auto& row : rows) {
    SCOPED_TRACE(join(row.words));
    EXPECT_EQ(invoke(row.words), row.expected);
  }
}

TEST(CommandLine, MissingAndWrongWords) {
  const std::string bad_cidr = "invalid address/cidr specification\n";
  check_rows({
      {{}, usage_error()},
      {{"inet"}, usage_error()},
      {{"inet6"}, usage_error()},
      {{"inet", "hosts"}, usage_error()},
      {{"inet6", "hosts", "print"}, bare_error("invalid mask specification: print\n")},
      {{"stf"}, named_error("must specify an address family")},
      {{"stf", "inet"}, named_error("must specify ip address")},
      {{"stf", "inet6"}, named_error("must specify ip6 address or net")},
      {{"stf", "ipx", "10.0.0.1"}, named_error("invalid address family: ipx")},
      {{"stf", "ipx"}, named_error("invalid address family: ipx")},
      {{"stf", "print"}, named_error("invalid address family: print")},
      {{"int6"}, named_error("must specify ip6 address.")},
      {{"arpa6"}, named_error("must specify ip6 address.")},
      {{"arpa6", "::1"}, named_error("must specify a hostname.")},
      {{"int6", "::1"}, named_error("must specify a hostname.")},
      {{"INET", "10.0.0.0/24"}, named_error("`INET' is an invalid address family.")},
      {{"print"}, named_error("`print' is an invalid address family.")},
      {{""}, named_error("`' is an invalid address family.")},
      {{"-x"}, named_error("`-x' is an invalid address family.")},
      {{"--usage"}, named_error("`--usage' is an invalid address family.")},
      {{"inet", "--help"}, named_error("specify network bits or mask.")},
      {{"inet", "10.0.0.0"}, named_error("specify network bits or mask.")},
      {{"inet", "print"}, named_error("specify network bits or mask.")},
      {{"inet", "/24"}, bare_error(bad_cidr)},
      {{"inet", "10.0.0.0/"}, bare_error(bad_cidr)},
      {{"inet", "/"}, bare_error(bad_cidr)},
      {{"inet6", "//::1//"}, bare_error(bad_cidr)},
      {{"inet", "10.0.0.0", "netmask", "255.255.255.0", "foo"},
       named_error("invalid words near netmask")},
      {{"inet", "10.0.0.0", "netmask"}, named_error("invalid words near netmask")},
      {{"inet", "10.0.0.0", "prefixlen"}, named_error("invalid words near prefixlen")},
      {{"inet", "10.0.0.0", "mask"}, named_error("invalid words near mask")},
      {{"inet6", "::", "prefixlen", "64", "x"}, named_error("invalid words near prefixlen")},
      // The address word is only read by the report, after every word check.
      {{"inet", "bogus", "netmask", "255.255.255.0", "extra"},
       named_error("invalid words near netmask")},
      // A word 3 that is no keyword of the family is a usage error.
      {{"inet", "10.0.0.0", "print"}, usage_error()},
      {{"inet", "10.0.0.0", "foo", "24"}, usage_error()},
      {{"inet6", "::1", "mask", "ffff::"}, usage_error()},
      {{"inet", "10.0.0.0", "Netmask", "255.0.0.0"}, usage_error()},
      // A mask that does not convert is refused, not taken as all ones.
      {{"inet", "10.0.0.0", "netmask", "print"}, bare_error("invalid mask specification: print\n")},
      {{"inet6", "::1", "netmask", "bogus"}, bare_error("invalid mask specification: bogus\n")},
      {{"inet", "10.0.0.0", "mask", "1.2.3.4.5"},
       bare_error("invalid mask specification: 1.2.3.4.5\n")},
      {{"inet6", "::1", "netmask", "10.0.0.1"},
       bare_error("invalid mask specification: 10.0.0.1\n")},
      {{"inet", "10.0.0.0", "netmask", ""}, bare_error("invalid mask specification: \n")},
      // Negative lengths and lengths beyond 32-bit signed integers are refused.
      {{"inet", "10.0.0.0/-1"}, named_error("invalid prefix length: -1")},
      {{"inet", "10.0.0.0//-1/"}, named_error("invalid prefix length: -1")},
      {{"inet", "10.0.0.0", "prefixlen", "-5"}, named_error("invalid prefix length: -5")},
      {{"inet", "10.0.0.0/2147483648"}, named_error("invalid prefix length: 2147483648")},
      {{"inet6", "::/99999999999999999999999"},
       named_error("invalid prefix length: 99999999999999999999999")},
      {{"inet6", "::", "prefixlen", " -1x"}, named_error("invalid prefix length:  -1x")},
      // Address words.
      {{"inet", "300.1.1.1/24"}, named_error("invalid address specification")},
      {{"inet", "1.2.3.4.5", "prefixlen", "8"}, named_error("invalid address specification")},
      {{"inet6", "bogus/64"}, named_error("invalid address specification")},
      {{"inet6", "10.0.0.1/64"}, named_error("invalid address specification")},
      {{"inet", std::string(64, '1') + "/24"}, named_error("invalid address specification")},
      {{"inet", std::string(63, '0') + "1/24", "print"},
       named_error("invalid address specification")},
  });
}

TEST(CommandLine, HelpAndVersionAsTheFirstWord) {
  const Outcome help = ok(std::string(msg::usage) + std::string(msg::help));
  EXPECT_EQ(invoke({"--help"}), help);
  EXPECT_EQ(invoke({"-h"}), help);
  EXPECT_EQ(invoke({"-h", "inet", "10.0.0.0/8"}), help);
  const Outcome version = ok("maskery " + std::string(kVersion) + "\n");
  EXPECT_EQ(invoke({"--version"}), version);
  EXPECT_EQ(invoke({"-V"}), version);
  EXPECT_NE(std::string(kVersion), "");
}

// A typo in a length is refused, never read as another length: "/abc" is not /0, "/24x" not
// /24, and "prefixlen print" does not list the whole space.
TEST(CommandLine, LengthWordsAreWholeNumbers) {
  for (const char* bad : {"abc", "24x", "24 ", "0x18", "64.0", "", "print", "+", "- 1", "2 4"}) {
    SCOPED_TRACE(bad);
    const Outcome refused = named_error(std::string("invalid prefix length: ") + bad);
    EXPECT_EQ(invoke({"inet", "10.0.0.0", "prefixlen", bad}), refused);
    EXPECT_EQ(invoke({"inet6", "::", "prefixlen", bad, "print"}), refused);
    if (*bad != '\0') {
      EXPECT_EQ(invoke({"inet", std::string("10.0.0.0/") + bad}), refused);
    }
    EXPECT_EQ(invoke({"inet", "hosts", bad}),
              bare_error(std::string("invalid mask specification: ") + bad + "\n"));
  }
  EXPECT_EQ(invoke({"inet", "10.0.0.0", "prefixlen", "print"}),
            named_error("invalid prefix length: print"));
  EXPECT_EQ(invoke({"inet", "10.0.0.0/-1"}), named_error("invalid prefix length: -1"));
  EXPECT_EQ(invoke({"inet", "10.0.0.0/2147483648"}),
            named_error("invalid prefix length: 2147483648"));
  EXPECT_EQ(invoke({"inet", "hosts", "1e3"}), bare_error("invalid mask specification: 1e3\n"));
  EXPECT_EQ(invoke({"inet", "10.0.0.0/ +24"}), invoke({"inet", "10.0.0.0/24"}));
  EXPECT_EQ(invoke({"inet", "hosts", "\t+12"}), invoke({"inet", "hosts", "12"}));
}

TEST(CommandLine, AddressFieldHoldsSixtyThreeCharacters) {
  // 63 characters of octal zeros and a 1 are still an address; 64 are refused, never cut.
  const std::string addr63 = std::string(62, '0') + "1";
  EXPECT_EQ(invoke({"inet", addr63 + "/32"}).status, 0);
  EXPECT_EQ(invoke({"inet", "0" + addr63 + "/32"}), named_error("invalid address specification"));
}

const char* const kReport192 =
    "range:       192.168.1.0 > 192.168.1.255\n"
    "range b10:   3232235776 > 3232236031\n"
    "range b16:   0xc0a80100 > 0xc0a801ff\n"
    "hosts:       256\n"
    "prefixlen:   24\n"
    "netmask:     255.255.255.0\n"
    "mask:        0.0.0.255\n";

TEST(Ipv4Report, WorkedExamplesAndEdges) {
  check_rows({
      {{"inet", "192.168.1.77/24"}, ok(kReport192)},
      {{"inet", "192.168.1.77/30", "print"},
       ok("; range:       192.168.1.76 > 192.168.1.79\n"
          "; range b10:   3232235852 > 3232235855\n"
          "; range b16:   0xc0a8014c > 0xc0a8014f\n"
          "; hosts:       4\n"
          "; prefixlen:   30\n"
          "; netmask:     255.255.255.252\n"
          "; mask:        0.0.0.3\n"
          "192.168.1.76\n192.168.1.77\n192.168.1.78\n192.168.1.79\n")},
      {{"inet", "10.1.2.3/32", "print"},
       ok("; range:       10.1.2.3 > 10.1.2.3\n"
          "; range b10:   167838211 > 167838211\n"
          "; range b16:   0xa010203 > 0xa010203\n"
          "; hosts:       1\n"
          "; prefixlen:   32\n"
          "; netmask:     255.255.255.255\n"
          "; mask:        0.0.0.0\n"
          "10.1.2.3\n")},
      {{"inet", "0.0.0.0/32", "print"},
       ok("; range:       0.0.0.0 > 0.0.0.0\n"
          "; range b10:   0 > 0\n"
          "; range b16:   0x0 > 0x0\n"
          "; hosts:       1\n"
          "; prefixlen:   32\n"
          "; netmask:     255.255.255.255\n"
          "; mask:        0.0.0.0\n"
          "0.0.0.0\n")},
      {{"inet", "10.1.2.3/31"},
       ok("range:       10.1.2.2 > 10.1.2.3\n"
          "range b10:   167838210 > 167838211\n"
          "range b16:   0xa010202 > 0xa010203\n"
          "hosts:       2\n"
          "prefixlen:   31\n"
          "netmask:     255.255.255.254\n"
          "mask:        0.0.0.1\n")},
      {{"inet", "10.1.2.3/0"},
       ok("range:       0.0.0.0 > 255.255.255.255\n"
          "range b10:   0 > 4294967295\n"
          "range b16:   0x0 > 0xffffffff\n"
          "hosts:       4294967296\n"
          "prefixlen:   0\n"
          "netmask:     0.0.0.0\n"
          "mask:        255.255.255.255\n")},
      // The top of the space: the listing stops after the last address instead of wrapping.
      {{"inet", "255.255.255.254/31", "print"},
       ok("; range:       255.255.255.254 > 255.255.255.255\n"
          "; range b10:   4294967294 > 4294967295\n"
          "; range b16:   0xfffffffe > 0xffffffff\n"
          "; hosts:       2\n"
          "; prefixlen:   31\n"
          "; netmask:     255.255.255.254\n"
          "; mask:        0.0.0.1\n"
          "255.255.255.254\n255.255.255.255\n")},
      // All ones is an address like any other.
      {{"inet", "255.255.255.255/32"},
       ok("range:       255.255.255.255 > 255.255.255.255\n"
          "range b10:   4294967295 > 4294967295\n"
          "range b16:   0xffffffff > 0xffffffff\n"
          "hosts:       1\n"
          "prefixlen:   32\n"
          "netmask:     255.255.255.255\n"
          "mask:        0.0.0.0\n")},
      {{"inet", "255.255.255.255/24"},
       ok("range:       255.255.255.0 > 255.255.255.255\n"
          "range b10:   4294967040 > 4294967295\n"
          "range b16:   0xffffff00 > 0xffffffff\n"
          "hosts:       256\n"
          "prefixlen:   24\n"
          "netmask:     255.255.255.0\n"
          "mask:        0.0.0.255\n")},
      // Classic address forms: one number, two numbers, octal.
      {{"inet", "10/8"},
       ok("range:       0.0.0.0 > 0.255.255.255\n"
          "range b10:   0 > 16777215\n"
          "range b16:   0x0 > 0xffffff\n"
          "hosts:       16777216\n"
          "prefixlen:   8\n"
          "netmask:     255.0.0.0\n"
          "mask:        0.255.255.255\n")},
      {{"inet", "10.1/16"},
       ok("range:       10.0.0.0 > 10.0.255.255\n"
          "range b10:   167772160 > 167837695\n"
          "range b16:   0xa000000 > 0xa00ffff\n"
          "hosts:       65536\n"
          "prefixlen:   16\n"
          "netmask:     255.255.0.0\n"
          "mask:        0.0.255.255\n")},
      {{"inet", "010.0.0.1/24"},
       ok("range:       8.0.0.0 > 8.0.0.255\n"
          "range b10:   134217728 > 134217983\n"
          "range b16:   0x8000000 > 0x80000ff\n"
          "hosts:       256\n"
          "prefixlen:   24\n"
          "netmask:     255.255.255.0\n"
          "mask:        0.0.0.255\n")},
      // A netmask with holes counts by its one bits: 255.0.255.0 is a /16.
      {{"inet", "10.0.0.1", "netmask", "255.0.255.0"}, invoke({"inet", "10.0.0.1/16"})},
      // Lengths above 32 name the one address, as lengths above 128 do for IPv6.
      {{"inet", "10.1.2.3/33", "print"},
       ok("; range:       10.1.2.3 > 10.1.2.3\n"
          "; range b10:   167838211 > 167838211\n"
          "; range b16:   0xa010203 > 0xa010203\n"
          "; hosts:       0\n"
          "; prefixlen:   33\n"
          "; netmask:     255.255.255.255\n"
          "; mask:        0.0.0.0\n"
          "10.1.2.3\n")},
      {{"inet", "10.1.2.3", "prefixlen", "2147483647"},
       ok("range:       10.1.2.3 > 10.1.2.3\n"
          "range b10:   167838211 > 167838211\n"
          "range b16:   0xa010203 > 0xa010203\n"
          "hosts:       0\n"
          "prefixlen:   2147483647\n"
          "netmask:     255.255.255.255\n"
          "mask:        0.0.0.0\n")},
  });
}

TEST(Ipv4Report, EveryWayOfGivingTheLengthAgrees) {
  for (const Words& w : std::vector<Words>{
           {"inet", "192.168.1.77", "prefixlen", "24"},
           {"inet", "192.168.1.77", "netmask", "255.255.255.0"},
           {"inet", "192.168.1.77", "mask", "0.0.0.255"},
           {"inet", "192.168.1.0/24"},
           {"inet", "192.168.1.77//24"},
           {"inet", "192.168.1.77/24/8"},
           {"inet", "192.168.1.77/24", "a", "b", "c"},
           {"inet", "192.168.1.77/ 24"},
           {"inet", "192.168.1.77/+24"},
           {"inet", "192.168.1.77/024"},  // leading zeros stay decimal
           {"inet", "192.168.1.77", "prefixlen", " 24"},
           {"inet", "192.168.1.77 trailing words/24"},
           {"inet", "0xc0a8014d/24"},
           {"inet", "192.168.333/24"},
       }) {
    SCOPED_TRACE(join(w));
    EXPECT_EQ(invoke(w), ok(kReport192));
  }
}

TEST(Ipv6Report, WorkedExamplesAndEdges) {
  check_rows({
      {{"inet6", "2001:db8::1/126", "print"},
       ok("; range:       2001:db8:: > 2001:db8::3\n"
          "; hosts:       4\n"
          "; prefixlen:   126\n"
          "; mask:        ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffc\n"
          "2001:db8::\n2001:db8::1\n2001:db8::2\n2001:db8::3\n")},
      {{"inet6", "2001:db8::1/64"},
       ok("range:       2001:db8:: > 2001:db8::ffff:ffff:ffff:ffff\n"
          "hosts:       18446744073709551616\n"
          "prefixlen:   64\n"
          "mask:        ffff:ffff:ffff:ffff::\n")},
      {{"inet6", "fe80::1/10"},
       ok("range:       fe80:: > febf:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"
          "hosts:       332306998946228968225951765070086144\n"
          "prefixlen:   10\n"
          "mask:        ffc0::\n")},
      {{"inet6", "2001:db8::1/61"},
       ok("range:       2001:db8:: > 2001:db8:0:7:ffff:ffff:ffff:ffff\n"
          "hosts:       147573952589676412928\n"
          "prefixlen:   61\n"
          "mask:        ffff:ffff:ffff:fff8::\n")},
      {{"inet6", "2001:db8::1/128", "print"},
       ok("; range:       2001:db8::1 > 2001:db8::1\n"
          "; hosts:       1\n"
          "; prefixlen:   128\n"
          "; mask:        ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"
          "2001:db8::1\n")},
      {{"inet6", "2001:db8::1/129", "print"},
       ok("; range:       2001:db8::1 > 2001:db8::1\n"
          "; hosts:       0\n"
          "; prefixlen:   129\n"
          "; mask:        ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"
          "2001:db8::1\n")},
      {{"inet6", "1::/0"},
       ok("range:       :: > ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"
          "hosts:       340282366920938463463374607431768211456\n"
          "prefixlen:   0\n"
          "mask:        ::\n")},
      {{"inet6", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/127", "print"},
       ok("; range:       ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe > "
          "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n"
          "; hosts:       2\n"
          "; prefixlen:   127\n"
          "; mask:        ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe\n"
          "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe\nffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n")},
      {{"inet6", "2001:db8::1", "netmask", "ffff:ff00::"},
       ok("range:       2001:d00:: > 2001:dff:ffff:ffff:ffff:ffff:ffff:ffff\n"
          "hosts:       20282409603651670423947251286016\n"
          "prefixlen:   24\n"
          "mask:        ffff:ff00::\n")},
      {{"inet6", "2001:DB8::A/64"},
       ok("range:       2001:db8:: > 2001:db8::ffff:ffff:ffff:ffff\n"
          "hosts:       18446744073709551616\n"
          "prefixlen:   64\n"
          "mask:        ffff:ffff:ffff:ffff::\n")},
      {{"inet6", "::ffff:10.0.0.1/120"},
       ok("range:       ::ffff:10.0.0.0 > ::ffff:10.0.0.255\n"
          "hosts:       256\n"
          "prefixlen:   120\n"
          "mask:        ffff:ffff:ffff:ffff:ffff:ffff:ffff:ff00\n")},
      {{"inet6", "fd00::", "netmask", "ffff::", "x"}, named_error("invalid words near netmask")},
  });
}

// What the command line hands to the report.
struct Handover {
  Words words;
  Family af;
  std::string address;
  unsigned long bits;
  bool dorange;
};

TEST(CommandLine, HandsOverTheRequest) {
  const std::vector<Handover> rows = {
      {{"inet", "10.0.0.0/24"}, Family::inet, "10.0.0.0", 24, false},
      {{"inet", "10.0.0.0//24"}, Family::inet, "10.0.0.0", 24, false},
      {{"inet", "10.0.0.0/24/8"}, Family::inet, "10.0.0.0", 24, false},
      {{"inet", "10.0.0.0/24", "a", "b", "c"}, Family::inet, "10.0.0.0", 24, false},
      {{"inet", "10.0.0.0/-0"}, Family::inet, "10.0.0.0", 0, false},
      {{"inet", "10.0.0.0/24", "print"}, Family::inet, "10.0.0.0", 24, true},
      {{"inet", "10.0.0.0", "netmask", "255.255.255.0"}, Family::inet, "10.0.0.0", 24, false},
      {{"inet", "10.0.0.0", "netmask", "255.255.255.0", "foo", "print"},
       Family::inet,
       "10.0.0.0",
       24,
       true},
      {{"inet", "10.0.0.0", "netmask", "255.255.255.255"}, Family::inet, "10.0.0.0", 32, false},
      {{"inet", "10.0.0.0", "netmask", "255.0.255.0"}, Family::inet, "10.0.0.0", 16, false},
      {{"inet", "10.0.0.0", "mask", "0.0.0.255"}, Family::inet, "10.0.0.0", 24, false},
      {{"inet", "10.0.0.0", "mask", "255.255.255.255"}, Family::inet, "10.0.0.0", 0, false},
      {{"inet", "10.0.0.0", "prefixlen", "0", "print"}, Family::inet, "10.0.0.0", 0, true},
      {{"inet", "bogus", "prefixlen", "8"}, Family::inet, "bogus", 8, false},
      {{"inet6", "fd00:1:2:3::", "netmask", "ffff:ffff:ffff:ffff::"},
       Family::inet6,
       "fd00:1:2:3::",
       64,
       false},
      {{"inet6", "fd00:1:2:3::/56", "print"}, Family::inet6, "fd00:1:2:3::", 56, true},
      {{"inet6", "::", "prefixlen", "2147483647"}, Family::inet6, "::", 2147483647, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(join(row.words));
    std::vector<const char*> argv;
    for (const auto& w : row.words) argv.push_back(w.c_str());
    const Request request = proccmdargs(argv);
    const auto* report = std::get_if<ReportRequest>(&request);
    ASSERT_NE(report, nullptr);
    const cmdargs* cd = &report->network;
    EXPECT_EQ(cd->af, row.af);
    EXPECT_EQ(cd->address, row.address);
    EXPECT_EQ(cd->bits, row.bits);
    EXPECT_EQ(cd->dorange, row.dorange);
  }
}

TEST(CommandLine, SingleShotModesIgnoreLaterWordsAndPrint) {
  EXPECT_EQ(invoke({"inet", "hosts", "100", "print"}),
            ok("theoretical len: 25.356143810225276524761284235865\n"
               "working len:     25\n"
               "hosts:           128\n"));
  EXPECT_EQ(invoke({"int6", "::1", "print"}),
            ok("1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.ip6.int.\tIN\tPTR\t"
               "print\n"));
  EXPECT_EQ(invoke({"arpa6", "::1", "localhost.", "print"}),
            invoke({"arpa6", "::1", "localhost."}));
  EXPECT_EQ(invoke({"stf", "inet", "192.0.2.1", "extra"}), invoke({"stf", "inet", "192.0.2.1"}));
}

}  // namespace
}  // namespace maskery::testing
