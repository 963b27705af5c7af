// The server's listing handler against real directories beneath a home.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "service/ftp/ftp_engine.h"
#include "service/ftp/list_output.h"
#include "service/ftpserver.h"
#include "service/mycontext.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvane-listing-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::permissions(path_ / "home" / "locked", fs::perms::owner_all, ignored);
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// An odd number of seconds, so the 2-second precision shows.
constexpr std::time_t kFileTime = 1294218421;  // 2011-01-05 09:07:01 UTC
constexpr std::time_t kDirTime = 1600000001;

void SetTime(const fs::path& path, std::time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    throw std::runtime_error("utimensat failed: " + path.string());
}

void Write(const fs::path& path, std::size_t size) {
  std::ofstream(path) << std::string(size, 'x');
  SetTime(path, kFileTime);
}

local_seconds LocalOf(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  return local_seconds{seconds{when + local.tm_gmtoff}};
}

class ListingHandlerTest : public ::testing::Test {
 protected:
  ListingHandlerTest() : server_(dir_.Path().string()) {
    home_ = dir_.Path() / "home";
    fs::create_directories(home_ / "sub");
    Write(home_ / "a.txt", 5);
    Write(home_ / "ro.txt", 3);
    fs::permissions(home_ / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    Write(home_ / "setup.exe", 1);
    Write(home_ / "SETUP.EXE", 1);
    Write(home_ / ".hidden", 2);
    Write(home_ / "sub" / "inner.txt", 7);
    Write(dir_.Path() / "secret.txt", 11);
    fs::create_symlink("a.txt", home_ / "to-file");
    fs::create_symlink("sub", home_ / "to-dir");
    fs::create_symlink("../secret.txt", home_ / "outside");
    fs::create_symlink("missing", home_ / "dangling");
    SetTime(home_ / "sub", kDirTime);
    SetTime(home_, kDirTime + 100);
    context_.HomeDir = home_.string();
  }

  std::map<std::string, TListOutputItem> List(const std::string& path) {
    TListOutput listing;
    server_.Engine().OnListDirectory(context_, path, "-la", "LIST", listing);
    std::map<std::string, TListOutputItem> items;
    for (const TListOutputItem& item : listing.Items()) items[item.FileName] = item;
    EXPECT_EQ(items.size(), listing.Count()) << "a name listed twice";
    return items;
  }

  TempDir dir_;
  fs::path home_;
  TFTPServer server_;
  TMyContext context_;
};

TEST_F(ListingHandlerTest, EntriesCarryTheWrittenValues) {
  std::map<std::string, TListOutputItem> items = List("/");
  std::vector<std::string> names;
  for (const auto& [name, item] : items) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", ".hidden", "SETUP.EXE", "a.txt", "dangling",
                                             "outside", "ro.txt", "setup.exe", "sub", "to-dir",
                                             "to-file"}));

  struct Expected {
    const char* name;
    TDirItemType type;
    std::uint64_t size;
    const char* permissions;
  };
  const std::vector<Expected> table = {
      {"a.txt", TDirItemType::ditFile, 5, "rw-"},
      {"ro.txt", TDirItemType::ditFile, 3, "r--"},
      {"setup.exe", TDirItemType::ditFile, 1, "rwx"},
      {"SETUP.EXE", TDirItemType::ditFile, 1, "rw-"},
      {".hidden", TDirItemType::ditFile, 2, "rw-"},
      {"sub", TDirItemType::ditDirectory, 0, "rw-"},
      // Links beneath the home show what they point to; others show as empty files.
      {"to-file", TDirItemType::ditFile, 5, "rw-"},
      {"to-dir", TDirItemType::ditDirectory, 0, "rw-"},
      {"outside", TDirItemType::ditFile, 0, "rw-"},
      {"dangling", TDirItemType::ditFile, 0, "rw-"},
  };
  for (const Expected& e : table) {
    const TListOutputItem& item = items.at(e.name);
    EXPECT_EQ(item.ItemType, e.type) << e.name;
    EXPECT_EQ(item.Size, e.size) << e.name;
    EXPECT_EQ(item.OwnerPermissions, e.permissions) << e.name;
    EXPECT_EQ(item.GroupPermissions, e.permissions) << e.name;
    EXPECT_EQ(item.OtherPermissions, e.permissions) << e.name;
    EXPECT_EQ(item.OwnerName, "ftp") << e.name;
    EXPECT_EQ(item.GroupName, "ftp") << e.name;
  }

  const TListOutputItem& file = items.at("a.txt");
  EXPECT_EQ(file.ModifiedDateGMT, sys_seconds{seconds{kFileTime - 1}});
  EXPECT_EQ(file.ModifiedDate, LocalOf(kFileTime - 1));
  EXPECT_EQ(file.CreationDate, file.ModifiedDate);
  EXPECT_EQ(file.LastAccessDate, file.ModifiedDate);
  EXPECT_EQ(items.at("sub").ModifiedDate, LocalOf(kDirTime - 1));
  // ".." of the home is the home itself: nothing above the home is read.
  EXPECT_EQ(items.at("..").ModifiedDate, LocalOf(kDirTime + 99));
  EXPECT_EQ(items.at(".").ModifiedDate, LocalOf(kDirTime + 99));
}

