#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "service/ftp/ftp_context.h"
#include "service/ftp/ftp_reply.h"
#include "service/ftp/telnet_line_reader.h"

namespace corvane {

class ByteStream;
class TFtpEngine;
class TcpSocket;
struct TCommandHandler;
class TCommandTable;

// One FTP control connection: greets, reads command lines, dispatches them through the
// engine's tables and writes the replies. Runs on the connection's own thread.
class ControlSession {
 public:
  ControlSession(TFtpEngine& engine, TcpSocket& socket);
  ~ControlSession();
  ControlSession(const ControlSession&) = delete;
  ControlSession& operator=(const ControlSession&) = delete;

  // Serves the connection until either side closes it.
  void Run();

  TFtpEngine& Engine() const { return engine_; }
  TFtpContext& Context() const { return *context_; }
  TcpSocket& Socket() const { return socket_; }

  // Whether the control connection runs through TLS.
  bool Protected() const { return protected_; }
  // Runs the server side of the TLS handshake on the control connection (after the 234 reply
  // has gone out); from then on every reply and command passes through the session. Input
  // that arrived behind the AUTH line before the handshake is discarded, queued lines too. Throws
  // TlsError when the handshake fails (the connection stays in plain text) and SocketError when
  // stopped.
  void StartTls();
  // Back to plain text without a TLS shutdown exchange (REIN).
  void StopTls();

  // Writes a reply at once, encoded with the connection's encoding.
  void WriteReply(const TFtpReply& reply);
  void WriteReply(int code, const std::string& text) { WriteReply(TFtpReply(code, text)); }
  // Writes bytes as they are (already encoded).
  void WriteBytes(const std::string& bytes);

  void Disconnect();
  bool Closed() const { return closed_; }

  // Runs one decoded command line through the given table (the main table by default).
  void ExecuteLine(const std::string& line);
  void ExecuteLine(const std::string& line, const TCommandTable& table);
  // The not-understood answer for a line: "'FOO bar': command not understood."
  static std::string NotUnderstoodText(const std::string& line);

  // During a transfer: reads whatever command input is available without blocking; ABOR and
  // STAT run at once through the transfer-time table, other lines are queued. Returns false
  // once it reads no more during this transfer (the connection closed, or the queue is full).
  bool PollDuringTransfer();
  // After a transfer's final reply: runs the queued lines in arrival order.
  void RunQueuedCommands();

 private:
  // Returns the next line; with wait false only when one is already available.
  // std::nullopt when none is (or the connection closed).
  std::optional<TelnetLineReader::Line> ReadLine(bool wait);
  void HandleLine(const TelnetLineReader::Line& line, bool during_transfer);
  void RunCommand(const TCommandHandler& entry, const std::string& line,
                  const std::string& parameters);

  TFtpEngine& engine_;
  TcpSocket& socket_;
  std::unique_ptr<ByteStream> stream_;  // plain, or TLS after AUTH
  bool protected_ = false;
  std::unique_ptr<TFtpContext> context_;
  TelnetLineReader reader_;
  std::string input_;  // received bytes not yet fed to the reader
  std::size_t input_offset_ = 0;
  std::deque<std::string> queued_;  // lines that arrived during a transfer
  bool draining_queue_ = false;     // RunQueuedCommands is running
  bool closed_ = false;
};

}  // namespace corvane
