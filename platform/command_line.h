#pragma once

#include <string>
#include <vector>

namespace corvane {

// The switches the service program understands. A switch is an argument made of "/" or "-"
// followed by its name in any letter case ("/install", "-INSTALL", "/Silent"). Every other
// argument is ignored, so an unknown argument never changes what the program does; the program
// then runs as the service.
struct ServiceSwitches {
  bool install = false;
  bool uninstall = false;
  bool silent = false;
};

// Reads the switches from the program's arguments (without the program name).
ServiceSwitches ParseServiceSwitches(const std::vector<std::string>& arguments);

}  // namespace corvane
