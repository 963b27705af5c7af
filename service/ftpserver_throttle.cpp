// Bandwidth limits on data connections: the user's own limit, else the server-wide one.
#include <cstdint>
#include <limits>
#include <memory>

#include "service/ftp/data_channel.h"
#include "service/ftpserver.h"
#include "service/mycontext.h"
#include "service/net/throttler.h"

namespace corvane {
namespace {

constexpr std::int64_t kBitsPerUnit = 8192;  // one unit is 1024 bytes per second

// limit * 8192 bits per second; a limit too large for 32 bits means the largest rate.
std::int32_t BitsPerSecond(std::int32_t limit) {
  const std::int64_t bits = static_cast<std::int64_t>(limit) * kBitsPerUnit;
  return bits > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                         : static_cast<std::int32_t>(bits);
}

}  // namespace

void TFTPServer::OnDataPortAfterBind(TFtpContext& context) {
  ApplyThrottle(context, false);
}

void TFTPServer::ApplyThrottle(TFtpContext& context, bool for_transfer) {
  // The user's limit, copied at login, replaces the global one; it is never combined with it.
  const auto* my_context = dynamic_cast<const TMyContext*>(&context);
  const std::int32_t own = my_context != nullptr ? my_context->Bandwidth : 0;
  const std::int32_t limit = own > 0 ? own : bandwidth_;
  if (limit <= 0 || !context.DataChannel) return;  // full speed: nothing attached at all
  const std::int32_t bits_per_sec = BitsPerSecond(limit);
  if (for_transfer) {
    // The data channel puts a throttle of this rate on an active connection before it connects.
    context.DataChannel->SetBandWidth(bits_per_sec);
    return;
  }
  auto throttler = std::make_unique<TThrottler>();
  throttler->SetBitsPerSec(bits_per_sec);
  context.DataChannel->SetIntercept(std::move(throttler));
}

}  // namespace corvane
