#include "service/net/ipv4_calculator.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace corvane {
namespace {

TEST(Ipv4CalculatorTest, ParsesFourDecimalPartsHighByteFirst) {
  EXPECT_EQ(ParseIpv4("0.0.0.0"), 0u);
  EXPECT_EQ(ParseIpv4("192.168.1.20"), 0xC0A80114u);
  EXPECT_EQ(ParseIpv4("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseIpv4("010.0.0.1"), 0x0A000001u);
}

TEST(Ipv4CalculatorTest, RejectsEverythingElse) {
  for (const char* text :
       {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "256.0.0.1", "1..2.3", "1.2.3.", ".1.2.3",
        "1.2.3.-4", "1.2.3.+4", "1.2.3.4 ", " 1.2.3.4", "a.b.c.d", "::1", "1.2.3.99999999999999"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(ParseIpv4(text), std::runtime_error);
  }
}

TEST(Ipv4CalculatorTest, MaskFromPrefixLength) {
  EXPECT_EQ(Ipv4MaskFromPrefix(0), 0u);
  EXPECT_EQ(Ipv4MaskFromPrefix(1), 0x80000000u);
  EXPECT_EQ(Ipv4MaskFromPrefix(24), 0xFFFFFF00u);
  EXPECT_EQ(Ipv4MaskFromPrefix(31), 0xFFFFFFFEu);
  EXPECT_EQ(Ipv4MaskFromPrefix(32), 0xFFFFFFFFu);
  EXPECT_EQ(Ipv4MaskFromPrefix(40), 0xFFFFFFFFu);
}

TEST(Ipv4CalculatorTest, CidrContains) {
  struct Case {
    const char* cidr;
    const char* address;
    bool contained;
  };
  const Case cases[] = {
      {"10.0.0.0/8", "10.255.1.2", true},         {"10.0.0.0/8", "11.0.0.0", false},
      {"192.168.1.0/24", "192.168.1.200", true},  {"192.168.1.0/24", "192.168.2.1", false},
      {"0.0.0.0/0", "203.0.113.9", true},         {"1.2.3.4/0", "255.255.255.255", true},
      {"10.0.0.5/32", "10.0.0.5", true},          {"10.0.0.5/32", "10.0.0.4", false},
      {"10.0.0.5/40", "10.0.0.5", true},          {"10.0.0.5/40", "10.0.0.6", false},
      {"10.0.0.7/31", "10.0.0.6", true},          {"10.0.0.7/31", "10.0.0.8", false},
      {"10.0.0.0/99999999999", "10.0.0.0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cidr) + " " + c.address);
    EXPECT_EQ(TIpv4Network::FromCidr(c.cidr).Contains(c.address), c.contained);
  }
  EXPECT_EQ(TIpv4Network::FromCidr("10.0.0.0/40").PrefixLength(), 32u);
}

TEST(Ipv4CalculatorTest, CidrThatCannotBeReadThrows) {
  for (const char* cidr : {"10.0.0.0/", "10.0.0.0/x", "10.0.0.0/-1", "10.0.0.0/8/8", "10.0.0/8",
                           "10.0.0.300/8", "/8", "10.0.0.0"}) {
    SCOPED_TRACE(cidr);
    EXPECT_THROW(TIpv4Network::FromCidr(cidr), std::runtime_error);
  }
  const TIpv4Network network = TIpv4Network::FromCidr("10.0.0.0/8");
  EXPECT_THROW(network.Contains("::1"), std::runtime_error);
  EXPECT_THROW(network.Contains("10.0.0"), std::runtime_error);
}

TEST(Ipv4CalculatorTest, RangeContains) {
  struct Case {
    const char* range;
    const char* address;
    bool contained;
  };
  const Case cases[] = {
      {"192.168.1.10-20", "192.168.1.10", true},
      {"192.168.1.10-20", "192.168.1.15", true},
      {"192.168.1.10-20", "192.168.1.20", true},
      {"192.168.1.10-20", "192.168.1.9", false},
      {"192.168.1.10-20", "192.168.1.21", false},
      {"192.168.1.10-20", "192.168.2.15", false},
      {"192.168.1.20-10", "192.168.1.15", false},
      {"192.168.1.20-10", "192.168.1.20", false},
      {"192.168.1.5-5", "192.168.1.5", true},
      {"192.168.1.0-999", "192.168.1.255", true},
      // The first three parts compare as written text.
      {"192.168.01.1-9", "192.168.1.5", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.range) + " " + c.address);
    EXPECT_EQ(TIpv4Range::Parse(c.range).Contains(c.address), c.contained);
  }
}

TEST(Ipv4CalculatorTest, RangeThatCannotBeReadThrows) {
  for (const char* range : {"192.168.1.10-", "192.168.1.10-x", "192.168.1-20", "192.168.1.x-20",
                            "192.168.1.300-400", "-20", "192.168.1.10"}) {
    SCOPED_TRACE(range);
    EXPECT_THROW(TIpv4Range::Parse(range), std::runtime_error);
  }
  const TIpv4Range range = TIpv4Range::Parse("192.168.1.10-20");
  EXPECT_THROW(range.Contains("fe80::1"), std::runtime_error);
  EXPECT_THROW(range.Contains("192.168.1"), std::runtime_error);
}

}  // namespace
}  // namespace corvane
