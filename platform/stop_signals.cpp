#include "platform/stop_signals.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <stdexcept>

#include "platform/system_error.h"

namespace corvane {

StopSignals::StopSignals() {
  sigemptyset(&stop_set_);
  sigaddset(&stop_set_, SIGTERM);
  sigaddset(&stop_set_, SIGINT);
  const int error = ::pthread_sigmask(SIG_BLOCK, &stop_set_, &previous_mask_);
  if (error != 0) {
    throw std::runtime_error("Cannot block the stop signals: " + SystemErrorText(error));
  }
}

StopSignals::~StopSignals() {
  // A second stop request during the stop is already answered; unblocking it would end the
  // process by the signal instead of its normal exit.
  const timespec no_wait{0, 0};
  while (::sigtimedwait(&stop_set_, nullptr, &no_wait) > 0) {
  }
  ::pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

int StopSignals::Wait() {
  for (;;) {
    int signal_number = 0;
    const int error = ::sigwait(&stop_set_, &signal_number);
    if (error == 0) return signal_number;
    if (error != EINTR) {
      throw std::runtime_error("Cannot wait for a stop signal: " + SystemErrorText(error));
    }
  }
}

}  // namespace corvane
