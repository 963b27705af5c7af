#pragma once

// A raw client connection that reads CR LF lines; every wait gives up after a fixed time.

#include <cstddef>
#include <string>

#include "service/net/endpoint.h"
#include "service/net/tcp_socket.h"

namespace corvane::testing {

class LineClient {
 public:
  // Connects to server over IPv4, from local_address when one is given.
  LineClient(const Endpoint& server, int wait_ms, const std::string& local_address = "")
      : wait_ms_(wait_ms) {
    socket_ = TcpSocket::Open(AF_INET, nullptr);
    if (!local_address.empty()) socket_.Bind(Endpoint{local_address, 0, AF_INET}, false);
    socket_.Connect(server, wait_ms_);
  }

  // Sends the bytes as they are (no line end added).
  void Send(const std::string& bytes) { socket_.SendAll(bytes); }
  void Close() { socket_.Close(); }

  // The next CR LF line without its ending; "<closed>" when the server closed the connection,
  // "<timeout>" when nothing complete arrived in time.
  std::string ReadLine() {
    for (int reads = 0; reads < 100000; ++reads) {
      const std::size_t end = pending_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 2);
        return line;
      }
      if (socket_.WaitReadable(wait_ms_) != TcpSocket::WaitResult::Ready) return "<timeout>";
      char buffer[4096];
      const std::size_t got = socket_.Receive(buffer, sizeof buffer);
      if (got == 0) return "<closed>";
      pending_.append(buffer, got);
    }
    return "<timeout>";
  }

  // Whether a whole line is waiting or bytes arrive within wait_ms.
  bool ReplyPending(int wait_ms) {
    return pending_.find("\r\n") != std::string::npos ||
           socket_.WaitReadable(wait_ms) == TcpSocket::WaitResult::Ready;
  }

  TcpSocket& Socket() { return socket_; }

 private:
  TcpSocket socket_;
  std::string pending_;
  int wait_ms_;
};

}  // namespace corvane::testing
