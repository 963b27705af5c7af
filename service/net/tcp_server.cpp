#include "service/net/tcp_server.h"

#include <fcntl.h>

#include <chrono>
#include <stdexcept>
#include <system_error>

namespace corvane {
namespace {

// The descriptor kept in reserve for answering clients when the process has no other.
UniqueFd OpenSpareDescriptor() {
  return UniqueFd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

}  // namespace

TcpServer::TcpServer(ConnectionHandler handler) : handler_(std::move(handler)) {}

TcpServer::~TcpServer() {
  Deactivate();
}

void TcpServer::AddBinding(const std::string& address, std::uint16_t port, int family) {
  bindings_.push_back(Endpoint{address, port, family});
}

void TcpServer::SetMaxConnections(int max_connections, RefusalHandler refuse) {
  max_connections_ = max_connections;
  refuse_ = std::move(refuse);
}

void TcpServer::Activate() {
  if (active_) return;
  if (bindings_.empty()) {
    AddBinding("0.0.0.0", default_port_, AF_INET);
    if (HostSupportsIpv6()) AddBinding("::", default_port_, AF_INET6);
  }
  std::vector<TcpSocket> opened;
  try {
    for (const Endpoint& binding : bindings_) {
      TcpSocket socket = TcpSocket::Open(binding.family, &stop_);
      socket.Bind(binding, true);
      socket.Listen(kBacklog);
      opened.push_back(std::move(socket));
    }
  } catch (const std::exception&) {
    throw std::runtime_error("Could not bind socket. Address and port are already in use.");
  }
  stop_.Clear();
  {
    std::lock_guard lock(spare_mutex_);
    spare_ = OpenSpareDescriptor();
  }
  listeners_ = std::move(opened);
  for (TcpSocket& listener : listeners_)
    accept_threads_.emplace_back([this, &listener] { AcceptLoop(listener); });
  active_ = true;
}

void TcpServer::Deactivate() {
  if (!active_) return;
  stop_.Raise();
  for (std::thread& thread : accept_threads_) thread.join();
  accept_threads_.clear();
  listeners_.clear();

  std::list<std::unique_ptr<Connection>> open;
  {
    std::lock_guard lock(connections_mutex_);
    for (auto& connection : connections_) connection->socket.Shutdown();
    open.swap(connections_);
  }
  for (auto& connection : open) connection->thread.Join();
  active_ = false;
}

std::vector<Endpoint> TcpServer::ListeningEndpoints() const {
  std::vector<Endpoint> endpoints;
  for (const TcpSocket& listener : listeners_) endpoints.push_back(listener.LocalEndpoint());
  return endpoints;
}

std::size_t TcpServer::ConnectionCount() const {
  std::lock_guard lock(connections_mutex_);
  std::size_t open = 0;
  for (const auto& connection : connections_)
    if (!connection->finished) ++open;
  return open;
}

void TcpServer::AcceptLoop(TcpSocket& listener) {
  for (;;) {
    TcpSocket accepted;
    try {
      accepted = listener.Accept(-1);
    } catch (const DescriptorsExhausted&) {
      RefuseWithSpareDescriptor(listener);
      continue;
    } catch (const SocketError&) {
      if (stop_.Raised()) return;
      continue;  // a transient accept failure (for example out of descriptors) must not end it
    }
    if (!accepted.Valid()) continue;
    ReapFinished();
    if (max_connections_ > 0 && ConnectionCount() >= static_cast<std::size_t>(max_connections_)) {
      try {
        if (refuse_) refuse_(accepted);
      } catch (const std::exception&) {
      }
      continue;  // closed as it goes out of scope
    }
    StartConnection(std::move(accepted));
  }
}

void TcpServer::RefuseWithSpareDescriptor(TcpSocket& listener) {
  std::lock_guard lock(spare_mutex_);
  spare_.Reset();
  TcpSocket accepted;
  try {
    accepted = listener.Accept(0);
  } catch (const SocketError&) {
  }
  if (accepted.Valid() && refuse_) {
    try {
      refuse_(accepted);
    } catch (const std::exception&) {
    }
  }
  const bool answered = accepted.Valid();
  accepted.Close();
  spare_ = OpenSpareDescriptor();
  // Descriptors are short even with the spare given up (another thread took it): wait a
  // little rather than spin on a listener that stays readable.
  if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void TcpServer::StartConnection(TcpSocket socket) {
  socket.SetKeepAlive(keep_alive_.idle_s, keep_alive_.interval_s, keep_alive_.probes);
  // Replies are written whole: each goes out at once.
  socket.SendWithoutDelay();
  auto connection = std::make_unique<Connection>();
  connection->socket = std::move(socket);
  Connection* raw = connection.get();
  std::lock_guard lock(connections_mutex_);
  try {
    raw->thread = ConnectionThread([this, raw] {
      try {
        handler_(raw->socket);
      } catch (const std::exception&) {
        // A broken connection ends its own thread and nothing else.
      }
      try {
        raw->socket.FinishSending();
      } catch (const std::exception&) {
      }
      // Close under the list's lock, so Deactivate never shuts down a descriptor number that
      // has been reused meanwhile.
      std::lock_guard done(connections_mutex_);
      raw->socket.Shutdown();
      raw->socket.Close();
      raw->finished = true;
    });
  } catch (const std::system_error&) {
    // No thread can be made (the task limit): answer as a refused client and close.
    if (refuse_) {
      try {
        refuse_(raw->socket);
      } catch (const std::exception&) {
      }
    }
    return;
  }
  connections_.push_back(std::move(connection));
}

void TcpServer::ReapFinished() {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard lock(connections_mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        done.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : done) connection->thread.Join();
}

}  // namespace corvane
