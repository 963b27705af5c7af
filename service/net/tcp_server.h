#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/net/endpoint.h"
#include "service/net/stop_signal.h"
#include "service/net/tcp_socket.h"

namespace corvane {

// A TCP listener with any number of bindings: one accepting thread per binding and one thread
// per accepted connection, which runs the connection handler. Deactivation stops accepting,
// shuts down every open connection and joins every thread before it returns.
class TcpServer {
 public:
  using ConnectionHandler = std::function<void(TcpSocket&)>;
  // Called on the accepting thread for a connection over the limit, before it is closed.
  using RefusalHandler = std::function<void(TcpSocket&)>;

  static constexpr int kBacklog = 15;

  explicit TcpServer(ConnectionHandler handler);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Records a binding; nothing is opened until Activate.
  void AddBinding(const std::string& address, std::uint16_t port, int family = AF_INET);
  std::size_t BindingCount() const { return bindings_.size(); }
  void SetDefaultPort(std::uint16_t port) { default_port_ = port; }
  std::uint16_t DefaultPort() const { return default_port_; }
  // max_connections > 0 limits the open connections; 0 means no limit.
  void SetMaxConnections(int max_connections, RefusalHandler refuse);

  // Opens every binding (or the wildcard fallback when none is recorded) and starts accepting.
  // On a failed bind the sockets already opened are closed and the listener stays inactive:
  // throws std::runtime_error("Could not bind socket. Address and port are already in use.").
  void Activate();
  void Deactivate();
  bool Active() const { return active_; }

  // The addresses actually listened on (useful when a port was chosen by the system).
  std::vector<Endpoint> ListeningEndpoints() const;
  // Open connections, counted under the connection list's lock.
  std::size_t ConnectionCount() const;
  const StopSignal& Stopping() const { return stop_; }

 private:
  struct Connection {
    TcpSocket socket;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void AcceptLoop(TcpSocket& listener);
  void StartConnection(TcpSocket socket);
  void ReapFinished();

  ConnectionHandler handler_;
  RefusalHandler refuse_;
  int max_connections_ = 0;
  std::vector<Endpoint> bindings_;
  std::uint16_t default_port_ = 0;
  bool active_ = false;
  StopSignal stop_;
  std::vector<TcpSocket> listeners_;
  std::vector<std::thread> accept_threads_;

  mutable std::mutex connections_mutex_;
  std::list<std::unique_ptr<Connection>> connections_;  // guarded by connections_mutex_
};

}  // namespace corvane
