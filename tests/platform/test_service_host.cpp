#include "platform/service_host.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/program_directory.h"
#include "platform/unit_installer.h"
#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::NotifyListener;
using testing::ScopedEnvironment;
using testing::TempDir;

// Records every event and every handler call in one sequence.
class Recorder : public EventSink {
 public:
  void Information(const std::string& text) override { lines.push_back("info: " + text); }
  void Error(const std::string& text) override { lines.push_back("error: " + text); }
  std::vector<std::string> lines;
};

bool StopSignalBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  return sigismember(&mask, SIGTERM) || sigismember(&mask, SIGINT);
}

bool StopSignalPending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT);
}

TEST(ServiceHostTest, RunsStartThenWaitsForTheStopSignalThenStops) {
  for (const int stop_signal : {SIGTERM, SIGINT}) {
    NotifyListener listener;
    Recorder recorder;
    const ServiceHandlers handlers{
        [&] {
          recorder.lines.push_back("start");
          EXPECT_EQ(listener.Next(), std::nullopt);  // READY only after start returns
          ::kill(::getpid(), stop_signal);
        },
        [&] {
          recorder.lines.push_back("stop");
          EXPECT_EQ(listener.Next(), "READY=1");
          EXPECT_EQ(listener.Next(), "STOPPING=1\nEXTEND_TIMEOUT_USEC=5000000");
          ::kill(::getpid(), SIGTERM);  // a second request while stopping is absorbed
        }};
    EXPECT_EQ(RunServiceInForeground(recorder, handlers), 0);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"start", "stop"}));
    EXPECT_FALSE(StopSignalBlocked());
    EXPECT_FALSE(StopSignalPending());
  }
}

TEST(ServiceHostTest, FailedStartIsAnErrorEventAndSkipsStop) {
  NotifyListener listener;
  Recorder recorder;
  const ServiceHandlers handlers{[] { throw std::runtime_error("Bad port value \"x\""); },
                                 [&] { recorder.lines.push_back("stop"); }};
  EXPECT_EQ(RunServiceInForeground(recorder, handlers), 1);
  EXPECT_EQ(recorder.lines,
            (std::vector<std::string>{"error: Service failed on start: Bad port value \"x\""}));
  EXPECT_EQ(listener.Next(), std::nullopt);  // never reported ready
  EXPECT_FALSE(StopSignalBlocked());
}

TEST(ServiceHostTest, FailedStopIsAnErrorEvent) {
  Recorder recorder;
  const ServiceHandlers handlers{[] { ::kill(::getpid(), SIGTERM); },
                                 [] { throw std::runtime_error("stuck"); }};
  EXPECT_EQ(RunServiceInForeground(recorder, handlers), 1);
  EXPECT_EQ(recorder.lines, (std::vector<std::string>{"error: Service failed on stop: stuck"}));
}

TEST(ServiceHostTest, InstallAndUninstallReportOnTheRightStream) {
  TempDir units;
  ScopedEnvironment unit_dir("CORVANE_UNIT_DIR", units.Path());
  Recorder recorder;
  const ServiceHandlers never{[&] { ADD_FAILURE() << "service started"; }, nullptr};
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* out;
    const char* err;
    bool installed_after;
  } steps[] = {
      {{"/install"}, 0, "Service installed successfully\n", "", true},
      {{"-INSTALL", "/silent"},
       1,
       "",
       "Service \"CorvaneServer\" failed to install with error: \"File exists\"\n",
       true},
      {{"-UNINSTALL"}, 0, "Service uninstalled successfully\n", "", false},
      {{"/uninstall", "/SILENT"},
       1,
       "",
       "Service \"CorvaneServer\" failed to uninstall with error: \"No such file or directory\"\n",
       false},
      {{"/install", "/silent"}, 0, "", "", true},
      {{"/uninstall", "-silent"}, 0, "", "", false},
  };
  for (const auto& step : steps) {
    std::ostringstream out, err;
    EXPECT_EQ(RunServiceHost(step.arguments, recorder, never, out, err), step.status);
    const std::string label = ::testing::PrintToString(step.arguments);
    EXPECT_EQ(out.str(), step.out) << label;
    EXPECT_EQ(err.str(), step.err) << label;
    EXPECT_EQ(fs::exists(units.File(kServiceUnitName)), step.installed_after) << label;
  }
  EXPECT_TRUE(recorder.lines.empty());
}

TEST(ServiceHostTest, InstalledUnitStartsThisExecutable) {
  TempDir units;
  ScopedEnvironment unit_dir("CORVANE_UNIT_DIR", units.Path());
  std::ostringstream out, err;
  ASSERT_EQ(RunServiceInstaller({.install = true}, out, err), 0) << err.str();
  EXPECT_EQ(testing::ReadFile(units.File(kServiceUnitName)), ServiceUnitText(ExecutablePath()));
}

}  // namespace
}  // namespace corvane
