#include "formats/management_client.h"

#include <chrono>
#include <exception>

#include "platform/tcp_client.h"

namespace corvane {
namespace {

constexpr std::chrono::milliseconds kTimeLimit{3000};
// Replies are short; an unknown command is echoed back, and requests may be 16,384 characters.
constexpr std::size_t kMaxReplyLine = 65536;

void SendAndClose(const std::string& host, std::uint16_t port, const std::string& line) {
  try {
    TcpClient client = TcpClient::Connect(host, port, kTimeLimit);
    client.SendAll(line, kTimeLimit);
    client.Close();
  } catch (const std::exception&) {
    // Fire and forget: the service may be stopped or unreachable.
  }
}

}  // namespace

std::optional<std::string> QueryUsersStatus(const std::string& host, std::uint16_t port,
                                            const std::string& password) {
  try {
    TcpClient client = TcpClient::Connect(host, port, kTimeLimit);
    client.SendAll("USERSSTATUS " + password + "\r\n", kTimeLimit);
    client.ReadLine(kTimeLimit, kMaxReplyLine);  // the greeting
    std::string reply = client.ReadLine(kTimeLimit, kMaxReplyLine);
    client.Close();
    return reply;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void SendUsersReload(const std::string& host, std::uint16_t port, const std::string& password) {
  SendAndClose(host, port, "USERSRELOAD " + password + "\r\n");
}

void SendRulesReload(const std::string& host, std::uint16_t port, const std::string& password) {
  SendAndClose(host, port, "RULESRELOAD " + password + "\r\n");
}

}  // namespace corvane
