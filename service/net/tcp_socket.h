#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/unique_fd.h"
#include "service/net/endpoint.h"

namespace corvane {

class StopSignal;

// A failure of the connection itself (reset, closed, stopped); the connection is unusable after it.
class SocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A TCP stream socket with blocking calls built on non-blocking I/O: every call waits in poll()
// and also watches the listener's stop signal (when one is given), so deactivation wakes a thread
// that is blocked on this socket. Sockets made here are non-blocking; one handed in must be too.
// accept() found no descriptor left in the process or the system.
class DescriptorsExhausted : public SocketError {
 public:
  using SocketError::SocketError;
};

// The file cannot be written with splice(2) (its file system does not support it). The bytes
// that had been taken from the socket were written to the file the ordinary way first.
class SpliceUnsupported : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A pipe for moving socket data into a file with splice(2); as large as the system lets it be.
class SplicePipe {
 public:
  // Throws std::runtime_error when no pipe can be made.
  SplicePipe();
  int ReadFd() const { return read_.Get(); }
  int WriteFd() const { return write_.Get(); }
  std::size_t Capacity() const { return capacity_; }

 private:
  UniqueFd read_;
  UniqueFd write_;
  std::size_t capacity_ = 0;
};

class TcpSocket {
 public:
  enum class WaitResult { Ready, Timeout, Stopped };

  TcpSocket() = default;
  TcpSocket(UniqueFd fd, const StopSignal* stop) : fd_(std::move(fd)), stop_(stop) {}
  TcpSocket(TcpSocket&&) = default;
  TcpSocket& operator=(TcpSocket&&) = default;

  // A new unconnected socket of the family; bind it with Bind, then Connect or Listen.
  static TcpSocket Open(int family, const StopSignal* stop);

  int Fd() const { return fd_.Get(); }
  bool Valid() const { return fd_.Valid(); }
  const StopSignal* Stop() const { return stop_; }

  void Bind(const Endpoint& local, bool reuse_address);
  void Listen(int backlog);
  // Connects to the remote endpoint within timeout_ms; throws SocketError on failure.
  void Connect(const Endpoint& remote, int timeout_ms);
  // Waits up to timeout_ms (-1: forever) for an incoming connection and accepts it.
  // Returns an invalid socket on timeout or when the client went away before it was accepted;
  // throws DescriptorsExhausted when no descriptor is left for it, SocketError when stopped or
  // on another failure.
  TcpSocket Accept(int timeout_ms);

  // While a call of this socket waits, also watches descriptor fd and calls on_readable whenever
  // it has input (or has closed); the call then goes on waiting. on_readable returns false to
  // stop the watch. Used by a data connection to answer its control connection meanwhile.
  void WatchCompanion(int fd, std::function<bool()> on_readable);
  // Calls that wait without a limit (Receive, SendAll, SendFile) fail with SocketError when the
  // connection makes no progress for this long; -1 (the default) waits forever.
  void SetProgressLimit(int limit_ms) { progress_limit_ms_ = limit_ms; }

  // Turns on TCP keepalive: probes after idle_s seconds without traffic, interval_s apart;
  // the connection fails after probes unanswered ones.
  void SetKeepAlive(int idle_s, int interval_s, int probes) const;

  // Sends each write at once (TCP_NODELAY) instead of holding a small one back until the peer
  // acknowledges the last: a client may delay that acknowledgement by 40 ms or more.
  void SendWithoutDelay() const;

  // Keeps TCP urgent data in the byte stream (SO_OOBINLINE), where a reader sees it in order.
  void KeepUrgentDataInline() const;

  // timeout_ms -1 waits without limit.
  WaitResult WaitReadable(int timeout_ms) const;
  WaitResult WaitWritable(int timeout_ms) const;

  // Reads what is available (at most size bytes), blocking until something arrives.
  // Returns 0 when the peer closed the connection in order; throws SocketError on a reset, on
  // any other failure and on stop.
  std::size_t Receive(void* buffer, std::size_t size);
  // Sends every byte; throws SocketError on failure or stop.
  void SendAll(const void* data, std::size_t size);
  void SendAll(const std::string& data) { SendAll(data.data(), data.size()); }
  // Sends up to count bytes of the file from *offset with sendfile(2), advancing *offset.
  // Returns the number of bytes sent (0 at the end of the file); throws SocketError on failure.
  std::size_t SendFile(int file_fd, long long* offset, std::size_t count);
  // Moves up to count bytes that arrive on the socket into the file at *offset through pipe,
  // without copying them through this process, and advances *offset. Blocks until something
  // arrives; returns 0 when the peer closed in order. Throws SocketError on a failure of the
  // connection (a reset included) or a stop, SpliceUnsupported when the file refuses splice,
  // std::runtime_error with the system's text when the file cannot take the bytes (what was
  // moved before stays in the file).
  std::size_t SpliceToFile(int file_fd, long long* offset, const SplicePipe& pipe,
                           std::size_t count);

  // Ends both directions; wakes any thread blocked on the socket. Safe from another thread.
  void Shutdown() const;
  // Ends the sending direction after what was written, then reads and drops what the peer
  // still sends for a short bounded time, so closing does not reset the connection and
  // destroy the last reply before the peer has read it.
  void FinishSending();
  // Ends the sending direction only: the peer sees the end of the data.
  void ShutdownSending() const;
  void Close() { fd_.Reset(); }

  Endpoint LocalEndpoint() const;
  Endpoint PeerEndpoint() const;

  // Waits for poll events on the socket for what a call that waits without a limit allows
  // (also for a layer above, such as TLS): returns when ready, throws SocketError when
  // stopped or when the progress limit passes.
  void WaitForProgress(short events) const;

 private:
  WaitResult Wait(short events, int timeout_ms) const;

  UniqueFd fd_;
  const StopSignal* stop_ = nullptr;
  int progress_limit_ms_ = -1;
  mutable int companion_fd_ = -1;  // -1 once the watch has ended
  std::function<bool()> on_companion_;
};

}  // namespace corvane
