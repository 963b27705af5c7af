#pragma once

namespace corvane {

// Status reports to systemd for a Type=notify service. Each is harmless, and does nothing, when
// the process was not started by systemd (no NOTIFY_SOCKET); none throws.

// The service has started: "READY=1".
void NotifyServiceReady() noexcept;

// The service is stopping and may need a while: "STOPPING=1" with the wait hint
// "EXTEND_TIMEOUT_USEC=5000000" (5000 ms).
void NotifyServiceStopping() noexcept;

}  // namespace corvane
