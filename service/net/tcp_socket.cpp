#include "service/net/tcp_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

#include "platform/system_error.h"
#include "service/net/stop_signal.h"

namespace corvane {
namespace {

[[noreturn]] void ThrowSocketError(const char* what, int error) {
  throw SocketError(std::string(what) + ": " + SystemErrorText(error));
}

// sendfile(2) has no MSG_NOSIGNAL: SIGPIPE is blocked on this thread around the call and a
// pending one is consumed, so a peer that went away is an error, not the end of the process.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~SigpipeGuard() {
    const int saved = errno;  // the caller reads sendfile's errno after this
    const timespec none{0, 0};
    while (::sigtimedwait(&pipe_, nullptr, &none) > 0) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = saved;
  }

 private:
  sigset_t pipe_;
  sigset_t previous_;
};

}  // namespace

TcpSocket TcpSocket::Open(int family, const StopSignal* stop) {
  UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) ThrowSocketError("Could not create socket", errno);
  return TcpSocket(std::move(fd), stop);
}

void TcpSocket::Bind(const Endpoint& local, bool reuse_address) {
  const int on = 1;
  if (reuse_address) ::setsockopt(Fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // An IPv6 socket serves IPv6 only, so IPv4 clients always appear with their dotted address.
  if (local.family == AF_INET6) ::setsockopt(Fd(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(local, storage);
  if (::bind(Fd(), reinterpret_cast<sockaddr*>(&storage), length) != 0)
    ThrowSocketError("Could not bind socket", errno);
}

void TcpSocket::Listen(int backlog) {
  if (::listen(Fd(), backlog) != 0) ThrowSocketError("Could not listen", errno);
}

void TcpSocket::Connect(const Endpoint& remote, int timeout_ms) {
  sockaddr_storage storage;
  const socklen_t length = ToSockaddr(remote, storage);
  if (::connect(Fd(), reinterpret_cast<sockaddr*>(&storage), length) != 0) {
    if (errno != EINPROGRESS) ThrowSocketError("Could not connect", errno);
    const WaitResult waited = WaitWritable(timeout_ms);
    if (waited == WaitResult::Stopped) throw SocketError("Connection stopped");
    if (waited == WaitResult::Timeout) throw SocketError("Could not connect: timed out");
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(Fd(), SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) ThrowSocketError("Could not connect", error);
  }
}

TcpSocket TcpSocket::Accept(int timeout_ms) {
  const WaitResult waited = WaitReadable(timeout_ms);
  if (waited == WaitResult::Stopped) throw SocketError("Listener stopped");
  if (waited == WaitResult::Timeout) return TcpSocket();
  UniqueFd accepted(::accept4(Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!accepted) {
    if (errno == EAGAIN || errno == ECONNABORTED || errno == EINTR) return TcpSocket();
    if (errno == EMFILE || errno == ENFILE)
      throw DescriptorsExhausted("Could not accept: " + SystemErrorText(errno));
    ThrowSocketError("Could not accept", errno);
  }
  return TcpSocket(std::move(accepted), stop_);
}

void TcpSocket::SetKeepAlive(int idle_s, int interval_s, int probes) const {
  const int on = 1;
  ::setsockopt(Fd(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(Fd(), IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
  ::setsockopt(Fd(), IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s);
  ::setsockopt(Fd(), IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

void TcpSocket::SendWithoutDelay() const {
  const int on = 1;
  ::setsockopt(Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void TcpSocket::KeepUrgentDataInline() const {
  const int on = 1;
  ::setsockopt(Fd(), SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
}

void TcpSocket::WatchCompanion(int fd, std::function<bool()> on_readable) {
  companion_fd_ = fd;
  on_companion_ = std::move(on_readable);
}

TcpSocket::WaitResult TcpSocket::Wait(short events, int timeout_ms) const {
  pollfd entries[3] = {
      {Fd(), events, 0}, {stop_ ? stop_->Fd() : -1, POLLIN, 0}, {companion_fd_, POLLIN, 0}};
  // One deadline for the whole wait: input on the companion does not restart it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (int left = timeout_ms;;) {
    entries[2].fd = companion_fd_;  // poll skips a negative descriptor
    const int ready = ::poll(entries, 3, left);
    if (timeout_ms >= 0) {
      const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      left = static_cast<int>(std::max<std::chrono::milliseconds::rep>(remaining.count(), 0));
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) ThrowSocketError("Could not wait on socket", errno);
    if (ready == 0) return WaitResult::Timeout;
    if (stop_ && (entries[1].revents & POLLIN)) return WaitResult::Stopped;
    if (entries[2].fd >= 0 && entries[2].revents != 0) {
      // The callback may stop this socket (ABOR): the next poll then reports it ready, and the
      // call that waits fails on it.
      if (!on_companion_()) companion_fd_ = -1;
      if (entries[0].revents == 0) {
        if (timeout_ms >= 0 && left == 0) return WaitResult::Timeout;
        continue;
      }
    }
    return WaitResult::Ready;
  }
}

void TcpSocket::WaitForProgress(short events) const {
  switch (Wait(events, progress_limit_ms_)) {
    case WaitResult::Ready:
      return;
    case WaitResult::Stopped:
      throw SocketError("Connection stopped");
    case WaitResult::Timeout:
      throw SocketError("No progress on the connection for " +
                        std::to_string(progress_limit_ms_ / 1000) + " s");
  }
}

TcpSocket::WaitResult TcpSocket::WaitReadable(int timeout_ms) const {
  return Wait(POLLIN, timeout_ms);
}

TcpSocket::WaitResult TcpSocket::WaitWritable(int timeout_ms) const {
  return Wait(POLLOUT, timeout_ms);
}

std::size_t TcpSocket::Receive(void* buffer, std::size_t size) {
  for (;;) {
    WaitForProgress(POLLIN);
    const ssize_t got = ::recv(Fd(), buffer, size, 0);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR || errno == EAGAIN) continue;
    // A reset is not an orderly end: an upload cut this way must not count as complete.
    ThrowSocketError("Could not read from socket", errno);
  }
}

void TcpSocket::SendAll(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    WaitForProgress(POLLOUT);
    const ssize_t sent = ::send(Fd(), next, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      ThrowSocketError("Could not write to socket", errno);
    }
    next += sent;
    size -= static_cast<std::size_t>(sent);
  }
}

std::size_t TcpSocket::SendFile(int file_fd, long long* offset, std::size_t count) {
  for (;;) {
    WaitForProgress(POLLOUT);
    off_t position = static_cast<off_t>(*offset);
    ssize_t sent;
    {
      SigpipeGuard guard;
      sent = ::sendfile(Fd(), file_fd, &position, count);
    }
    if (sent < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      ThrowSocketError("Could not write to socket", errno);
    }
    *offset = position;
    return static_cast<std::size_t>(sent);
  }
}

namespace {

// Moves count bytes from the pipe into the file at *offset with read and write.
void CopyPipeToFile(int pipe_fd, int file_fd, long long* offset, std::size_t count) {
  char buffer[16384];
  while (count > 0) {
    const ssize_t got = ::read(pipe_fd, buffer, std::min(count, sizeof buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error(SystemErrorText(got < 0 ? errno : EIO));
    for (ssize_t done = 0; done < got;) {
      const ssize_t written = ::pwrite(file_fd, buffer + done, static_cast<std::size_t>(got - done),
                                       static_cast<off_t>(*offset));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) throw std::runtime_error(SystemErrorText(written < 0 ? errno : EIO));
      done += written;
      *offset += written;
    }
    count -= static_cast<std::size_t>(got);
  }
}

}  // namespace

SplicePipe::SplicePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("Could not make a pipe: " + SystemErrorText(errno));
  read_.Reset(ends[0]);
  write_.Reset(ends[1]);
  // Larger pipes mean fewer calls per MiB; the default stays when the system refuses.
  ::fcntl(WriteFd(), F_SETPIPE_SZ, 1024 * 1024);
  const int size = ::fcntl(WriteFd(), F_GETPIPE_SZ);
  capacity_ = size > 0 ? static_cast<std::size_t>(size) : 65536;
}

std::size_t TcpSocket::SpliceToFile(int file_fd, long long* offset, const SplicePipe& pipe,
                                    std::size_t count) {
  count = std::min(count, pipe.Capacity());
  ssize_t moved;
  for (;;) {
    moved =
        ::splice(Fd(), nullptr, pipe.WriteFd(), nullptr, count, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (moved >= 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      WaitForProgress(POLLIN);
      continue;
    }
    ThrowSocketError("Could not read from socket", errno);
  }
  // Everything taken from the socket goes into the file before the next read.
  for (auto left = static_cast<std::size_t>(moved); left > 0;) {
    loff_t position = *offset;
    const ssize_t written =
        ::splice(pipe.ReadFd(), nullptr, file_fd, &position, left, SPLICE_F_MOVE);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EINVAL) {
      CopyPipeToFile(pipe.ReadFd(), file_fd, offset, left);
      throw SpliceUnsupported("The file cannot be written with splice");
    }
    if (written <= 0) throw std::runtime_error(SystemErrorText(written < 0 ? errno : EIO));
    *offset = position;
    left -= static_cast<std::size_t>(written);
  }
  return static_cast<std::size_t>(moved);
}

void TcpSocket::FinishSending() {
  if (!fd_) return;
  ::shutdown(Fd(), SHUT_WR);
  char discard[4096];
  for (int round = 0; round < 16; ++round) {  // at most 64 KiB or about 200 ms
    if (Wait(POLLIN, 200) != WaitResult::Ready) return;
    const ssize_t got = ::recv(Fd(), discard, sizeof discard, MSG_DONTWAIT);
    if (got <= 0 && !(got < 0 && (errno == EINTR || errno == EAGAIN))) return;
  }
}

void TcpSocket::ShutdownSending() const {
  if (fd_) ::shutdown(Fd(), SHUT_WR);
}

void TcpSocket::Shutdown() const {
  if (fd_) ::shutdown(Fd(), SHUT_RDWR);
}

Endpoint TcpSocket::LocalEndpoint() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  ::getsockname(Fd(), reinterpret_cast<sockaddr*>(&storage), &length);
  return FromSockaddr(storage);
}

Endpoint TcpSocket::PeerEndpoint() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  ::getpeername(Fd(), reinterpret_cast<sockaddr*>(&storage), &length);
  return FromSockaddr(storage);
}

}  // namespace corvane
