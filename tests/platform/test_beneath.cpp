#include "platform/beneath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file_stream.h"
#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using namespace std::string_literals;

// A home directory beside a directory it must never reach, with links leading out of it.
class BeneathTest : public ::testing::Test {
 protected:
  BeneathTest() : home_path_(temp_.File("home")), outside_(temp_.File("outside")) {
    fs::create_directories(home_path_ + "/sub");
    fs::create_directories(outside_);
    WriteFile(outside_ + "/secret", "secret");
    WriteFile(home_path_ + "/a.txt", "0123456789");
    WriteFile(home_path_ + "/sub/b.txt", "b");
    fs::create_symlink("/etc/passwd", home_path_ + "/link_passwd");
    fs::create_symlink("../outside/secret", home_path_ + "/link_relative_out");
    fs::create_symlink(outside_, home_path_ + "/link_dir_out");
    fs::create_symlink(outside_ + "/new", home_path_ + "/link_dangling_out");
    fs::create_symlink("a.txt", home_path_ + "/link_in");
    fs::create_symlink("../a.txt", home_path_ + "/sub/link_up");
    if (::mkfifo((home_path_ + "/fifo").c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
    home_.emplace(home_path_);
  }

  int ErrorOf(const std::function<void()>& operation) {
    try {
      operation();
    } catch (const FileSystemError& error) {
      return error.Error();
    }
    return 0;
  }

  TempDir temp_;
  std::string home_path_;
  std::string outside_;
  std::optional<BeneathDirectory> home_;
};

TEST_F(BeneathTest, KindFollowsLinksOnlyWhileTheyStayInside) {
  const struct {
    std::string path;
    FileKind kind;
  } cases[] = {
      {"/", FileKind::Directory},
      {"", FileKind::Directory},
      {"/a.txt", FileKind::Regular},
      {"a.txt", FileKind::Regular},
      {"//sub//b.txt", FileKind::Regular},
      {"/sub", FileKind::Directory},
      {"/sub/./b.txt", FileKind::Regular},
      {"/sub/../a.txt", FileKind::Regular},
      {"/link_in", FileKind::Regular},
      {"/sub/link_up", FileKind::Regular},
      {"/fifo", FileKind::Other},
      {"/missing", FileKind::Missing},
      {"/a.txt/", FileKind::Missing},
      {"/link_passwd", FileKind::Missing},
      {"/link_relative_out", FileKind::Missing},
      {"/link_dir_out", FileKind::Missing},
      {"/link_dir_out/secret", FileKind::Missing},
      {"/../outside/secret", FileKind::Missing},
      {"/sub/../../outside/secret", FileKind::Missing},
      {"/a.txt\0/etc"s, FileKind::Missing},
      {"/a.txt\0"s, FileKind::Missing},
  };
  for (const auto& c : cases) EXPECT_EQ(home_->Kind(c.path), c.kind) << c.path;
}

TEST_F(BeneathTest, OpenLockedRefusesWhatIsNotAReachableRegularFile) {
  const struct {
    std::string path;
    int error;
  } cases[] = {
      {"/missing", ENOENT},
      {"/link_passwd", ENOENT},
      {"/link_relative_out", ENOENT},
      {"/link_dir_out/secret", ENOENT},
      {"/../outside/secret", ENOENT},
      {"/sub", EISDIR},
      {"/", EISDIR},
      {"/fifo", EINVAL},  // refused at once, not waiting for a writer
      {"/a.txt\0"s, EINVAL},
      {"/a.txt/", ENOTDIR},
  };
  for (const auto& c : cases) {
    for (FileOpenMode mode : {FileOpenMode::Read, FileOpenMode::ReadWrite}) {
      EXPECT_EQ(ErrorOf([&] { home_->OpenLocked(c.path, mode); }), c.error) << c.path;
    }
  }
  EXPECT_EQ(ReadFile(outside_ + "/secret"), "secret");
}

TEST_F(BeneathTest, OpenLockedReadsFilesInsideThroughLinks) {
  for (const std::string path : {"/a.txt", "/link_in", "/sub/link_up", "/sub/../a.txt"}) {
    const UniqueFd fd = home_->OpenLocked(path, FileOpenMode::Read);
    char buffer[16] = {};
    ASSERT_EQ(::read(fd.Get(), buffer, sizeof buffer), 10) << path;
    EXPECT_EQ(std::string(buffer), "0123456789");
  }
}

TEST_F(BeneathTest, LockExcludesEverySecondOpenUntilTheFirstCloses) {
  {
    const UniqueFd first = home_->OpenLocked("/a.txt", FileOpenMode::Read);
    for (FileOpenMode mode :
         {FileOpenMode::Read, FileOpenMode::ReadWrite, FileOpenMode::CreateOrOpen}) {
      EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/a.txt", mode); }), EWOULDBLOCK);
    }
    // The same file reached through a link is the same file.
    EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/link_in", FileOpenMode::Read); }), EWOULDBLOCK);
    // A second root handle (another connection of the same user) is excluded as well.
    const BeneathDirectory other(home_path_);
    EXPECT_EQ(ErrorOf([&] { other.OpenLocked("/a.txt", FileOpenMode::Read); }), EWOULDBLOCK);
  }
  EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/a.txt", FileOpenMode::ReadWrite); }), 0);
}

TEST_F(BeneathTest, CreateOrOpenCreatesMissingFilesAndNeverTruncates) {
  { const UniqueFd fd = home_->OpenLocked("/a.txt", FileOpenMode::CreateOrOpen); }
  EXPECT_EQ(ReadFile(home_path_ + "/a.txt"), "0123456789");
  {
    const UniqueFd fd = home_->OpenLocked("/sub/new.txt", FileOpenMode::CreateOrOpen);
    ASSERT_EQ(::write(fd.Get(), "x", 1), 1);
  }
  EXPECT_EQ(ReadFile(home_path_ + "/sub/new.txt"), "x");
  EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/nodir/new.txt", FileOpenMode::CreateOrOpen); }),
            ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/a.txt", FileOpenMode::ReadWrite); }), 0);
}

TEST_F(BeneathTest, NothingIsCreatedOrChangedOutsideTheRoot) {
  EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/link_dangling_out", FileOpenMode::CreateOrOpen); }),
            ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->OpenLocked("/link_dir_out/made", FileOpenMode::CreateOrOpen); }),
            ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->MakeDirectory("/link_dir_out/dir"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->MakeDirectory("/../outside/dir"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->Unlink("/link_dir_out/secret"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->Rename("/link_dir_out/secret", "/stolen"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->Rename("/a.txt", "/link_dir_out/a.txt"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->RemoveDirectory("/link_dir_out"); }), ENOTDIR);
  EXPECT_FALSE(fs::exists(outside_ + "/new"));
  EXPECT_FALSE(fs::exists(outside_ + "/made"));
  EXPECT_FALSE(fs::exists(outside_ + "/dir"));
  EXPECT_EQ(ReadFile(outside_ + "/secret"), "secret");
  EXPECT_TRUE(fs::exists(home_path_ + "/a.txt"));
}

TEST_F(BeneathTest, UnlinkRemovesTheNamedEntryOnly) {
  home_->Unlink("/link_passwd");  // the link itself is inside; its target is untouched
  EXPECT_FALSE(fs::is_symlink(home_path_ + "/link_passwd"));
  EXPECT_TRUE(fs::exists("/etc/passwd"));
  home_->Unlink("/link_in");
  EXPECT_EQ(ReadFile(home_path_ + "/a.txt"), "0123456789");
  home_->Unlink("/sub/b.txt");
  EXPECT_FALSE(fs::exists(home_path_ + "/sub/b.txt"));

  const struct {
    std::string path;
    int error;
  } cases[] = {
      {"/sub/b.txt", ENOENT}, {"/sub", EISDIR}, {"/", EBUSY},          {"", EBUSY},
      {"/sub/..", EINVAL},    {"/.", EINVAL},   {"/a.txt\0"s, EINVAL},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf([&] { home_->Unlink(c.path); }), c.error) << c.path;
  EXPECT_TRUE(fs::exists(home_path_ + "/a.txt"));
}

TEST_F(BeneathTest, DirectoriesAreMadeAndRemovedOneLevelAtATime) {
  home_->MakeDirectory("/made/");
  EXPECT_TRUE(fs::is_directory(home_path_ + "/made"));
  home_->RemoveDirectory("/made/");
  EXPECT_FALSE(fs::exists(home_path_ + "/made"));

  EXPECT_EQ(ErrorOf([&] { home_->MakeDirectory("/a/b"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->MakeDirectory("/sub"); }), EEXIST);
  EXPECT_EQ(ErrorOf([&] { home_->MakeDirectory("/"); }), EBUSY);
  EXPECT_EQ(ErrorOf([&] { home_->RemoveDirectory("/sub"); }), ENOTEMPTY);
  EXPECT_EQ(ErrorOf([&] { home_->RemoveDirectory("/missing"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->RemoveDirectory("/a.txt"); }), ENOTDIR);
  EXPECT_EQ(ErrorOf([&] { home_->RemoveDirectory("/"); }), EBUSY);
  EXPECT_EQ(ErrorOf([&] { home_->RemoveDirectory("/sub/.."); }), EINVAL);
}

TEST_F(BeneathTest, RenameMovesButNeverReplaces) {
  home_->Rename("/a.txt", "/sub/moved.txt");
  EXPECT_EQ(ReadFile(home_path_ + "/sub/moved.txt"), "0123456789");
  EXPECT_FALSE(fs::exists(home_path_ + "/a.txt"));
  home_->Rename("/sub", "/renamed/");
  EXPECT_TRUE(fs::is_directory(home_path_ + "/renamed"));

  EXPECT_EQ(ErrorOf([&] { home_->Rename("/renamed/moved.txt", "/renamed/b.txt"); }), EEXIST);
  EXPECT_EQ(ReadFile(home_path_ + "/renamed/b.txt"), "b");
  EXPECT_EQ(ReadFile(home_path_ + "/renamed/moved.txt"), "0123456789");
  EXPECT_EQ(ErrorOf([&] { home_->Rename("/missing", "/x"); }), ENOENT);
  EXPECT_EQ(ErrorOf([&] { home_->Rename("/", "/x"); }), EBUSY);
  EXPECT_EQ(ErrorOf([&] { home_->Rename("/renamed/b.txt", "/"); }), EBUSY);
}

TEST_F(BeneathTest, ExistsCountsEveryEntryIncludingLinksLeadingOut) {
  EXPECT_TRUE(home_->Exists("/"));
  EXPECT_TRUE(home_->Exists("/a.txt"));
  EXPECT_TRUE(home_->Exists("/sub/"));
  EXPECT_TRUE(home_->Exists("/link_passwd"));
  EXPECT_TRUE(home_->Exists("/link_dangling_out"));
  EXPECT_FALSE(home_->Exists("/missing"));
  EXPECT_FALSE(home_->Exists("/link_dir_out/secret"));
  EXPECT_FALSE(home_->Exists("/a.txt\0"s));
}

TEST(BeneathRootTest, AMissingRootCannotBeOpened) {
  try {
    BeneathDirectory home("/nonexistent-corvane-root");
    FAIL() << "opened a missing root";
  } catch (const FileSystemError& error) {
    EXPECT_EQ(error.Error(), ENOENT);
    EXPECT_STREQ(error.what(), "No such file or directory");
  }
}

// Fills a 64 KiB file system mounted in a private mount namespace of a child process, so the
// mount disappears with the child whatever happens. Exit codes: 0 passed, 77 no permission to
// mount, anything else a failed check.
int FillSmallFileSystem(const std::string& mount_point) {
  if (::unshare(CLONE_NEWNS) != 0) return 77;
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 77;
  if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0) return 77;
  try {
    const BeneathDirectory home(mount_point);
    FileStream stream(home.OpenLocked("/upload", FileOpenMode::CreateOrOpen));
    const std::vector<char> block(16384, 'u');
    long long written = 0;
    for (int i = 0; i < 64; ++i) {  // 1 MiB at most: far beyond the file system's size
      try {
        stream.Write(block.data(), block.size());
        written += static_cast<long long>(block.size());
      } catch (const std::runtime_error& error) {
        if (std::strcmp(error.what(), "No space left on device") != 0) return 2;
        // What was written before the error stays, and the position tells how far it got.
        if (written == 0 || stream.Position() < written || stream.Size() != stream.Position())
          return 3;
        std::vector<char> back(static_cast<std::size_t>(written));
        stream.Seek(0);
        if (stream.Read(back.data(), back.size()) != back.size()) return 4;
        for (char c : back) {
          if (c != 'u') return 5;
        }
        return 0;
      }
    }
    return 6;  // the file system never filled up
  } catch (const std::exception&) {
    return 7;
  }
}

TEST(FileStreamTest, AWriteOnAFullFileSystemFailsWithTheSystemTextAndKeepsWhatWasWritten) {
  TempDir temp;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(FillSmallFileSystem(temp.Path()));
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "mounting a file system is not permitted here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace corvane
