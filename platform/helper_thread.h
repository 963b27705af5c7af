#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <thread>

namespace corvane {

// One piece of work on a second thread, for work the caller could also do itself. The thread
// is joined on every path and what the work throws is kept for Join, so an exception on either
// thread reaches the caller instead of ending the process (std::terminate).
class HelperThread {
 public:
  // Starts work on a new thread. When the system grants none, nothing runs and Started() is
  // false: the caller does the work itself.
  explicit HelperThread(std::function<void()> work);
  // Waits for the work to end; what it threw is dropped (the caller is unwinding already, or
  // has called Join).
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  bool Started() const { return started_; }
  // Waits for the work to end and rethrows what it threw.
  void Join();

 private:
  std::function<void()> work_;
  std::exception_ptr failure_;  // written by the thread, read after it is joined
  bool started_ = false;
  std::thread thread_;
};

// Runs work(worker, begin, end) over [0, count). A count of at least minimum is split between
// this thread (worker 0, the first half) and a helper thread (worker 1, the second half) when
// one can be started; otherwise it is all worker 0's. Returns whether it was split, once every
// part is done. What a worker throws reaches the caller (worker 0's when both throw), after
// the other worker has ended.
template <class Work>
bool RunOnTwoThreads(std::size_t count, std::size_t minimum, const Work& work) {
  const std::size_t half = count / 2;
  std::optional<HelperThread> helper;
  if (count >= minimum) helper.emplace([&] { work(1, half, count); });
  const bool split = helper && helper->Started();
  work(0, 0, split ? half : count);
  if (split) helper->Join();
  return split;
}

}  // namespace corvane
