// RETR, STOR, STOU, APPE, ABOR and the polling during a transfer, against an in-process engine.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "service/ftp/command_handlers.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/transfer.h"
#include "test_data_support.h"

namespace corvane {
namespace {

using datatest::FtpClient;
using datatest::Pattern;
using datatest::ReadFile;
using datatest::TestServer;
using datatest::WriteFile;

constexpr const char* kAboutToOpen = "150 File status okay; about to open data connection.";
constexpr const char* kClosing = "226 Closing data connection.";
constexpr const char* kAbnormal = "426 Data connection closed abnormally.";
constexpr const char* kNoChannel = "425 Can't open data connection.";
constexpr const char* kNoopOk = "200 NOOP Command successful.";

// A rate at which the throttle never pauses, so that the buffered path runs at full speed.
constexpr std::int32_t kUnnoticeableRate = 0x7fffffff;

enum class Mode { Passive, Active };

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }

  // Runs one transfer command; for downloads returns what arrived on the data connection.
  struct Outcome {
    std::string preliminary;
    std::string data;
    std::string final_reply;
  };
  Outcome Transfer(FtpClient& client, Mode mode, const std::string& command,
                   const std::string& upload = "") {
    Outcome outcome;
    TcpSocket listener;
    TcpSocket data;
    if (mode == Mode::Passive) {
      data = client.OpenPassive();
    } else {
      listener = client.ListenActive();
    }
    client.Send(command);
    outcome.preliminary = client.ReadReply();
    if (outcome.preliminary.rfind("150 ", 0) != 0) return outcome;
    if (mode == Mode::Active) data = FtpClient::AcceptActive(listener);
    if (command.rfind("RETR", 0) == 0) {
      outcome.data = FtpClient::ReadAll(data);
    } else {
      data.SendAll(upload);
      data.Close();
    }
    outcome.final_reply = client.ReadReply();
    return outcome;
  }

  TestServer server_;
};

TEST_F(TransferTest, DownloadsAndUploadsKeepEveryByte) {
  // Several blocks and a partial one; uploads span more than one receive buffer.
  const std::string content = Pattern(3 * 102400 + 777);
  const std::string upload = Pattern(600000 + 13);
  WriteFile(server_.Local("/down.bin"), content);
  for (const bool throttled : {false, true}) {
    server_.throttle_bits = throttled ? kUnnoticeableRate : 0;
    for (const Mode mode : {Mode::Passive, Mode::Active}) {
      SCOPED_TRACE(std::string(mode == Mode::Passive ? "passive" : "active") +
                   (throttled ? ", throttled" : ""));
      FtpClient client(server_.Address());
      client.Login();
      const Outcome down = Transfer(client, mode, "RETR down.bin");
      EXPECT_EQ(down.preliminary, kAboutToOpen);
      EXPECT_TRUE(down.data == content) << down.data.size() << " bytes";
      EXPECT_EQ(down.final_reply, kClosing);
      const Outcome up = Transfer(client, mode, "STOR up.bin", upload);
      EXPECT_EQ(up.preliminary, kAboutToOpen);
      EXPECT_EQ(up.final_reply, kClosing);
      EXPECT_TRUE(ReadFile(server_.Local("/up.bin")) == upload);
      const Outcome empty = Transfer(client, mode, "STOR empty.bin", "");
      EXPECT_EQ(empty.final_reply, kClosing);
      EXPECT_EQ(std::filesystem::file_size(server_.Local("/empty.bin")), 0u);
      EXPECT_EQ(Transfer(client, mode, "RETR empty.bin").data, "");
    }
  }
}