TEST_F(ListingHandlerTest, SubdirectoryHasDotAndDotDot) {
  std::map<std::string, TListOutputItem> items = List("/sub/");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items.at(".").ModifiedDate, LocalOf(kDirTime - 1));
  EXPECT_EQ(items.at("..").ModifiedDate, LocalOf(kDirTime + 99));
  EXPECT_EQ(items.at("inner.txt").Size, 7u);
  EXPECT_EQ(List("/to-dir/").size(), 3u);  // through a link that stays beneath the home
}

// A large directory is read in batches and examined on two threads: every entry comes back
// once, with its own values, and the lines are formatted from the compact table.
TEST_F(ListingHandlerTest, LargeDirectoryListsEveryEntryOnce) {
  constexpr std::size_t kEntries = 9000;  // two full batches and part of a third
  fs::create_directory(home_ / "big");
  for (std::size_t index = 0; index < kEntries; ++index) {
    const std::string name = "f" + std::to_string(index) + (index % 7 == 0 ? ".exe" : "");
    if (index % 1000 == 0) {
      fs::create_directory(home_ / "big" / name);
    } else {
      std::ofstream(home_ / "big" / name) << std::string(index % 13, 'x');
    }
  }
  std::map<std::string, TListOutputItem> items = List("/big/");
  ASSERT_EQ(items.size(), kEntries + 2);
  for (std::size_t index = 0; index < kEntries; index += 3) {
    const std::string name = "f" + std::to_string(index) + (index % 7 == 0 ? ".exe" : "");
    const TListOutputItem& item = items.at(name);
    EXPECT_EQ(item.ItemType, index % 1000 == 0 ? TDirItemType::ditDirectory : TDirItemType::ditFile)
        << name;
    if (index % 1000 != 0) {
      EXPECT_EQ(item.Size, index % 13) << name;
    }
    EXPECT_EQ(item.OwnerPermissions, index % 7 == 0 ? "rwx" : "rw-") << name;
  }

  TListOutput listing;
  server_.Engine().OnListDirectory(context_, "/big/", "", "NLST", listing);
  TListingText names;
  listing.WriteNameLines(TListClock::Now(), names);
  EXPECT_EQ(names.line_count, kEntries);
  EXPECT_EQ(names.bytes.substr(0, 8), "f0.exe\r\n");  // name order: f0.exe, f1, f10, ...
  EXPECT_EQ(names.bytes.substr(8, 4), "f1\r\n");
}

TEST_F(ListingHandlerTest, NothingListedForWhatIsNoReadableDirectoryBeneathTheHome) {
  fs::create_directory(home_ / "locked");
  fs::permissions(home_ / "locked", fs::perms::none);
  fs::create_symlink(dir_.Path(), home_ / "up");
  for (const char* path :
       {"/missing/", "/a.txt/", "/*.txt/", "/s?b/", "/../", "/up/", "/outside/", "/sub/../../"})
    EXPECT_TRUE(List(path).empty()) << path;
  if (::geteuid() != 0) {  // root reads it anyway
    EXPECT_TRUE(List("/locked/").empty());
  }

  context_.HomeDir = (dir_.Path() / "no-such-home").string();
  EXPECT_TRUE(List("/").empty());
}

}  // namespace
}  // namespace corvane
