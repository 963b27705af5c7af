#include "service/ftp/data_channel.h"

#include <stdexcept>

#include "platform/file_stream.h"
#include "service/ftp/control_session.h"
#include "service/ftp/ftp_context.h"
#include "service/ftp/ftp_engine.h"
#include "service/net/throttler.h"
#include "service/net/tls_server_handler.h"
#include "service/net/tls_stream.h"

namespace corvane {
namespace {

// How long an active data connection may take to connect.
constexpr int kConnectTimeoutMs = 60000;

}  // namespace

TDataChannel::TDataChannel(TFtpContext& context)
    : FControlContext(context),
      FServer(context.Session().Engine()),
      FRequirePASVFromSameIP(context.Security.RequirePASVFromSameIP) {}

TDataChannel::TDataChannel(TFtpContext& context, Endpoint remote)
    : FControlContext(context),
      FServer(context.Session().Engine()),
      FDataChannel(std::move(remote)),
      FRequirePASVFromSameIP(context.Security.RequirePASVFromSameIP) {}

TDataChannel::~TDataChannel() {
  Stop();
}

Endpoint TDataChannel::PassiveEndpoint() const {
  return Passive() ? std::get<TPassiveListener>(FDataChannel).LocalEndpoint() : Endpoint{};
}

void TDataChannel::SetIntercept(std::unique_ptr<TThrottler> throttler) {
  intercept_ = std::move(throttler);
}

void TDataChannel::Listen(const Endpoint& local, std::uint16_t port_min, std::uint16_t port_max) {
  std::get<TPassiveListener>(FDataChannel) = TPassiveListener::Open(
      local, port_min, port_max, FControlContext.Session().Socket().Stop(), [this] {
        if (FServer.OnDataPortAfterBind) FServer.OnDataPortAfterBind(FControlContext);
      });
}

bool TDataChannel::Open(bool tls_client_role) {
  TcpSocket& socket = socket_;
  try {
    socket = Passive() ? AcceptPassive(FServer.PassiveAcceptTimeoutMs)
                       : ConnectActive(std::get<Endpoint>(FDataChannel));
  } catch (const std::exception&) {
    return FailOpen();
  }
  // SECURITY: a passive data connection must come from the client itself.
  if (Passive() && FRequirePASVFromSameIP &&
      socket.PeerEndpoint().address != FControlContext.PeerEndpoint().address) {
    socket.Close();
    FControlContext.FDataPortDenied = true;
    FErrorReply.SetReply(
        504, "Data port can only be used by the same IP address used by the control connection.");
    FControlContext.Session().WriteReply(FErrorReply);
    return false;
  }
  // SECURITY: a stalled data connection cannot hold the session or its file: the control
  // connection is answered while the transfer waits, and no progress for long ends it.
  ControlSession& session = FControlContext.Session();
  socket.WatchCompanion(session.Socket().Fd(), [&session] { return session.PollDuringTransfer(); });
  socket.SetProgressLimit(FServer.DataProgressTimeoutMs);
  try {
    if (FNegotiateTLS) {
      TlsStreamOptions options;
      options.role = tls_client_role || FTlsClientRole ? TlsRole::Client : TlsRole::Server;
      // Tickets belong on the control connection, where clients read them; one left unread on
      // a data connection makes the client's close a reset that can destroy an upload's tail.
      options.session_tickets = false;
      options.bulk = true;
      // One context for the listener: clients resume the control connection's session here.
      SSL_CTX* context = FServer.TlsHandler ? FServer.TlsHandler->Context() : nullptr;
      io_ = TlsStream::Handshake(socket_, context, options);
    } else {
      io_ = std::make_unique<PlainStream>(socket_);
    }
  } catch (const std::exception&) {
    return FailOpen();
  }
  return true;
}

bool TDataChannel::FailOpen() {
  io_.reset();
  socket_.Close();
  FControlContext.Session().WriteReply(FErrorReply);
  return false;
}

TcpSocket TDataChannel::AcceptPassive(int timeout_ms) {
  TPassiveListener& listener = std::get<TPassiveListener>(FDataChannel);
  if (!listener.Listening()) throw std::runtime_error("The data connection is closed.");
  return listener.AcceptOne(timeout_ms);
}

TcpSocket TDataChannel::ConnectActive(const Endpoint& remote) {
  if (FBandWidth > 0) {
    auto throttler = std::make_unique<TThrottler>();
    throttler->SetBitsPerSec(FBandWidth);
    SetIntercept(std::move(throttler));
  }
  const StopSignal* stop = FControlContext.Session().Socket().Stop();
  Endpoint local = FControlContext.LocalEndpoint();
  local.port = FServer.DefaultDataPort;
  TcpSocket socket = TcpSocket::Open(local.family, stop);
  try {
    socket.Bind(local, true);
  } catch (const SocketError&) {
    // The data port needs privileges or is taken: any port will do.
    socket = TcpSocket::Open(local.family, stop);
    local.port = 0;
    socket.Bind(local, false);
  }
  if (FServer.OnDataPortAfterBind) FServer.OnDataPortAfterBind(FControlContext);
  socket.Connect(remote, kConnectTimeoutMs);
  return socket;
}

void TDataChannel::Stop() {
  FStopped = true;
  if (Passive()) std::get<TPassiveListener>(FDataChannel).Close();
  socket_.Shutdown();
}

void TDataChannel::CloseConnection(bool clean) {
  if (Passive()) std::get<TPassiveListener>(FDataChannel).Close();
  if (io_ && clean && !FStopped && !io_->PlainSocket()) {
    io_->Finish();
    // What the peer still sends (its close_notify, or the session tickets a TLS server sends
    // to the server in the client role) is read and dropped: closing over unread bytes would
    // reset the connection and could destroy data the peer has not read yet.
    socket_.FinishSending();
  }
  io_.reset();
  socket_.Close();
}

void DiscardDataChannel(TFtpContext& context) {
  if (context.DataChannel) context.DataChannel->Stop();
  context.DataChannel.reset();
}

}  // namespace corvane
