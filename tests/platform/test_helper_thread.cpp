// Work split with a second thread: every part done once, and an exception on either thread
// reaching the caller after both have ended, never ending the process.
#include "platform/helper_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace corvane {
namespace {

struct SplitCase {
  const char* name;
  std::size_t count;
  std::size_t minimum;
  int throwing_worker;  // -1 for none, 2 for both
  bool split;
  const char* thrown;  // what the caller sees, "" for nothing
};

class RunOnTwoThreadsTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(RunOnTwoThreadsTest, EveryIndexOnceAndFailuresReachTheCaller) {
  const SplitCase& split_case = GetParam();
  std::vector<std::atomic<int>> visits(split_case.count);
  std::atomic<int> workers_seen[2] = {0, 0};
  const auto work = [&](int worker, std::size_t begin, std::size_t end) {
    ++workers_seen[worker];
    if (split_case.throwing_worker == worker || split_case.throwing_worker == 2)
      throw std::runtime_error("worker " + std::to_string(worker));
    for (std::size_t index = begin; index < end; ++index) ++visits[index];
  };
  std::string thrown;
  bool split = false;
  try {
    split = RunOnTwoThreads(split_case.count, split_case.minimum, work);
  } catch (const std::runtime_error& error) {
    thrown = error.what();
  }
  EXPECT_EQ(thrown, split_case.thrown);
  if (thrown.empty()) {
    EXPECT_EQ(split, split_case.split);
  }
  // The other worker has ended before the call returned or threw.
  EXPECT_EQ(workers_seen[0].load(), 1);
  EXPECT_EQ(workers_seen[1].load(), split_case.split ? 1 : 0);
  const std::size_t half = split_case.count / 2;
  for (std::size_t index = 0; index < split_case.count; ++index) {
    const int worker = split_case.split && index >= half ? 1 : 0;
    const bool failed = split_case.throwing_worker == worker || split_case.throwing_worker == 2;
    EXPECT_EQ(visits[index].load(), failed ? 0 : 1) << "index " << index;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunOnTwoThreadsTest,
    ::testing::Values(SplitCase{"BelowTheMinimum", 9, 10, -1, false, ""},
                      SplitCase{"AtTheMinimum", 10, 10, -1, true, ""},
                      SplitCase{"OddCount", 1001, 10, -1, true, ""},
                      SplitCase{"NothingToDo", 0, 10, -1, false, ""},
                      SplitCase{"ThisThreadThrowsAlone", 9, 10, 0, false, "worker 0"},
                      SplitCase{"ThisThreadThrows", 1000, 10, 0, true, "worker 0"},
                      SplitCase{"TheHelperThrows", 1000, 10, 1, true, "worker 1"},
                      SplitCase{"BothThrowThisThreadsFirst", 1000, 10, 2, true, "worker 0"}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(HelperThreadTest, JoinRethrowsOnceAndTheDestructorWaitsForTheWork) {
  std::atomic<bool> done = false;
  {
    HelperThread helper([&] { throw std::logic_error("from the helper"); });
    ASSERT_TRUE(helper.Started());
    EXPECT_THROW(helper.Join(), std::logic_error);
    EXPECT_NO_THROW(helper.Join());
  }
  {
    // Left while this thread unwinds: the helper is waited for, its work not cut short.
    try {
      HelperThread helper([&] {
        for (int round = 0; round < 1000; ++round) std::this_thread::yield();
        done = true;
      });
      throw std::runtime_error("beside the helper");
    } catch (const std::runtime_error&) {
    }
  }
  EXPECT_TRUE(done);
}

}  // namespace
}  // namespace corvane
