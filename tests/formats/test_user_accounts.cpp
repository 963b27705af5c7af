#include "formats/user_accounts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/xml_document.h"
#include "tests/support/test_files.h"

namespace corvane {

void PrintTo(const AccountSummary& a, std::ostream* os) {
  *os << "{" << a.name << ", " << a.homedir << ", " << a.status << ", " << a.bandwidth << "}";
}

namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> ChildNames(const XmlElement& element) {
  std::vector<std::string> names;
  for (const XmlElement& child : element.Children()) names.push_back(child.Name());
  return names;
}

std::vector<EnabledAccount> LoadAll(const std::string& path, bool* found = nullptr) {
  std::vector<EnabledAccount> entered;
  bool result = LoadEnabledAccounts(path, [&](const EnabledAccount& a) { entered.push_back(a); });
  if (found) *found = result;
  return entered;
}

std::string User(const std::string& fields) {
  return "<user>" + fields + "</user>";
}
std::string Field(const std::string& name, const std::string& text) {
  return "<" + name + ">" + text + "</" + name + ">";
}

TEST(UserAccountsTest, MissingFileIsEmptyAndNotCreatedByReaders) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  EXPECT_TRUE(ListAccounts(path).empty());
  bool found = true;
  EXPECT_TRUE(LoadAll(path, &found).empty());
  EXPECT_FALSE(found);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(UserAccountsTest, CreateAppendsAnAccountInTheFixedLayout) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  CreateAccount(path, "bob", "s3cret", "/srv/ftp/bob", "1", "0");
  CreateAccount(path, "bob", "other", "/srv/ftp/bob2", "0", "25");  // duplicates are allowed

  XmlElement root = XmlDocument::Load(path).DocumentElement();
  EXPECT_EQ(root.Name(), "users");
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"user", "user"}));
  EXPECT_EQ(ChildNames(root.Child(0)),
            (std::vector<std::string>{"username", "password", "homedir", "status", "bandwidth"}));
  EXPECT_EQ(root.Child(1).ChildValue("password"), "other");

  EXPECT_EQ(ListAccounts(path), (std::vector<AccountSummary>{{"bob", "/srv/ftp/bob", "1", "0"},
                                                             {"bob", "/srv/ftp/bob2", "0", "25"}}));
}

TEST(UserAccountsTest, UpdateChangesEveryAccountOfTheNameButNeverThePassword) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  WriteFile(path,
            "<users>" +
                User(Field("username", "ann") + Field("password", "p1") + Field("homedir", "/a") +
                     Field("status", "0")) +
                User(Field("username", "Ann") + Field("password", "p2") + Field("homedir", "/b") +
                     Field("status", "0") + Field("bandwidth", "3")) +
                "<other>" + Field("bandwidth", "9") + Field("username", "ann") +
                Field("password", "p3") + "</other></users>");
  UpdateAccount(path, "ann", "/new", "1", "50");

  XmlElement root = XmlDocument::Load(path).DocumentElement();
  EXPECT_EQ(ChildNames(root.Child(0)),
            (std::vector<std::string>{"username", "password", "homedir", "status", "bandwidth"}));
  EXPECT_EQ(ChildNames(root.Child(2)),
            (std::vector<std::string>{"bandwidth", "username", "password", "homedir", "status"}));
  EXPECT_EQ(root.Child(0).ChildValue("password"), "p1");
  EXPECT_EQ(root.Child(2).ChildValue("password"), "p3");
  EXPECT_EQ(ListAccounts(path),
            (std::vector<AccountSummary>{
                {"ann", "/new", "1", "50"}, {"Ann", "/b", "0", "3"}, {"ann", "/new", "1", "50"}}));
}

TEST(UserAccountsTest, SetStatusChangesEveryAccountOfTheName) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  WriteFile(path, "<users>" + User(Field("username", "x") + Field("status", "1")) +
                      User(Field("username", "y") + Field("status", "1")) +
                      User(Field("username", "x")) + "</users>");
  SetAccountStatus(path, "x", "0");
  EXPECT_EQ(
      ListAccounts(path),
      (std::vector<AccountSummary>{{"x", "", "0", "0"}, {"y", "", "1", "0"}, {"x", "", "0", "0"}}));
  XmlElement third = XmlDocument::Load(path).DocumentElement().Child(2);
  EXPECT_EQ(ChildNames(third), (std::vector<std::string>{"username", "status"}));
}

TEST(UserAccountsTest, DeleteRemovesEveryAccountOfTheNameWithoutSkipping) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  std::string accounts;
  for (const char* name : {"a", "a", "b", "A", "a", "c", "a"}) {
    accounts += User(Field("username", name));
  }
  WriteFile(path, "<users><!-- kept -->" + accounts + "</users>");
  DeleteAccount(path, "a");
  std::vector<std::string> left;
  for (const AccountSummary& account : ListAccounts(path)) left.push_back(account.name);
  EXPECT_EQ(left, (std::vector<std::string>{"b", "A", "c"}));
  EXPECT_NE(ReadFile(path).find("<!-- kept -->"), std::string::npos);
}

