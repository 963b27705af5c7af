#include "service/net/tls_stream.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "service/net/stop_signal.h"
#include "service/net/tcp_socket.h"
#include "service/net/tls_server_handler.h"
#include "tests/support/test_files.h"

namespace corvane {
namespace {

using corvane::testing::TempDir;
using namespace std::chrono_literals;

struct CtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The test's end of a TLS session (the client, or the server with server_role), run through
// memory BIOs over a blocking socket, so a test decides which bytes reach the stream and how
// the connection ends.
class MemoryClient {
 public:
  MemoryClient(SSL_CTX* ctx, int fd, bool server_role = false) : fd_(fd), ssl_(SSL_new(ctx)) {
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_.get(), in_, out_);
    if (server_role) {
      SSL_set_accept_state(ssl_.get());
    } else {
      SSL_set_connect_state(ssl_.get());
    }
  }

  // Runs the handshake to its end; false when it failed.
  bool Handshake() {
    for (int round = 0; round < 100; ++round) {
      const int result = SSL_do_handshake(ssl_.get());
      Flush();
      if (result == 1) return true;
      if (SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ || !Pull()) return false;
    }
    return false;
  }

  // The record bytes for the data, not yet sent.
  std::string Seal(const std::string& data) {
    SSL_write(ssl_.get(), data.data(), static_cast<int>(data.size()));
    return Pending();
  }
  std::string CloseNotify() {
    SSL_shutdown(ssl_.get());
    return Pending();
  }
  void Send(const std::string& bytes) const {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void Flush() { Send(Pending()); }
  // Reads what the server sent into the session; false when the connection ended.
  bool Pull() {
    char buffer[16384];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    BIO_write(in_, buffer, static_cast<int>(got));
    return true;
  }
  SSL* Ssl() const { return ssl_.get(); }

  // Asks for a new handshake and exchanges records until it has completed (true) or failed.
  bool Renegotiate() {
    if (SSL_renegotiate(ssl_.get()) != 1) return false;
    SSL_do_handshake(ssl_.get());
    Flush();
    for (int round = 0; round < 20; ++round) {
      char buffer[64];
      const int result = SSL_read(ssl_.get(), buffer, sizeof buffer);
      Flush();
      if (!SSL_renegotiate_pending(ssl_.get())) return true;
      if (result <= 0 && SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ) return false;
      if (!Pull()) return false;
    }
    return false;
  }

 private:
  std::string Pending() {
    std::string bytes(static_cast<std::size_t>(BIO_ctrl_pending(out_)), '\0');
    if (!bytes.empty()) BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
  }

  int fd_;
  std::unique_ptr<SSL, SslFree> ssl_;
  BIO* in_;   // owned by the session
  BIO* out_;  // owned by the session
};

// A server context from a fresh certificate, a loopback connection whose server end is a
// non-blocking TcpSocket watching a stop signal, and a client context.
class TlsStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 "
        "-nodes -days 2 -subj /CN=localhost -keyout " +
        dir_->File("k.pem") + " -out " + dir_->File("c.pem") + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    handler_.Options().cert_file = dir_->File("c.pem");
    handler_.Options().key_file = dir_->File("k.pem");
    handler_.Prepare();
    client_ctx_.reset(SSL_CTX_new(TLS_client_method()));
    SSL_CTX_set_verify(client_ctx_.get(), SSL_VERIFY_NONE, nullptr);

    TcpSocket listener = TcpSocket::Open(AF_INET, &stop_);
    listener.Bind(Endpoint{"127.0.0.1", 0, AF_INET}, false);
    listener.Listen(1);
    client_fd_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const timeval limit{10, 0};  // every blocking client call is bounded
    ::setsockopt(client_fd_.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener.LocalEndpoint().port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client_fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
              0);
    server_ = listener.Accept(5000);
    ASSERT_TRUE(server_.Valid());
  }

  void TearDown() override { stop_.Clear(); }

  // The server handshake runs on its own thread while the client's runs here.
  std::unique_ptr<TlsStream> Connect(MemoryClient& client, TlsStreamOptions options = {}) {
    auto server = std::async(std::launch::async, [&] {
      return TlsStream::Handshake(server_, handler_.Context(), options);
    });
    EXPECT_TRUE(client.Handshake());
    return server.get();
  }

  bool ClientReadableWithin(std::chrono::milliseconds wait) const {
    pollfd entry{client_fd_.Get(), POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(wait.count())) > 0;
  }

  static TempDir* dir_;
  TTlsServerHandler handler_;
  std::unique_ptr<SSL_CTX, CtxFree> client_ctx_;
  StopSignal stop_;
  UniqueFd client_fd_;
  TcpSocket server_;
};

