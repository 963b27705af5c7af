#include "platform/unit_installer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnvironment;
using testing::TempDir;
using testing::WriteFile;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

// A stand-in for systemctl that records its arguments and exits with the given status.
std::string FakeSystemctl(const TempDir& directory, int status) {
  const std::string path = directory.File("systemctl");
  WriteFile(path, "#!/bin/sh\necho \"$@\" >> '" + directory.File("systemctl.calls") + "'\nexit " +
                      std::to_string(status) + "\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(UnitInstallerTest, UnitTextNamesTheServiceAndTheExecutable) {
  EXPECT_EQ(ServiceUnitText("/opt/corvane/CorvaneServer"),
            "[Unit]\n"
            "Description=CorvaneServer\n"
            "After=network.target\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "LimitNOFILE=65536\n"
            "TasksMax=65536\n"
            "ExecStart=/opt/corvane/CorvaneServer\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
}

TEST(UnitInstallerTest, ExecStartQuotesAndEscapesUnusualPaths) {
  const struct {
    const char* path;
    const char* exec_start;
  } cases[] = {
      {"/opt/my server/CorvaneServer", "ExecStart=\"/opt/my server/CorvaneServer\"\n"},
      {"/opt/100%/x", "ExecStart=\"/opt/100%%/x\"\n"},
      {"/opt/$HOME/x", "ExecStart=\"/opt/$HOME/x\"\n"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(ServiceUnitText(c.path).find(c.exec_start), std::string::npos) << c.path;
  }
  for (const char* path : {"/opt/a\nExecStartPre=/bin/evil", "/opt/a\"b", "/opt/a\\b", "/opt/\t"}) {
    EXPECT_THROW(ServiceUnitText(path), std::runtime_error) << path;
  }
}

TEST(UnitInstallerTest, LocationIsTheOverrideOrTheSystemDirectory) {
  {
    ScopedEnvironment unit_dir("CORVANE_UNIT_DIR", "/tmp/units");
    const UnitLocation location = ServiceUnitLocation();
    EXPECT_EQ(location.directory, "/tmp/units");
    EXPECT_EQ(location.systemctl, "");
  }
  TempDir bin;
  const std::string systemctl = FakeSystemctl(bin, 0);
  ScopedEnvironment path("PATH", "/nonexistent:" + bin.Path());
  for (const std::optional<std::string>& value :
       {std::optional<std::string>(), std::optional<std::string>(""),
        std::optional<std::string>("/etc/systemd/system")}) {
    ScopedEnvironment unit_dir("CORVANE_UNIT_DIR", value);
    const UnitLocation location = ServiceUnitLocation();
    EXPECT_EQ(location.directory, "/etc/systemd/system");
    EXPECT_EQ(location.systemctl, systemctl);
  }
}

TEST(UnitInstallerTest, InstallWritesAndLinksTheUnitAndUninstallRemovesBoth) {
  TempDir units;
  const UnitLocation location{units.Path(), {}};
  InstallServiceUnit(location, "/opt/corvane/CorvaneServer");

  const std::string unit = units.File("CorvaneService.service");
  EXPECT_EQ(ReadFile(unit), ServiceUnitText("/opt/corvane/CorvaneServer"));
  const fs::path link = units.Path() + "/multi-user.target.wants/CorvaneService.service";
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), "../CorvaneService.service");
  EXPECT_TRUE(fs::equivalent(link, unit));

  EXPECT_EQ(ErrorOf([&] { InstallServiceUnit(location, "/elsewhere/CorvaneServer"); }),
            "File exists");
  EXPECT_EQ(ReadFile(unit), ServiceUnitText("/opt/corvane/CorvaneServer"));

  UninstallServiceUnit(location);
  EXPECT_FALSE(fs::exists(fs::symlink_status(unit)));
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(ErrorOf([&] { UninstallServiceUnit(location); }), "No such file or directory");
}

TEST(UnitInstallerTest, InstallKeepsOtherWantedUnits) {
  TempDir units;
  fs::create_directory(units.Path() + "/multi-user.target.wants");
  WriteFile(units.Path() + "/multi-user.target.wants/other.service", "");
  const UnitLocation location{units.Path(), {}};
  InstallServiceUnit(location, "/opt/CorvaneServer");
  UninstallServiceUnit(location);
  EXPECT_TRUE(fs::exists(units.Path() + "/multi-user.target.wants/other.service"));
}

TEST(UnitInstallerTest, MissingDirectoryFailsWithTheSystemText) {
  TempDir units;
  const UnitLocation location{units.File("missing"), {}};
  EXPECT_EQ(ErrorOf([&] { InstallServiceUnit(location, "/opt/CorvaneServer"); }),
            "No such file or directory");
}

TEST(UnitInstallerTest, SystemctlEnablesAndDisables) {
  TempDir units;
  TempDir bin;
  const UnitLocation location{units.Path(), FakeSystemctl(bin, 0)};
  InstallServiceUnit(location, "/opt/CorvaneServer");
  EXPECT_TRUE(fs::exists(units.File("CorvaneService.service")));
  EXPECT_FALSE(fs::exists(units.Path() + "/multi-user.target.wants"));
  UninstallServiceUnit(location);
  EXPECT_FALSE(fs::exists(units.File("CorvaneService.service")));
  EXPECT_EQ(ReadFile(bin.File("systemctl.calls")),
            "--quiet enable CorvaneService.service\n"
            "--quiet disable CorvaneService.service\n"
            "--quiet daemon-reload\n");
}

TEST(UnitInstallerTest, FailedEnableLeavesNoUnitBehind) {
  TempDir units;
  TempDir bin;
  const UnitLocation location{units.Path(), FakeSystemctl(bin, 3)};
  EXPECT_EQ(ErrorOf([&] { InstallServiceUnit(location, "/opt/CorvaneServer"); }),
            "systemctl enable CorvaneService.service exited with status 3");
  EXPECT_FALSE(fs::exists(units.File("CorvaneService.service")));
}

TEST(UnitInstallerTest, FailedDisableKeepsTheUnit) {
  TempDir units;
  TempDir bin;
  InstallServiceUnit(UnitLocation{units.Path(), FakeSystemctl(bin, 0)}, "/opt/CorvaneServer");
  TempDir failing_bin;
  const UnitLocation failing{units.Path(), FakeSystemctl(failing_bin, 1)};
  EXPECT_EQ(ErrorOf([&] { UninstallServiceUnit(failing); }),
            "systemctl disable CorvaneService.service exited with status 1");
  EXPECT_TRUE(fs::exists(units.File("CorvaneService.service")));
}

}  // namespace
}  // namespace corvane
