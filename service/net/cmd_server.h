#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "service/net/cmd_request.h"
#include "service/net/endpoint.h"
#include "service/net/tcp_server.h"

namespace corvane {

// A numbered reply: a three-digit code and any number of text lines.
struct TCmdReply {
  int code = 200;
  std::vector<std::string> text;
};

// Writes a reply the way it goes on the wire: code "-" text for every line but the last,
// code " " text for the last, each ended by CR LF; a reply without text is the bare code.
// A text line that itself holds line breaks is sent as several lines, and characters outside
// 7-bit ASCII are sent as "?".
std::string FormatCmdReply(const TCmdReply& reply);

// One request line that matched a command handler, and the reply the handler sets on it.
class TCmdCommand {
 public:
  TCmdCommand(std::string line, std::vector<std::string> params)
      : line_(std::move(line)), params_(std::move(params)) {}

  // The request line as received (CR LF removed, non-ASCII characters as "?").
  const std::string& Line() const { return line_; }
  // The words after the command name; runs of blanks separate them.
  const std::vector<std::string>& Params() const { return params_; }

  // Replaces the reply; an empty text gives a reply with no text.
  void SetReply(int code, const std::string& text);
  void SetReply(int code, std::vector<std::string> text) { reply_ = {code, std::move(text)}; }
  const TCmdReply& Reply() const { return reply_; }

 private:
  std::string line_;
  std::vector<std::string> params_;
  TCmdReply reply_;  // 200 without text until the handler sets one
};

// A line-command server: greets each connection with 200 "Welcome", reads LF-ended request
// lines, hands each to the first handler whose name it carries, and sends the reply. Every
// connection runs on its own thread; handlers therefore run concurrently. There is no idle time
// limit; a request line longer than kMaxLineLength characters ends the connection.
class TCmdServer {
 public:
  using CommandHandler = std::function<void(TCmdCommand&)>;

  static constexpr std::size_t kMaxLineLength = CmdLineAssembler::kMaxLineLength;

  TCmdServer();
  ~TCmdServer();
  TCmdServer(const TCmdServer&) = delete;
  TCmdServer& operator=(const TCmdServer&) = delete;

  // Records a listening address (IPv4, or IPv6 when it contains ":"); opened on activation.
  // Throws std::runtime_error for a port outside 0..65535.
  void AddBinding(const std::string& address, int port);
  void SetDefaultPort(int port);
  int DefaultPort() const { return server_.DefaultPort(); }
  bool HasBindings() const { return server_.BindingCount() > 0; }

  // Handlers are tried in the order they were added; add them all before activation. A line
  // selects a handler when, ignoring letter case, it equals the name or begins with the name
  // and a blank. A handler fails the command by throwing: the reply is then 500 with the message.
  void AddCommandHandler(std::string name, CommandHandler handler);

  // Activation opens the bindings (the wildcard address at DefaultPort when none is recorded)
  // and throws as TcpServer::Activate does; deactivation closes every connection and waits
  // for their threads.
  void SetActive(bool active);
  bool Active() const { return server_.Active(); }

  std::vector<Endpoint> ListeningEndpoints() const { return server_.ListeningEndpoints(); }

 private:
  void Serve(TcpSocket& socket) const;
  TCmdReply Dispatch(const std::string& line) const;

  std::vector<std::pair<std::string, CommandHandler>> handlers_;
  TcpServer server_;  // declared last: its threads use the handlers until it is gone
};

}  // namespace corvane
