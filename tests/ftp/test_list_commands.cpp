// MLST, STAT with a path and the listing commands' parsing, driven through a control session
// whose peer end the test reads.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/list_output.h"
#include "service/net/tcp_socket.h"

namespace corvane {
namespace {

using namespace std::chrono;

struct ListCall {
  std::string path, options, command;
};

class ListCommandsTest : public ::testing::Test {
 protected:
  ListCommandsTest() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
      throw std::runtime_error("socketpair failed");
    server_ = TcpSocket(UniqueFd(fds[0]), nullptr);
    client_ = UniqueFd(fds[1]);
    engine_.OnListDirectory = [this](TFtpContext&, const std::string& path,
                                     const std::string& options, const std::string& command,
                                     TListOutput& listing) {
      calls_.push_back({path, options, command});
      if (!failure_.empty()) throw std::runtime_error(failure_);
      for (const TListOutputItem& item : items_) listing.Add() = item;
    };
    session_ = std::make_unique<ControlSession>(engine_, server_);
    session_->Context().Authenticated = true;
    session_->Context().CurrentDir = "/work";
  }

  void AddItem(const std::string& name, TDirItemType type, std::uint64_t size) {
    TListOutputItem item;
    item.FileName = name;
    item.ItemType = type;
    item.Size = size;
    item.ModifiedDateGMT = sys_days{2011y / January / 5} + 8h + 7min;
    items_.push_back(item);
  }

  // Runs one command line and returns everything it wrote to the control connection.
  std::string Run(const std::string& line) {
    session_->ExecuteLine(line);
    std::string received;
    char buffer[4096];
    for (int reads = 0; reads < 1000; ++reads) {
      pollfd ready{client_.Get(), POLLIN, 0};
      if (::poll(&ready, 1, 0) <= 0) break;
      const ssize_t got = ::read(client_.Get(), buffer, sizeof buffer);
      if (got <= 0) break;
      received.append(buffer, static_cast<std::size_t>(got));
    }
    return received;
  }

  TFtpEngine engine_;
  TcpSocket server_;
  UniqueFd client_;
  std::unique_ptr<ControlSession> session_;
  std::vector<TListOutputItem> items_;
  std::vector<ListCall> calls_;
  std::string failure_;
};

TEST_F(ListCommandsTest, ParametersBecomeOptionWordAndDirectory) {
  struct Case {
    const char* line;
    const char* path;
    const char* options;
  };
  const std::vector<Case> cases = {
      {"STAT -la sub", "/work/sub/", "-la"},
      {"STAT -lT", "/work/", "-lT"},
      {"STAT sub dir", "/work/sub dir/", ""},
      {"STAT sub -la", "/work/sub -la/", ""},
      {"STAT /", "/", ""},
      {"STAT ../..", "/", ""},
      {"MLST -la", "/work/-la/", ""},
      {"MLST", "/work/", ""},
      {"MLST /pub/", "/pub/", ""},
  };
  for (const Case& c : cases) {
    calls_.clear();
    Run(c.line);
    ASSERT_EQ(calls_.size(), 1u) << c.line;
    EXPECT_EQ(calls_[0].path, c.path) << c.line;
    EXPECT_EQ(calls_[0].options, c.options) << c.line;
    EXPECT_EQ(calls_[0].command, std::string(c.line).substr(0, 4)) << c.line;
  }
}

TEST_F(ListCommandsTest, MlstBeginFactLinesEnd) {
  AddItem(".", TDirItemType::ditDirectory, 0);
  AddItem("b.txt", TDirItemType::ditFile, 1234);
  AddItem("..", TDirItemType::ditDirectory, 0);
  // Reading order, every entry, each fact line indented by two spaces on the wire.
  EXPECT_EQ(Run("MLST"),
            "250-Begin\r\n"
            "  Size=0;type=cdir;modify=20110105080700; .\r\n"
            "  Size=1234;type=file;modify=20110105080700; b.txt\r\n"
            "  Size=0;type=pdir;modify=20110105080700; ..\r\n"
            "250 End\r\n");
  EXPECT_EQ(Run("OPTS MLST size;"), "200 MLST OPTS size;\r\n");
  EXPECT_EQ(Run("MLST"),
            "250-Begin\r\n  Size=0; .\r\n  Size=1234; b.txt\r\n  Size=0; ..\r\n250 End\r\n");
  EXPECT_EQ(Run("OPTS MLST"), "200 MLST OPTS\r\n");
  EXPECT_EQ(Run("MLST"), "250-Begin\r\n  .\r\n  b.txt\r\n  ..\r\n250 End\r\n");
}

TEST_F(ListCommandsTest, MlstOfNothingAndBadNames) {
  EXPECT_EQ(Run("MLST missing.txt"), "250-Begin\r\n250 End\r\n");
  AddItem("two\r\n250 End", TDirItemType::ditFile, 1);
  session_->Context().MLSOpts = 0;
  EXPECT_EQ(Run("MLST"), "250-Begin\r\n  two??250 End\r\n250 End\r\n");
}

TEST_F(ListCommandsTest, StatListsOnTheControlConnection) {
  TListOutputItem file;
  file.FileName = "caf\xC3\xA9\nx.txt";
  file.Size = 5;
  file.ModifiedDate = local_days{2009y / July / 14} + 10h;
  file.OwnerName = file.GroupName = "ftp";
  file.OwnerPermissions = file.GroupPermissions = file.OtherPermissions = "rw-";
  items_ = {file};
  const std::string line = "-rw-rw-rw-   1 ftp      ftp             5 Jul 14  2009 caf";
  EXPECT_EQ(Run("STAT -l"), "213-File status okay; about to open data connection.\r\ntotal 0\r\n" +
                                line + "??x.txt\r\n213 End of Status\r\n");
  session_->Context().NLSTUtf8 = true;
  EXPECT_EQ(Run("STAT -l"), "213-File status okay; about to open data connection.\r\ntotal 0\r\n" +
                                line + "\xC3\xA9?x.txt\r\n213 End of Status\r\n");
  items_.clear();
  EXPECT_EQ(Run("STAT *.txt"),
            "213-File status okay; about to open data connection.\r\ntotal 0\r\n"
            "213 End of Status\r\n");
}

TEST_F(ListCommandsTest, StatWhileADataChannelIsPreparedIsTheStatus) {
  session_->Context().DataChannel = std::make_unique<TDataChannel>(session_->Context());
  EXPECT_EQ(Run("STAT /"), "211-System status\r\n211 End of Status\r\n");
  EXPECT_TRUE(calls_.empty());
}

TEST_F(ListCommandsTest, FailuresAndMissingDataChannel) {
  for (const char* line : {"LIST", "NLST -l", "MLSD /"})
    EXPECT_EQ(Run(line), "425 Can't open data connection.\r\n") << line;
  EXPECT_TRUE(calls_.empty());

  failure_ = "Listing failed";
  EXPECT_EQ(Run("MLST"), "550 Listing failed\r\n");
  EXPECT_EQ(Run("STAT /"), "450 Listing failed\r\n");
  // A handler that raises frees the prepared data channel; the reply is LIST's error code.
  session_->Context().DataChannel = std::make_unique<TDataChannel>(session_->Context());
  EXPECT_EQ(Run("LIST"), "450 Listing failed\r\n");
  EXPECT_EQ(session_->Context().DataChannel, nullptr);

  session_->Context().Authenticated = false;
  EXPECT_EQ(Run("MLST"), "530 Not logged in.\r\n");
}

}  // namespace
}  // namespace corvane
