#include "service/net/connection_thread.h"

#include <exception>
#include <system_error>
#include <utility>

namespace corvane {
namespace {

void* RunBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

// Frees the attribute object whatever happens.
class ThreadAttributes {
 public:
  ThreadAttributes() { ::pthread_attr_init(&attributes_); }
  ~ThreadAttributes() { ::pthread_attr_destroy(&attributes_); }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;
  pthread_attr_t* Get() { return &attributes_; }

 private:
  pthread_attr_t attributes_;
};

}  // namespace

ConnectionThread::ConnectionThread(std::function<void()> body) {
  ThreadAttributes attributes;
  ::pthread_attr_setstacksize(attributes.Get(), kStackSize);
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  const int error = ::pthread_create(&thread, attributes.Get(), RunBody, owned.get());
  if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_create");
  owned.release();  // the thread owns it now
  handle_ = thread;
  started_ = true;
}

ConnectionThread::ConnectionThread(ConnectionThread&& other) noexcept
    : handle_(other.handle_), started_(std::exchange(other.started_, false)) {}

ConnectionThread& ConnectionThread::operator=(ConnectionThread&& other) noexcept {
  if (this != &other) {
    if (started_) std::terminate();  // as std::thread: a running thread is never dropped
    handle_ = other.handle_;
    started_ = std::exchange(other.started_, false);
  }
  return *this;
}

ConnectionThread::~ConnectionThread() {
  if (started_) std::terminate();
}

void ConnectionThread::Join() {
  if (!started_) return;
  ::pthread_join(handle_, nullptr);
  started_ = false;
}

}  // namespace corvane
