#include "service/activity_log.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace corvane {
namespace {

using corvane::testing::TempDir;

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Fixes the local time zone for one test.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = ::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

constexpr std::time_t kTuesdayDecember9 = 1765263903;  // 2025-12-09 07:05:03 UTC

TEST(ActivityLogTest, TimeStampIsTwentyFourCharactersOfLocalTime) {
  ScopedTimeZone utc("UTC");
  const struct {
    std::time_t time;
    const char* stamp;
  } cases[] = {
      {kTuesdayDecember9, "Tue Dec  9 07:05:03 2025"},
      {1709251199, "Thu Feb 29 23:59:59 2024"},
      {947462400, "Mon Jan 10 00:00:00 2000"},
      {0, "Thu Jan  1 00:00:00 1970"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLogTimeStamp(c.time), c.stamp);

  ScopedTimeZone tokyo("JST-9");
  EXPECT_EQ(FormatLogTimeStamp(kTuesdayDecember9), "Tue Dec  9 16:05:03 2025");
}

TEST(ActivityLogTest, WritesOneStampedLineWithTrailingBlankAndCrLf) {
  ScopedTimeZone utc("UTC");
  TempDir logs;
  ActivityLog log(logs.Path(), [] { return kTuesdayDecember9; });
  log.Write("FTP Service activated");
  log.Write("Could not load certificate.\nerror:80000002:system library::No such file");
  log.Write("");
  EXPECT_EQ(ReadFile(logs.Path() + "/main.log"),
            "Tue Dec  9 07:05:03 2025 - FTP Service activated \r\n"
            "Tue Dec  9 07:05:03 2025 - Could not load certificate.\n"
            "error:80000002:system library::No such file \r\n"
            "Tue Dec  9 07:05:03 2025 -  \r\n");
}

TEST(ActivityLogTest, DirectoryChangeAppliesFromTheNextLine) {
  TempDir root;
  const std::string defaults = root.Path() + "/logs";
  const std::string configured = root.Path() + "/configured";
  fs::create_directory(defaults);
  fs::create_directory(configured);

  ActivityLog log(defaults);
  EXPECT_EQ(log.Directory(), "");
  log.Write("Initializing FTP server");
  log.SetDirectory(configured);
  EXPECT_EQ(log.Directory(), configured);
  log.Write("127.0.0.1:21 Loading ip bindings");

  const std::string first = ReadFile(defaults + "/main.log");
  const std::string second = ReadFile(configured + "/main.log");
  EXPECT_NE(first.find(" - Initializing FTP server \r\n"), std::string::npos) << first;
  EXPECT_EQ(first.find("Loading"), std::string::npos);
  EXPECT_NE(second.find(" - 127.0.0.1:21 Loading ip bindings \r\n"), std::string::npos);
  EXPECT_EQ(second.find("Initializing"), std::string::npos);
}

TEST(ActivityLogTest, AppendsToAnExistingFile) {
  ScopedTimeZone utc("UTC");
  TempDir logs;
  std::ofstream(logs.Path() + "/main.log", std::ios::binary) << "earlier line\r\n";
  ActivityLog log(logs.Path(), [] { return kTuesdayDecember9; });
  log.Write("later");
  EXPECT_EQ(ReadFile(logs.Path() + "/main.log"),
            "earlier line\r\nTue Dec  9 07:05:03 2025 - later \r\n");
}

TEST(ActivityLogTest, ConcurrentWritersGiveWholeLinesInEachWritersOrder) {
  TempDir logs;
  ActivityLog log(logs.Path());
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  const std::string padding(300, 'x');  // long lines make torn writes visible
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&log, &padding, t] {
        for (int n = 0; n < kLines; ++n) {
          log.Write("writer " + std::to_string(t) + " line " + std::to_string(n) + " " + padding);
        }
      });
    }
  }
  std::istringstream content(ReadFile(logs.Path() + "/main.log"));
  std::map<int, int> next_line;
  std::string line;
  int count = 0;
  while (std::getline(content, line)) {
    ++count;
    ASSERT_GE(line.size(), 24u + 3u) << line;
    ASSERT_EQ(line.substr(24, 3), " - ") << line;
    int writer = -1, number = -1;
    char rest[400] = {};
    ASSERT_EQ(std::sscanf(line.c_str() + 27, "writer %d line %d %399s", &writer, &number, rest), 3)
        << line;
    ASSERT_EQ(std::string(rest), padding) << line;
    ASSERT_TRUE(line.ends_with(padding + " \r")) << line;
    EXPECT_EQ(number, next_line[writer]) << "writer " << writer;
    next_line[writer] = number + 1;
  }
  EXPECT_EQ(count, kThreads * kLines);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next_line[t], kLines);
}

TEST(ActivityLogTest, OnlyTheDefaultDirectoryIsMadeOnFirstUse) {
  TempDir root;
  ActivityLog log(root.Path() + "/logs");
  log.Write("Initializing FTP server");
  EXPECT_NE(ReadFile(root.Path() + "/logs/main.log").find(" - Initializing FTP server \r\n"),
            std::string::npos);

  log.SetDirectory(root.Path() + "/configured");
  log.Write("not kept in a file");
  EXPECT_FALSE(fs::exists(root.Path() + "/configured"));
}

TEST(ActivityLogTest, UnwritableDirectoryNeitherThrowsNorCreatesAnything) {
  TempDir root;
  const std::string missing = root.Path() + "/missing/deeper";
  ActivityLog log(missing);
  EXPECT_NO_THROW(log.Write("goes to the system log"));
  EXPECT_FALSE(fs::exists(root.Path() + "/missing"));

  const std::string plain_file = root.Path() + "/file";
  std::ofstream(plain_file) << "x";
  log.SetDirectory(plain_file);
  EXPECT_NO_THROW(log.Write("also to the system log"));

  // Back to a writable directory: logging goes on as before.
  log.SetDirectory(root.Path());
  log.Write("written");
  EXPECT_NE(ReadFile(root.Path() + "/main.log").find(" - written \r\n"), std::string::npos);
}

}  // namespace
}  // namespace corvane
