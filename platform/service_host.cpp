#include "platform/service_host.h"

#include <signal.h>

#include <exception>
#include <ostream>

#include "platform/program_directory.h"
#include "platform/stop_signals.h"
#include "platform/systemd_notify.h"
#include "platform/unit_installer.h"

namespace corvane {

namespace {

constexpr const char* kDisplayName = "CorvaneServer";

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

// Runs one handler; on an exception writes "Service failed on <stage>: <message>".
bool RunHandler(EventSink& events, const std::function<void()>& handler, const char* stage) {
  try {
    if (handler) handler();
    return true;
  } catch (...) {
    events.Error(std::string("Service failed on ") + stage + ": " +
                 MessageOf(std::current_exception()));
    return false;
  }
}

}  // namespace

int RunServiceHost(const std::vector<std::string>& arguments, EventSink& events,
                   const ServiceHandlers& handlers, std::ostream& out, std::ostream& err) {
  const ServiceSwitches switches = ParseServiceSwitches(arguments);
  if (switches.install || switches.uninstall) return RunServiceInstaller(switches, out, err);
  return RunServiceInForeground(events, handlers);
}

int RunServiceInstaller(const ServiceSwitches& switches, std::ostream& out, std::ostream& err) {
  const bool install = switches.install;
  try {
    const UnitLocation location = ServiceUnitLocation();
    if (install) {
      InstallServiceUnit(location, ExecutablePath());
    } else {
      UninstallServiceUnit(location);
    }
  } catch (const std::exception& e) {
    err << "Service \"" << kDisplayName << "\" failed to " << (install ? "install" : "uninstall")
        << " with error: \"" << e.what() << "\"" << std::endl;
    return 1;
  }
  if (!switches.silent) {
    out << (install ? "Service installed successfully" : "Service uninstalled successfully")
        << std::endl;
  }
  return 0;
}

int RunServiceInForeground(EventSink& events, const ServiceHandlers& handlers) {
  // A peer that closes its end mid-reply must fail that write, not end the service.
  ::signal(SIGPIPE, SIG_IGN);
  StopSignals stop_signals;
  if (!RunHandler(events, handlers.start, "start")) return 1;
  NotifyServiceReady();
  if (!RunHandler(
          events, [&] { stop_signals.Wait(); }, "execute"))
    return 1;
  NotifyServiceStopping();
  if (!RunHandler(events, handlers.stop, "stop")) return 1;
  return 0;
}

}  // namespace corvane
