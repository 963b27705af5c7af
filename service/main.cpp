// CorvaneServer: the FTP service. Runs in the foreground until SIGTERM or SIGINT, as systemd
// runs services; /install and /uninstall register or remove its systemd unit instead.
#include <clocale>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/descriptor_limit.h"
#include "platform/event_log.h"
#include "platform/program_directory.h"
#include "platform/service_host.h"
#include "service/corvane_service.h"

int main(int argc, char** argv) {
  using namespace corvane;
  // Listings order names by the system locale's collation.
  std::setlocale(LC_COLLATE, "");
  // Every session holds a descriptor: take all that the hard limit allows.
  RaiseDescriptorLimit();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  SystemEventLog events(StartedByServiceManager() ? nullptr : &std::cerr);
  try {
    TCorvaneService service(ProgramDirectory(), events);
    const ServiceHandlers handlers{[&] { service.ServiceStart(); }, [&] { service.ServiceStop(); }};
    return RunServiceHost(arguments, events, handlers, std::cout, std::cerr);
  } catch (const std::exception& e) {
    events.Error(std::string("Service failed on execute: ") + e.what());
    return 1;
  }
}
