#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace corvane {

// An address in text form with a port: "127.0.0.1" or "::1" and the family it belongs to.
struct Endpoint {
  std::string address;
  std::uint16_t port = 0;
  int family = AF_INET;
};

// Fills a sockaddr for the endpoint; throws std::runtime_error when the address text is not a
// numeric address of the endpoint's family.
socklen_t ToSockaddr(const Endpoint& endpoint, sockaddr_storage& storage);
Endpoint FromSockaddr(const sockaddr_storage& storage);

// Whether the host can open IPv6 sockets.
bool HostSupportsIpv6();

}  // namespace corvane
