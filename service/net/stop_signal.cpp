#include "service/net/stop_signal.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include "platform/system_error.h"

namespace corvane {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_) throw std::runtime_error("Could not create event: " + SystemErrorText(errno));
}

void StopSignal::Raise() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(fd_.Get(), &one, sizeof one);
}

void StopSignal::Clear() {
  std::uint64_t value = 0;
  [[maybe_unused]] ssize_t got = ::read(fd_.Get(), &value, sizeof value);
}

bool StopSignal::Raised() const {
  pollfd entry{fd_.Get(), POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

}  // namespace corvane
