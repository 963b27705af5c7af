// PORT, EPRT, PASV, SPSV, EPSV and the file commands against an in-process engine.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "service/ftp/ftp_engine.h"
#include "service/net/endpoint.h"
#include "test_data_support.h"

namespace corvane {
namespace {

using datatest::FtpClient;
using datatest::kWaitMs;
using datatest::TestServer;

class DataCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }

  TestServer server_;
};

TEST_F(DataCommandsTest, PortAndEprtAnswerAsWritten) {
  const bool ipv6 = HostSupportsIpv6();
  const std::pair<std::string, std::string> cases[] = {
      {"PORT 127,0,0,1,0,21", "504 PORT/EPRT Command disabled for reserved port range (1-1024)."},
      {"PORT 127,0,0,1,4,0", "504 PORT/EPRT Command disabled for reserved port range (1-1024)."},
      {"PORT 127,0,0,2,19,137",
       "504 Data port can only be used by the same IP address used by the control connection."},
      {"PORT 127,0,0,1,x,1", "501 Syntax: PORT <sp> h1,h2,h3,h4,p1,p2 (each a number 0 to 255)"},
      {"EPRT |1|127.0.0.1|98505|", "501 Syntax: EPRT <sp> |proto|addr|port| (port 0 to 65535)"},
      {"PORT 127,0,0,1,19,137", "200 PORT Command successful."},
      {"EPRT", "501 Invalid number of arguments EPRT"},
      {"EPRT |3|127.0.0.1|5000|", "522 Network protocol mismatch, use (1)"},
      {"EPRT |2|::1|5000|", ipv6 ? "522 Network protocol mismatch, use (1)"
                                 : "522 Network protocol not supported, use (1)"},
      {"EPRT |1|127.0.0.1|0|", "500 Invalid port number"},
      {"EPRT |1|127.0.0.1|1024|",
       "504 PORT/EPRT Command disabled for reserved port range (1-1024)."},
      {"EPRT |1||5000|", "500 Invalid IP Address"},
      {"EPRT |1|127.0.0.2|5000|",
       "504 Data port can only be used by the same IP address used by the control connection."},
      {"EPRT |1|127.0.0.1|5000|", "200 EPRT Command successful."},
      {"EPSV 3", "522 Protocol not supported, use (1)"},
      {"EPSV foo", ipv6 ? "522 Network protocol not supported, use (1,2)"
                        : "522 Network protocol not supported, use (1)"},
      {"EPSV 2", ipv6 ? "522 Network protocol mismatch, use (1)"
                      : "522 Network protocol not supported, use (1)"},
  };
  FtpClient client(server_.Address());
  EXPECT_EQ(client.Command("PORT 127,0,0,1,19,137"), "530 Not logged in.");
  client.Login();
  for (const auto& [command, reply] : cases) EXPECT_EQ(client.Command(command), reply) << command;
}

TEST_F(DataCommandsTest, ARefusedPortBlocksTransfersUntilAChannelIsPreparedAgain) {
  FtpClient client(server_.Address());
  client.Login();
  EXPECT_EQ(client.Command("RETR a.txt"), "425 Can't open data connection.");
  ASSERT_EQ(client.Command("PASV").substr(0, 4), "227 ");
  EXPECT_EQ(client.Command("PORT 127,0,0,1,0,21").substr(0, 4), "504 ");
  EXPECT_EQ(client.Command("RETR a.txt"), "425 Can't open data connection.");
  EXPECT_EQ(client.Command("EPRT |1|127.0.0.2|5000|").substr(0, 4), "504 ");
  EXPECT_EQ(client.Command("STOR a.txt"), "425 Can't open data connection.");
  ASSERT_EQ(client.Command("SPSV").substr(0, 4), "227 ");
  // The channel is usable again: the handler runs (and fails on the missing file).
  EXPECT_EQ(client.Command("RETR a.txt").substr(0, 20), "550 Cannot open file");
}

TEST_F(DataCommandsTest, EpsvAllRefusesEveryOtherWayButEprtAndEpsv) {
  FtpClient client(server_.Address());
  client.Login();
  EXPECT_EQ(client.Command("EPSV all"), "200  EPSV ALL sent, now only accepting EPSV connections");
  for (const std::string word : {"PASV", "P@SW", "SPSV", "PORT"}) {
    const std::string argument = word == "PORT" ? " 127,0,0,1,19,137" : "";
    EXPECT_EQ(client.Command(word + argument), "501 " + word + " not allowed after EPSV ALL");
  }
  EXPECT_EQ(client.Command("EPRT |1|127.0.0.1|5000|"), "200 EPRT Command successful.");
  EXPECT_EQ(client.Command("EPSV").substr(0, 4), "229 ");
  // REIN forgets EPSV ALL.
  EXPECT_EQ(client.Command("REIN").substr(0, 4), "220 ");
  client.Login();
  EXPECT_EQ(client.Command("PASV").substr(0, 4), "227 ");
}

