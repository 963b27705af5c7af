#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/tcp_client.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftpserver.h"
#include "service/net/cmd_server.h"
#include "tests/support/server_directory.h"

namespace corvane {
namespace {

using testing::CountOccurrences;

using std::chrono::milliseconds;

constexpr milliseconds kWait{5000};
constexpr const char* kPassword = "Se#cret%7&";
constexpr const char* kUnauthorized = " - Unauthorized request received at management port ";

// A server object with an FTP listener and a management listener on loopback ports that the
// system chooses, in a program directory of its own with a fresh certificate.
class ManagementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<TFTPServer>(dir_.Path());
    server_->SetLogDir(File("logs"));
    server_->SetManagementPassword(kPassword);
    server_->SetCertFile(File("default.cer"));
    server_->SetKeyFile(File("default.key"));
    server_->SetRulesFile(File("rules.txt"));
    server_->AddFtpBinding("127.0.0.1", 0);
    server_->AddManagementBinding("127.0.0.1", 0);
    server_->Activate();
    ASSERT_TRUE(server_->ManagementServer().Active()) << MainLog();
  }

  void TearDown() override { server_.reset(); }

  std::string File(const std::string& name) const { return dir_.File(name); }

  void WriteFile(const std::string& name, const std::string& content) {
    testing::WriteFile(File(name), content);
  }

  std::string MainLog() const { return dir_.MainLog(); }

  TcpClient ConnectTo(const Endpoint& endpoint) {
    return TcpClient::Connect("127.0.0.1", endpoint.port, kWait);
  }

  // A management connection past its greeting.
  TcpClient Management() {
    TcpClient client = ConnectTo(server_->ManagementServer().ListeningEndpoints().at(0));
    EXPECT_EQ(client.ReadLine(kWait, 1000), "200 Welcome");
    return client;
  }

  TcpClient Ftp() { return ConnectTo(server_->Engine().ListeningEndpoints().at(0)); }

  std::string Ask(TcpClient& client, const std::string& request) {
    client.SendAll(request + "\r\n", kWait);
    return client.ReadLine(kWait, 1000);
  }

  testing::ServerDirectory dir_;
  std::unique_ptr<TFTPServer> server_;
};

TEST_F(ManagementTest, UsersStatusCountsOpenFtpConnections) {
  TcpClient management = Management();
  EXPECT_EQ(Ask(management, std::string("USERSSTATUS ") + kPassword), "200 0");

  // Neither client logs in; both count once the server has greeted them.
  TcpClient first = Ftp();
  TcpClient second = Ftp();
  EXPECT_EQ(first.ReadLine(kWait, 1000).substr(0, 4), "220 ");
  EXPECT_EQ(second.ReadLine(kWait, 1000).substr(0, 4), "220 ");
  EXPECT_EQ(Ask(management, std::string("usersstatus ") + kPassword), "200 2");
  EXPECT_EQ(Ask(management, std::string("UsersStatus  ") + kPassword + "  and more words"),
            "200 2");
}

TEST_F(ManagementTest, WrongOrMissingPassword) {
  TcpClient management = Management();
  for (const std::string& wrong :
       {std::string("USERSSTATUS se#cret%7&"), std::string("USERSRELOAD Se#cret%7"),
        std::string("RULESRELOAD Se#cret%7&&"), std::string("usersstatus x Se#cret%7&")}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(Ask(management, wrong), "201 Authorization failed");
  }
  EXPECT_EQ(CountOccurrences(MainLog(), kUnauthorized), 4u);

  // No parameter at all: refused without a log line; the connection stays usable throughout.
  for (const char* bare : {"USERSSTATUS", "USERSRELOAD ", "rulesreload    "}) {
    SCOPED_TRACE(bare);
    EXPECT_EQ(Ask(management, bare), "500 Password required");
  }
  EXPECT_EQ(CountOccurrences(MainLog(), kUnauthorized), 4u);
  EXPECT_EQ(Ask(management, std::string("USERSSTATUS ") + kPassword), "200 0");
}

TEST_F(ManagementTest, UsersReload) {
  TcpClient management = Management();
  // No users.xml: nothing to load, still done.
  EXPECT_EQ(Ask(management, std::string("USERSRELOAD ") + kPassword), "200 Done");

  WriteFile("users.xml", "<users><user><username>a</username>");
  const std::string reply = Ask(management, std::string("USERSRELOAD ") + kPassword);
  EXPECT_EQ(reply.substr(0, 4), "500 ") << reply;
  EXPECT_GT(reply.size(), 4u);
}

TEST_F(ManagementTest, RulesReloadAppliesToNewConnections) {
  TcpClient admitted = Ftp();
  EXPECT_EQ(admitted.ReadLine(kWait, 1000).substr(0, 4), "220 ");

  WriteFile("rules.txt", "POLICY REJECT\r\n");
  TcpClient management = Management();
  EXPECT_EQ(Ask(management, "RULESRELOAD wrong"), "201 Authorization failed");
  TcpClient still_admitted = Ftp();
  EXPECT_EQ(still_admitted.ReadLine(kWait, 1000).substr(0, 4), "220 ");

  EXPECT_EQ(Ask(management, std::string("RULESRELOAD ") + kPassword), "200 Done");
  TcpClient refused = Ftp();
  EXPECT_THROW(refused.ReadLine(kWait, 1000), std::runtime_error);  // closed without greeting
  EXPECT_NE(MainLog().find(" - 127.0.0.1 Rejecting as per default policy. "), std::string::npos);

  // A missing rules file leaves no rules and keeps the policy: still refused.
  std::filesystem::remove(File("rules.txt"));
  EXPECT_EQ(Ask(management, std::string("RULESRELOAD ") + kPassword), "200 Done");
  TcpClient refused_again = Ftp();
  EXPECT_THROW(refused_again.ReadLine(kWait, 1000), std::runtime_error);
}

}  // namespace
}  // namespace corvane
