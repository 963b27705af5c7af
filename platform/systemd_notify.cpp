#include "platform/systemd_notify.h"

#include <systemd/sd-daemon.h>

namespace corvane {

void NotifyServiceReady() noexcept {
  ::sd_notify(0, "READY=1");
}

void NotifyServiceStopping() noexcept {
  ::sd_notify(0, "STOPPING=1\nEXTEND_TIMEOUT_USEC=5000000");
}

}  // namespace corvane
