#include "service/ftp/control_session.h"

#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/text_encoding.h"
#include "service/net/byte_stream.h"
#include "service/net/tcp_socket.h"
#include "service/net/tls_server_handler.h"
#include "service/net/tls_stream.h"

namespace corvane {
namespace {

// Control lines are short: a small buffer keeps an idle session cheap.
constexpr std::size_t kReadSize = 2048;
// Lines that arrive during one transfer beyond this wait in the socket until it ends.
constexpr std::size_t kMaxQueuedLines = 1024;

}  // namespace

ControlSession::ControlSession(TFtpEngine& engine, TcpSocket& socket)
    : engine_(engine),
      socket_(socket),
      stream_(std::make_unique<PlainStream>(socket)),
      context_(engine.ContextClass ? engine.ContextClass() : std::make_unique<TFtpContext>()),
      reader_([this](const std::string& answer) { WriteBytes(answer); }) {
  context_->session_ = this;
  context_->Security = engine.FTPSecurityOptions;
  // Clients send Telnet IP and DM as urgent data before ABOR: kept inline, the DM reaches the
  // line reader in order instead of being taken out of the stream by the kernel.
  socket_.KeepUrgentDataInline();
}

ControlSession::~ControlSession() = default;

void ControlSession::Run() {
  context_->Encoding = TTextEncoding::Latin1;
  if (engine_.OnConnect) {
    try {
      engine_.OnConnect(*context_);
    } catch (const std::exception&) {
      Disconnect();  // an admission that cannot be decided closes the connection silently
    }
  }
  if (closed_) return;
  WriteReply(engine_.Greeting);
  while (!closed_) {
    std::optional<TelnetLineReader::Line> line = ReadLine(true);
    if (!line) break;
    HandleLine(*line, false);
  }
}

void ControlSession::WriteReply(const TFtpReply& reply) {
  WriteBytes(EncodeText(reply.Render(), context_->Encoding));
}

void ControlSession::WriteBytes(const std::string& bytes) {
  if (closed_) return;
  stream_->SendAll(bytes.data(), bytes.size());
}

void ControlSession::StartTls() {
  // SECURITY: bytes sent behind AUTH before the handshake were never protected; running them
  // as commands afterwards would let anyone on the path inject commands into the session.
  input_.clear();
  input_offset_ = 0;
  queued_.clear();  // lines that arrived during a transfer, behind AUTH
  SSL_CTX* context = engine_.TlsHandler ? engine_.TlsHandler->Context() : nullptr;
  stream_ = TlsStream::Handshake(socket_, context, TlsStreamOptions{});
  protected_ = true;
}

void ControlSession::StopTls() {
  if (!protected_) return;
  stream_ = std::make_unique<PlainStream>(socket_);
  protected_ = false;
}

void ControlSession::Disconnect() {
  closed_ = true;
  socket_.ShutdownSending();  // the listener drains and closes once the session has ended
}

std::string ControlSession::NotUnderstoodText(const std::string& line) {
  const std::size_t end = line.find_first_of(" \t");
  const std::string word = line.substr(0, end);
  const std::string rest = end == std::string::npos ? "" : line.substr(end);
  return "'" + UpperCase(word) + rest + "': command not understood.";
}

std::optional<TelnetLineReader::Line> ControlSession::ReadLine(bool wait) {
  bool received = false;
  for (;;) {
    std::size_t consumed = 0;
    if (input_offset_ < input_.size()) {
      std::optional<TelnetLineReader::Line> line =
          reader_.Feed(input_.data() + input_offset_, input_.size() - input_offset_, &consumed);
      input_offset_ += consumed;
      if (line) return line;
    }
    input_.clear();
    input_offset_ = 0;
    if (closed_) return std::nullopt;
    // Without waiting, read at most once and only what is already there.
    if (!wait && received) return std::nullopt;
    input_.resize(kReadSize);
    std::optional<std::size_t> got = 0;
    try {
      got = wait ? stream_->Receive(input_.data(), input_.size())
                 : stream_->ReceiveNow(input_.data(), input_.size());
    } catch (const SocketError&) {
      got = 0;
    }
    if (!got) {
      input_.clear();
      return std::nullopt;
    }
    input_.resize(*got);
    received = true;
    if (*got == 0) {
      closed_ = true;
      return std::nullopt;
    }
  }
}

void ControlSession::HandleLine(const TelnetLineReader::Line& line, bool during_transfer) {
  if (line.overlong) {
    WriteReply(500, "Command line too long.");
    return;
  }
  const std::string text = DecodeText(line.bytes, context_->Encoding);
  if (!during_transfer) {
    ExecuteLine(text);
    return;
  }
  std::string parameters;
  if (const TCommandHandler* entry = engine_.TransferCommands().Match(text, &parameters)) {
    RunCommand(*entry, text, parameters);
  } else {
    queued_.push_back(text);
  }
}

void ControlSession::ExecuteLine(const std::string& line) {
  ExecuteLine(line, engine_.CommandHandlers());
}

void ControlSession::ExecuteLine(const std::string& line, const TCommandTable& table) {
  if (line.empty()) return;
  std::string parameters;
  const TCommandHandler* entry = table.Match(line, &parameters);
  if (!entry) {
    WriteReply(500, NotUnderstoodText(line));
    return;
  }
  RunCommand(*entry, line, parameters);
}

void ControlSession::RunCommand(const TCommandHandler& entry, const std::string& line,
                                const std::string& parameters) {
  if (entry.NeedsLogin && !context_->Authenticated) {
    WriteReply(entry.NotLoggedInCode, entry.NotLoggedInText);
    return;
  }
  TCommand command(*this, entry, line, parameters);
  try {
    if (entry.OnCommand) entry.OnCommand(command);
  } catch (const SocketError&) {
    closed_ = true;  // the connection broke: nothing more can be said on it
    return;
  } catch (const std::exception& error) {
    command.Reply.Clear();
    if (entry.ExceptionReplyCode != 0) {
      command.Reply.SetReply(entry.ExceptionReplyCode, error.what());
    } else {
      command.Reply.SetReply(engine_.ExceptionReply.Code(), error.what());
    }
    command.SendReply = true;
  }
  command.Reply.FillDefaultText();
  if (command.SendReply && !command.Reply.Empty()) WriteReply(command.Reply);
  if (command.Disconnect) Disconnect();
}

bool ControlSession::PollDuringTransfer() {
  const auto reading = [this] { return !closed_ && queued_.size() < kMaxQueuedLines; };
  if (!reading()) return false;
  while (std::optional<TelnetLineReader::Line> line = ReadLine(false)) {
    HandleLine(*line, true);
    if (!reading()) return false;
  }
  return reading();
}

void ControlSession::RunQueuedCommands() {
  // A queued transfer ends by running the queue again: the outer loop goes on with it instead,
  // so a long pipeline of transfers never nests one transfer inside another.
  if (draining_queue_) return;
  draining_queue_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{draining_queue_};
  while (!queued_.empty() && !closed_) {
    const std::string line = std::move(queued_.front());
    queued_.pop_front();
    ExecuteLine(line);
  }
}

}  // namespace corvane
