#include "service/net/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <vector>

#include "platform/system_error.h"
#include "service/net/stop_signal.h"

namespace corvane {
namespace {

// How long Finish waits to hand close_notify to the socket.
constexpr int kFinishTimeoutMs = 1000;
// A bulk stream gathers records up to this many bytes before it sends them: one send per four
// full records (a loopback packet's worth) rather than one per record, while the peer still
// gets data often enough to decrypt in step (larger batches measured slower).
constexpr std::size_t kGatherSize = 64 * 1024;
// Room for a full batch and the records that top it, reserved before the library writes.
constexpr std::size_t kGatherRoom = kGatherSize + 32 * 1024;

// The transport under a session: the socket's descriptor, whether its peer ended the stream,
// and the records gathered for one large send. send() uses MSG_NOSIGNAL, so a vanished peer is
// an error, never SIGPIPE.
struct Transport {
  int fd = -1;
  bool eof = false;
  bool gather = false;
  std::vector<char> gathered;
  std::size_t gathered_sent = 0;  // the part of gathered already sent

  // Sends gathered bytes until none are left (true) or the socket takes no more (false, with
  // errno telling why).
  bool SendGathered() {
    while (gathered_sent < gathered.size()) {
      const ssize_t sent = ::send(fd, gathered.data() + gathered_sent,
                                  gathered.size() - gathered_sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0) return false;
      gathered_sent += static_cast<std::size_t>(sent);
    }
    gathered.clear();
    gathered_sent = 0;
    return true;
  }
};

// Turns gathering on for the time it lives; a failed send leaves nothing behind for the next.
class Gathering {
 public:
  explicit Gathering(Transport& transport) : transport_(transport) {
    transport_.gathered.reserve(kGatherRoom);
    transport_.gather = true;
  }
  ~Gathering() {
    transport_.gather = false;
    transport_.gathered.clear();
    transport_.gathered_sent = 0;
  }
  Gathering(const Gathering&) = delete;
  Gathering& operator=(const Gathering&) = delete;

 private:
  Transport& transport_;
};

int TransportWrite(BIO* bio, const char* data, std::size_t size, std::size_t* written) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (transport->gather) {
    if (transport->gathered.size() >= kGatherSize && !transport->SendGathered()) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
      return 0;
    }
    try {
      transport->gathered.insert(transport->gathered.end(), data, data + size);
    } catch (...) {
      // No exception may unwind through the library's C frames: a failed write instead.
      errno = ENOMEM;
      return 0;
    }
    *written = size;
    return 1;
  }
  for (;;) {
    const ssize_t sent = ::send(transport->fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      *written = static_cast<std::size_t>(sent);
      return 1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
    return 0;
  }
}

int TransportRead(BIO* bio, char* buffer, std::size_t size, std::size_t* read) {
  auto* transport = static_cast<Transport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t got = ::recv(transport->fd, buffer, size, MSG_DONTWAIT);
    if (got > 0) {
      *read = static_cast<std::size_t>(got);
      return 1;
    }
    if (got == 0) {
      transport->eof = true;
      errno = 0;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
    return 0;
  }
}

// The end of the transport is judged by TlsStream itself (a record boundary or not), so the
// BIO never reports EOF to the library.
long TransportControl(BIO* /*bio*/, int command, long /*number*/, void* /*pointer*/) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int TransportCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

int TransportDestroy(BIO* /*bio*/) {
  return 1;
}

struct MethodDeleter {
  void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

std::unique_ptr<BIO_METHOD, MethodDeleter> NewTransportMethod() {
  std::unique_ptr<BIO_METHOD, MethodDeleter> method(
      BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "corvane transport"));
  if (!method) return method;
  BIO_meth_set_write_ex(method.get(), TransportWrite);
  BIO_meth_set_read_ex(method.get(), TransportRead);
  BIO_meth_set_ctrl(method.get(), TransportControl);
  BIO_meth_set_create(method.get(), TransportCreate);
  BIO_meth_set_destroy(method.get(), TransportDestroy);
  return method;
}

// The library's text for its most recent error, or the system's for errno, or a fallback.
std::string ErrorText(int saved_errno, const char* fallback) {
  const unsigned long code = ERR_peek_last_error();
  if (code != 0) {
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
  }
  if (saved_errno != 0) return SystemErrorText(saved_errno);
  return fallback;
}

}  // namespace

