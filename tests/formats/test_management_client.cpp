#include "formats/management_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "platform/unique_fd.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

// A management port stand-in on 127.0.0.1 at a port the system picks. The body, when given, runs
// on its own thread with the first client; without one the port listens and never accepts.
class FakeManagementPort {
 public:
  explicit FakeManagementPort(std::function<void(int fd)> body = nullptr) {
    fd_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd_ || ::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_.Get(), 8) != 0 ||
        ::getsockname(fd_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen on loopback");
    }
    port_ = ntohs(address.sin_port);
    if (body) {
      thread_ = std::thread([this, body = std::move(body)] {
        pollfd entry{fd_.Get(), POLLIN, 0};
        if (::poll(&entry, 1, 5000) != 1) return;
        UniqueFd client(::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (client) body(client.Get());
      });
    }
  }
  ~FakeManagementPort() {
    if (thread_.joinable()) thread_.join();
  }

  std::uint16_t Port() const { return port_; }

 private:
  UniqueFd fd_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

void SendText(int fd, const std::string& text) {
  ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

// Reads up to and including the first LF (at most 5 s of silence per read).
std::string ReadRequest(int fd) {
  std::string request;
  char c = 0;
  while (request.size() < 1024) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1 || ::recv(fd, &c, 1, 0) != 1) break;
    request += c;
    if (c == '\n') break;
  }
  return request;
}

// True when the client ended the stream after its request (EOF or reset, within 5 s).
bool StreamEnds(int fd) {
  pollfd entry{fd, POLLIN, 0};
  char c = 0;
  return ::poll(&entry, 1, 5000) == 1 && ::recv(fd, &c, 1, 0) <= 0;
}

std::uint16_t ClosedPort() {
  FakeManagementPort closed;
  return closed.Port();
}

TEST(ManagementClientTest, StatusQueryReturnsTheSecondLineWhole) {
  // With a result the fake waits for the client to end the stream; without one it closes.
  struct Case {
    std::string server_sends;
    std::optional<std::string> result;
  };
  const Case cases[] = {
      {"200 3\r\n", "200 3"},  {"201 Authorization failed\r\n", "201 Authorization failed"},
      {"200 0\n", "200 0"},    {"", std::nullopt},  // closed after the greeting
      {"200 1", std::nullopt},                      // closed before the line ended
  };
  for (const Case& c : cases) {
    std::string request;
    bool ended = false;
    std::optional<std::string> result;
    {
      FakeManagementPort port([&](int fd) {
        SendText(fd, "200 Welcome\r\n");
        request = ReadRequest(fd);
        SendText(fd, c.server_sends);
        ended = !c.result || StreamEnds(fd);
      });
      result = QueryUsersStatus("127.0.0.1", port.Port(), "62#%8152@7&&");
    }
    EXPECT_EQ(request, "USERSSTATUS 62#%8152@7&&\r\n");
    EXPECT_EQ(result, c.result) << c.server_sends;
    EXPECT_TRUE(ended);
  }
}

TEST(ManagementClientTest, StatusQueryReadsGreetingAndReplyArrivingTogether) {
  FakeManagementPort port([](int fd) {
    ReadRequest(fd);
    SendText(fd, "200 Welcome\r\n200 2\r\n");
    StreamEnds(fd);
  });
  EXPECT_EQ(QueryUsersStatus("127.0.0.1", port.Port(), "pw"), "200 2");
}

TEST(ManagementClientTest, StatusQueryGivesUpOnSilentAndRefusedPorts) {
  EXPECT_EQ(QueryUsersStatus("127.0.0.1", ClosedPort(), "pw"), std::nullopt);

  // Accepted by the kernel, never answered: the read limit ends the query.
  FakeManagementPort silent;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(QueryUsersStatus("127.0.0.1", silent.Port(), "pw"), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(ManagementClientTest, ReloadRequestsSendOneLineAndClose) {
  struct Case {
    void (*send)(const std::string&, std::uint16_t, const std::string&);
    const char* line;
  };
  const Case cases[] = {
      {SendUsersReload, "USERSRELOAD secret\r\n"},
      {SendRulesReload, "RULESRELOAD secret\r\n"},
  };
  for (const Case& c : cases) {
    std::string request;
    bool ended = false;
    {
      FakeManagementPort port([&](int fd) {
        SendText(fd, "200 Welcome\r\n");
        request = ReadRequest(fd);
        ended = StreamEnds(fd);
      });
      c.send("127.0.0.1", port.Port(), "secret");
    }
    EXPECT_EQ(request, c.line);
    EXPECT_TRUE(ended) << c.line;

    // Failures are swallowed.
    EXPECT_NO_THROW(c.send("127.0.0.1", ClosedPort(), "secret"));
    FakeManagementPort silent;
    EXPECT_NO_THROW(c.send("127.0.0.1", silent.Port(), "secret"));
  }
}

}  // namespace
}  // namespace corvane