TEST_F(TransferTest, RestartOffsetsAndAllocation) {
  const std::string content = Pattern(1000);
  WriteFile(server_.Local("/f.bin"), content);
  FtpClient client(server_.Address());
  client.Login();

  // REST then RETR starts at the offset; the next RETR starts at 0 again.
  EXPECT_EQ(client.Command("REST 100"), "350 Requested file action pending further information.");
  EXPECT_TRUE(Transfer(client, Mode::Passive, "RETR f.bin").data == content.substr(100));
  EXPECT_TRUE(Transfer(client, Mode::Passive, "RETR f.bin").data == content);
  // An offset beyond the end sends nothing.
  client.Command("REST 5000");
  const Outcome beyond = Transfer(client, Mode::Passive, "RETR f.bin");
  EXPECT_EQ(beyond.data, "");
  EXPECT_EQ(beyond.final_reply, kClosing);

  // APPE adds at the end and leaves the offset pending for the next RETR.
  WriteFile(server_.Local("/a.txt"), "0123456789");
  client.Command("REST 3");
  EXPECT_EQ(Transfer(client, Mode::Passive, "APPE a.txt", "abcde").final_reply, kClosing);
  EXPECT_EQ(ReadFile(server_.Local("/a.txt")), "0123456789abcde");
  EXPECT_EQ(Transfer(client, Mode::Passive, "RETR a.txt").data, "3456789abcde");
  EXPECT_EQ(Transfer(client, Mode::Passive, "APPE new.txt", "fresh").final_reply, kClosing);
  EXPECT_EQ(ReadFile(server_.Local("/new.txt")), "fresh");

  // ALLO reserves room only: the file ends where the data ends, and appended bytes follow the
  // old ones even when ALLO named less than the file holds.
  EXPECT_EQ(client.Command("ALLO 5000"), "200 ALLO Command successful.");
  EXPECT_EQ(Transfer(client, Mode::Passive, "STOR ten.txt", "0123456789").final_reply, kClosing);
  EXPECT_EQ(ReadFile(server_.Local("/ten.txt")), "0123456789");
  client.Command("ALLO 5");
  Transfer(client, Mode::Passive, "APPE ten.txt", "abcde");
  EXPECT_EQ(ReadFile(server_.Local("/ten.txt")), "0123456789abcde");

  // STOR after REST keeps the first bytes and cuts the rest; without REST it replaces.
  WriteFile(server_.Local("/r.txt"), "0123456789");
  client.Command("ALLO 0");
  client.Command("REST 4");
  Transfer(client, Mode::Passive, "STOR r.txt", "xy");
  EXPECT_EQ(ReadFile(server_.Local("/r.txt")), "0123xy");
  Transfer(client, Mode::Passive, "STOR r.txt", "z");
  EXPECT_EQ(ReadFile(server_.Local("/r.txt")), "z");

  // A REST that is not a non-negative decimal number is refused and keeps the earlier offset.
  EXPECT_EQ(client.Command("REST 2"), "350 Requested file action pending further information.");
  for (const char* bad :
       {"REST -5", "REST abc", "REST", "REST 1x", "REST +3", "REST 99999999999999999999"}) {
    EXPECT_EQ(client.Command(bad), "501 Syntax: REST <sp> position (a non-negative decimal number)")
        << bad;
  }
  EXPECT_EQ(Transfer(client, Mode::Passive, "RETR f.bin").data, content.substr(2));
}

TEST_F(TransferTest, AChannelServesOneTransferAndFailuresFreeIt) {
  WriteFile(server_.Local("/f.txt"), "data");
  FtpClient client(server_.Address());
  client.Login();
  EXPECT_EQ(Transfer(client, Mode::Passive, "RETR f.txt").final_reply, kClosing);
  EXPECT_EQ(client.Command("RETR f.txt"), kNoChannel);
  EXPECT_EQ(client.Command("STOU"), kNoChannel);

  // A handler that raises: 550 with its message for every transfer command, and the channel is
  // gone.
  const std::string prefix = "Cannot open file \"" + server_.Local("/missing") + "\".";
  ASSERT_EQ(client.Command("EPSV").substr(0, 4), "229 ");
  EXPECT_EQ(client.Command("RETR missing"), "550 " + prefix);
  EXPECT_EQ(client.Command("RETR f.txt"), kNoChannel);
  const std::string create = "Cannot create file \"" + server_.Local("/no/dir") + "\".";
  client.Command("EPSV");
  EXPECT_EQ(client.Command("STOR no/dir"), "550 " + create);
  client.Command("EPSV");
  EXPECT_EQ(client.Command("APPE no/dir"), "550 " + create);
  EXPECT_EQ(client.Command("APPE no/dir"), kNoChannel);

  // A handler that returns no stream.
  server_.engine.OnRetrieveFile = [](TFtpContext&, const std::string&) {
    return std::unique_ptr<FileStream>();
  };
  client.Command("PASV");
  EXPECT_EQ(client.Command("RETR f.txt"),
            "550 Requested action aborted: local error in processing.");
  EXPECT_EQ(client.Command("RETR f.txt"), kNoChannel);
  EXPECT_EQ(server_.stored.size(), 2u);  // STOR and the first APPE
}