// The transport state and BIO method live as long as the session that uses them.
struct TlsStream::Parts {
  Transport transport;
  std::unique_ptr<BIO_METHOD, MethodDeleter> method;
};

void TlsStream::SslDeleter::operator()(SSL* ssl) const {
  // SECURITY: no close_notify is sent here (REIN and a failed stream end without one); a quiet
  // shutdown keeps a completed session resumable.
  SSL_set_quiet_shutdown(ssl, 1);
  SSL_shutdown(ssl);
  SSL_free(ssl);
  ERR_clear_error();
}

TlsStream::TlsStream(TcpSocket& socket) : socket_(socket), parts_(std::make_unique<Parts>()) {}

TlsStream::~TlsStream() = default;

void TlsStream::CheckStop() const {
  const StopSignal* stop = socket_.Stop();
  if (stop && stop->Raised()) throw SocketError("Connection stopped");
}

std::unique_ptr<TlsStream> TlsStream::Handshake(TcpSocket& socket, SSL_CTX* context,
                                                const TlsStreamOptions& options) {
  ERR_clear_error();
  if (!context) throw TlsError("No TLS context.");
  std::unique_ptr<TlsStream> stream(new TlsStream(socket));
  Parts& parts = *stream->parts_;
  parts.transport.fd = socket.Fd();
  parts.method = NewTransportMethod();
  stream->ssl_.reset(SSL_new(context));
  if (!parts.method || !stream->ssl_) throw TlsError(ErrorText(0, "Could not create a session."));
  SSL* ssl = stream->ssl_.get();
  BIO* bio = BIO_new(parts.method.get());
  if (!bio) throw TlsError(ErrorText(0, "Could not create a session."));
  BIO_set_data(bio, &parts.transport);
  SSL_set_bio(ssl, bio, bio);  // the session owns the BIO from here
  if (options.role == TlsRole::Client) {
    SSL_set_connect_state(ssl);
  } else {
    SSL_set_accept_state(ssl);
    if (!options.session_tickets) SSL_set_num_tickets(ssl, 0);
  }
  if (options.bulk) SSL_set_read_ahead(ssl, 1);
  stream->bulk_ = options.bulk;

  // SECURITY: a handshake has a time bound, so a silent peer cannot hold the connection.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.handshake_timeout_ms);
  for (;;) {
    stream->CheckStop();
    ERR_clear_error();
    errno = 0;
    const int result = SSL_do_handshake(ssl);
    if (result == 1) return stream;
    const int saved_errno = errno;
    const int error = SSL_get_error(ssl, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      const char* fallback = parts.transport.eof ? "The peer closed the connection during the "
                                                   "TLS handshake."
                                                 : "The TLS handshake failed.";
      throw TlsError(ErrorText(saved_errno, fallback));
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) throw TlsError("The TLS handshake did not complete in time.");
    const TcpSocket::WaitResult waited = error == SSL_ERROR_WANT_READ
                                             ? socket.WaitReadable(static_cast<int>(left))
                                             : socket.WaitWritable(static_cast<int>(left));
    if (waited == TcpSocket::WaitResult::Stopped) throw SocketError("Connection stopped");
  }
}

void TlsStream::SendGathered() {
  Transport& transport = parts_->transport;
  while (!transport.SendGathered()) {
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      throw SocketError("Could not write to the TLS stream: " + SystemErrorText(errno));
    socket_.WaitForProgress(POLLOUT);
  }
}

void TlsStream::SendAll(const void* data, std::size_t size) {
  // A throttled or slow stream may never have to wait on its socket, where a stop is seen.
  CheckStop();
  SSL* ssl = ssl_.get();
  // On a bulk stream the records collect in the transport and leave in large sends; all of
  // them are out before this returns.
  std::optional<Gathering> gathering;
  if (bulk_) gathering.emplace(parts_->transport);
  while (size > 0) {
    ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl, data, size, &written);
    if (result == 1) {
      data = static_cast<const char*>(data) + written;
      size -= written;
      continue;
    }
    const int saved_errno = errno;
    const int error = SSL_get_error(ssl, result);
    if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ)
      throw SocketError("Could not write to the TLS stream: " +
                        ErrorText(saved_errno, "the connection ended"));
    // Before waiting for the peer, it gets every record gathered so far: it may need them to
    // answer.
    if (gathering && error == SSL_ERROR_WANT_READ) SendGathered();
    // The same buffer is handed to SSL_write_ex again after the wait, as the library requires.
    socket_.WaitForProgress(error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN);
  }
  if (gathering) SendGathered();
}

