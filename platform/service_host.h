#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/event_log.h"

namespace corvane {

// The host's side of a service: its start and stop handlers. An exception escaping either is
// the host's error event.
struct ServiceHandlers {
  std::function<void()> start;
  std::function<void()> stop;
};

// The whole life of the service program. With /install or /uninstall (Install wins when both
// are given) it runs RunServiceInstaller; otherwise RunServiceInForeground. Returns the
// process's exit status.
int RunServiceHost(const std::vector<std::string>& arguments, EventSink& events,
                   const ServiceHandlers& handlers, std::ostream& out, std::ostream& err);

// Installs or uninstalls the systemd unit for this executable (ServiceUnitLocation decides
// where). Success: "Service installed successfully" / "Service uninstalled successfully" on
// out unless silent, status 0. Failure: "Service "CorvaneServer" failed to install with error:
// "<text>"" (or uninstall) on err, status 1.
int RunServiceInstaller(const ServiceSwitches& switches, std::ostream& out, std::ostream& err);

// Runs the service as systemd runs it, in the foreground: ignores SIGPIPE, blocks SIGTERM and
// SIGINT, calls start, reports READY=1 and waits for a stop signal; then reports STOPPING=1
// with a 5000 ms wait hint, calls stop and returns 0. An exception from start is the error event
// "Service failed on start: <message>" (stop is then not called), one from stop "Service failed
// on stop: <message>"; either returns 1. Call it on the main thread before other threads exist.
int RunServiceInForeground(EventSink& events, const ServiceHandlers& handlers);

}  // namespace corvane
