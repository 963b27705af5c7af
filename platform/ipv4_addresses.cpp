#include "platform/ipv4_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace corvane {

std::vector<std::string> MachineIpv4Addresses() {
  ifaddrs* raw = nullptr;
  if (::getifaddrs(&raw) != 0) return {};
  const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> list(raw, &::freeifaddrs);

  std::vector<std::string> addresses;
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
      addresses.emplace_back(text);
    }
  }
  return addresses;
}

}  // namespace corvane
