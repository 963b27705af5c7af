#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(CommandLineTest, RecognisesSwitchesWithEitherPrefixInAnyCase) {
  const struct {
    std::vector<std::string> arguments;
    bool install, uninstall, silent;
  } cases[] = {
      {{}, false, false, false},
      {{"/install"}, true, false, false},
      {{"-INSTALL"}, true, false, false},
      {{"/Install", "/silent"}, true, false, true},
      {{"-SiLeNt", "-install"}, true, false, true},
      {{"-UNINSTALL"}, false, true, false},
      {{"/uninstall", "-silent"}, false, true, true},
      {{"/silent"}, false, false, true},
      {{"/install", "/uninstall"}, true, true, false},
  };
  for (const auto& c : cases) {
    const ServiceSwitches switches = ParseServiceSwitches(c.arguments);
    const std::string label = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(switches.install, c.install) << label;
    EXPECT_EQ(switches.uninstall, c.uninstall) << label;
    EXPECT_EQ(switches.silent, c.silent) << label;
  }
}

TEST(CommandLineTest, IgnoresEverythingThatIsNotExactlyASwitch) {
  for (const char* argument : {"install", "--install", "/install ", "/instal", "/installx",
                               "\\install", "", "/", "-", "/uninstal", "+silent", "/debug"}) {
    const ServiceSwitches switches = ParseServiceSwitches({argument});
    EXPECT_FALSE(switches.install || switches.uninstall || switches.silent) << argument;
  }
}

}  // namespace
}  // namespace corvane
