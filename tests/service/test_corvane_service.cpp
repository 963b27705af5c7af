#include "service/corvane_service.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane {
namespace {

using corvane::testing::TempDir;

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Writes every event and every call on the server object into one journal, in order.
class Journal : public EventSink {
 public:
  void Information(const std::string& text) override { lines.push_back("event " + text); }
  void Error(const std::string& text) override { lines.push_back("error " + text); }
  Lines lines;
};

class RecordingServer : public ServiceServer {
 public:
  explicit RecordingServer(Lines& lines) : lines_(lines) {}

  void SetManagementPassword(const std::string& v) override { Add("SetManagementPassword " + v); }
  void SetAuthOption(const std::string& v) override { Add("SetAuthOption " + v); }
  void SetCertFile(const std::string& v) override { Add("SetCertFile " + v); }
  void SetKeyFile(const std::string& v) override { Add("SetKeyFile " + v); }
  void SetLogDir(const std::string& v) override {
    log_dir_ = v;
    Add("SetLogDir " + v);
  }
  void SetRulesFile(const std::string& v) override { Add("SetRulesFile " + v); }
  void SetBandwidth(std::int32_t v) override { Add("SetBandwidth " + std::to_string(v)); }
  void SetMaxConnections(std::int32_t v) override { Add("SetMaxConnections " + std::to_string(v)); }
  std::string LogDir() const override { return log_dir_; }
  void AddFtpBinding(const std::string& a, int p) override {
    Add("AddFtpBinding " + a + " " + std::to_string(p));
  }
  void AddManagementBinding(const std::string& a, int p) override {
    Add("AddManagementBinding " + a + " " + std::to_string(p));
  }
  void SetFallbackPorts(int, int) override {}
  void Activate() override { Add("Activate"); }
  void Deactivate() override { Add("Deactivate"); }

 private:
  void Add(const std::string& line) { lines_.push_back(line); }

  Lines& lines_;
  std::string log_dir_;
};

class CorvaneServiceTest : public ::testing::Test {
 protected:
  CorvaneServiceTest()
      : dir_(program_.Path()), service_(dir_, journal_, [this](const std::string& directory) {
          journal_.lines.push_back("create " + directory);
          return std::make_unique<RecordingServer>(journal_.lines);
        }) {}

  void WriteConfig(const std::string& xml) { std::ofstream(dir_ + "/gc.xml") << xml; }

  // The journal of a start, without the lines every start begins with.
  Lines StartAfterDefaults() {
    service_.ServiceStart();
    return AfterDefaults();
  }
  Lines AfterDefaults() const {
    const Lines& lines = journal_.lines;
    const Lines defaults = Defaults();
    EXPECT_GE(lines.size(), defaults.size());
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + defaults.size()), defaults);
    return Lines(lines.begin() + defaults.size(), lines.end());
  }
  Lines Defaults() const {
    return {"event Starting Corvane service",
            "create " + dir_,
            "SetManagementPassword 62#%8152@7&&",
            "SetAuthOption xml",
            "SetCertFile " + dir_ + "/default.cer",
            "SetKeyFile " + dir_ + "/default.key",
            "SetLogDir " + dir_ + "/logs",
            "SetRulesFile " + dir_ + "/rules.txt",
            "SetBandwidth 0"};
  }
  std::string StartError() {
    try {
      service_.ServiceStart();
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "(started)";
  }

  TempDir program_;
  const std::string dir_;
  Journal journal_;
  TCorvaneService service_;
};

TEST_F(CorvaneServiceTest, WithoutConfigurationBindsLoopbackAndCreatesNoLogDirectory) {
  EXPECT_EQ(service_.Server(), nullptr);
  EXPECT_EQ(StartAfterDefaults(),
            (Lines{"AddFtpBinding 127.0.0.1 21", "AddManagementBinding 127.0.0.1 1010", "Activate",
                   "event Corvane Service started"}));
  EXPECT_NE(service_.Server(), nullptr);
  EXPECT_FALSE(fs::exists(dir_ + "/logs"));
}

TEST_F(CorvaneServiceTest, DirectoryNamedLikeTheConfigurationCountsAsMissing) {
  fs::create_directory(dir_ + "/gc.xml");
  EXPECT_EQ(StartAfterDefaults()[0], "AddFtpBinding 127.0.0.1 21");
}

TEST_F(CorvaneServiceTest, AppliesEveryValueInTheFixedOrderThenBindsEachIp) {
  const std::string logs = dir_ + "/ftplogs";
  WriteConfig(
      "<global><FTP><IP>10.0.0.1</IP><bandwidth>10</bandwidth><key>/k.pem</key>"
      "<cert>/c.pem</cert><logdir>" +
      logs +
      "</logdir><authoption>win</authoption><maxcon>5</maxcon><port>2121</port>"
      "<IP>127.0.0.1</IP></FTP>"
      "<Management><IP>127.0.0.1</IP><password>secret</password><port>1111</port></Management>"
      "</global>");
  EXPECT_EQ(
      StartAfterDefaults(),
      (Lines{"SetMaxConnections 5", "SetAuthOption win", "SetLogDir " + logs, "SetCertFile /c.pem",
             "SetKeyFile /k.pem", "SetBandwidth 10", "AddFtpBinding 10.0.0.1 2121",
             "event Configuring Corvane Service on IP: 10.0.0.1:2121",
             "AddFtpBinding 127.0.0.1 2121",
             "event Configuring Corvane Service on IP: 127.0.0.1:2121",
             "SetManagementPassword secret", "AddManagementBinding 127.0.0.1 1111",
             "event Configuring Corvane Management Service on IP: 127.0.0.1:1111", "Activate",
             "event Corvane Service started"}));
  EXPECT_TRUE(fs::is_directory(logs));
}

