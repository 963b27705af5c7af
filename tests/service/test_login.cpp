// Logins against users.xml: the user table loaded at activation, what a login sets in the
// connection's context, and the errors of a bad file or a bad stored bandwidth.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>

#include "service/ftp/ftp_engine.h"
#include "service/ftpserver.h"
#include "service/mycontext.h"
#include "tests/support/server_directory.h"

namespace corvane {
namespace {

using testing::CountOccurrences;

std::string Account(const std::string& fields, const std::string& element = "user") {
  return "<" + element + ">" + fields + "</" + element + ">";
}

std::string Field(const std::string& name, const std::string& value) {
  return "<" + name + ">" + value + "</" + name + ">";
}

std::string Enabled(const std::string& name, const std::string& password, const std::string& home,
                    const std::string& extra = "") {
  return Account(Field("username", name) + Field("password", password) + Field("homedir", home) +
                 Field("status", "1") + extra);
}

// A server object activated on loopback ports of the system's choice, in a program directory
// of its own holding the given users.xml (none when the text is empty).
class LoginTest : public ::testing::Test {
 protected:
  void TearDown() override { server_.reset(); }

  void Start(const std::string& users_xml) {
    if (!users_xml.empty()) testing::WriteFile(File("users.xml"), users_xml);
    server_ = std::make_unique<TFTPServer>(dir_.Path());
    server_->SetLogDir(File("logs"));
    server_->SetCertFile(File("default.cer"));
    server_->SetKeyFile(File("default.key"));
    server_->SetRulesFile(File("rules.txt"));
    server_->AddFtpBinding("127.0.0.1", 0);
    server_->AddManagementBinding("127.0.0.1", 0);
    server_->Activate();
    ASSERT_TRUE(server_->Engine().Active()) << MainLog();
  }

  void StartWithAccounts(const std::string& accounts) {
    Start("<?xml version=\"1.0\"?>\n<users>" + accounts + "</users>\n");
  }

  bool Login(TMyContext& context, const std::string& user, const std::string& password) {
    return server_->Engine().OnUserLogin(context, user, password);
  }

  std::string File(const std::string& name) const { return dir_.File(name); }

  std::string MainLog() const { return dir_.MainLog(); }

