#include "service/net/cmd_server.h"

#include <exception>
#include <stdexcept>
#include <string_view>

namespace corvane {
namespace {

char ToAscii(char c) {
  return static_cast<unsigned char>(c) < 0x80 ? c : '?';
}

// Reads LF-ended lines from a connection, never holding more than one bounded line.
class RequestLineReader {
 public:
  explicit RequestLineReader(TcpSocket& socket) : socket_(socket) {}

  // The next line without its LF and the CR before it, non-ASCII characters as "?". False when
  // the peer closed the connection or the line grew past the bound.
  bool Next(std::string& line) {
    for (;;) {
      while (next_ < filled_) {
        switch (assembler_.Push(buffer_[next_++], &line)) {
          case CmdLineAssembler::Result::kLine:
            return true;
          case CmdLineAssembler::Result::kOverlong:
            return false;
          case CmdLineAssembler::Result::kMore:
            break;
        }
      }
      filled_ = socket_.Receive(buffer_, sizeof buffer_);
      next_ = 0;
      if (filled_ == 0) return false;
    }
  }

 private:
  TcpSocket& socket_;
  char buffer_[4096];
  std::size_t filled_ = 0;
  std::size_t next_ = 0;
  CmdLineAssembler assembler_;
};

std::uint16_t CheckedPort(int port) {
  if (port < 0 || port > 65535) throw std::runtime_error("Invalid port: " + std::to_string(port));
  return static_cast<std::uint16_t>(port);
}

}  // namespace

std::string FormatCmdReply(const TCmdReply& reply) {
  const std::string code = std::to_string(reply.code);
  std::vector<std::string_view> lines;
  for (const std::string& text : reply.text) {
    std::string_view rest = text;
    for (;;) {
      const std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines.push_back(line);
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
  if (lines.empty()) return code + "\r\n";
  std::string wire;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    wire += code;
    wire += i + 1 < lines.size() ? '-' : ' ';
    for (const char c : lines[i]) wire += ToAscii(c);
    wire += "\r\n";
  }
  return wire;
}

void TCmdCommand::SetReply(int code, const std::string& text) {
  reply_.code = code;
  reply_.text.clear();
  if (!text.empty()) reply_.text.push_back(text);
}

TCmdServer::TCmdServer() : server_([this](TcpSocket& socket) { Serve(socket); }) {}

TCmdServer::~TCmdServer() {
  server_.Deactivate();
}

void TCmdServer::AddBinding(const std::string& address, int port) {
  const bool ipv6 = address.find(':') != std::string::npos;
  server_.AddBinding(address, CheckedPort(port), ipv6 ? AF_INET6 : AF_INET);
}

void TCmdServer::SetDefaultPort(int port) {
  server_.SetDefaultPort(CheckedPort(port));
}

void TCmdServer::AddCommandHandler(std::string name, CommandHandler handler) {
  handlers_.emplace_back(std::move(name), std::move(handler));
}

void TCmdServer::SetActive(bool active) {
  if (active)
    server_.Activate();
  else
    server_.Deactivate();
}

void TCmdServer::Serve(TcpSocket& socket) const {
  socket.SendAll(FormatCmdReply({200, {"Welcome"}}));
  RequestLineReader reader(socket);
  std::string line;
  while (reader.Next(line)) {
    if (line.empty()) continue;
    socket.SendAll(FormatCmdReply(Dispatch(line)));
  }
}

TCmdReply TCmdServer::Dispatch(const std::string& line) const {
  for (const auto& [name, handler] : handlers_) {
    std::string_view arguments;
    if (!SelectsCommand(line, name, &arguments)) continue;
    TCmdCommand command(line, SplitAtBlanks(arguments));
    try {
      handler(command);
    } catch (const std::exception& error) {
      command.SetReply(500, error.what());
    } catch (...) {
      command.SetReply(500, "Unknown error");
    }
    return command.Reply();
  }
  return {400, {"Unknown Command", line}};
}

}  // namespace corvane
