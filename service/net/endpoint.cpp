#include "service/net/endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <stdexcept>

#include "platform/unique_fd.h"

namespace corvane {

socklen_t ToSockaddr(const Endpoint& endpoint, sockaddr_storage& storage) {
  std::memset(&storage, 0, sizeof storage);
  if (endpoint.family == AF_INET6) {
    auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
    address->sin6_family = AF_INET6;
    address->sin6_port = htons(endpoint.port);
    if (::inet_pton(AF_INET6, endpoint.address.c_str(), &address->sin6_addr) != 1)
      throw std::runtime_error("Invalid IPv6 address: " + endpoint.address);
    return sizeof(sockaddr_in6);
  }
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_port = htons(endpoint.port);
  if (::inet_pton(AF_INET, endpoint.address.c_str(), &address->sin_addr) != 1)
    throw std::runtime_error("Invalid IP address: " + endpoint.address);
  return sizeof(sockaddr_in);
}

Endpoint FromSockaddr(const sockaddr_storage& storage) {
  Endpoint endpoint;
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET6) {
    const auto* address = reinterpret_cast<const sockaddr_in6*>(&storage);
    ::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text);
    endpoint.port = ntohs(address->sin6_port);
    endpoint.family = AF_INET6;
  } else {
    const auto* address = reinterpret_cast<const sockaddr_in*>(&storage);
    ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
    endpoint.port = ntohs(address->sin_port);
    endpoint.family = AF_INET;
  }
  endpoint.address = text;
  return endpoint;
}

bool HostSupportsIpv6() {
  UniqueFd probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return probe.Valid();
}

}  // namespace corvane
