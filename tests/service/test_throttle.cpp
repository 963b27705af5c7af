// ApplyThrottle's choice of limit and what it attaches, through both of its callers.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftpserver.h"
#include "service/mycontext.h"
#include "service/net/tcp_socket.h"
#include "service/net/throttler.h"
#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

constexpr std::int32_t kMaxRate = std::numeric_limits<std::int32_t>::max();

// A control session without a connection: enough to own a context and an active data channel.
class ThrottleTest : public ::testing::Test {
 protected:
  ThrottleTest() : server_(temp_.Path()), session_(server_.Engine(), socket_) {}

  TMyContext& Context() { return static_cast<TMyContext&>(session_.Context()); }
  TDataChannel& NewActiveChannel() {
    Context().DataChannel =
        std::make_unique<TDataChannel>(Context(), Endpoint{"127.0.0.1", 1, AF_INET});
    return *Context().DataChannel;
  }
  void Prepare(std::int32_t global, std::int32_t user) {
    server_.SetBandwidth(global);
    Context().Bandwidth = user;
  }
  // A transfer command's call: the retrieve handler applies the limit before opening the file
  // (which fails here: the context has no home).
  void RetrieveFails() {
    EXPECT_THROW(server_.Engine().OnRetrieveFile(Context(), "/x"), std::runtime_error);
  }

  testing::TempDir temp_;
  TFTPServer server_;
  TcpSocket socket_;
  ControlSession session_;
};

TEST_F(ThrottleTest, TheUserLimitReplacesTheGlobalOneAndZeroAttachesNothing) {
  const struct {
    std::int32_t global, user, bits_per_sec;  // 0: nothing attached
  } cases[] = {
      {0, 0, 0},
      {-1, 0, 0},
      {0, -5, 0},
      {10, 0, 81920},  // a machine account has no limit of its own
      {10, -3, 81920},
      {10, 50, 409600},  // above the global value: replaced, not combined
      {50, 10, 81920},   // below it as well
      {0, 1, 8192},
      {262143, 0, 262143 * 8192},
      {262144, 0, kMaxRate},  // 2^31 bits per second does not fit: the largest rate
      {kMaxRate, 0, kMaxRate},
  };
  for (const auto& c : cases) {
    Prepare(c.global, c.user);
    TDataChannel& bound = NewActiveChannel();
    server_.Engine().OnDataPortAfterBind(Context());
    if (c.bits_per_sec == 0) {
      EXPECT_EQ(bound.Intercept(), nullptr) << c.global << " " << c.user;
    } else {
      ASSERT_NE(bound.Intercept(), nullptr) << c.global << " " << c.user;
      EXPECT_EQ(bound.Intercept()->BitsPerSec(), c.bits_per_sec);
      // Uploads are throttled like downloads.
      EXPECT_EQ(bound.Intercept()->RecvBitsPerSec(), c.bits_per_sec);
      EXPECT_EQ(bound.Intercept()->SendBitsPerSec(), c.bits_per_sec);
    }

    TDataChannel& transfer = NewActiveChannel();
    RetrieveFails();
    EXPECT_EQ(transfer.FBandWidth, c.bits_per_sec) << c.global << " " << c.user;
    EXPECT_EQ(transfer.Intercept(), nullptr);
  }
}

TEST_F(ThrottleTest, EachBindGetsAFreshThrottleInPlaceOfTheOldOne) {
  Prepare(10, 0);
  TDataChannel& channel = NewActiveChannel();
  server_.Engine().OnDataPortAfterBind(Context());
  ASSERT_NE(channel.Intercept(), nullptr);
  Context().Bandwidth = 20;  // a later login of another account
  server_.Engine().OnDataPortAfterBind(Context());
  ASSERT_NE(channel.Intercept(), nullptr);
  EXPECT_EQ(channel.Intercept()->BitsPerSec(), 20 * 8192);
}

TEST_F(ThrottleTest, BothTransferHandlersApplyTheLimitAndNoChannelIsNoError) {
  Prepare(0, 7);
  for (const bool append : {false, true}) {
    TDataChannel& channel = NewActiveChannel();
    EXPECT_THROW(server_.Engine().OnStoreFile(Context(), "/x", append), std::runtime_error);
    EXPECT_EQ(channel.FBandWidth, 7 * 8192);
  }
  Context().DataChannel.reset();
  server_.Engine().OnDataPortAfterBind(Context());
  RetrieveFails();
}

}  // namespace
}  // namespace corvane
