#include "service/net/throttler.h"

#include <limits>
#include <thread>

namespace corvane {

TThrottler::TThrottler(Sleeper sleep) : sleep_(std::move(sleep)) {}

void TThrottler::SetBitsPerSec(std::int32_t bits_per_sec) {
  bits_per_sec_ = bits_per_sec;
  recv_bits_per_sec_ = bits_per_sec;
  send_bits_per_sec_ = bits_per_sec;
}

void TThrottler::AfterSend(std::size_t bytes) const {
  Pause(bytes, send_bits_per_sec_);
}

void TThrottler::AfterReceive(std::size_t bytes) const {
  Pause(bytes, recv_bits_per_sec_);
}

std::chrono::milliseconds TThrottler::DelayFor(std::size_t bytes, std::int32_t bits_per_sec) {
  if (bits_per_sec <= 0) return std::chrono::milliseconds(0);
  constexpr std::uint64_t kMillibitsPerByte = 8 * 1000;
  const auto rate = static_cast<std::uint64_t>(bits_per_sec);
  const auto size = static_cast<std::uint64_t>(bytes);
  // floor(size * 8000 / rate), split as (q * rate + r) so that no product can overflow.
  const std::uint64_t whole = size / rate;
  const std::uint64_t rest = size % rate;  // < 2^31, so rest * 8000 fits easily
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (whole > (kMax - kMillibitsPerByte) / kMillibitsPerByte)
    return std::chrono::milliseconds(std::chrono::milliseconds::max());
  const std::uint64_t delay = whole * kMillibitsPerByte + rest * kMillibitsPerByte / rate;
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(delay));
}

void TThrottler::DefaultSleep(std::chrono::milliseconds delay) {
  std::this_thread::sleep_for(delay);
}

void TThrottler::Pause(std::size_t bytes, std::int32_t bits_per_sec) const {
  const std::chrono::milliseconds delay = DelayFor(bytes, bits_per_sec);
  if (delay.count() > 0 && sleep_) sleep_(delay);
}

}  // namespace corvane