TEST_F(CorvaneServiceTest, ManagementBeforeFtpWorksAlike) {
  WriteConfig(
      "<global><Management><port>1111</port><IP>127.0.0.1</IP></Management>"
      "<FTP><port>2121</port><IP>127.0.0.1</IP></FTP></global>");
  EXPECT_EQ(StartAfterDefaults(),
            (Lines{"AddManagementBinding 127.0.0.1 1111",
                   "event Configuring Corvane Management Service on IP: 127.0.0.1:1111",
                   "SetLogDir " + dir_ + "/logs", "AddFtpBinding 127.0.0.1 2121",
                   "event Configuring Corvane Service on IP: 127.0.0.1:2121", "Activate",
                   "event Corvane Service started"}));
}

TEST_F(CorvaneServiceTest, NamesAreCaseSensitiveAndOthersAreSkipped) {
  WriteConfig(
      "<anything><ftp><IP>10.9.9.9</IP></ftp><management><IP>10.9.9.9</IP></management>"
      "<Other/><FTP><ip>10.8.8.8</ip><Port>99</Port><note>x</note><IP>127.0.0.2</IP></FTP>"
      "</anything>");
  EXPECT_EQ(StartAfterDefaults(),
            (Lines{"SetLogDir " + dir_ + "/logs", "AddFtpBinding 127.0.0.2 21",
                   "event Configuring Corvane Service on IP: 127.0.0.2:21", "Activate",
                   "event Corvane Service started"}));
}

TEST_F(CorvaneServiceTest, RepeatedElementsApplyInDocumentOrder) {
  const std::string first_logs = dir_ + "/first";
  WriteConfig("<global><FTP><port>2121</port><logdir>" + first_logs +
              "</logdir><IP>127.0.0.1</IP></FTP>"
              "<Management><port>1111</port></Management>"
              "<FTP><IP>127.0.0.2</IP></FTP>"
              "<Management><IP>127.0.0.1</IP></Management></global>");
  EXPECT_EQ(StartAfterDefaults(),
            (Lines{"SetLogDir " + first_logs, "AddFtpBinding 127.0.0.1 2121",
                   "event Configuring Corvane Service on IP: 127.0.0.1:2121",
                   // a later FTP element keeps the earlier port but not the earlier logdir
                   "SetLogDir " + dir_ + "/logs", "AddFtpBinding 127.0.0.2 2121",
                   "event Configuring Corvane Service on IP: 127.0.0.2:2121",
                   "AddManagementBinding 127.0.0.1 1111",
                   "event Configuring Corvane Management Service on IP: 127.0.0.1:1111", "Activate",
                   "event Corvane Service started"}));
  EXPECT_TRUE(fs::is_directory(first_logs));
  EXPECT_TRUE(fs::is_directory(dir_ + "/logs"));
}

TEST_F(CorvaneServiceTest, EmptyValuesKeepTheDefaults) {
  WriteConfig(
      "<global><FTP><port/><maxcon></maxcon><authoption/><logdir/><cert/><key/>"
      "<bandwidth/></FTP><Management><port/><password/></Management></global>");
  EXPECT_EQ(StartAfterDefaults(),
            (Lines{"SetLogDir " + dir_ + "/logs", "Activate", "event Corvane Service started"}));
  EXPECT_TRUE(fs::is_directory(dir_ + "/logs"));
}

TEST_F(CorvaneServiceTest, OnlyTheLastLogDirectoryComponentIsCreated) {
  WriteConfig("<global><FTP><logdir>" + dir_ + "/missing/logs</logdir></FTP></global>");
  EXPECT_EQ(StartAfterDefaults(), (Lines{"SetLogDir " + dir_ + "/missing/logs", "Activate",
                                         "event Corvane Service started"}));
  EXPECT_FALSE(fs::exists(dir_ + "/missing"));
}

TEST_F(CorvaneServiceTest, UnreadableValuesFailTheStartAndKeepEarlierSteps) {
  const struct {
    std::string xml;
    std::string done_before;  // the last call made before the failure
  } cases[] = {
      {"<global><FTP><port>21", "SetBandwidth 0"},
      {"<global><FTP><port>abc</port></FTP></global>", "SetBandwidth 0"},
      {"<global><FTP><maxcon>1.5</maxcon></FTP></global>", "SetBandwidth 0"},
      {"<global><FTP><key>/k</key><bandwidth>ten</bandwidth></FTP></global>", "SetKeyFile /k"},
      {"<global><FTP><IP>127.0.0.1</IP><IP/></FTP></global>",
       "event Configuring Corvane Service on IP: 127.0.0.1:21"},
      {"<global><Management><port>99999999999</port></Management></global>", "SetBandwidth 0"},
      {"<global><Management><password><b/></password></Management></global>", "SetBandwidth 0"},
  };
  for (const auto& c : cases) {
    journal_.lines.clear();
    WriteConfig(c.xml);
    EXPECT_NE(StartError(), "(started)") << c.xml;
    ASSERT_FALSE(journal_.lines.empty());
    EXPECT_EQ(journal_.lines.back(), c.done_before) << c.xml;
  }
}

TEST_F(CorvaneServiceTest, StopDeactivatesBetweenItsTwoEvents) {
  service_.ServiceStart();
  journal_.lines.clear();
  service_.ServiceStop();
  EXPECT_EQ(journal_.lines, (Lines{"event Stoping Corvane service", "Deactivate",
                                   "event Corvane service is stoped"}));
}

}  // namespace
}  // namespace corvane
