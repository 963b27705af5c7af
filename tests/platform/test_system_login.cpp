// Logins against the machine's accounts through PAM, checked with pam_wrapper and pam_matrix so
// that nothing under /etc is read or changed. The outer test writes a PAM service and a
// password file, then runs this same test program again with pam_wrapper preloaded; the inner
// test does the checks.
#include "platform/system_login.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform_test_support.h"

extern char** environ;

namespace corvane {
namespace {

std::optional<std::string> FirstExisting(const std::vector<std::string>& paths) {
  for (const std::string& path : paths)
    if (std::filesystem::exists(path)) return path;
  return std::nullopt;
}

std::optional<std::string> Environment(const char* name) {
  const char* value = ::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

struct Account {
  std::string name;
  std::string home;
};

std::optional<Account> AccountOfUid(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  if (!entry || !entry->pw_dir) return std::nullopt;
  return Account{entry->pw_name, entry->pw_dir};
}

// Inside the child: pam_wrapper is loaded and the "corvane" service uses pam_matrix.
TEST(SystemLoginUnderPamWrapper, ChecksPasswordAccountAndHome) {
  const std::optional<std::string> user = Environment("CORVANE_TEST_PAM_USER");
  if (!user) GTEST_SKIP() << "runs only inside SystemLoginTest.ThroughPamMatrix";
  const std::string home = *Environment("CORVANE_TEST_PAM_HOME");

  EXPECT_EQ(CheckSystemLogin("corvane", *user, "Right#1"), home);
  EXPECT_EQ(CheckSystemLogin("corvane", *user, "right#1"), std::nullopt);
  EXPECT_EQ(CheckSystemLogin("corvane", *user, ""), std::nullopt);
  EXPECT_EQ(CheckSystemLogin("corvane", *user, "Right#1 "), std::nullopt);
  // Known to the password file but not to the machine: there is no home, so no login.
  EXPECT_EQ(CheckSystemLogin("corvane", "corvane-no-such-account", "ghost"), std::nullopt);
  // Not in the password file at all.
  EXPECT_EQ(CheckSystemLogin("corvane", "corvane-stranger", "x"), std::nullopt);
  // A right password for an account that may not use this service is refused by the
  // account check.
  if (const std::optional<std::string> other = Environment("CORVANE_TEST_PAM_OTHER")) {
    EXPECT_EQ(CheckSystemLogin("corvane", *other, "Other#2"), std::nullopt);
  }
}

TEST(SystemLoginTest, ThroughPamMatrix) {
  const std::optional<std::string> wrapper =
      FirstExisting({"/usr/lib/x86_64-linux-gnu/libpam_wrapper.so",
                     "/usr/lib/aarch64-linux-gnu/libpam_wrapper.so", "/usr/lib64/libpam_wrapper.so",
                     "/usr/lib/libpam_wrapper.so"});
  if (!wrapper) GTEST_SKIP() << "pam_wrapper is not installed";
  const std::string matrix =
      std::filesystem::path(*wrapper).parent_path() / "pam_wrapper" / "pam_matrix.so";
  ASSERT_TRUE(std::filesystem::exists(matrix)) << matrix;
  const std::optional<Account> self = AccountOfUid(::getuid());
  ASSERT_TRUE(self);
  // A second account of the machine, allowed only for another service.
  std::optional<Account> other;
  for (const char* name : {"daemon", "nobody", "bin"}) {
    const passwd* entry = ::getpwnam(name);
    if (entry && self->name != name) {
      other = Account{name, entry->pw_dir ? entry->pw_dir : ""};
      break;
    }
  }

  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("services"));
  const std::string passdb = dir.File("passdb");
  std::string users = self->name + ":Right#1:corvane\ncorvane-no-such-account:ghost:corvane\n";
  if (other) users += other->name + ":Other#2:sshd\n";
  testing::WriteFile(passdb, users);
  const std::string module = matrix + " passdb=" + passdb + "\n";
  testing::WriteFile(dir.File("services/corvane"),
                     "auth required " + module + "account required " + module);
  // The fallback service that PAM always reads: it knows nobody.
  testing::WriteFile(dir.File("nobody"), "");
  const std::string refuse = matrix + " passdb=" + dir.File("nobody") + "\n";
  testing::WriteFile(dir.File("services/other"),
                     "auth required " + refuse + "account required " + refuse);

  std::vector<std::string> variables;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable = *entry;
    if (variable.rfind("ASAN_OPTIONS=", 0) != 0) variables.push_back(variable);
  }
  // The sanitizer runtime would refuse to start behind another preloaded library.
  const std::optional<std::string> asan = Environment("ASAN_OPTIONS");
  variables.push_back("ASAN_OPTIONS=" + (asan ? *asan + ":" : "") + "verify_asan_link_order=0");
  variables.push_back("LD_PRELOAD=" + *wrapper);
  variables.push_back("PAM_WRAPPER=1");
  // Deep binding breaks the sanitizer runtime; this version of the wrapper reads the second name.
  variables.push_back("PAM_WRAPPER_DISABLE_DEEPBIND=1");
  variables.push_back("UID_WRAPPER_DISABLE_DEEPBIND=1");
  variables.push_back("PAM_WRAPPER_SERVICE_DIR=" + dir.File("services"));
  variables.push_back("CORVANE_TEST_PAM_USER=" + self->name);
  variables.push_back("CORVANE_TEST_PAM_HOME=" + self->home);
  if (other) variables.push_back("CORVANE_TEST_PAM_OTHER=" + other->name);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=SystemLoginUnderPamWrapper.*";
  std::string no_color = "--gtest_color=no";
  char* argv[] = {program.data(), filter.data(), no_color.data(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the checks under pam_wrapper failed (output above)";
}

}  // namespace
}  // namespace corvane