TempDir* TlsStreamTest::dir_ = nullptr;

// A bulk stream gathers records into large sends: when the peer reads late, a send stops
// midway and resumes; SendAll returns with every byte out, in order, and close_notify (sent
// outside any SendAll) follows it.
TEST_F(TlsStreamTest, BulkSendsArriveWholeAndInOrderWhenThePeerReadsLate) {
  MemoryClient client(client_ctx_.get(), client_fd_.Get());
  TlsStreamOptions options;
  options.session_tickets = false;
  options.bulk = true;
  std::unique_ptr<TlsStream> stream = Connect(client, options);
  std::string payload(8 * 1024 * 1024 + 12345, '\0');
  for (std::size_t index = 0; index < payload.size(); ++index)
    payload[index] = static_cast<char>((index * 7 + index / 65536) & 0xFF);
  auto sender = std::async(std::launch::async, [&] {
    for (std::size_t at = 0; at < payload.size(); at += 300000)
      stream->SendAll(payload.data() + at, std::min<std::size_t>(300000, payload.size() - at));
    stream->Finish();
  });
  std::this_thread::sleep_for(200ms);  // the socket buffers fill: sends wait midway

  std::string received;
  bool closed = false;
  char buffer[65536];
  for (int round = 0; round < 100000 && !closed; ++round) {
    const int got = SSL_read(client.Ssl(), buffer, sizeof buffer);
    if (got > 0) {
      received.append(buffer, static_cast<std::size_t>(got));
    } else if (SSL_get_error(client.Ssl(), got) == SSL_ERROR_ZERO_RETURN) {
      closed = true;
    } else if (!client.Pull()) {
      break;
    }
  }
  sender.get();
  EXPECT_TRUE(closed);
  EXPECT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload);
}

TEST_F(TlsStreamTest, BytesDecryptedInsideTheSessionCountAsReadable) {
  MemoryClient client(client_ctx_.get(), client_fd_.Get());
  std::unique_ptr<TlsStream> stream = Connect(client);
  client.Send(client.Seal("abc"));
  char byte = 0;
  ASSERT_EQ(stream->Receive(&byte, 1), 1u);
  EXPECT_EQ(byte, 'a');
  // The socket holds nothing more; "bc" waits decrypted inside the session.
  char rest[8] = {};
  const std::optional<std::size_t> got = stream->ReceiveNow(rest, sizeof rest);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(std::string(rest, *got), "bc");
  EXPECT_FALSE(stream->ReceiveNow(rest, sizeof rest).has_value());
}

// How the client ends an upload, and whether the server may take it for a complete one.
struct PeerEnd {
  const char* name;
  bool close_notify;
  std::size_t cut_bytes;  // taken from the end of the last record
  bool reset;
  bool clean;
};

void PrintTo(const PeerEnd& end, std::ostream* out) {
  *out << end.name;
}

class TlsStreamEndTest : public TlsStreamTest, public ::testing::WithParamInterface<PeerEnd> {};

