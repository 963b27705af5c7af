#pragma once

// An in-process FTP engine whose file events work on a temporary directory, and a raw client
// for its control and data connections. Every wait is bounded.

#include <fcntl.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_stream.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_engine.h"
#include "service/net/tcp_socket.h"
#include "service/net/throttler.h"
#include "tests/support/line_client.h"
#include "tests/support/test_files.h"

namespace corvane::datatest {

inline constexpr int kWaitMs = 10000;

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Bytes that differ from block to block, so that an offset error shows in a comparison.
inline std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
  return text;
}

// The engine on 127.0.0.1 at a port of the system's choice; "user" logs in with any password.
// Virtual paths map onto the temporary directory without further checks (test only).
class TestServer {
 public:
  TestServer() {
    engine.AddBinding("127.0.0.1", 0);
    engine.OnUserLogin = [](TFtpContext&, const std::string& user, const std::string&) {
      return user == "user";
    };
    engine.OnRetrieveFile = [this](TFtpContext&, const std::string& path) {
      retrieved.push_back(path);
      return Open(path, O_RDONLY, "Cannot open file");
    };
    engine.OnStoreFile = [this](TFtpContext&, const std::string& path, bool append) {
      stored.push_back(path);
      (void)append;  // the engine cuts a replaced file once the data connection is open
      return Open(path, O_RDWR | O_CREAT, "Cannot create file");
    };
    engine.OnFileExists = [this](TFtpContext&, const std::string& path) {
      return std::filesystem::exists(Local(path));
    };
    engine.OnDataPortAfterBind = [this](TFtpContext& context) {
      ++binds;
      if (throttle_bits > 0 && context.DataChannel) {
        auto throttler = std::make_unique<TThrottler>();
        throttler->SetBitsPerSec(throttle_bits);
        context.DataChannel->SetIntercept(std::move(throttler));
      }
    };
  }
  ~TestServer() { engine.SetActive(false); }

  void Start() { engine.SetActive(true); }
  Endpoint Address() const { return engine.ListeningEndpoints().at(0); }
  std::string Local(const std::string& virtual_path) const { return root.Path() + virtual_path; }

  std::unique_ptr<FileStream> Open(const std::string& path, int flags, const std::string& what) {
    UniqueFd fd(::open(Local(path).c_str(), flags | O_CLOEXEC, 0644));
    if (!fd) throw std::runtime_error(what + " \"" + Local(path) + "\".");
    return std::make_unique<FileStream>(std::move(fd));
  }

  TempDir root;
  TFtpEngine engine;
  // Set before the first connection; read by the connection threads.
  std::int32_t throttle_bits = 0;
  std::atomic<int> binds{0};
  std::vector<std::string> retrieved;  // written by one connection thread at a time in tests
  std::vector<std::string> stored;
};

// A raw control connection plus its data connections.
class FtpClient {
 public:
  explicit FtpClient(const Endpoint& server, const std::string& local_address = "127.0.0.1")
      : control_(server, kWaitMs, local_address) {
    greeting_ = ReadReply();
  }

  void Login() {
    Send("USER user");
    ReadReply();
    Send("PASS secret");
    const std::string reply = ReadReply();
    if (reply.rfind("230 ", 0) != 0) throw std::runtime_error("login failed: " + reply);
  }

  void Send(const std::string& line) { control_.Send(line + "\r\n"); }
  std::string Command(const std::string& line) {
    Send(line);
    return ReadReply();
  }

  // One whole reply, its lines joined by "\n"; "<closed>" or "<timeout>" when none came.
  std::string ReadReply() {
    std::string first = ReadLine();
    if (first.size() < 4 || first[3] != '-') return first;
    std::string all = first;
    const std::string end = first.substr(0, 3) + " ";
    for (int lines = 0; lines < 1000; ++lines) {
      const std::string line = ReadLine();
      all += "\n" + line;
      if (line.rfind(end, 0) == 0 || line.front() == '<') break;
    }
    return all;
  }

  std::string ReadLine() { return control_.ReadLine(); }

  // Whether a reply line is waiting or arrives within wait_ms.
  bool ReplyPending(int wait_ms) { return control_.ReplyPending(wait_ms); }

  // PASV, then a connection to the port it names.
  TcpSocket OpenPassive(const std::string& local_address = "127.0.0.1") {
    const std::string reply = Command("EPSV");
    const std::size_t open = reply.find("(|||");
    if (reply.rfind("229 ", 0) != 0 || open == std::string::npos)
      throw std::runtime_error("EPSV failed: " + reply);
    const auto port = static_cast<std::uint16_t>(std::stoi(reply.substr(open + 4)));
    TcpSocket data = TcpSocket::Open(AF_INET, nullptr);
    data.Bind(Endpoint{local_address, 0, AF_INET}, false);
    data.Connect(Endpoint{"127.0.0.1", port, AF_INET}, kWaitMs);
    return data;
  }

  // A listening socket for an active connection, announced with PORT.
  TcpSocket ListenActive() {
    TcpSocket listener = TcpSocket::Open(AF_INET, nullptr);
    listener.Bind(Endpoint{"127.0.0.1", 0, AF_INET}, false);
    listener.Listen(1);
    const std::uint16_t port = listener.LocalEndpoint().port;
    const std::string reply =
        Command("PORT 127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff));
    if (reply != "200 PORT Command successful.") throw std::runtime_error("PORT: " + reply);
    return listener;
  }

  static TcpSocket AcceptActive(TcpSocket& listener) {
    TcpSocket data = listener.Accept(kWaitMs);
    if (!data.Valid()) throw std::runtime_error("no active data connection");
    return data;
  }

  // Everything until the server closes the data connection.
  static std::string ReadAll(TcpSocket& data) {
    std::string content;
    std::vector<char> buffer(65536);
    for (int reads = 0; reads < 1000000; ++reads) {
      if (data.WaitReadable(kWaitMs) != TcpSocket::WaitResult::Ready)
        throw std::runtime_error("data connection timed out");
      const std::size_t got = data.Receive(buffer.data(), buffer.size());
      if (got == 0) break;
      content.append(buffer.data(), got);
    }
    return content;
  }

  const std::string& Greeting() const { return greeting_; }
  TcpSocket& Control() { return control_.Socket(); }

 private:
  testing::LineClient control_;
  std::string greeting_;
};

}  // namespace corvane::datatest
