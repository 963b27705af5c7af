#pragma once

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/unique_fd.h"
#include "tests/support/test_files.h"

namespace corvane::testing {

// Sets (or, with std::nullopt, removes) one environment variable and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value)
      : name_(std::move(name)) {
    if (const char* old = ::getenv(name_.c_str())) old_ = old;
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Plays systemd's side of the notification protocol: a datagram socket in a temporary
// directory, named by NOTIFY_SOCKET while this object lives.
class NotifyListener {
 public:
  NotifyListener()
      : path_(directory_.File("notify")),
        socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)),
        environment_("NOTIFY_SOCKET", path_) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!socket_ || path_.size() >= sizeof address.sun_path) {
      throw std::runtime_error("cannot make the notify socket");
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    if (::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("cannot bind the notify socket");
    }
  }

  // The next message already sent, or std::nullopt when none is waiting.
  std::optional<std::string> Next() {
    char buffer[4096];
    const ssize_t size = ::recv(socket_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (size < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(size));
  }

 private:
  TempDir directory_;
  std::string path_;
  UniqueFd socket_;
  ScopedEnvironment environment_;
};

}  // namespace corvane::testing
