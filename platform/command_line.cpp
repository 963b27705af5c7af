#include "platform/command_line.h"

#include <algorithm>
#include <cctype>

namespace corvane {

namespace {

bool IsSwitch(const std::string& argument, const std::string& name) {
  if (argument.size() != name.size() + 1) return false;
  if (argument[0] != '/' && argument[0] != '-') return false;
  return std::equal(name.begin(), name.end(), argument.begin() + 1, [](char expected, char c) {
    return expected == std::tolower(static_cast<unsigned char>(c));
  });
}

}  // namespace

ServiceSwitches ParseServiceSwitches(const std::vector<std::string>& arguments) {
  ServiceSwitches switches;
  for (const std::string& argument : arguments) {
    if (IsSwitch(argument, "install")) switches.install = true;
    if (IsSwitch(argument, "uninstall")) switches.uninstall = true;
    if (IsSwitch(argument, "silent")) switches.silent = true;
  }
  return switches;
}

}  // namespace corvane
