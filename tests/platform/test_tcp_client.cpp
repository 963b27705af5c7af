#include "platform/tcp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A listening socket on a loopback address at a port the system picks.
class Listener {
 public:
  explicit Listener(int family = AF_INET, int backlog = 8) {
    fd_.Reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd_) throw std::runtime_error("socket failed");
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (family == AF_INET) {
      auto* in = reinterpret_cast<sockaddr_in*>(&storage);
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *in;
    } else {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      length = sizeof *in6;
    }
    if (::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
        ::listen(fd_.Get(), backlog) != 0 ||
        ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
      throw std::runtime_error("bind/listen failed");
    }
    port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&storage)->sin_port
                                    : reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
  }

  std::uint16_t Port() const { return port_; }

  // Waits up to 5 s for one client.
  UniqueFd Accept() const {
    pollfd entry{fd_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1) return UniqueFd();
    return UniqueFd(::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  }

 private:
  UniqueFd fd_;
  std::uint16_t port_ = 0;
};

// Runs the peer's part on its own thread and joins it at the end of the scope.
class Peer {
 public:
  Peer(const Listener& listener, std::function<void(int fd)> body)
      : thread_([&listener, body = std::move(body)] {
          UniqueFd fd = listener.Accept();
          if (fd) body(fd.Get());
        }) {}
  ~Peer() { thread_.join(); }

 private:
  std::thread thread_;
};

void SendText(int fd, const std::string& text) {
  ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Reads until the client ends the stream (at most 5 s of silence); returns what arrived.
std::string ReceiveAll(int fd, bool* orderly_end) {
  std::string received;
  char buffer[65536];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1) break;
    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
      *orderly_end = got == 0;
      break;
    }
    received.append(buffer, static_cast<std::size_t>(got));
  }
  return received;
}

bool HasIpv6Loopback() {
  UniqueFd fd(::socket(AF_INET6, SOCK_STREAM, 0));
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  return fd && ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

TEST(TcpClientTest, ReadsLinesAcrossPiecesAndStripsCr) {
  Listener listener;
  Peer peer(listener, [](int fd) {
    SendText(fd, "200 Wel");
    std::this_thread::sleep_for(20ms);
    SendText(fd, "come\r\nsecond\nthird\r\r\npart");
  });
  TcpClient client = TcpClient::Connect("127.0.0.1", listener.Port(), 2s);
  EXPECT_EQ(client.ReadLine(2s, 100), "200 Welcome");
  EXPECT_EQ(client.ReadLine(2s, 100), "second");
  EXPECT_EQ(client.ReadLine(2s, 100), "third\r");
  try {
    client.ReadLine(2s, 100);
    ADD_FAILURE() << "a line without LF before the close was returned";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("closed"), std::string::npos) << error.what();
  }
}

TEST(TcpClientTest, SendsEverythingAndClosesInOrder) {
  Listener listener;
  // More than the socket buffers hold, so part of it is still unsent when Close() is called.
  const std::string data(16 << 20, 'x');
  std::string received;
  bool orderly = false;
  {
    Peer peer(listener, [&](int fd) {
      SendText(fd, "greeting that the client never reads\r\n");
      std::this_thread::sleep_for(200ms);
      received = ReceiveAll(fd, &orderly);
    });
    TcpClient client = TcpClient::Connect("127.0.0.1", listener.Port(), 2s);
    client.SendAll(data, 5s);
    client.Close();
  }
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(orderly);
}

TEST(TcpClientTest, ConnectsByHostNameAndIpv6Literal) {
  Listener v4;
  Peer peer4(v4, [](int fd) { SendText(fd, "v4\n"); });
  EXPECT_EQ(TcpClient::Connect("localhost", v4.Port(), 2s).ReadLine(2s, 10), "v4");

  if (!HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
  Listener v6(AF_INET6);
  Peer peer6(v6, [](int fd) { SendText(fd, "v6\n"); });
  EXPECT_EQ(TcpClient::Connect("::1", v6.Port(), 2s).ReadLine(2s, 10), "v6");
}

TEST(TcpClientTest, RefusedConnectionThrows) {
  std::uint16_t port = 0;
  {
    Listener closed;
    port = closed.Port();
  }
  try {
    TcpClient::Connect("127.0.0.1", port, 2s);
    ADD_FAILURE() << "connected to a closed port";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("Connection refused"), std::string::npos)
        << error.what();
  }
}

TEST(TcpClientTest, TimeLimitsEndEveryWait) {
  // Once the accept queue is full, further handshakes are dropped and connect can only time out.
  Listener full(AF_INET, 0);
  std::vector<TcpClient> queued;
  bool timed_out = false;
  for (int attempt = 0; attempt < 8 && !timed_out; ++attempt) {
    const Clock::time_point start = Clock::now();
    try {
      queued.push_back(TcpClient::Connect("127.0.0.1", full.Port(), 300ms));
    } catch (const std::runtime_error& error) {
      timed_out = true;
      EXPECT_LT(Clock::now() - start, 5s);
      EXPECT_NE(std::string(error.what()).find("timed out"), std::string::npos) << error.what();
    }
  }
  EXPECT_TRUE(timed_out);
  ASSERT_FALSE(queued.empty());

  // Connected and silent: the read gives up.
  const Clock::time_point start = Clock::now();
  EXPECT_THROW(queued.front().ReadLine(300ms, 100), std::runtime_error);
  EXPECT_LT(Clock::now() - start, 5s);
}

TEST(TcpClientTest, LineLengthIsBounded) {
  Listener listener;
  Peer peer(listener,
            [](int fd) { SendText(fd, std::string(10, 'a') + "\n" + std::string(11, 'b')); });
  TcpClient client = TcpClient::Connect("127.0.0.1", listener.Port(), 2s);
  EXPECT_EQ(client.ReadLine(2s, 10), std::string(10, 'a'));
  EXPECT_THROW(client.ReadLine(2s, 10), std::runtime_error);
}

}  // namespace
}  // namespace corvane
