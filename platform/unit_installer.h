#pragma once

#include <string>

namespace corvane {

// Installation of the service as the systemd unit "CorvaneService.service".

inline constexpr const char* kServiceUnitName = "CorvaneService.service";
inline constexpr const char* kDefaultUnitDirectory = "/etc/systemd/system";

// Where the unit is written and how it is enabled.
struct UnitLocation {
  std::string directory;  // the unit directory
  // The systemctl program that enables and disables the unit; empty: the installer makes and
  // removes the multi-user.target.wants link itself.
  std::string systemctl;
};

// The unit directory is CORVANE_UNIT_DIR when that is set and not empty, else
// /etc/systemd/system. systemctl is used only for the default directory and only when it is
// found on PATH: a directory of the operator's choice is none that systemd reads, so there the
// enabling link is made by hand.
UnitLocation ServiceUnitLocation();

// The unit's text for the given absolute executable path. Throws std::runtime_error when the
// path cannot be written into a unit (a quote, a backslash or a control character in it).
std::string ServiceUnitText(const std::string& executable);

// Writes the unit into the directory and enables it for multi-user.target. Fails, leaving
// nothing behind, when a unit of that name is already there or enabling fails. Throws
// std::runtime_error whose message is the system's error text ("File exists").
void InstallServiceUnit(const UnitLocation& location, const std::string& executable);

// Disables the unit and deletes it. Throws std::runtime_error with the system's error text
// ("No such file or directory" when it is not installed).
void UninstallServiceUnit(const UnitLocation& location);

}  // namespace corvane
