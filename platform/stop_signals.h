#pragma once

#include <signal.h>

namespace corvane {

// Blocks SIGTERM and SIGINT for the calling thread while it lives, so that threads started
// afterwards inherit the block and the signals wait for Wait(). Create it on the main thread
// before any other thread starts. On destruction it discards stop signals still pending and
// restores the previous mask.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits until SIGTERM or SIGINT arrives and returns its number.
  int Wait();

 private:
  sigset_t stop_set_;
  sigset_t previous_mask_;
};

}  // namespace corvane