TEST_P(TlsStreamEndTest, OnlyACompleteRecordStreamEndsCleanly) {
  const PeerEnd end = GetParam();
  MemoryClient client(client_ctx_.get(), client_fd_.Get());
  // As on data connections: a ticket the client never reads would turn its close into a reset.
  TlsStreamOptions options;
  options.session_tickets = false;
  options.bulk = true;
  std::unique_ptr<TlsStream> stream = Connect(client, options);
  std::string wire = client.Seal(std::string(20000, 'x'));
  wire.resize(wire.size() - end.cut_bytes);
  if (end.close_notify) wire += client.CloseNotify();
  client.Send(wire);
  if (end.reset) {
    const linger abort{1, 0};
    ::setsockopt(client_fd_.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  client_fd_.Reset();

  std::string received;
  char buffer[4096];
  auto drain = [&] {
    for (int round = 0; round < 100; ++round) {
      const std::size_t got = stream->Receive(buffer, sizeof buffer);
      if (got == 0) return;
      received.append(buffer, got);
    }
    FAIL() << "no end";
  };
  if (end.clean) {
    ASSERT_NO_THROW(drain());
    EXPECT_EQ(received, std::string(20000, 'x'));
  } else {
    EXPECT_THROW(drain(), SocketError);
    EXPECT_LT(received.size(), 20000u);
  }
}

INSTANTIATE_TEST_SUITE_P(Ends, TlsStreamEndTest,
                         ::testing::Values(PeerEnd{"CloseNotify", true, 0, false, true},
                                           PeerEnd{"TcpEndAtRecordBoundary", false, 0, false, true},
                                           PeerEnd{"TcpEndInsideRecord", false, 5, false, false},
                                           PeerEnd{"ResetInsideRecord", false, 5, true, false}),
                         [](const ::testing::TestParamInfo<PeerEnd>& info) {
                           return info.param.name;
                         });

class TlsStreamTicketTest : public TlsStreamTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TlsStreamTicketTest, SessionTicketsAreSentOnlyWhenAsked) {
  TlsStreamOptions options;
  options.session_tickets = GetParam();
  MemoryClient client(client_ctx_.get(), client_fd_.Get());
  std::unique_ptr<TlsStream> stream = Connect(client, options);
  ASSERT_EQ(SSL_version(client.Ssl()), TLS1_3_VERSION);
  // After a TLS 1.3 handshake, only tickets can come from a server that sends nothing.
  EXPECT_EQ(ClientReadableWithin(300ms), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Tickets, TlsStreamTicketTest, ::testing::Bool());

TEST_F(TlsStreamTest, HandshakeFailuresCarryTheLibraryText) {
  const std::string garbage = "USER anonymous\r\n";
  ASSERT_EQ(::send(client_fd_.Get(), garbage.data(), garbage.size(), 0),
            static_cast<ssize_t>(garbage.size()));
  try {
    TlsStream::Handshake(server_, handler_.Context(), TlsStreamOptions{});
    FAIL() << "handshake accepted garbage";
  } catch (const TlsError& error) {
    EXPECT_NE(std::string(error.what()).find("SSL routines"), std::string::npos) << error.what();
  }
}

TEST_F(TlsStreamTest, ASilentPeerFailsTheHandshakeAfterItsTimeBound) {
  TlsStreamOptions options;
  options.handshake_timeout_ms = 200;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(TlsStream::Handshake(server_, handler_.Context(), options), TlsError);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(TlsStreamTest, StopWakesABlockedHandshake) {
  auto handshake = std::async(std::launch::async, [&] {
    TlsStream::Handshake(server_, handler_.Context(), TlsStreamOptions{});
  });
  ASSERT_EQ(handshake.wait_for(100ms), std::future_status::timeout);
  stop_.Raise();
  ASSERT_EQ(handshake.wait_for(5s), std::future_status::ready);
  EXPECT_THROW(handshake.get(), SocketError);
}

// The peer asks for a new handshake over an established TLS 1.2 session; the stream refuses it
// in both roles (the server role is also refused by the library's own default).
class TlsStreamRenegotiationTest : public TlsStreamTest,
                                   public ::testing::WithParamInterface<TlsRole> {};

TEST_P(TlsStreamRenegotiationTest, RenegotiationIsRefused) {
  const bool stream_is_client = GetParam() == TlsRole::Client;
  std::unique_ptr<SSL_CTX, CtxFree> peer_ctx(
      SSL_CTX_new(stream_is_client ? TLS_server_method() : TLS_client_method()));
  SSL_CTX_set_max_proto_version(peer_ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(peer_ctx.get(), SSL_VERIFY_NONE, nullptr);
  if (stream_is_client) {
    ASSERT_EQ(
        SSL_CTX_use_certificate_file(peer_ctx.get(), dir_->File("c.pem").c_str(), SSL_FILETYPE_PEM),
        1);
    ASSERT_EQ(
        SSL_CTX_use_PrivateKey_file(peer_ctx.get(), dir_->File("k.pem").c_str(), SSL_FILETYPE_PEM),
        1);
  }
  MemoryClient peer(peer_ctx.get(), client_fd_.Get(), stream_is_client);
  TlsStreamOptions options;
  options.role = GetParam();
  std::unique_ptr<TlsStream> stream = Connect(peer, options);
  ASSERT_TRUE(stream);
  auto reader = std::async(std::launch::async, [&] {
    char buffer[64];
    return stream->Receive(buffer, sizeof buffer);
  });
  EXPECT_FALSE(peer.Renegotiate());  // the stream answers no_renegotiation
  client_fd_.Reset();
  ASSERT_EQ(reader.wait_for(15s), std::future_status::ready);
  try {
    EXPECT_EQ(reader.get(), 0u);
  } catch (const SocketError&) {
  }
}

INSTANTIATE_TEST_SUITE_P(Roles, TlsStreamRenegotiationTest,
                         ::testing::Values(TlsRole::Server, TlsRole::Client),
                         [](const ::testing::TestParamInfo<TlsRole>& info) {
                           return info.param == TlsRole::Client ? "StreamIsClient"
                                                                : "StreamIsServer";
                         });

}  // namespace
}  // namespace corvane