TEST(UserAccountsTest, StatusChangeAndDeleteCreateAnEmptyFileWhenMissing) {
  TempDir dir;
  for (int operation = 0; operation < 2; ++operation) {
    const std::string path = dir.File("users" + std::to_string(operation) + ".xml");
    if (operation == 0) SetAccountStatus(path, "nobody", "1");
    if (operation == 1) DeleteAccount(path, "nobody");
    XmlElement root = XmlDocument::Load(path).DocumentElement();
    EXPECT_EQ(root.Name(), "users");
    EXPECT_EQ(root.ChildCount(), 0u);
  }
}

TEST(UserAccountsTest, ListingReadsAnyChildAndDefaultsMissingValues) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  WriteFile(path, "<accounts>" +
                      User(Field("username", "u1") + Field("homedir", "/h") + "<status/>" +
                           "<bandwidth></bandwidth>") +
                      "<member>" + Field("username", "u2") + Field("status", "yes") +
                      "</member><user/></accounts>");
  EXPECT_EQ(ListAccounts(path),
            (std::vector<AccountSummary>{
                {"u1", "/h", "0", "0"}, {"u2", "", "yes", "0"}, {"", "", "0", "0"}}));
}

TEST(UserAccountsTest, LoadEntersOnlyStatusOneInFileOrder) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  std::string accounts;
  int number = 0;
  for (const char* status : {"1", "0", "", " 1", "01", "yes", "1"}) {
    std::string name = "u" + std::to_string(number++);
    accounts += User(Field("username", name) + Field("password", "p" + name) +
                     Field("homedir", "/home/" + name) + Field("status", status) +
                     (number == 1 ? Field("bandwidth", "25") : ""));
  }
  accounts += User(Field("username", "nostatus") + Field("password", "p") + Field("homedir", "/"));
  accounts += "<admin>" + Field("status", "1") + Field("username", "u0") +
              Field("password", "later") + Field("homedir", "/later") + "</admin>";
  WriteFile(path, "<users>" + accounts + "</users>");

  bool found = false;
  std::vector<EnabledAccount> entered = LoadAll(path, &found);
  EXPECT_TRUE(found);
  ASSERT_EQ(entered.size(), 3u);
  EXPECT_EQ(entered[0].name, "u0");
  EXPECT_EQ(entered[0].password, "pu0");
  EXPECT_EQ(entered[0].homedir, "/home/u0");
  EXPECT_EQ(entered[0].bandwidth, "25");
  EXPECT_EQ(entered[1].name, "u6");
  EXPECT_EQ(entered[1].bandwidth, "0");
  EXPECT_EQ(entered[2].name, "u0");  // a later duplicate comes later, so it wins in the table
  EXPECT_EQ(entered[2].password, "later");
}

TEST(UserAccountsTest, EnabledAccountWithoutRequiredTextStopsTheLoadThere) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  const std::string good = User(Field("username", "ok") + Field("password", "p") +
                                Field("homedir", "/h") + Field("status", "1"));
  const std::string disabled = User(Field("username", "off") + Field("status", "0"));
  const std::string after = User(Field("username", "after") + Field("password", "p") +
                                 Field("homedir", "/h") + Field("status", "1"));
  struct Case {
    std::string broken;
    const char* missing;
  };
  const Case cases[] = {
      {User(Field("username", "bad") + Field("homedir", "/h") + Field("status", "1")), "password"},
      {User(Field("username", "bad") + Field("password", "p") + "<homedir/>" +
            Field("status", "1")),
       "homedir"},
      {User(Field("password", "p") + Field("homedir", "/h") + Field("status", "1")), "username"},
  };
  for (const Case& c : cases) {
    WriteFile(path, "<users>" + good + disabled + c.broken + after + "</users>");
    std::vector<std::string> entered;
    try {
      LoadEnabledAccounts(path, [&](const EnabledAccount& a) { entered.push_back(a.name); });
      ADD_FAILURE() << "no error for a missing " << c.missing;
    } catch (const std::runtime_error& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find(c.missing), std::string::npos) << message;
      EXPECT_NE(message.find("account 3"), std::string::npos) << message;
    }
    EXPECT_EQ(entered, (std::vector<std::string>{"ok"})) << c.missing;
  }
}

TEST(UserAccountsTest, MalformedFileFailsEveryOperationAndStaysUnchanged) {
  TempDir dir;
  const std::string path = dir.File("users.xml");
  const std::string broken = "<users><user><username>a</username></users>";
  WriteFile(path, broken);
  EXPECT_THROW(CreateAccount(path, "b", "p", "/", "1", "0"), std::runtime_error);
  EXPECT_THROW(UpdateAccount(path, "a", "/", "1", "0"), std::runtime_error);
  EXPECT_THROW(SetAccountStatus(path, "a", "1"), std::runtime_error);
  EXPECT_THROW(DeleteAccount(path, "a"), std::runtime_error);
  EXPECT_THROW(ListAccounts(path), std::runtime_error);
  EXPECT_THROW(LoadAll(path), std::runtime_error);
  EXPECT_EQ(ReadFile(path), broken);
}

}  // namespace
}  // namespace corvane
