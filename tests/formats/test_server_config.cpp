#include "formats/server_config.h"

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace corvane {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> ChildNames(const XmlElement& element) {
  std::vector<std::string> names;
  for (const XmlElement& child : element.Children()) names.push_back(child.Name());
  return names;
}

ServerConfig SampleConfig() {
  ServerConfig config;
  config.ftp = {"2121",
                "10",
                "win",
                "/var/log/corvane",
                "/etc/corvane/a.cer",
                "/etc/corvane/a.key",
                "500",
                {"127.0.0.1", "192.168.1.5"}};
  config.management = {"1010", "62#%8152@7&&", {"127.0.0.1"}};
  return config;
}

TEST(ServerConfigTest, WrittenFileReadsBackInTheFixedLayout) {
  TempDir dir;
  const std::string path = dir.File("gc.xml");
  WriteFile(path, "<global><Extra>dropped</Extra></global>");
  WriteServerConfig(path, SampleConfig());

  XmlElement root = XmlDocument::Load(path).DocumentElement();
  EXPECT_EQ(root.Name(), "global");
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"FTP", "Management"}));

  XmlElement ftp = root.Child(0);
  EXPECT_EQ(ChildNames(ftp), (std::vector<std::string>{"port", "maxcon", "authoption", "logdir",
                                                       "cert", "key", "bandwidth", "IP", "IP"}));
  EXPECT_EQ(ReadConfigInteger(ftp, "port"), 2121);
  EXPECT_EQ(ReadConfigInteger(ftp, "maxcon"), 10);
  EXPECT_EQ(ReadConfigText(ftp, "authoption"), "win");
  EXPECT_EQ(ReadConfigText(ftp, "logdir"), "/var/log/corvane");
  EXPECT_EQ(ReadConfigText(ftp, "cert"), "/etc/corvane/a.cer");
  EXPECT_EQ(ReadConfigText(ftp, "key"), "/etc/corvane/a.key");
  EXPECT_EQ(ReadConfigInteger(ftp, "bandwidth"), 500);
  EXPECT_EQ(ReadConfigAddress(ftp.Child(7)), "127.0.0.1");
  EXPECT_EQ(ReadConfigAddress(ftp.Child(8)), "192.168.1.5");

  XmlElement management = root.Child(1);
  EXPECT_EQ(ChildNames(management), (std::vector<std::string>{"port", "password", "IP"}));
  EXPECT_EQ(ReadConfigInteger(management, "port"), 1010);
  EXPECT_EQ(ReadConfigText(management, "password"), "62#%8152@7&&");
  EXPECT_EQ(ReadConfigAddress(management.Child(2)), "127.0.0.1");
}

TEST(ServerConfigTest, EmptyValuesAreWrittenAndReadAsAbsent) {
  TempDir dir;
  const std::string path = dir.File("gc.xml");
  WriteServerConfig(path, ServerConfig{});

  XmlElement root = XmlDocument::Load(path).DocumentElement();
  XmlElement ftp = root.Child(0);
  EXPECT_EQ(ChildNames(ftp), (std::vector<std::string>{"port", "maxcon", "authoption", "logdir",
                                                       "cert", "key", "bandwidth"}));
  EXPECT_EQ(ReadConfigInteger(ftp, "port"), std::nullopt);
  EXPECT_EQ(ReadConfigText(ftp, "cert"), std::nullopt);
  EXPECT_EQ(ChildNames(root.Child(1)), (std::vector<std::string>{"port", "password"}));
  EXPECT_EQ(ReadConfigText(root.Child(1), "password"), std::nullopt);
  EXPECT_EQ(ReadConfigText(root.Child(1), "missing"), std::nullopt);
}

TEST(ServerConfigTest, IntegersAreDecimal32BitWithOptionalSign) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;  // nullopt: the read throws
  };
  const Case cases[] = {
      {"21", 21},
      {"+21", 21},
      {"-1", -1},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", {}},
      {"-2147483649", {}},
      {"abc", {}},
      {"12x", {}},
      {" 5", {}},
      {"5 ", {}},
      {"0x10", {}},
      {"1.5", {}},
      {"+-1", {}},
      {"+", {}},
      {"-", {}},
  };
  TempDir dir;
  const std::string path = dir.File("gc.xml");
  for (const Case& c : cases) {
    WriteFile(path, std::string("<global><FTP><port>") + c.text + "</port></FTP></global>");
    XmlElement ftp = XmlDocument::Load(path).DocumentElement().Child(0);
    if (c.value) {
      EXPECT_EQ(ReadConfigInteger(ftp, "port"), c.value) << c.text;
      continue;
    }
    try {
      ReadConfigInteger(ftp, "port");
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const std::runtime_error& error) {
      const std::string message = error.what();
      EXPECT_NE(message.find("port"), std::string::npos) << message;
      EXPECT_NE(message.find(std::string("\"") + c.text + "\""), std::string::npos) << message;
    }
  }
}

TEST(ServerConfigTest, MalformedValuesThrow) {
  TempDir dir;
  const std::string path = dir.File("gc.xml");
  WriteFile(path,
            "<global><FTP><port><x>21</x></port><IP/><IP>  </IP><IP><a/></IP>"
            "<IP>10.0.0.1</IP></FTP></global>");
  XmlElement ftp = XmlDocument::Load(path).DocumentElement().Child(0);
  EXPECT_THROW(ReadConfigInteger(ftp, "port"), std::runtime_error);
  EXPECT_THROW(ReadConfigText(ftp, "port"), std::runtime_error);
  try {
    ReadConfigAddress(ftp.Child(1));
    ADD_FAILURE() << "an IP without text was accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("IP"), std::string::npos) << error.what();
  }
  EXPECT_EQ(ReadConfigAddress(ftp.Child(2)), "  ");  // blanks are text; binding them fails later
  EXPECT_THROW(ReadConfigAddress(ftp.Child(3)), std::runtime_error);
  EXPECT_EQ(ReadConfigAddress(ftp.Child(4)), "10.0.0.1");
}

TEST(ServerConfigTest, WriteFailureThrows) {
  TempDir dir;
  EXPECT_THROW(WriteServerConfig(dir.File("missing/gc.xml"), SampleConfig()), std::runtime_error);
}

}  // namespace
}  // namespace corvane