TEST_F(DataCommandsTest, PassiveRepliesNameAListeningPort) {
  struct Case {
    const char* command;
    const char* pattern;  // the port's high and low parts, or the whole port
  };
  const Case cases[] = {
      {"PASV", R"(227 Entering Passive Mode \(127,0,0,1,(\d+),(\d+)\)\.)"},
      {"P@SW", R"(227 Entering Passive Mode \(127,0,0,1,(\d+),(\d+)\)\.)"},
      {"SPSV", R"(227 (\d+))"},
      {"EPSV", R"(229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\))"},
      {"EPSV 1", R"(229 Entering Extended Passive Mode \(\|\|\|(\d+)\|\))"},
  };
  FtpClient client(server_.Address());
  client.Login();
  for (const Case& c : cases) {
    const int binds = server_.binds;
    const std::string reply = client.Command(c.command);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(reply, match, std::regex(c.pattern)))
        << c.command << ": " << reply;
    const int port =
        match.size() == 3 ? std::stoi(match[1]) * 256 + std::stoi(match[2]) : std::stoi(match[1]);
    EXPECT_GT(port, 1024) << c.command;  // a port of the system's choice, never 20
    EXPECT_EQ(server_.binds, binds + 1) << c.command;
    TcpSocket data = TcpSocket::Open(AF_INET, nullptr);
    EXPECT_NO_THROW(data.Connect(Endpoint{"127.0.0.1", static_cast<std::uint16_t>(port)}, kWaitMs))
        << c.command;
  }
}

TEST(DataPortRange, PassiveListenersTakeTheFirstFreePortOfTheRange) {
  // A port that was free a moment ago, and the one above it.
  TcpSocket probe = TcpSocket::Open(AF_INET, nullptr);
  probe.Bind(Endpoint{"127.0.0.1", 0, AF_INET}, false);
  const std::uint16_t low = probe.LocalEndpoint().port;
  probe.Close();
  TestServer server;
  server.engine.PASVBoundPortMin = low;
  server.engine.PASVBoundPortMax = low;
  server.Start();
  FtpClient first(server.Address());
  first.Login();
  EXPECT_EQ(first.Command("SPSV"), "227 " + std::to_string(low));
  FtpClient second(server.Address());
  second.Login();
  const std::string range = std::to_string(low) + " - " + std::to_string(low);
  EXPECT_EQ(second.Command("SPSV"), "500 Can not bind in port range (" + range + ")");
  EXPECT_EQ(second.Command("RETR x"), "425 Can't open data connection.");
  // Freed by ABOR, the port serves the next listener.
  EXPECT_EQ(first.Command("ABOR"), "226 Closing data connection.");
  EXPECT_EQ(second.Command("SPSV"), "227 " + std::to_string(low));
}

TEST_F(DataCommandsTest, FileCommandsHandCanonicalPathsToTheHandlers) {
  std::vector<std::string> calls;
  auto record = [&calls](const char* name, const char* failing, const char* failure) {
    return [&calls, name, failing, failure](TFtpContext&, const std::string& path) {
      calls.push_back(std::string(name) + " " + path);
      if (path == failing) throw std::runtime_error(failure);
    };
  };
  server_.engine.OnDeleteFile = record("delete", "/a/missing", "File dont exist");
  server_.engine.OnMakeDirectory = record("mkdir", "/a/bad", "Failed to create dir");
  server_.engine.OnRemoveDirectory = record("rmdir", "/a/bad", "Failed to remove dir");
  server_.engine.OnRenameFile = [&calls](TFtpContext&, const std::string& from,
                                         const std::string& to) {
    calls.push_back("rename " + from + " " + to);
    if (to == "/a/taken") throw std::runtime_error("Failed to rename");
  };
  const std::pair<std::string, std::string> cases[] = {
      {"RNTO y", "550 Failed to rename"},  // no RNFR yet
      {"CWD /a", "250 CWD Command successful."},
      {"DELE ..\\b.txt", "250 Requested file action okay, completed."},
      {"DELE missing", "550 File dont exist"},
      {"MKD new/", "257 Requested file action okay, completed."},
      {"MKD bad", "550 Failed to create dir"},
      {"XMKD bad", "551 Failed to create dir"},
      {"RMD /a/old", "250 Requested file action okay, completed."},
      {"RMD bad", "550 Failed to remove dir"},
      {"XRMD bad", "551 Failed to remove dir"},
      {"RNFR x", "350 Requested file action pending further information."},
      {"RNTO y", "250 Ok"},
      {"RNTO taken", "550 Failed to rename"},  // RNFR stays set
  };
  FtpClient client(server_.Address());
  client.Login();
  for (const auto& [command, reply] : cases) EXPECT_EQ(client.Command(command), reply) << command;
  const std::vector<std::string> expected = {
      "delete /b.txt",    "delete /a/missing",   "mkdir /a/new/", "mkdir /a/bad",
      "mkdir /a/bad",     "rmdir /a/old",        "rmdir /a/bad",  "rmdir /a/bad",
      "rename /a/x /a/y", "rename /a/x /a/taken"};
  EXPECT_EQ(calls, expected);
}

}  // namespace
}  // namespace corvane
