#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace corvane {

// A small blocking TCP client with a time limit on every wait. Every failure throws
// std::runtime_error with a message naming the peer; the connection is unusable afterwards.
class TcpClient {
 public:
  // Resolves host (an IPv4 or IPv6 literal or a host name) and connects to the first of its
  // addresses that accepts, all within timeout (the name lookup itself is not limited).
  static TcpClient Connect(const std::string& host, std::uint16_t port,
                           std::chrono::milliseconds timeout);

  TcpClient(TcpClient&&) = default;
  TcpClient& operator=(TcpClient&&) = default;

  // Sends every byte, waiting at most timeout each time the peer does not take more.
  void SendAll(std::string_view data, std::chrono::milliseconds timeout);

  // Returns the next line without its LF and a CR before it, waiting at most timeout for each
  // arrival of data. Throws when the peer closes first, on timeout, and when more than
  // max_length bytes arrive without an LF.
  std::string ReadLine(std::chrono::milliseconds timeout, std::size_t max_length);

  // Ends the connection in order: what was sent is followed by the end of the stream, and bytes
  // that arrived unread are discarded first so that closing does not reset the connection.
  // Never throws; the destructor closes without that care.
  void Close();

 private:
  TcpClient(UniqueFd fd, std::string peer) : fd_(std::move(fd)), peer_(std::move(peer)) {}

  UniqueFd fd_;
  std::string peer_;     // "host:port", for messages
  std::string pending_;  // received bytes after the last line handed out
};

}  // namespace corvane
