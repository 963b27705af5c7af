#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

using testing::ScopedEnvironment;

TEST(EventLogTest, EchoesEveryEventAsOneLine) {
  std::ostringstream echo;
  SystemEventLog events(&echo);
  events.Information("Starting Corvane service");
  events.Error("Service failed on start: bad port");
  events.Information("Corvane Service started");
  EXPECT_EQ(echo.str(),
            "Starting Corvane service\n"
            "Service failed on start: bad port\n"
            "Corvane Service started\n");
}

TEST(EventLogTest, WithoutEchoStreamOnlyTheSystemLogGetsEvents) {
  SystemEventLog events(nullptr);
  events.Information("Starting Corvane service");  // must neither throw nor crash
  events.Error("Service failed on start: x");
}

TEST(EventLogTest, StartedByServiceManagerFollowsTheVariablesSystemdSets) {
  const struct {
    std::optional<std::string> invocation_id, notify_socket;
    bool expected;
  } cases[] = {
      {std::nullopt, std::nullopt, false},
      {"4f2c0e5b9d8a4e1b8c3d2a1b0c9d8e7f", std::nullopt, true},
      {std::nullopt, "/run/systemd/notify", true},
      {"4f2c", "/run/systemd/notify", true},
  };
  for (const auto& c : cases) {
    ScopedEnvironment invocation("INVOCATION_ID", c.invocation_id);
    ScopedEnvironment notify("NOTIFY_SOCKET", c.notify_socket);
    EXPECT_EQ(StartedByServiceManager(), c.expected)
        << c.invocation_id.value_or("-") << " " << c.notify_socket.value_or("-");
  }
}

}  // namespace
}  // namespace corvane
