// The control connection served by a live engine on loopback: how handler errors, login
// errors and the directory event reach the client, FEAT on IPv6, the connection limit and
// deactivation of idle connections.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/unique_fd.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_context.h"
#include "service/ftp/ftp_engine.h"
#include "service/net/endpoint.h"

namespace corvane {
namespace {

constexpr int kWaitMs = 5000;

// A raw control connection that reads whole replies with a time limit on every wait.
class Client {
 public:
  explicit Client(const Endpoint& server) {
    fd_ = UniqueFd(::socket(server.family, SOCK_STREAM, 0));
    sockaddr_storage storage{};
    const socklen_t length = ToSockaddr(server, storage);
    if (::connect(fd_.Get(), reinterpret_cast<sockaddr*>(&storage), length) != 0)
      throw std::runtime_error("connect failed");
  }

  void Send(const std::string& bytes) {
    if (::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("send failed");
  }

  // One reply with its CR LF line ends, multi-line replies included.
  std::string ReadReply() {
    std::string reply = ReadLine();
    if (reply.size() > 4 && reply[3] == '-') {
      const std::string end = reply.substr(0, 3) + " ";
      for (std::string line = ReadLine();; line = ReadLine()) {
        reply += line;
        if (line.compare(0, 4, end) == 0) break;
      }
    }
    return reply;
  }

  std::string Command(const std::string& line) {
    Send(line + "\r\n");
    return ReadReply();
  }

  // True when the server ends the connection within the wait (unread bytes are skipped).
  bool ClosedByPeer() {
    for (int round = 0; round < 100; ++round) {
      if (!Fill()) return true;
      buffer_.clear();
    }
    return false;
  }

 private:
  std::string ReadLine() {
    for (;;) {
      const std::size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end + 2);
        buffer_.erase(0, end + 2);
        return line;
      }
      if (!Fill()) throw std::runtime_error("closed; have " + buffer_);
    }
  }

  // Reads more; false when the peer closed. Throws when nothing comes in time.
  bool Fill() {
    pollfd waiting{fd_.Get(), POLLIN, 0};
    if (::poll(&waiting, 1, kWaitMs) != 1) throw std::runtime_error("no data in time");
    char chunk[4096];
    const ssize_t got = ::recv(fd_.Get(), chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  UniqueFd fd_;
  std::string buffer_;
};

TCommandHandler Entry(const char* word, int exception_code, TCommandEvent handler) {
  TCommandHandler entry;
  entry.Command = word;
  entry.ExceptionReplyCode = exception_code;
  entry.OnCommand = std::move(handler);
  return entry;
}

class ControlSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    engine_.OnUserLogin = [](TFtpContext& context, const std::string& user,
                             const std::string& password) {
      if (password == "boom") throw std::runtime_error("'x1' is not a valid bandwidth");
      if (user != "ann" || password != "secret") return false;
      context.Authenticated = true;
      return true;
    };
  }
  void TearDown() override { engine_.SetActive(false); }

  Endpoint Start() {
    engine_.AddBinding("127.0.0.1", 0);
    engine_.SetActive(true);
    return engine_.ListeningEndpoints().front();
  }

