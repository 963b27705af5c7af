#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "service/ftp/commands_data.h"

namespace corvane {
namespace {

TEST(PortArgument, JoinsTheAddressAndComputesThePort) {
  struct Case {
    const char* text;
    const char* address;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"127,0,0,1,19,137", "127.0.0.1", 19 * 256 + 137},
      {"10,0,0,7,0,21", "10.0.0.7", 21},
      {"10,0,0,7, 4 , 1 ", "10.0.0.7", 4 * 256 + 1},  // blanks around the port fields
      {"1,2,3,4,255,255", "1.2.3.4", 65535},
      {"1,2,3,4,0,0", "1.2.3.4", 0},
  };
  for (const Case& c : cases) {
    const std::optional<TPortArgument> argument = ParsePortArgument(c.text);
    ASSERT_TRUE(argument) << c.text;
    EXPECT_EQ(argument->address, c.address) << c.text;
    EXPECT_EQ(argument->port, c.port) << c.text;
  }
}

TEST(PortArgument, RefusesAnythingButSixByteNumbers) {
  for (const char* text :
       {"", "1,2,3,4", "1,2,3,4,5", "1,2,3,4,x,1", "1,2,3,4,1,0x10", "1,2,3,4,1,", "1,2,3,4,1 2,3",
        "1,2,3,4,99999999999999999999,1", "1,2,3,4,256,1", "1,2,3,4,0,65537", "1,2,3,4,-1,0",
        "1,2,3,4,+1,0", "a,b,c,d,1,1", "1,2,3,-4,1,1", "1,2,3,300,1,1", "1,2,3,4,1,1,9",
        "1,2,3,4,1,1,"}) {
    EXPECT_FALSE(ParsePortArgument(text)) << text;
  }
}

TEST(EprtArgument, SplitsAtTheFirstCharacter) {
  struct Case {
    const char* text;
    int protocol;
    const char* address;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"|1|127.0.0.1|5282|", 1, "127.0.0.1", 5282},   {"!2!::1!6000!", 2, "::1", 6000},
      {"|x|127.0.0.1|5282|", -1, "127.0.0.1", 5282},  // a protocol that is not a number
      {"|1|127.0.0.1|port|", 1, "127.0.0.1", 0},      // a port that is not a number
      {"|1|127.0.0.1|65535|", 1, "127.0.0.1", 65535}, {"|1||5282|", 1, "", 5282},
  };
  for (const Case& c : cases) {
    const std::optional<TEprtArgument> argument = ParseEprtArgument(c.text);
    ASSERT_TRUE(argument) << c.text;
    EXPECT_EQ(argument->protocol, c.protocol) << c.text;
    EXPECT_EQ(argument->address, c.address) << c.text;
    EXPECT_EQ(argument->port, c.port) << c.text;
  }
}

TEST(EprtArgument, RefusesMalformedArgumentsAndPortsOutOfRange) {
  for (const char* text :
       {"", "|", "|1|", "|1|127.0.0.1|5282", "|1|127.0.0.1|5282|x", "|1|127.0.0.1|5282||",
        "|1|127.0.0.1|98505|", "|1|127.0.0.1|-5|", "|1|127.0.0.1|65536|"}) {
    EXPECT_FALSE(ParseEprtArgument(text)) << text;
  }
}

TEST(DataArguments, OnlySpacesAndTabsCountAsBlanksAroundANumber) {
  // Other white space before a number makes it no number: a port that is not one reads as 0.
  for (const char* space : {"\v", "\f", "\r", "\n"}) {
    const std::string number = std::string(space) + "80";
    const std::optional<TEprtArgument> argument =
        ParseEprtArgument("|" + number + "|h|" + number + "|");
    ASSERT_TRUE(argument) << number;
    EXPECT_EQ(argument->protocol, -1) << number;
    EXPECT_EQ(argument->port, 0) << number;
    EXPECT_FALSE(ParseEpsvProtocol(number)) << number;
    EXPECT_FALSE(ParsePortArgument("1,2,3,4," + number + ",1")) << number;
  }
  EXPECT_EQ(ParseEpsvProtocol("\t2\t"), 2);
}

TEST(EprtArgument, PortNumbersPastEveryRangeAreRefused) {
  for (const char* text : {"|1|h|99999999999999999999|", "|1|h|-99999999999999999999|"}) {
    EXPECT_FALSE(ParseEprtArgument(text)) << text;
  }
}

TEST(EpsvProtocol, ReadsADecimalNumber) {
  EXPECT_EQ(ParseEpsvProtocol("1"), 1);
  EXPECT_EQ(ParseEpsvProtocol(" 2 "), 2);
  EXPECT_FALSE(ParseEpsvProtocol("x"));
  EXPECT_FALSE(ParseEpsvProtocol("99999999999"));
}

TEST(PassiveModeText, WritesTheAddressAndBothPortBytes) {
  EXPECT_EQ(PassiveModeText(Endpoint{"10.0.0.5", 20, AF_INET}),
            "Entering Passive Mode (10,0,0,5,0,20).");
  EXPECT_EQ(PassiveModeText(Endpoint{"192.168.1.10", 0xC35A, AF_INET}),
            "Entering Passive Mode (192,168,1,10,195,90).");
}

}  // namespace
}  // namespace corvane