TEST_F(TransferTest, DataConnectionsThatCannotBeOpened) {
  WriteFile(server_.Local("/f.txt"), "data");
  server_.engine.PassiveAcceptTimeoutMs = 300;
  FtpClient client(server_.Address());
  client.Login();

  // Nobody connects to the passive port.
  client.Command("EPSV");
  client.Send("RETR f.txt");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  EXPECT_EQ(client.ReadReply(), kAbnormal);
  // 426 is the one final reply: the next command gets its own answer, not a second final one.
  EXPECT_EQ(client.Command("NOOP"), kNoopOk);
  WriteFile(server_.Local("/g.txt"), "kept");
  client.Command("EPSV");
  client.Send("STOR g.txt");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  EXPECT_EQ(client.ReadReply(), kAbnormal);
  EXPECT_EQ(client.Command("NOOP"), kNoopOk);
  EXPECT_EQ(ReadFile(server_.Local("/g.txt")), "kept");  // a failed store changes nothing

  // Nobody listens at the active address.
  TcpSocket probe = TcpSocket::Open(AF_INET, nullptr);
  probe.Bind(Endpoint{"127.0.0.1", 0, AF_INET}, false);
  const std::uint16_t port = probe.LocalEndpoint().port;
  probe.Close();
  client.Command("EPRT |1|127.0.0.1|" + std::to_string(port) + "|");
  client.Send("RETR f.txt");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  EXPECT_EQ(client.ReadReply(), kAbnormal);
  EXPECT_EQ(client.Command("RETR f.txt"), kNoChannel);

  // A passive connection from another address is refused at once and nothing is sent.
  TcpSocket data = client.OpenPassive("127.0.0.2");
  client.Send("RETR f.txt");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  EXPECT_EQ(client.ReadReply(),
            "504 Data port can only be used by the same IP address used by the control "
            "connection.");
  EXPECT_EQ(FtpClient::ReadAll(data), "");
  EXPECT_EQ(client.Command("NOOP"), "200 NOOP Command successful.");
  EXPECT_EQ(client.Command("RETR f.txt"), kNoChannel);
}

TEST_F(TransferTest, StouNamesAFreshFileInTheWorkingDirectory) {
  std::filesystem::create_directory(server_.Local("/sub"));
  std::vector<std::string> asked;
  // The first two names count as taken.
  server_.engine.OnFileExists = [&asked](TFtpContext&, const std::string& path) {
    asked.push_back(path);
    return asked.size() <= 2;
  };
  FtpClient client(server_.Address());
  client.Login();
  client.Command("CWD /sub");
  TcpSocket data = client.OpenPassive();
  client.Send("STOU ignored.txt");
  const std::string preliminary = client.ReadReply();
  std::smatch match;
  ASSERT_TRUE(std::regex_match(preliminary, match, std::regex("150 FILE: (Temp[0-9A-F]{8})")))
      << preliminary;
  data.SendAll(std::string("unique"));
  data.Close();
  EXPECT_EQ(client.ReadReply(), kClosing);
  ASSERT_EQ(asked.size(), 3u);
  const std::regex name(R"(/sub/Temp([0-9A-F]{8}))");
  std::smatch first;
  ASSERT_TRUE(std::regex_match(asked[0], first, name)) << asked[0];
  EXPECT_EQ(std::stoul(match[1].str().substr(4), nullptr, 16),
            std::stoul(first[1].str(), nullptr, 16) + 2);
  EXPECT_EQ("/sub/" + match[1].str(), asked[2]);
  EXPECT_EQ(ReadFile(server_.Local("/sub/" + match[1].str())), "unique");
}

