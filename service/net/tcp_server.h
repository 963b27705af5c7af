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

#include "platform/unique_fd.h"
#include "service/net/connection_thread.h"
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
  // Called on the accepting thread for a connection that cannot be served (over the limit, or
  // no descriptor left for it), before it is closed.
  using RefusalHandler = std::function<void(TcpSocket&)>;

  // The system's maximum: a short queue overflows in a burst of connects, and with SYN cookies
  // the clients then believe they are connected and wait for a greeting that never comes.
  static constexpr int kBacklog = SOMAXCONN;
  // TCP keepalive on every connection, so that a peer that vanished is noticed: probes after
  // this much idle time, this far apart, this many unanswered before the connection ends.
  struct KeepAlive {
    int idle_s = 240;
    int interval_s = 30;
    int probes = 4;
  };

  explicit TcpServer(ConnectionHandler handler);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  // Records a binding; nothing is opened until Activate.
  void AddBinding(const std::string& address, std::uint16_t port, int family = AF_INET);
  std::size_t BindingCount() const { return bindings_.size(); }
  void SetDefaultPort(std::uint16_t port) { default_port_ = port; }
  std::uint16_t DefaultPort() const { return default_port_; }
  // max_connections > 0 limits the open connections; 0 means no limit. refuse answers a
  // connection over the limit, and one accepted with the spare descriptor when the process has
  // no other left.
  void SetMaxConnections(int max_connections, RefusalHandler refuse);
  void SetKeepAlive(const KeepAlive& keep_alive) { keep_alive_ = keep_alive; }

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
    ConnectionThread thread;
    std::atomic<bool> finished{false};
  };

  void AcceptLoop(TcpSocket& listener);
  // Out of descriptors: gives up the spare one to accept and refuse a waiting client, so that
  // the client gets an answer and the accepting thread does not spin, then takes it again.
  void RefuseWithSpareDescriptor(TcpSocket& listener);
  void StartConnection(TcpSocket socket);
  void ReapFinished();

  ConnectionHandler handler_;
  RefusalHandler refuse_;
  KeepAlive keep_alive_;
  std::mutex spare_mutex_;
  UniqueFd spare_;  // guarded by spare_mutex_
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