  // Waits (bounded) until the engine counts the given number of open connections.
  bool ConnectionsBecome(std::size_t count) {
    for (int i = 0; i < 500; ++i) {
      if (engine_.ConnectionCount() == count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  TFtpEngine engine_;
};

TEST_F(ControlSessionTest, HandlerErrorsBecomeTheEntrysExceptionReply) {
  TCommandTable& table = engine_.CommandHandlers();
  table.Add(Entry("DELX", 550, [](TCommand& command) {
    command.Context().RNFR = "/kept";  // a change made before the error stays
    throw std::runtime_error("Failed to delete");
  }));
  table.Add(Entry("BANG", 0, [](TCommand&) { throw std::runtime_error("went wrong"); }));
  table.Add(Entry("HUSH", 451, [](TCommand&) { throw std::runtime_error(""); }));
  table.Add(Entry("TWO", 553, [](TCommand& command) {
    command.Reply.SetFormat(TReplyFormat::rfIndentMidLines);
    throw std::runtime_error("first\nmiddle\nlast");
  }));
  table.Add(Entry("SHOW", 0,
                  [](TCommand& command) { command.Reply.SetReply(200, command.Context().RNFR); }));
  table.Add(Entry("BARE", 0, [](TCommand& command) { command.Reply.SetCode(250); }));
  Client client(Start());
  EXPECT_EQ(client.ReadReply(), "220 Service ready.\r\n");
  EXPECT_EQ(client.Command("DELX a"), "550 Failed to delete\r\n");
  EXPECT_EQ(client.Command("SHOW"), "200 /kept\r\n");
  EXPECT_EQ(client.Command("bang"), "500 went wrong\r\n");
  EXPECT_EQ(client.Command("HUSH"), "451 Permanent Error\r\n");
  EXPECT_EQ(client.Command("TWO"), "553-first\r\n553-middle\r\n553 last\r\n");
  EXPECT_EQ(client.Command("BARE"), "250 Ok\r\n");
  EXPECT_EQ(client.Command("NOOP"), "200 NOOP Command successful.\r\n");
}

TEST_F(ControlSessionTest, LoginErrorAnswers503AndCountsNoAttempt) {
  Client client(Start());
  client.ReadReply();
  EXPECT_EQ(client.Command("USER ann"), "331 User name okay, need password.\r\n");
  EXPECT_EQ(client.Command("PASS wrong"), "530 Not logged in.\r\n");
  EXPECT_EQ(client.Command("PASS boom"), "503 'x1' is not a valid bandwidth\r\n");
  EXPECT_EQ(client.Command("PASS boom"), "503 'x1' is not a valid bandwidth\r\n");
  EXPECT_EQ(client.Command("PASS wrong"), "530 Not logged in.\r\n");
  EXPECT_EQ(client.Command("PASS secret"), "230 User logged in, proceed.\r\n");
  EXPECT_EQ(client.Command("PWD"), "257 \"/\" is working directory.\r\n");
}

TEST_F(ControlSessionTest, DirectoryEventMayChangeTheNewDirectory) {
  std::string seen;
  engine_.OnChangeDirectory = [&seen](TFtpContext&, std::string& directory) {
    seen += directory + ";";
    if (directory == "/redirect") directory = "/elsewhere";
  };
  Client client(Start());
  client.ReadReply();
  client.Command("USER ann");
  client.Command("PASS secret");
  EXPECT_EQ(client.Command("CWD redirect"), "250 CWD Command successful.\r\n");
  EXPECT_EQ(client.Command("XPWD"), "257 \"/elsewhere\" is working directory.\r\n");
  EXPECT_EQ(client.Command("XCUP"), "250 \"/\" is working directory.\r\n");
  EXPECT_EQ(seen, "/redirect;/;");
}

TEST_F(ControlSessionTest, FeatOnIpv6LeavesOutCpsv) {
  if (!HostSupportsIpv6()) GTEST_SKIP() << "no IPv6 on this host";
  engine_.SetDefaultPort(0);  // no binding: the wildcard addresses of both families
  engine_.SetActive(true);
  Endpoint v6;
  for (const Endpoint& endpoint : engine_.ListeningEndpoints())
    if (endpoint.family == AF_INET6) v6 = Endpoint{"::1", endpoint.port, AF_INET6};
  ASSERT_NE(v6.port, 0);
  std::optional<Client> client;
  try {
    client.emplace(v6);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "::1 does not accept connections here";
  }
  client->ReadReply();
  const std::string feat = client->Command("FEAT");
  EXPECT_EQ(feat.find("CPSV"), std::string::npos) << feat;
  EXPECT_NE(feat.find("\r\n CCC\r\n EPRT\r\n"), std::string::npos) << feat;
}

TEST_F(ControlSessionTest, ConnectionsOverTheLimitGet421AndAreClosed) {
  engine_.SetMaxConnections(2);
  const Endpoint server = Start();
  Client first(server), second(server);
  EXPECT_EQ(first.ReadReply(), "220 Service ready.\r\n");
  EXPECT_EQ(second.ReadReply(), "220 Service ready.\r\n");
  ASSERT_TRUE(ConnectionsBecome(2));
  {
    Client third(server);
    EXPECT_EQ(third.ReadReply(), "421 Service not available, closing control connection.\r\n");
    EXPECT_TRUE(third.ClosedByPeer());
  }
  EXPECT_EQ(first.Command("QUIT"), "221 Goodbye.\r\n");
  EXPECT_TRUE(first.ClosedByPeer());
  ASSERT_TRUE(ConnectionsBecome(1));
  Client fourth(server);
  EXPECT_EQ(fourth.ReadReply(), "220 Service ready.\r\n");
  EXPECT_EQ(second.Command("NOOP"), "200 NOOP Command successful.\r\n");
}

TEST_F(ControlSessionTest, DeactivationClosesIdleConnections) {
  const Endpoint server = Start();
  Client idle(server), half_line(server), mid_telnet(server);
  for (Client* client : {&idle, &half_line, &mid_telnet}) client->ReadReply();
  half_line.Send("USER someb");
  mid_telnet.Send("\xff\xfa\x18");  // inside a subnegotiation
  ASSERT_TRUE(ConnectionsBecome(3));
  engine_.SetActive(false);
  EXPECT_EQ(engine_.ConnectionCount(), 0u);
  for (Client* client : {&idle, &half_line, &mid_telnet}) EXPECT_TRUE(client->ClosedByPeer());
}

}  // namespace
}  // namespace corvane
