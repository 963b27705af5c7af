#pragma once

#include <cstddef>
#include <optional>

#include "service/net/tcp_socket.h"

namespace corvane {

// The byte path of one connection, plain or protected. Every blocking call also wakes on the
// socket's stop signal (it then throws SocketError), so deactivation ends a blocked thread.
class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Sends every byte; throws SocketError on failure or stop.
  virtual void SendAll(const void* data, std::size_t size) = 0;
  // Blocks until something can be read; returns the count, 0 when the peer ended the stream
  // cleanly. Throws SocketError on failure, stop or an unclean end of a protected stream.
  virtual std::size_t Receive(void* buffer, std::size_t size) = 0;
  // As Receive, but std::nullopt at once when nothing can be read without waiting. Bytes that
  // are already received and decrypted count as readable.
  virtual std::optional<std::size_t> ReceiveNow(void* buffer, std::size_t size) = 0;
  // The socket when bytes pass unchanged (sendfile(2) may be used), else nullptr.
  virtual TcpSocket* PlainSocket() = 0;
  // Ends the stream in order after what was written (for TLS: close_notify, waited for a short
  // bounded time). Never throws; the stream is unusable afterwards.
  virtual void Finish() = 0;
};

// A stream that passes bytes unchanged over a socket it does not own.
class PlainStream : public ByteStream {
 public:
  explicit PlainStream(TcpSocket& socket) : socket_(socket) {}

  void SendAll(const void* data, std::size_t size) override { socket_.SendAll(data, size); }
  std::size_t Receive(void* buffer, std::size_t size) override {
    return socket_.Receive(buffer, size);
  }
  std::optional<std::size_t> ReceiveNow(void* buffer, std::size_t size) override {
    if (socket_.WaitReadable(0) != TcpSocket::WaitResult::Ready) return std::nullopt;
    return socket_.Receive(buffer, size);
  }
  TcpSocket* PlainSocket() override { return &socket_; }
  void Finish() override {}

 private:
  TcpSocket& socket_;
};

}  // namespace corvane
