#include "service/net/tcp_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace corvane {
namespace {

// A plain blocking client socket connected to 127.0.0.x:port.
UniqueFd ConnectTo(const std::string& address, std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &target.sin_addr);
  timeval limit{5, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) return {};
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[256];
  for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) text.append(buffer, got);
  return text;
}

// Waits (bounded) until the condition holds.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

TcpServer GreetingServer() {
  return TcpServer([](TcpSocket& socket) { socket.SendAll("hello\r\n"); });
}

TEST(TcpServerTest, ServesEveryBindingOnItsOwnAddress) {
  TcpServer server([](TcpSocket& socket) { socket.SendAll(socket.LocalEndpoint().address); });
  server.AddBinding("127.0.0.1", 0);
  server.AddBinding("127.0.0.2", 0);
  server.Activate();
  const auto endpoints = server.ListeningEndpoints();
  ASSERT_EQ(endpoints.size(), 2u);
  for (const Endpoint& endpoint : endpoints) {
    UniqueFd client = ConnectTo(endpoint.address, endpoint.port);
    ASSERT_TRUE(client.Valid());
    EXPECT_EQ(ReadAll(client.Get()), endpoint.address);
  }
  server.Deactivate();
  EXPECT_FALSE(server.Active());
}

TEST(TcpServerTest, SameAddressTwiceFailsAndClosesWhatWasOpened) {
  TcpServer probe([](TcpSocket&) {});
  probe.AddBinding("127.0.0.1", 0);
  probe.Activate();
  const std::uint16_t port = probe.ListeningEndpoints().front().port;
  probe.Deactivate();

  TcpServer server([](TcpSocket&) {});
  server.AddBinding("127.0.0.1", port);
  server.AddBinding("127.0.0.1", port);
  try {
    server.Activate();
    FAIL() << "activation succeeded";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(server.Active());
  // The first socket was closed again: the port can be bound now.
  TcpServer again([](TcpSocket&) {});
  again.AddBinding("127.0.0.1", port);
  EXPECT_NO_THROW(again.Activate());
}

TEST(TcpServerTest, PortInUseFailsActivation) {
  TcpServer first([](TcpSocket&) {});
  first.AddBinding("127.0.0.1", 0);
  first.Activate();
  TcpServer second([](TcpSocket&) {});
  second.AddBinding("127.0.0.1", first.ListeningEndpoints().front().port);
  EXPECT_THROW(second.Activate(), std::runtime_error);
}

TEST(TcpServerTest, WithoutBindingsListensOnTheWildcardAtTheDefaultPort) {
  TcpServer server = GreetingServer();
  server.SetDefaultPort(0);
  server.Activate();
  const auto endpoints = server.ListeningEndpoints();
  ASSERT_FALSE(endpoints.empty());
  EXPECT_EQ(endpoints.front().address, "0.0.0.0");
  UniqueFd client = ConnectTo("127.0.0.1", endpoints.front().port);
  ASSERT_TRUE(client.Valid());
  EXPECT_EQ(ReadAll(client.Get()), "hello\r\n");
}

TEST(TcpServerTest, DeactivationClosesOpenConnectionsAndJoinsTheirThreads) {
  std::atomic<int> ended{0};
  TcpServer server([&](TcpSocket& socket) {
    char byte;
    try {
      while (socket.Receive(&byte, 1) > 0) {
      }
    } catch (const SocketError&) {
    }
    ++ended;
  });
  server.AddBinding("127.0.0.1", 0);
  server.Activate();
  const std::uint16_t port = server.ListeningEndpoints().front().port;
  UniqueFd a = ConnectTo("127.0.0.1", port), b = ConnectTo("127.0.0.1", port);
  ASSERT_TRUE(Eventually([&] { return server.ConnectionCount() == 2; }));
  server.Deactivate();
  EXPECT_EQ(ended, 2);
  EXPECT_EQ(ReadAll(a.Get()), "");  // closed by the server
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST(TcpServerTest, ConnectionsOverTheLimitAreRefused) {
  TcpServer server([](TcpSocket& socket) {
    char byte;
    while (socket.Receive(&byte, 1) > 0) {
    }
  });
  server.SetMaxConnections(1, [](TcpSocket& socket) { socket.SendAll("421 full\r\n"); });
  server.AddBinding("127.0.0.1", 0);
  server.Activate();
  const std::uint16_t port = server.ListeningEndpoints().front().port;
  UniqueFd first = ConnectTo("127.0.0.1", port);
  ASSERT_TRUE(Eventually([&] { return server.ConnectionCount() == 1; }));
  UniqueFd second = ConnectTo("127.0.0.1", port);
  EXPECT_EQ(ReadAll(second.Get()), "421 full\r\n");
  first.Reset();  // the slot frees once the first connection has ended
  ASSERT_TRUE(Eventually([&] { return server.ConnectionCount() == 0; }));
  UniqueFd third = ConnectTo("127.0.0.1", port);
  ASSERT_TRUE(Eventually([&] { return server.ConnectionCount() == 1; }));
}

// Keepalive with the given settings; replies sent at once, not held back for the peer's
// acknowledgement of the last (TCP_NODELAY).
TEST(TcpServerTest, ConnectionsUseKeepAliveAndSendWithoutDelay) {
  std::atomic<int> seen[5] = {-1, -1, -1, -1, -1};
  TcpServer server([&](TcpSocket& socket) {
    const int options[5][2] = {{IPPROTO_TCP, TCP_NODELAY},
                               {SOL_SOCKET, SO_KEEPALIVE},
                               {IPPROTO_TCP, TCP_KEEPIDLE},
                               {IPPROTO_TCP, TCP_KEEPINTVL},
                               {IPPROTO_TCP, TCP_KEEPCNT}};
    for (int index = 4; index >= 0; --index) {
      int value = -1;
      socklen_t size = sizeof value;
      ::getsockopt(socket.Fd(), options[index][0], options[index][1], &value, &size);
      seen[index] = value;
    }
  });
  server.SetKeepAlive({7, 3, 2});
  server.AddBinding("127.0.0.1", 0);
  server.Activate();
  UniqueFd client = ConnectTo("127.0.0.1", server.ListeningEndpoints().front().port);
  ASSERT_TRUE(Eventually([&] { return seen[0] != -1; }));
  EXPECT_NE(seen[0], 0);
  EXPECT_EQ(seen[1], 1);
  EXPECT_EQ(seen[2], 7);
  EXPECT_EQ(seen[3], 3);
  EXPECT_EQ(seen[4], 2);
}

}  // namespace
}  // namespace corvane
