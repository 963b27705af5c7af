#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "service/ftp/ftp_reply.h"
#include "service/ftp/list_output.h"
#include "service/ftp/passive_listener.h"
#include "service/net/byte_stream.h"
#include "service/net/endpoint.h"
#include "service/net/tcp_socket.h"

namespace corvane {

class FileStream;
class TFtpContext;
class TFtpEngine;
class TThrottler;

enum class TFtpOperation { ftpRetr, ftpStor };

// What a transfer moves: a file stream or the lines of a listing.
using TDataPayload = std::variant<std::monostate, std::unique_ptr<FileStream>, TListingText>;

// One prepared data connection of an FTP session, used for exactly one transfer. It belongs to
// the connection's context and runs on the connection's thread.
class TDataChannel {
 public:
  // A passive channel; its listener is opened by Listen.
  explicit TDataChannel(TFtpContext& context);
  // An active channel that connects to remote when it is opened.
  TDataChannel(TFtpContext& context, Endpoint remote);
  ~TDataChannel();
  TDataChannel(const TDataChannel&) = delete;
  TDataChannel& operator=(const TDataChannel&) = delete;

  TFtpContext& FControlContext;
  TFtpEngine& FServer;
  // The passive listener, or the address an active channel connects to.
  std::variant<TPassiveListener, Endpoint> FDataChannel;
  TFtpOperation FFtpOperation = TFtpOperation::ftpRetr;
  // Owned from the moment it is set; freed with the channel.
  TDataPayload FData;
  // An upload that replaces the file from its start position: the file is cut there once the
  // data connection is open (not before, so that a store that fails changes nothing).
  bool FCutAtStart = false;
  TFtpReply FOKReply{226, "Closing data connection."};
  TFtpReply FErrorReply{426, "Data connection closed abnormally."};
  TFtpReply FReply;
  bool FStopped = false;
  bool FRequirePASVFromSameIP = true;
  // A TLS handshake follows the connect or accept.
  bool FNegotiateTLS = false;
  // The listener came from CPSV: the server is the TLS client on it.
  bool FTlsClientRole = false;
  // Bits per second for the throttle of an active connection; 0: unthrottled.
  std::int32_t FBandWidth = 0;

  bool Passive() const { return FDataChannel.index() == 0; }
  // The bound address of a passive channel.
  Endpoint PassiveEndpoint() const;

  void SetBandWidth(std::int32_t bits_per_sec) { FBandWidth = bits_per_sec; }
  // The throttle that sees every buffer of the connection; replaces any earlier one.
  void SetIntercept(std::unique_ptr<TThrottler> throttler);
  TThrottler* Intercept() const { return intercept_.get(); }

  // Passive set-up: binds the listener at local.address (port range as TPassiveListener::Open),
  // raises OnDataPortAfterBind and listens. Throws with the written bind failure texts.
  void Listen(const Endpoint& local, std::uint16_t port_min, std::uint16_t port_max);

  // Opens the data connection: accepts the one passive connection or connects the active one,
  // then runs the TLS handshake on the listener's context when FNegotiateTLS (as TLS client
  // when tls_client_role or FTlsClientRole, else as TLS server, without session tickets).
  // Returns false when no connection could be used; the command's one final reply has then
  // been written: the error reply (426) when the connection or its handshake failed, or 504
  // when a passive connection came from a foreign address (that connection closed and
  // FDataPortDenied set).
  bool Open(bool tls_client_role);
  // The open connection's byte path; only after a successful Open.
  ByteStream& Io() { return *io_; }

  // Marks the channel stopped and closes its listener or connection (ABOR, replacement).
  void Stop();
  // Closes the data connection after a transfer; clean: the transfer completed, so a protected
  // stream is ended with close_notify (never after a failure, which the peer must not take for
  // a complete file). Never throws.
  void CloseConnection(bool clean);

 private:
  TcpSocket AcceptPassive(int timeout_ms);
  TcpSocket ConnectActive(const Endpoint& remote);
  // Writes the error reply as the command's final reply; returns false.
  bool FailOpen();

  std::unique_ptr<TThrottler> intercept_;
  TcpSocket socket_;                // the open data connection
  std::unique_ptr<ByteStream> io_;  // over socket_; goes first
};

// Stops and frees the context's data channel, if any.
void DiscardDataChannel(TFtpContext& context);

}  // namespace corvane
