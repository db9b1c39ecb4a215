// Address literals, ranges and the matcher.
#include <gtest/gtest.h>

#include "foundation/ip_address.h"

namespace {

IpAddress Address(const char* text) {
  IpAddress address;
  EXPECT_TRUE(ParseIpAddress(text, address)) << text;
  return address;
}

TEST(IpAddress, LiteralsParseAndPrintBack) {
  struct Case {
    const char* text;
    const char* printed;  // null: does not parse
  } cases[] = {
      {"127.0.0.1", "127.0.0.1"},
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"::", "::"},
      {"::1", "::1"},
      {"fd00::", "fd00::"},
      {"2001:DB8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
      {"::ffff:192.168.1.2", "::ffff:c0a8:102"},
      {"1:2:3:4:5:6:7.8.9.10", "1:2:3:4:5:6:708:90a"},
      {"256.0.0.1", nullptr},
      {"1.2.3", nullptr},
      {"1.2.3.4.5", nullptr},
      {"01.2.3.4", nullptr},
      {"1.2.3.4 ", nullptr},
      {"", nullptr},
      {"localhost", nullptr},
      {":::", nullptr},
      {"1::2::3", nullptr},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"12345::", nullptr},
      {"::1.2.3", nullptr},
      {"[::1]", nullptr},
      {"fe80::1%eth0", nullptr},
      {"1.2.3.4::", nullptr},
  };
  for (const Case& c : cases) {
    IpAddress address;
    EXPECT_EQ(ParseIpAddress(c.text, address), c.printed != nullptr) << c.text;
    if (c.printed != nullptr) {
      EXPECT_EQ(FormatIpAddress(address), c.printed) << c.text;
    }
  }
}

TEST(IpAddress, RangesAndTheMatcher) {
  struct Case {
    const char* range;
    const char* client;
    bool inside;
  } cases[] = {
      {"127.0.0.0/8", "127.1.2.3", true},
      {"127.0.0.0/8", "128.0.0.1", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {"0.0.0.0/0", "::1", false},
      {"10.1.2.3/32", "10.1.2.3", true},
      {"10.1.2.3", "10.1.2.4", false},
      {"192.168.1.0/24", "::ffff:192.168.1.77", true},
      {"192.168.1.0/25", "192.168.1.200", false},
      {"::1", "::1", true},
      {"::1/128", "::2", false},
      {"fd00::/8", "fdab::1", true},
      {"fd00::/8", "fe00::1", false},
      {"::/0", "2001:db8::1", true},
      {"::/0", "::ffff:10.0.0.1", false},
      {" 10.0.0.0/8 ", "10.9.9.9", true},
  };
  for (const Case& c : cases) {
    IpRange range;
    ASSERT_TRUE(ParseIpRange(c.range, range)) << c.range;
    EXPECT_EQ(InRange(Address(c.client), range), c.inside) << c.range << " " << c.client;
  }
  for (const char* bad : {"10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/x", "10.0.0.0/08", "/8",
                          "10.0.0.0/-1", "bogus/8"}) {
    IpRange range;
    EXPECT_FALSE(ParseIpRange(bad, range)) << bad;
  }
}

TEST(IpAddress, MappedClientsCountAsTheirIpv4Address) {
  EXPECT_EQ(Unmapped(Address("::ffff:127.0.0.2")), Address("127.0.0.2"));
  EXPECT_EQ(Unmapped(Address("::1")), Address("::1"));
  EXPECT_EQ(Unmapped(Address("::127.0.0.2")), Address("::127.0.0.2"));  // not mapped
}

}  // namespace
