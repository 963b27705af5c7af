#include "platform/program_directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace corvane {
namespace {

TEST(ProgramDirectoryTest, IsTheRealDirectoryOfThisExecutable) {
  const std::string executable = ExecutablePath();
  ASSERT_FALSE(executable.empty());
  EXPECT_EQ(executable.front(), '/');
  EXPECT_EQ(executable, std::filesystem::canonical("/proc/self/exe").string());

  const std::string directory = ProgramDirectory();
  EXPECT_EQ(directory, std::filesystem::path(executable).parent_path().string());
  EXPECT_NE(directory.back(), '/');
  EXPECT_TRUE(std::filesystem::is_directory(directory));
}

TEST(ProgramDirectoryTest, DirectoryOfDropsTheLastComponent) {
  const struct {
    const char* path;
    const char* directory;
  } cases[] = {
      {"/srv/corvane/CorvaneServer", "/srv/corvane"},
      {"/CorvaneServer", "/"},
      {"/opt/a b/bin/x", "/opt/a b/bin"},
      {"CorvaneServer", "."},
  };
  for (const auto& c : cases) EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
}

}  // namespace
}  // namespace corvane