std::optional<std::size_t> TlsStream::ReadOnce(void* buffer, std::size_t size, bool* want_write) {
  SSL* ssl = ssl_.get();
  ERR_clear_error();
  errno = 0;
  std::size_t got = 0;
  const int result = SSL_read_ex(ssl, buffer, size, &got);
  if (result == 1) return got;
  const int saved_errno = errno;
  const int error = SSL_get_error(ssl, result);
  switch (error) {
    case SSL_ERROR_WANT_READ:
      *want_write = false;
      return std::nullopt;
    case SSL_ERROR_WANT_WRITE:
      *want_write = true;
      return std::nullopt;
    case SSL_ERROR_ZERO_RETURN:
      return 0;  // close_notify
    default:
      break;
  }
  // SECURITY: a TCP end without close_notify is a clean end only between records; one inside a
  // record means data was cut off, and must not pass for a complete transfer.
  if (error == SSL_ERROR_SYSCALL && ERR_peek_last_error() == 0 && parts_->transport.eof) {
    if (!SSL_has_pending(ssl)) return 0;
    throw SocketError("The TLS stream ended inside a record.");
  }
  throw SocketError("Could not read from the TLS stream: " +
                    ErrorText(saved_errno, "the connection ended"));
}

std::size_t TlsStream::Receive(void* buffer, std::size_t size) {
  if (!failure_.empty()) throw SocketError(failure_);
  CheckStop();
  auto* bytes = static_cast<char*>(buffer);
  std::size_t filled = 0;
  for (;;) {
    bool want_write = false;
    if (std::optional<std::size_t> got = ReadOnce(bytes, size, &want_write)) {
      filled = *got;
      break;
    }
    socket_.WaitForProgress(want_write ? POLLOUT : POLLIN);
  }
  // On a bulk stream, more records that are already here go into the same buffer: one large
  // write for the caller instead of one per record. (A control stream reads one record at a
  // time: after REIN, the bytes behind it are plain text and must stay in the socket.)
  while (bulk_ && filled > 0 && filled < size) {
    bool want_write = false;
    std::optional<std::size_t> got;
    try {
      got = ReadOnce(bytes + filled, size - filled, &want_write);
    } catch (const SocketError& error) {
      failure_ = error.what();  // the bytes before the failure are returned first
      break;
    }
    if (!got || *got == 0) break;  // nothing more now, or the end: the next call sees it
    filled += *got;
  }
  return filled;
}

std::optional<std::size_t> TlsStream::ReceiveNow(void* buffer, std::size_t size) {
  if (!failure_.empty()) throw SocketError(failure_);
  // Bytes waiting inside the session count as readable, though the socket is not.
  if (!SSL_has_pending(ssl_.get()) && socket_.WaitReadable(0) != TcpSocket::WaitResult::Ready)
    return std::nullopt;
  bool want_write = false;
  return ReadOnce(buffer, size, &want_write);
}

void TlsStream::Finish() {
  SSL* ssl = ssl_.get();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinishTimeoutMs);
  for (;;) {
    ERR_clear_error();
    const int result = SSL_shutdown(ssl);
    if (result >= 0) break;  // close_notify is out; the peer's is not waited for
    const int error = SSL_get_error(ssl, result);
    if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    try {
      const TcpSocket::WaitResult waited = error == SSL_ERROR_WANT_WRITE
                                               ? socket_.WaitWritable(static_cast<int>(left))
                                               : socket_.WaitReadable(static_cast<int>(left));
      if (waited != TcpSocket::WaitResult::Ready) break;
    } catch (const SocketError&) {
      break;
    }
  }
  ERR_clear_error();
}

bool TlsStream::SessionReused() const {
  return SSL_session_reused(ssl_.get()) == 1;
}

}  // namespace corvane