TEST_F(TransferTest, AborAnswersInEachOfItsThreeCases) {
  const std::string content = Pattern(2 * 1024 * 1024);
  WriteFile(server_.Local("/big.bin"), content);
  // 32,768-byte pieces with a 100 ms pause after each: the download takes several seconds.
  server_.throttle_bits = 32768 * 8 * 10;
  FtpClient client(server_.Address());
  client.Login();
  EXPECT_EQ(client.Command("ABOR"), "226 ABOR Command successful.");
  client.Command("PASV");
  EXPECT_EQ(client.Command("ABOR"), "226 Closing data connection.");
  EXPECT_EQ(client.Command("RETR big.bin"), kNoChannel);

  TcpSocket data = client.OpenPassive();
  client.Send("RETR big.bin");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  char first[1];
  ASSERT_EQ(data.Receive(first, 1), 1u);
  client.Send("ABOR");
  EXPECT_EQ(client.ReadReply(), "226 Closing data connection.");
  EXPECT_EQ(client.ReadReply(), kAbnormal);
  EXPECT_LT(FtpClient::ReadAll(data).size() + 1, content.size());
  EXPECT_EQ(client.Command("ABOR"), "226 ABOR Command successful.");
}

TEST_F(TransferTest, CommandsDuringATransferWaitForItsEndExceptStat) {
  const std::string content = Pattern(4 * 102400);
  WriteFile(server_.Local("/f.bin"), content);
  server_.throttle_bits = 32768 * 8 * 10;
  FtpClient client(server_.Address());
  client.Login();
  TcpSocket data = client.OpenPassive();
  client.Send("RETR f.bin");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  char first[1];
  ASSERT_EQ(data.Receive(first, 1), 1u);
  client.Send("NOOP");
  client.Send("STAT");
  client.Send("BOGUS");
  EXPECT_EQ(client.ReadReply(), "211-System status\n211 End of Status");
  EXPECT_TRUE(first[0] + FtpClient::ReadAll(data) == content);
  EXPECT_EQ(client.ReadReply(), kClosing);
  EXPECT_EQ(client.ReadReply(), "200 NOOP Command successful.");
  EXPECT_EQ(client.ReadReply(), "500 'BOGUS': command not understood.");
}

