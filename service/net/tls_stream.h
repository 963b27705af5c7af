#pragma once

#include <openssl/types.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "service/net/byte_stream.h"

namespace corvane {

// A TLS handshake or record failure; what() is the TLS library's text for it.
class TlsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TlsRole { Server, Client };

struct TlsStreamOptions {
  TlsRole role = TlsRole::Server;
  // Whether the server side issues TLS 1.3 session tickets after the handshake.
  bool session_tickets = true;
  // The handshake fails with TlsError when it has not completed within this time.
  int handshake_timeout_ms = 30000;
  // A bulk data stream: reads take as much as the socket holds into the session, and the
  // records of one SendAll go out together in large sends (fewer system calls and packets).
  // Not for a control connection: REIN returns it to plain text, and plain bytes read ahead
  // into the session would be lost.
  bool bulk = false;
};

// A TLS session over a socket that it does not own (the socket must outlive it and be
// non-blocking). All I/O waits in poll() on the socket and its stop signal.
class TlsStream : public ByteStream {
 public:
  // Creates a session on the context and runs the handshake in the given role. Throws
  // TlsError when the handshake fails or times out, SocketError when the socket is stopped.
  static std::unique_ptr<TlsStream> Handshake(TcpSocket& socket, SSL_CTX* context,
                                              const TlsStreamOptions& options);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  void SendAll(const void* data, std::size_t size) override;
  // On a bulk stream, fills the buffer with every record that is available without waiting
  // (after waiting for the first); otherwise returns the data of one record. A TCP end without
  // close_notify counts as a clean end only at a record boundary; one inside a record, or a reset,
  // throws SocketError (after the bytes before it have been returned).
  std::size_t Receive(void* buffer, std::size_t size) override;
  std::optional<std::size_t> ReceiveNow(void* buffer, std::size_t size) override;
  TcpSocket* PlainSocket() override { return nullptr; }
  void Finish() override;

  // Whether the handshake resumed an earlier session.
  bool SessionReused() const;

 private:
  struct Parts;
  explicit TlsStream(TcpSocket& socket);
  // Throws SocketError when the socket's stop signal is raised.
  void CheckStop() const;
  // Sends what the transport has gathered, waiting as needed; throws SocketError on failure.
  void SendGathered();
  // One SSL_read attempt: the count, 0 at a clean end, nullopt when it must wait (and then
  // whether for reading or writing in *want_write).
  std::optional<std::size_t> ReadOnce(void* buffer, std::size_t size, bool* want_write);

  struct SslDeleter {
    void operator()(SSL* ssl) const;
  };

  TcpSocket& socket_;
  std::unique_ptr<Parts> parts_;  // the transport and its BIO method; outlive the session
  std::unique_ptr<SSL, SslDeleter> ssl_;
  bool bulk_ = false;
  std::string failure_;  // a read failure met after bytes were returned; thrown next
};

}  // namespace corvane
