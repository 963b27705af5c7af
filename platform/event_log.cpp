#include "platform/event_log.h"

#include <stdlib.h>
#include <syslog.h>

#include <ostream>

namespace corvane {

namespace {

// openlog keeps this pointer, so it must live as long as the process.
constexpr const char* kEventSource = "CorvaneService";

}  // namespace

void WriteSystemLog(SystemLogPriority priority, const std::string& text) noexcept {
  // The same ident, options and facility every time, so repeated calls change nothing.
  ::openlog(kEventSource, LOG_PID, LOG_DAEMON);
  ::syslog(priority == SystemLogPriority::kError ? LOG_ERR : LOG_INFO, "%s", text.c_str());
}

bool StartedByServiceManager() {
  return ::getenv("INVOCATION_ID") != nullptr || ::getenv("NOTIFY_SOCKET") != nullptr;
}

void SystemEventLog::Information(const std::string& text) {
  Report(SystemLogPriority::kInformation, text);
}

void SystemEventLog::Error(const std::string& text) {
  Report(SystemLogPriority::kError, text);
}

void SystemEventLog::Report(SystemLogPriority priority, const std::string& text) noexcept {
  WriteSystemLog(priority, text);
  try {
    std::lock_guard<std::mutex> guard(echo_lock_);
    if (echo_ != nullptr) *echo_ << text << '\n' << std::flush;
  } catch (...) {
    // An echo that fails (a closed standard error) must not stop the service.
  }
}

}  // namespace corvane