TEST_F(TransferTest, AStalledDataConnectionHoldsNeitherTheSessionNorTheFile) {
  WriteFile(server_.Local("/big.bin"), Pattern(32 * 1024 * 1024));
  FtpClient client(server_.Address());
  client.Login();
  for (const char* command : {"RETR big.bin", "STOR up.bin"}) {
    // The client neither reads nor sends: the transfer waits on the data connection.
    TcpSocket data = client.OpenPassive();
    client.Send(command);
    EXPECT_EQ(client.ReadReply(), kAboutToOpen) << command;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(client.Command("STAT"), "211-System status\n211 End of Status") << command;
    client.Send("ABOR");
    EXPECT_EQ(client.ReadReply(), "226 Closing data connection.") << command;
    EXPECT_EQ(client.ReadReply(), kAbnormal) << command;
  }
  // The file was released with the aborted transfer.
  EXPECT_EQ(Transfer(client, Mode::Passive, "RETR big.bin").final_reply, kClosing);

  // No progress for the limit ends the transfer on its own, even while the client keeps the
  // control connection busy.
  server_.engine.DataProgressTimeoutMs = 300;
  for (const char* command : {"RETR big.bin", "STOR up.bin"}) {
    TcpSocket data = client.OpenPassive();
    client.Send(command);
    EXPECT_EQ(client.ReadReply(), kAboutToOpen) << command;
    for (int noop = 0; noop < 10; ++noop) {
      client.Send("NOOP");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(client.ReplyPending(0)) << command;  // the limit passed during the NOOPs
    EXPECT_EQ(client.ReadReply(), kAbnormal) << command;
    for (int noop = 0; noop < 10; ++noop) EXPECT_EQ(client.ReadReply(), kNoopOk) << command;
  }
  EXPECT_EQ(client.Command("NOOP"), kNoopOk);
}

TEST_F(TransferTest, APipelineOfTransfersRunsOneAfterAnotherWithoutNesting) {
  // Transfers queued behind a running one each end by running the queue: they must not nest,
  // or a long pipeline would use up the connection thread's stack.
  WriteFile(server_.Local("/big.bin"), Pattern(4 * 1024 * 1024));
  WriteFile(server_.Local("/small.txt"), "x");
  server_.throttle_bits = 4 * 1024 * 1024 * 8;  // the first download takes about a second
  TcpSocket listener = TcpSocket::Open(AF_INET, nullptr);
  listener.Bind(Endpoint{"127.0.0.1", 0, AF_INET}, false);
  listener.Listen(64);
  const std::uint16_t port = listener.LocalEndpoint().port;
  const std::string port_command =
      "PORT 127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff);
  constexpr int kQueued = 3000;
  std::thread reader([&] {
    for (int connection = 0; connection <= kQueued; ++connection) {
      TcpSocket data = listener.Accept(2000);
      if (!data.Valid()) return;
      FtpClient::ReadAll(data);
    }
  });
  FtpClient client(server_.Address());
  client.Login();
  EXPECT_EQ(client.Command(port_command), "200 PORT Command successful.");
  client.Send("RETR big.bin");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  std::string pipeline = port_command + "\r\nRETR small.txt";
  for (int transfer = 1; transfer < kQueued; ++transfer)
    pipeline += "\r\n" + port_command + "\r\nRETR small.txt";
  client.Send(pipeline);
  EXPECT_EQ(client.ReadReply(), kClosing);
  // Each queued transfer ends with its one final reply (426 where the active connection from
  // the same local port is refused while an earlier one lingers in TIME_WAIT).
  int finals = 0, closed = 0;
  for (int reply = 0; reply < 3 * kQueued + 10 && finals < kQueued; ++reply) {
    const std::string text = client.ReadReply();
    if (text == kClosing) ++closed;
    if (text == kClosing || text == kAbnormal) ++finals;
  }
  EXPECT_EQ(finals, kQueued);
  EXPECT_GT(closed, 0);
  EXPECT_EQ(client.Command("NOOP"), kNoopOk);
  reader.join();
}

TEST_F(TransferTest, AClientThatDropsTheDataConnectionGetsA426) {
  WriteFile(server_.Local("/big.bin"), Pattern(16 * 1024 * 1024));
  FtpClient client(server_.Address());
  client.Login();
  TcpSocket data = client.OpenPassive();
  client.Send("RETR big.bin");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  char first[1];
  ASSERT_EQ(data.Receive(first, 1), 1u);
  data.Close();
  EXPECT_EQ(client.ReadReply(), kAbnormal);
  // The file was closed with the transfer: a new one may open it at once.
  EXPECT_EQ(Transfer(client, Mode::Passive, "RETR big.bin").final_reply, kClosing);
}

// Limits the size of files this process may write, for one test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);  // writes fail with EFBIG instead
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t old_handler_ = SIG_DFL;
};

TEST_F(TransferTest, AWriteErrorEndsTheUploadAndKeepsWhatWasWritten) {
  const std::string upload = Pattern(1000000);
  FtpClient client(server_.Address());
  client.Login();
  Outcome outcome;
  {
    FileSizeLimit limit(300000);
    outcome = Transfer(client, Mode::Passive, "STOR full.bin", upload);
  }
  EXPECT_EQ(outcome.final_reply, kAbnormal);
  const std::string kept = ReadFile(server_.Local("/full.bin"));
  EXPECT_EQ(kept.size(), 300000u);
  EXPECT_TRUE(kept == upload.substr(0, kept.size()));
  EXPECT_EQ(client.Command("NOOP"), "200 NOOP Command successful.");
}

