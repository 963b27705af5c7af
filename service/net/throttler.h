#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace corvane {

// Slows one data connection to a bit rate by pausing after each buffer: n bytes are followed by
// n * 8000 / rate milliseconds of sleep (rounded down). No token bucket, nothing shared between
// connections; a rate of 0 or less means no pause in that direction.
class TThrottler {
 public:
  using Sleeper = std::function<void(std::chrono::milliseconds)>;

  // The sleeper is replaceable so the arithmetic can be checked without waiting.
  explicit TThrottler(Sleeper sleep = DefaultSleep);

  // Sets BitsPerSec and both directional rates.
  void SetBitsPerSec(std::int32_t bits_per_sec);
  std::int32_t BitsPerSec() const { return bits_per_sec_; }
  void SetRecvBitsPerSec(std::int32_t bits_per_sec) { recv_bits_per_sec_ = bits_per_sec; }
  std::int32_t RecvBitsPerSec() const { return recv_bits_per_sec_; }
  void SetSendBitsPerSec(std::int32_t bits_per_sec) { send_bits_per_sec_ = bits_per_sec; }
  std::int32_t SendBitsPerSec() const { return send_bits_per_sec_; }

  // Called after a buffer of the given size has been sent or received.
  void AfterSend(std::size_t bytes) const;
  void AfterReceive(std::size_t bytes) const;

  // bytes * 8 * 1000 / bits_per_sec milliseconds without overflow (saturating); 0 when the
  // rate is 0 or less.
  static std::chrono::milliseconds DelayFor(std::size_t bytes, std::int32_t bits_per_sec);

 private:
  static void DefaultSleep(std::chrono::milliseconds delay);
  void Pause(std::size_t bytes, std::int32_t bits_per_sec) const;

  Sleeper sleep_;
  std::int32_t bits_per_sec_ = 0;
  std::int32_t recv_bits_per_sec_ = 0;
  std::int32_t send_bits_per_sec_ = 0;
};

}  // namespace corvane
