#include "platform/tcp_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

#include "platform/system_error.h"

namespace corvane {
namespace {

using Clock = std::chrono::steady_clock;

struct AddrinfoDeleter {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

// Milliseconds left until the deadline, for poll(); never negative.
int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// Waits until the descriptor is ready for events or the deadline passes. Returns false on
// timeout; throws on a poll failure.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::string& peer) {
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, RemainingMs(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) {
      throw std::runtime_error("Waiting for " + peer + " failed: " + SystemErrorText(errno));
    }
  }
}

// One connection attempt to one address; returns the error number, 0 on success, ETIMEDOUT when
// the deadline passed first.
int TryConnect(const addrinfo& address, Clock::time_point deadline, UniqueFd& out,
               const std::string& peer) {
  UniqueFd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                       address.ai_protocol));
  if (!fd) return errno;
  if (::connect(fd.Get(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return errno;
    if (!WaitFor(fd.Get(), POLLOUT, deadline, peer)) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    if (error != 0) return error;
  }
  out = std::move(fd);
  return 0;
}

}  // namespace

TcpClient TcpClient::Connect(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds timeout) {
  const std::string peer =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  const Clock::time_point deadline = Clock::now() + timeout;

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); status != 0) {
    throw std::runtime_error("Cannot resolve " + host + ": " + ::gai_strerror(status));
  }
  std::unique_ptr<addrinfo, AddrinfoDeleter> addresses(found);

  int error = EADDRNOTAVAIL;
  for (const addrinfo* address = addresses.get(); address; address = address->ai_next) {
    UniqueFd fd;
    error = TryConnect(*address, deadline, fd, peer);
    if (error == 0) return TcpClient(std::move(fd), peer);
    if (error == ETIMEDOUT) break;
  }
  throw std::runtime_error("Cannot connect to " + peer + ": " + SystemErrorText(error));
}

void TcpClient::SendAll(std::string_view data, std::chrono::milliseconds timeout) {
  if (!fd_) throw std::runtime_error("Connection to " + peer_ + " is closed");
  while (!data.empty()) {
    ssize_t sent = ::send(fd_.Get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (sent >= 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      throw std::runtime_error("Sending to " + peer_ + " failed: " + SystemErrorText(errno));
    }
    if (!WaitFor(fd_.Get(), POLLOUT, Clock::now() + timeout, peer_)) {
      throw std::runtime_error("Sending to " + peer_ + " timed out");
    }
  }
}

std::string TcpClient::ReadLine(std::chrono::milliseconds timeout, std::size_t max_length) {
  if (!fd_) throw std::runtime_error("Connection to " + peer_ + " is closed");
  std::size_t searched = 0;
  for (;;) {
    std::size_t end = pending_.find('\n', searched);
    if (end != std::string::npos && end <= max_length) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (pending_.size() > max_length) {
      throw std::runtime_error("Line from " + peer_ + " is longer than " +
                               std::to_string(max_length) + " bytes");
    }
    searched = pending_.size();

    if (!WaitFor(fd_.Get(), POLLIN, Clock::now() + timeout, peer_)) {
      throw std::runtime_error("Timed out waiting for a line from " + peer_);
    }
    char buffer[4096];
    ssize_t got = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
    if (got > 0) {
      pending_.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      throw std::runtime_error("Connection closed by " + peer_ + " before a whole line arrived");
    } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      throw std::runtime_error("Reading from " + peer_ + " failed: " + SystemErrorText(errno));
    }
  }
}

void TcpClient::Close() {
  if (!fd_) return;
  ::shutdown(fd_.Get(), SHUT_WR);
  // Closing with unread bytes would send a reset, which may discard what was sent before it.
  constexpr int kMaxDrains = 64;
  char buffer[4096];
  for (int i = 0; i < kMaxDrains; ++i) {
    if (::recv(fd_.Get(), buffer, sizeof buffer, MSG_DONTWAIT) <= 0) break;
  }
  fd_.Reset();
  pending_.clear();
}

}  // namespace corvane
