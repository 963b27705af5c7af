#include "platform/systemd_notify.h"

#include <gtest/gtest.h>

#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

TEST(SystemdNotifyTest, SendsReadyAndStoppingWithTheWaitHint) {
  testing::NotifyListener listener;
  NotifyServiceReady();
  NotifyServiceStopping();
  EXPECT_EQ(listener.Next(), "READY=1");
  EXPECT_EQ(listener.Next(), "STOPPING=1\nEXTEND_TIMEOUT_USEC=5000000");
  EXPECT_EQ(listener.Next(), std::nullopt);
}

TEST(SystemdNotifyTest, IsHarmlessWithoutServiceManager) {
  testing::ScopedEnvironment no_socket("NOTIFY_SOCKET", std::nullopt);
  NotifyServiceReady();
  NotifyServiceStopping();
}

TEST(SystemdNotifyTest, IsHarmlessWhenTheSocketIsGone) {
  testing::TempDir directory;
  testing::ScopedEnvironment missing("NOTIFY_SOCKET", directory.File("no-such-socket"));
  NotifyServiceReady();
  NotifyServiceStopping();
}

}  // namespace
}  // namespace corvane
