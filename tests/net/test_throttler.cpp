#include "service/net/throttler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <vector>

namespace corvane {
namespace {

using std::chrono::milliseconds;

TEST(ThrottlerTest, DelayIsBytesTimes8000OverRateRoundedDown) {
  struct Case {
    std::size_t bytes;
    std::int32_t rate;
    std::int64_t expected_ms;
  };
  const Case cases[] = {
      {32768, 81920, 3200},  // limit 10: 10 * 8192 bit/s
      {32768, 10 * 8192 + 1, 3199},
      {1, 8001, 0},
      {1, 8000, 1},
      {102400, 8192, 100000},
      // The product bytes * 8000 overflows 32 bits here, and 64 bits in the last cases.
      {std::size_t{1} << 32, std::numeric_limits<std::int32_t>::max(), 16000},
      {std::size_t{1} << 50, 1 << 30, std::int64_t{8000} << 20},
      {std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::int32_t>::max(),
       static_cast<std::int64_t>(
           static_cast<unsigned __int128>(std::numeric_limits<std::size_t>::max()) * 8000 /
           std::numeric_limits<std::int32_t>::max())},
      {std::numeric_limits<std::size_t>::max(), 1, milliseconds::max().count()},
      {32768, 0, 0},
      {32768, -81920, 0},
      {0, 81920, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.bytes << " bytes at " << c.rate);
    EXPECT_EQ(TThrottler::DelayFor(c.bytes, c.rate).count(), c.expected_ms);
  }
}

TEST(ThrottlerTest, SendAndReceiveSleepAtTheirOwnRates) {
  std::vector<milliseconds> slept;
  TThrottler throttler([&](milliseconds delay) { slept.push_back(delay); });

  throttler.SetBitsPerSec(81920);
  EXPECT_EQ(throttler.SendBitsPerSec(), 81920);
  EXPECT_EQ(throttler.RecvBitsPerSec(), 81920);
  throttler.AfterSend(32768);
  throttler.AfterReceive(16384);
  ASSERT_EQ(slept, (std::vector<milliseconds>{milliseconds(3200), milliseconds(1600)}));

  slept.clear();
  throttler.SetSendBitsPerSec(0);
  throttler.SetRecvBitsPerSec(-1);
  throttler.AfterSend(32768);
  throttler.AfterReceive(32768);
  EXPECT_TRUE(slept.empty());
  EXPECT_EQ(throttler.BitsPerSec(), 81920);
}

}  // namespace
}  // namespace corvane
