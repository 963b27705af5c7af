#include "service/ftp/passive_listener.h"

#include <chrono>
#include <stdexcept>
#include <string>

namespace corvane {
namespace {

constexpr int kBacklog = 1;

// One bind and listen attempt at port; false when the port is taken.
bool TryListen(TcpSocket& socket, Endpoint local, std::uint16_t port,
               const std::function<void()>& after_bind) {
  local.port = port;
  try {
    // Reuse lets a range port be bound again while its last connection lingers in TIME_WAIT;
    // a port that another listener holds still fails, at the bind or at the listen.
    socket.Bind(local, port != 0);
  } catch (const SocketError&) {
    return false;
  }
  if (after_bind) after_bind();
  try {
    socket.Listen(kBacklog);
  } catch (const SocketError&) {
    return false;
  }
  return true;
}

}  // namespace

TPassiveListener TPassiveListener::Open(const Endpoint& local, std::uint16_t port_min,
                                        std::uint16_t port_max, const StopSignal* stop,
                                        const std::function<void()>& after_bind) {
  TPassiveListener listener;
  if (port_min != 0 && port_max != 0) {
    for (unsigned port = port_min; port <= port_max; ++port) {
      TcpSocket socket = TcpSocket::Open(local.family, stop);
      if (!TryListen(socket, local, static_cast<std::uint16_t>(port), after_bind)) continue;
      listener.socket_ = std::move(socket);
      break;
    }
    if (!listener.socket_.Valid())
      throw std::runtime_error("Can not bind in port range (" + std::to_string(port_min) + " - " +
                               std::to_string(port_max) + ")");
  } else {
    TcpSocket socket = TcpSocket::Open(local.family, stop);
    if (!TryListen(socket, local, 0, after_bind))
      throw std::runtime_error("Could not bind socket. Address and port are already in use.");
    listener.socket_ = std::move(socket);
  }
  listener.local_ = listener.socket_.LocalEndpoint();
  return listener;
}

TcpSocket TPassiveListener::AcceptOne(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // Each round either accepts, or a client gave up between its connect and our accept; the
  // deadline bounds the rounds.
  for (;;) {
    if (!socket_.Valid()) throw SocketError("Listener stopped");
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    TcpSocket accepted = socket_.Accept(static_cast<int>(left));
    if (accepted.Valid()) {
      Close();
      return accepted;
    }
  }
  Close();
  throw std::runtime_error("Timed out waiting for the data connection.");
}

void TPassiveListener::Close() {
  socket_.Shutdown();
  socket_.Close();
}

}  // namespace corvane
