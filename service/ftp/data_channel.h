#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "service/ftp/ftp_reply.h"
#include "service/ftp/list_output.h"
#include "service/ftp/passive_listener.h"
#include "service/net/endpoint.h"
#include "service/net/tcp_socket.h"

namespace corvane {

class FileStream;
class TFtpContext;
class TFtpEngine;
class TThrottler;

enum class TFtpOperation { ftpRetr, ftpStor };

// The byte path of an open data connection: the plain TCP socket, or a TLS session that the
// handshake hook has put over it.
class TDataIo {
 public:
  virtual ~TDataIo() = default;
  // Sends every byte; throws on failure.
  virtual void SendAll(const void* data, std::size_t size) = 0;
  // Blocks until something arrives; returns 0 when the peer has closed. Throws on failure.
  virtual std::size_t Receive(void* buffer, std::size_t size) = 0;
  // The socket when bytes go out unchanged (so sendfile(2) may be used), else nullptr.
  virtual TcpSocket* PlainSocket() = 0;
  // Wakes any thread blocked on the connection; the connection is unusable afterwards.
  virtual void Shutdown() = 0;
  // Ends the connection in order. Never throws.
  virtual void Close() = 0;
};

// Runs the TLS handshake on a data connection that has just been opened and returns the
// protected byte path; throws when the handshake fails. client_role: the server plays the
// TLS client.
using TDataTlsHandshake =
    std::function<std::unique_ptr<TDataIo>(TcpSocket socket, bool client_role)>;

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
  // Where the TLS handshake is put between opening and the first byte (used when FNegotiateTLS).
  TDataTlsHandshake TlsHandshake;

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
  // then runs the TLS handshake when FNegotiateTLS. Returns false when no connection could be
  // used; the command's one final reply has then been written: the error reply (426) when the
  // connection failed, or 504 when a passive connection came from a foreign address (that
  // connection closed and FDataPortDenied set).
  bool Open(bool tls_client_role);
  // The open connection's byte path; only after a successful Open.
  TDataIo& Io() { return *io_; }

  // Marks the channel stopped and closes its listener or connection (ABOR, replacement).
  void Stop();
  // Closes the data connection in order after a transfer. Never throws.
  void CloseConnection();

 private:
  TcpSocket AcceptPassive(int timeout_ms);
  TcpSocket ConnectActive(const Endpoint& remote);
  // Writes the error reply as the command's final reply; returns false.
  bool FailOpen();

  std::unique_ptr<TThrottler> intercept_;
  std::unique_ptr<TDataIo> io_;
};

// Stops and frees the context's data channel, if any.
void DiscardDataChannel(TFtpContext& context);

}  // namespace corvane
