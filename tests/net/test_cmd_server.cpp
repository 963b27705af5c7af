#include "service/net/cmd_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/line_client.h"

namespace corvane {
namespace {

constexpr int kWaitMs = 5000;

using testing::LineClient;

class CmdServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.AddBinding("127.0.0.1", 0);
    server_.AddCommandHandler("ECHO", [](TCmdCommand& command) {
      std::string joined;
      for (const std::string& param : command.Params()) joined += "[" + param + "]";
      command.SetReply(200, joined);
    });
    server_.AddCommandHandler("MULTI", [](TCmdCommand& command) {
      command.SetReply(210, std::vector<std::string>{"one", "two", "three"});
    });
    server_.AddCommandHandler("BARE", [](TCmdCommand& command) { command.SetReply(202, ""); });
    server_.AddCommandHandler("UNSET", [](TCmdCommand&) {});
    server_.AddCommandHandler("FAIL", [](TCmdCommand&) {
      throw std::runtime_error("Could not read users.xml\r\nline 3");
    });
    server_.AddCommandHandler("TEXT",
                              [](TCmdCommand& command) { command.SetReply(200, "na\xC3\xAFve"); });
    server_.AddCommandHandler("LINE", [](TCmdCommand& command) {
      command.SetReply(200, std::to_string(command.Line().size()));
    });
    server_.AddCommandHandler("COUNT", [this](TCmdCommand& command) {
      std::lock_guard lock(mutex_);
      ++counted_;
      changed_.notify_all();
      command.SetReply(200, "Done");
    });
    server_.SetActive(true);
  }

  LineClient Connect() {
    LineClient client(server_.ListeningEndpoints().at(0), kWaitMs);
    EXPECT_EQ(client.ReadLine(), "200 Welcome");
    return client;
  }

  bool WaitForCount(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                             [&] { return counted_ >= count; });
  }

  TCmdServer server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int counted_ = 0;
};

TEST_F(CmdServerTest, RequestsAndReplies) {
  struct Case {
    std::string request;
    std::vector<std::string> reply;
  };
  const std::vector<Case> cases = {
      {"ECHO a b", {"200 [a][b]"}},
      {"echo a", {"200 [a]"}},
      {"eChO  a   b  ", {"200 [a][b]"}},
      {"ECHO", {"200"}},
      {"ECHO ", {"200"}},
      {"ECHO\tx", {"400-Unknown Command", "400 ECHO\tx"}},
      {"ECHOX", {"400-Unknown Command", "400 ECHOX"}},
      {"ECHO a\tb c", {"200 [a\tb][c]"}},
      {"HELLO", {"400-Unknown Command", "400 HELLO"}},
      {" ECHO a", {"400-Unknown Command", "400  ECHO a"}},
      {"MULTI", {"210-one", "210-two", "210 three"}},
      {"BARE", {"202"}},
      {"UNSET", {"200"}},
      {"FAIL now", {"500-Could not read users.xml", "500 line 3"}},
      {"ECHO caf\xC3\xA9", {"200 [caf??]"}},
      {"H\xFF\x80LLO", {"400-Unknown Command", "400 H??LLO"}},
      {"TEXT", {"200 na??ve"}},
      {"ECHO a\rb", {"200 [a\rb]"}},
  };
  LineClient client = Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    client.Send(c.request + "\r\n");
    for (const std::string& expected : c.reply) EXPECT_EQ(client.ReadLine(), expected);
  }
  // A bare LF ends a line as well.
  client.Send("ECHO lf\n");
  EXPECT_EQ(client.ReadLine(), "200 [lf]");
}

TEST_F(CmdServerTest, EmptyLinesGetNoReply) {
  LineClient client = Connect();
  client.Send("\r\n\n\r\nECHO after\r\n");
  EXPECT_EQ(client.ReadLine(), "200 [after]");
}

TEST_F(CmdServerTest, ManyRequestsOnOneConnectionAnswerInOrder) {
  LineClient client = Connect();
  std::string burst;
  for (int i = 0; i < 300; ++i) burst += "ECHO " + std::to_string(i) + "\r\n";
  client.Send(burst);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(client.ReadLine(), "200 [" + std::to_string(i) + "]");
}

TEST_F(CmdServerTest, LineLengthBound) {
  const std::string longest = "LINE " + std::string(TCmdServer::kMaxLineLength - 5, 'x');
  {
    LineClient client = Connect();
    client.Send(longest + "\r\n");
    EXPECT_EQ(client.ReadLine(), "200 16384");
    client.Send(longest + "\n");
    EXPECT_EQ(client.ReadLine(), "200 16384");
  }
  {
    LineClient client = Connect();
    client.Send(longest + "y\r\n");
    EXPECT_EQ(client.ReadLine(), "<closed>");
  }
  {
    // No line end at all: the connection ends once the bound is passed.
    LineClient client = Connect();
    client.Send(std::string(TCmdServer::kMaxLineLength + 2, 'x'));
    EXPECT_EQ(client.ReadLine(), "<closed>");
  }
}

TEST_F(CmdServerTest, CommandRunsWhenClientClosesRightAfterSending) {
  {
    LineClient client = Connect();
    client.Send("COUNT\r\n");
    client.Close();
  }
  EXPECT_TRUE(WaitForCount(1));
  // The server is unharmed and serves the next client.
  LineClient client = Connect();
  client.Send("COUNT\r\n");
  EXPECT_EQ(client.ReadLine(), "200 Done");
}

TEST_F(CmdServerTest, DeactivationClosesIdleConnections) {
  LineClient first = Connect();
  LineClient second = Connect();
  server_.SetActive(false);
  EXPECT_FALSE(server_.Active());
  EXPECT_EQ(first.ReadLine(), "<closed>");
  EXPECT_EQ(second.ReadLine(), "<closed>");
}

TEST(CmdServerConfigTest, FallbackListensOnDefaultPortAndPortsAreChecked) {
  TCmdServer server;
  EXPECT_THROW(server.AddBinding("127.0.0.1", 65536), std::runtime_error);
  EXPECT_THROW(server.SetDefaultPort(-1), std::runtime_error);
  server.SetDefaultPort(0);
  server.SetActive(true);
  const std::vector<Endpoint> endpoints = server.ListeningEndpoints();
  ASSERT_FALSE(endpoints.empty());
  EXPECT_EQ(endpoints[0].address, "0.0.0.0");
  LineClient client(Endpoint{"127.0.0.1", endpoints[0].port, AF_INET}, kWaitMs);
  EXPECT_EQ(client.ReadLine(), "200 Welcome");
  client.Send("ANY\r\n");
  EXPECT_EQ(client.ReadLine(), "400-Unknown Command");
  EXPECT_EQ(client.ReadLine(), "400 ANY");
}

TEST(CmdReplyTest, WireForm) {
  EXPECT_EQ(FormatCmdReply({200, {}}), "200\r\n");
  EXPECT_EQ(FormatCmdReply({200, {"3"}}), "200 3\r\n");
  EXPECT_EQ(FormatCmdReply({400, {"Unknown Command", "HELLO"}}),
            "400-Unknown Command\r\n400 HELLO\r\n");
  EXPECT_EQ(FormatCmdReply({500, {"a\nb\r\nc"}}), "500-a\r\n500-b\r\n500 c\r\n");
}

}  // namespace
}  // namespace corvane
