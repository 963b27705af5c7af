#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <memory>

namespace corvane {

// A thread that serves one connection, with a small stack of its own instead of the system's
// default of several MiB, so that thousands of idle sessions stay cheap. The stack is large
// enough for the deepest path of a session (a TLS handshake, a login through PAM, reading an
// accounts file) with a wide margin.
class ConnectionThread {
 public:
  static constexpr std::size_t kStackSize =
#if defined(__SANITIZE_ADDRESS__)
      2 * 1024 * 1024;  // the sanitizer's redzones make every frame larger
#else
      256 * 1024;
#endif

  ConnectionThread() = default;
  // Starts body on a new thread; throws std::system_error when no thread can be made.
  explicit ConnectionThread(std::function<void()> body);
  ConnectionThread(ConnectionThread&& other) noexcept;
  ConnectionThread& operator=(ConnectionThread&& other) noexcept;
  // A thread that was started must have been joined.
  ~ConnectionThread();

  bool Joinable() const {
    return started_;
  }
  void Join();

 private:
  pthread_t handle_{};
  bool started_ = false;
};

}  // namespace corvane
