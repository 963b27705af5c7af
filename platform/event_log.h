#pragma once

#include <iosfwd>
#include <mutex>
#include <string>

namespace corvane {

// Receives the service's own events: its start and stop (information) and the host's failures
// (error). Implementations must not throw.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Information(const std::string& text) = 0;
  virtual void Error(const std::string& text) = 0;
};

enum class SystemLogPriority { kInformation, kError };

// Writes one message to the system log under the ident "CorvaneService" (facility daemon),
// at LOG_INFO or LOG_ERR. Never throws; a message that cannot be delivered is lost.
void WriteSystemLog(SystemLogPriority priority, const std::string& text) noexcept;

// True when systemd started this process: it sets INVOCATION_ID for every service it runs and
// NOTIFY_SOCKET for Type=notify units. Such a process's standard error already goes to the
// journal, so events are not echoed there.
bool StartedByServiceManager();

// The service's event log: every event goes to the system log; when echo is not null each
// event is also written to it as one line (the program passes standard error when it was not
// started by systemd, so an operator running it by hand sees the events).
class SystemEventLog final : public EventSink {
 public:
  explicit SystemEventLog(std::ostream* echo) : echo_(echo) {}
  SystemEventLog(const SystemEventLog&) = delete;
  SystemEventLog& operator=(const SystemEventLog&) = delete;

  void Information(const std::string& text) override;
  void Error(const std::string& text) override;

 private:
  void Report(SystemLogPriority priority, const std::string& text) noexcept;

  std::mutex echo_lock_;  // keeps echoed lines whole
  std::ostream* echo_;    // guarded by echo_lock_; may be null
};

}  // namespace corvane
