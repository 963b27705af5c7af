#pragma once

#include <cstdint>
#include <functional>

#include "service/net/endpoint.h"
#include "service/net/tcp_socket.h"

namespace corvane {

class StopSignal;

// The listening socket of one passive data connection: it accepts exactly one connection and
// closes as soon as it has.
class TPassiveListener {
 public:
  TPassiveListener() = default;

  // Binds local.address (local.port is ignored) at the first free port of [port_min, port_max]
  // when both bounds are non-zero, else at a port the system chooses; after_bind runs right after
  // each successful bind, before listening with a backlog of 1. Throws std::runtime_error with
  // "Could not bind socket. Address and port are already in use." or
  // "Can not bind in port range (min - max)"; an error raised by after_bind passes through.
  static TPassiveListener Open(const Endpoint& local, std::uint16_t port_min,
                               std::uint16_t port_max, const StopSignal* stop,
                               const std::function<void()>& after_bind);

  bool Listening() const { return socket_.Valid(); }
  Endpoint LocalEndpoint() const { return local_; }

  // Waits up to timeout_ms for one connection and closes the listening socket. Throws
  // std::runtime_error when none came in time, SocketError when stopped or on failure.
  TcpSocket AcceptOne(int timeout_ms);
  // Wakes a waiting AcceptOne and closes the listening socket.
  void Close();

 private:
  TcpSocket socket_;
  Endpoint local_;
};

}  // namespace corvane