// A listing command for the test: 25 lines, one with a character outside 7-bit ASCII.
void CmdTestListing(TCommand& command) {
  TListingText text(command.Context().NLSTUtf8);
  for (int i = 1; i <= 24; ++i) text.AppendLine("line " + std::to_string(i));
  text.AppendLine("na\xC3\xAFve");
  RunListingTransfer(command, std::move(text),
                     TFtpReply(125, "Opening ASCII mode data connection for file list."));
}

TEST_F(TransferTest, ListingLinesGoOutEncodedWithLineEnds) {
  TCommandHandler entry;
  entry.Command = "TLST";
  entry.NeedsLogin = true;
  entry.ExceptionReplyCode = 450;
  entry.OnCommand = CmdTestListing;
  server_.engine.CommandHandlers().Add(entry);
  std::string expected;
  for (int i = 1; i <= 24; ++i) expected += "line " + std::to_string(i) + "\r\n";

  FtpClient client(server_.Address());
  client.Login();
  EXPECT_EQ(client.Command("TLST"), kNoChannel);
  for (const bool utf8 : {false, true}) {
    if (utf8) {
      EXPECT_EQ(client.Command("OPTS UTF8 ON"), "200 Ok");
    }
    TcpSocket data = client.OpenPassive();
    client.Send("TLST");
    EXPECT_EQ(client.ReadReply(), "125 Opening ASCII mode data connection for file list.");
    EXPECT_EQ(FtpClient::ReadAll(data), expected + (utf8 ? "na\xC3\xAFve\r\n" : "na?ve\r\n"));
    EXPECT_EQ(client.ReadReply(), kClosing);
  }
}

int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST_F(TransferTest, FailedTransfersLeaveNoDescriptorBehind) {
  WriteFile(server_.Local("/f.txt"), "data");
  server_.engine.PassiveAcceptTimeoutMs = 20;
  const int before = OpenDescriptors();
  {
    FtpClient client(server_.Address());
    client.Login();
    for (int round = 0; round < 100; ++round) {
      client.Command("EPSV");
      client.Command("RETR missing");  // handler error
      client.Command("PASV");
      client.Command("PASV");  // replaces a prepared channel
      client.Command("ABOR");
      client.Command("PORT 127,0,0,1,0,21");  // refused
      {
        TcpSocket data = client.OpenPassive();
        client.Send("RETR f.txt");
        client.ReadReply();
        data.Close();  // gone before or during the transfer
        client.ReadReply();
      }
      client.Command("EPSV");
      client.Send("STOR x.txt");  // nobody connects
      for (int reply = 0; reply < 2; ++reply) client.ReadReply();
    }
    EXPECT_EQ(client.Command("NOOP"), "200 NOOP Command successful.");
    EXPECT_EQ(client.Command("QUIT"), "221 Goodbye.");
    EXPECT_EQ(client.ReadLine(), "<closed>");
  }
  for (int waits = 0; waits < 200 && server_.engine.ConnectionCount() > 0; ++waits)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // The finished connection thread is reaped when the next connection is accepted.
  FtpClient(server_.Address()).Command("QUIT");
  for (int waits = 0; waits < 200 && OpenDescriptors() > before; ++waits)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_LE(OpenDescriptors(), before);
}

TEST_F(TransferTest, DeactivationEndsAPassiveWait) {
  WriteFile(server_.Local("/f.txt"), "data");
  FtpClient client(server_.Address());
  client.Login();
  client.Command("EPSV");
  client.Send("RETR f.txt");
  EXPECT_EQ(client.ReadReply(), kAboutToOpen);
  server_.engine.SetActive(false);  // returns only once the connection's thread has ended
  EXPECT_FALSE(server_.engine.Active());
}

}  // namespace
}  // namespace corvane