  testing::ServerDirectory dir_;
  std::unique_ptr<TFTPServer> server_;
};

TEST_F(LoginTest, EnabledAccountsLogInWithTheirHomeAndBandwidth) {
  StartWithAccounts(Enabled("bob", "Pw#1", "C:\\Ftp\\Bob", Field("bandwidth", "25")) +
                    Enabled("ann", "s3", "/srv/ftp/ann/") +
                    Enabled("cy", "c", "/srv/cy", Field("bandwidth", "")));
  EXPECT_NE(MainLog().find(" - Users loaded from xml file \r\n"), std::string::npos) << MainLog();

  TMyContext bob;
  bob.CurrentDir = "/was/here";
  ASSERT_TRUE(Login(bob, "bob", "Pw#1"));
  EXPECT_TRUE(bob.Authenticated);
  EXPECT_EQ(bob.Username, "bob");
  EXPECT_EQ(bob.HomeDir, "C:/Ftp/Bob");
  EXPECT_EQ(bob.CurrentDir, "/");
  EXPECT_EQ(bob.Bandwidth, 25);

  for (const char* name : {"ann", "cy"}) {
    TMyContext context;
    context.Bandwidth = 7;  // left from nothing: a login sets it
    ASSERT_TRUE(Login(context, name, name == std::string("ann") ? "s3" : "c")) << name;
    EXPECT_EQ(context.Bandwidth, 0) << name;
  }
  TMyContext ann;
  ASSERT_TRUE(Login(ann, "ann", "s3"));
  EXPECT_EQ(ann.HomeDir, "/srv/ftp/ann/");
}

TEST_F(LoginTest, RefusedLoginsChangeNothing) {
  StartWithAccounts(
      Enabled("bob", "Pw#1", "/srv/bob", Field("bandwidth", "25")) +
      Account(Field("username", "off") + Field("password", "p") + Field("homedir", "/srv/off") +
              Field("status", "0")) +
      Account(Field("username", "odd") + Field("password", "p") + Field("homedir", "/srv/odd") +
              Field("status", "yes")) +
      Account(Field("username", "none") + Field("password", "p") + Field("homedir", "/srv/none")));
  const struct {
    const char* user;
    const char* password;
  } refused[] = {{"bob", "pw#1"}, {"Bob", "Pw#1"}, {"BOB", "Pw#1"}, {"bob", "Pw#1 "}, {"bob", ""},
                 {"off", "p"},    {"odd", "p"},    {"none", "p"},   {"nobody", "x"},  {"", ""}};
  for (const auto& attempt : refused) {
    TMyContext context;
    context.CurrentDir = "/kept";
    context.Bandwidth = 3;
    EXPECT_FALSE(Login(context, attempt.user, attempt.password)) << attempt.user;
    EXPECT_FALSE(context.Authenticated);
    EXPECT_EQ(context.Username, "");
    EXPECT_EQ(context.HomeDir, "");
    EXPECT_EQ(context.CurrentDir, "/kept");
    EXPECT_EQ(context.Bandwidth, 3);
  }
  // One activity line per attempt, whatever its outcome, without name or password.
  TMyContext context;
  EXPECT_TRUE(Login(context, "bob", "Pw#1"));
  const std::string log = MainLog();
  EXPECT_EQ(CountOccurrences(log, " -  Loging in.... \r\n"), std::size(refused) + 1) << log;
  EXPECT_EQ(log.find("Pw#1"), std::string::npos) << log;
}

TEST_F(LoginTest, LaterAccountOfTheSameNameAndAnyChildElementCount) {
  StartWithAccounts(Enabled("dup", "old", "/srv/old") + Enabled("dup", "new", "/srv/new") +
                    Account(Field("username", "other") + Field("password", "o") +
                                Field("homedir", "/srv/o") + Field("status", "1"),
                            "account"));
  TMyContext old_password, new_password, other;
  EXPECT_FALSE(Login(old_password, "dup", "old"));
  ASSERT_TRUE(Login(new_password, "dup", "new"));
  EXPECT_EQ(new_password.HomeDir, "/srv/new");
  EXPECT_TRUE(Login(other, "other", "o"));
}

TEST_F(LoginTest, BandwidthThatIsNoNumberFailsTheLoginAndReleasesTheLock) {
  StartWithAccounts(Enabled("bad", "b", "/srv/bad", Field("bandwidth", "12a")) +
                    Enabled("big", "b", "/srv/big", Field("bandwidth", "99999999999")) +
                    Enabled("bob", "Pw#1", "/srv/bob"));
  for (const char* user : {"bad", "big"}) {
    TMyContext context;
    context.Bandwidth = 3;
    EXPECT_THROW(Login(context, user, "b"), std::runtime_error) << user;
    EXPECT_FALSE(context.Authenticated);
    EXPECT_EQ(context.HomeDir, "");
    EXPECT_EQ(context.Bandwidth, 3);
  }
  // Had the error kept the users lock, this login would wait forever.
  auto next = std::async(std::launch::async, [this] {
    TMyContext context;
    return Login(context, "bob", "Pw#1");
  });
  ASSERT_EQ(next.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(next.get());
}

TEST_F(LoginTest, NoUsersFileMeansNoAccountsAndNoLine) {
  Start("");
  TMyContext context;
  EXPECT_FALSE(Login(context, "bob", "Pw#1"));
  EXPECT_EQ(MainLog().find("Users loaded"), std::string::npos) << MainLog();
}

TEST_F(LoginTest, UnreadableUsersFileIsLoggedAtActivation) {
  Start("<users><user><username>bob</username>");
  const std::string log = MainLog();
  EXPECT_NE(log.find("is not well-formed"), std::string::npos) << log;
  EXPECT_EQ(log.find("Users loaded"), std::string::npos) << log;
  TMyContext context;
  EXPECT_FALSE(Login(context, "bob", "Pw#1"));
  EXPECT_TRUE(server_->Engine().Active());
}

TEST_F(LoginTest, EnabledAccountWithoutARequiredTextStopsTheLoad) {
  const struct {
    std::string broken;
    const char* missing;
  } cases[] = {
      {Account(Field("password", "p") + Field("homedir", "/h") + Field("status", "1")), "username"},
      {Account(Field("username", "late") + Field("password", "") + Field("homedir", "/h") +
               Field("status", "1")),
       "password"},
      {Account(Field("username", "late") + Field("password", "p") + Field("status", "1")),
       "homedir"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    TearDown();  // a fresh server object for each case
    StartWithAccounts(Enabled("first", "f", "/srv/first") + c.broken +
                      Enabled("after", "a", "/srv/after"));
    const std::string log = MainLog();
    EXPECT_NE(log.find(std::string("has no ") + c.missing + " text"), std::string::npos) << log;
    EXPECT_EQ(log.find("Users loaded"), std::string::npos) << log;
    TMyContext first, after, late;
    EXPECT_TRUE(Login(first, "first", "f"));
    EXPECT_FALSE(Login(after, "after", "a"));
    EXPECT_FALSE(Login(late, "late", "p"));
  }
}

}  // namespace
}  // namespace corvane
