#pragma once

#include <string>
#include <vector>

namespace corvane {

// The machine's IPv4 addresses in dotted-decimal form, one per configured interface address, in
// the order the system reports them; the loopback address is among them. Returns an empty list
// when the system cannot enumerate its interfaces.
std::vector<std::string> MachineIpv4Addresses();

}  // namespace corvane
