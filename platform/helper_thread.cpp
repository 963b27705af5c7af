#include "platform/helper_thread.h"

#include <system_error>
#include <utility>

namespace corvane {

HelperThread::HelperThread(std::function<void()> work) : work_(std::move(work)) {
  try {
    thread_ = std::thread([this] {
      try {
        work_();
      } catch (...) {
        failure_ = std::current_exception();
      }
    });
    started_ = true;
  } catch (const std::system_error&) {
    // no thread to be had: the caller does the work alone
  }
}

HelperThread::~HelperThread() {
  if (thread_.joinable()) thread_.join();
}

void HelperThread::Join() {
  if (thread_.joinable()) thread_.join();
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace corvane
