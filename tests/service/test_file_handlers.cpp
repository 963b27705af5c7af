// The server object's file-system handlers on a temporary home directory, reached through the
// engine's events as the engine calls them.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "platform/file_stream.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/virtual_path.h"
#include "service/ftpserver.h"
#include "service/mycontext.h"
#include "tests/platform/platform_test_support.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using namespace std::string_literals;

// The message a handler fails with, or "" when it succeeds.
std::string FailureOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

std::string Contents(FileStream& stream) {
  std::string text(static_cast<std::size_t>(stream.Size()), '\0');
  stream.Seek(0);
  text.resize(stream.Read(text.data(), text.size()));
  return text;
}

class FileHandlersTest : public ::testing::Test {
 protected:
  FileHandlersTest()
      : home_(temp_.File("home")), outside_(temp_.File("outside")), server_(temp_.Path()) {
    fs::create_directories(home_ + "/sub");
    fs::create_directories(home_ + "/full");
    fs::create_directories(outside_);
    WriteFile(outside_ + "/secret", "secret");
    WriteFile(home_ + "/a.txt", "0123456789");
    WriteFile(home_ + "/full/f", "f");
    fs::create_symlink("/etc/passwd", home_ + "/passwd");
    fs::create_symlink(outside_, home_ + "/out");
    fs::create_symlink(outside_ + "/created", home_ + "/dangling");
    context_.HomeDir = home_;
  }

  TFtpEngine& Engine() { return server_.Engine(); }
  std::unique_ptr<FileStream> Retrieve(const std::string& path) {
    return Engine().OnRetrieveFile(context_, path);
  }
  std::unique_ptr<FileStream> Store(const std::string& path, bool append) {
    return Engine().OnStoreFile(context_, path, append);
  }
  std::string OpenMessage(const std::string& path, const std::string& error) {
    return "Cannot open file \"" + home_ + path + "\". " + error;
  }
  std::string CreateMessage(const std::string& path, const std::string& error) {
    return "Cannot create file \"" + home_ + path + "\". " + error;
  }

  TempDir temp_;
  std::string home_;
  std::string outside_;
  TFTPServer server_;
  TMyContext context_;
};

TEST_F(FileHandlersTest, DeleteRemovesRegularFilesOnly) {
  EXPECT_EQ(FailureOf([&] { Engine().OnDeleteFile(context_, "/a.txt"); }), "");
  EXPECT_FALSE(fs::exists(home_ + "/a.txt"));
  const std::string paths[] = {
      "/a.txt",                               // already deleted
      "/sub",                                 // a directory does not count
      "/passwd",                              // a link leading outside is a missing file
      "/out/secret",                          // so is a path through one
      Canonicalise("/", "../../etc/passwd"),  // ".." stays at the home's root
      "/full/f\0/x"s,                         // a NUL byte never cuts the name short
  };
  for (const std::string& path : paths) {
    EXPECT_EQ(FailureOf([&] { Engine().OnDeleteFile(context_, path); }), "File dont exist") << path;
  }
  EXPECT_TRUE(fs::exists(home_ + "/full/f"));
  EXPECT_TRUE(fs::exists(outside_ + "/secret"));
}

TEST_F(FileHandlersTest, DirectoriesAreMadeAndRemovedWithTheirMessages) {
  EXPECT_EQ(FailureOf([&] { Engine().OnMakeDirectory(context_, "/newdir/"); }), "");
  EXPECT_TRUE(fs::is_directory(home_ + "/newdir"));
  for (const std::string path : {"/a/b", "/sub", "/a.txt", "/out/made", "/"}) {
    EXPECT_EQ(FailureOf([&] { Engine().OnMakeDirectory(context_, path); }), "Failed to create dir")
        << path;
  }
  EXPECT_FALSE(fs::exists(outside_ + "/made"));

  EXPECT_EQ(FailureOf([&] { Engine().OnRemoveDirectory(context_, "/newdir"); }), "");
  EXPECT_FALSE(fs::exists(home_ + "/newdir"));
  for (const std::string path : {"/full", "/newdir", "/a.txt", "/out", "/"}) {
    EXPECT_EQ(FailureOf([&] { Engine().OnRemoveDirectory(context_, path); }),
              "Failed to remove dir")
        << path;
  }
  EXPECT_TRUE(fs::exists(outside_));
}

TEST_F(FileHandlersTest, RenameMovesOnceAndNeverReplaces) {
  EXPECT_EQ(FailureOf([&] { Engine().OnRenameFile(context_, "/a.txt", "/sub/b.txt"); }), "");
  EXPECT_EQ(ReadFile(home_ + "/sub/b.txt"), "0123456789");
  EXPECT_FALSE(fs::exists(home_ + "/a.txt"));
  EXPECT_EQ(FailureOf([&] { Engine().OnRenameFile(context_, "/sub", "/sub2"); }), "");
  EXPECT_TRUE(fs::is_directory(home_ + "/sub2"));

  const struct {
    std::string from, to;
  } refused[] = {
      {"/a.txt", "/c.txt"},         // moved already: a second RNTO with the same RNFR fails
      {"", "/c.txt"},               // no RNFR on this connection
      {"/full/f", "/sub2/b.txt"},   // the target exists
      {"/full", "/sub2"},           // also for directories
      {"/out/secret", "/stolen"},   // outside through a link
      {"/full/f", "/out/planted"},  // and into the outside
  };
  for (const auto& c : refused) {
    EXPECT_EQ(FailureOf([&] { Engine().OnRenameFile(context_, c.from, c.to); }), "Failed to rename")
        << c.from << " -> " << c.to;
  }
  EXPECT_EQ(ReadFile(home_ + "/sub2/b.txt"), "0123456789");
  EXPECT_EQ(ReadFile(home_ + "/full/f"), "f");
  EXPECT_EQ(ReadFile(outside_ + "/secret"), "secret");
  EXPECT_FALSE(fs::exists(outside_ + "/planted"));
}

TEST_F(FileHandlersTest, RetrieveOpensReachableRegularFilesOnly) {
  {
    std::unique_ptr<FileStream> stream = Retrieve("/a.txt");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(Contents(*stream), "0123456789");
  }
  const struct {
    std::string path, error;
  } refused[] = {
      {"/missing", "No such file or directory"},    {"/sub", "Is a directory"},
      {"/passwd", "No such file or directory"},     {"/out/secret", "No such file or directory"},
      {"/etc/passwd", "No such file or directory"}, {"/a.txt/", "Not a directory"},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(FailureOf([&] { Retrieve(c.path); }), OpenMessage(c.path, c.error)) << c.path;
  }
  EXPECT_EQ(FailureOf([&] { Retrieve("/a.txt\0.bak"s); }).rfind("Cannot open file", 0), 0u);
}

TEST_F(FileHandlersTest, AFileUnderTransferCannotBeOpenedDeletedOrRenamed) {
  for (const bool upload : {false, true}) {
    std::unique_ptr<FileStream> transfer = upload ? Store("/a.txt", true) : Retrieve("/a.txt");
    const std::string busy = "Resource temporarily unavailable";
    EXPECT_EQ(FailureOf([&] { Retrieve("/a.txt"); }), OpenMessage("/a.txt", busy));
    EXPECT_EQ(FailureOf([&] { Store("/a.txt", true); }), OpenMessage("/a.txt", busy));
    EXPECT_EQ(FailureOf([&] { Store("/a.txt", false); }), CreateMessage("/a.txt", busy));
    EXPECT_EQ(FailureOf([&] { Engine().OnDeleteFile(context_, "/a.txt"); }), "Failed to delete");
    EXPECT_EQ(FailureOf([&] { Engine().OnRenameFile(context_, "/a.txt", "/b.txt"); }),
              "Failed to rename");
    // A refused store did not truncate the file being transferred.
    EXPECT_EQ(ReadFile(home_ + "/a.txt"), "0123456789") << upload;
  }
  // Once the stream is gone the file is free again.
  EXPECT_EQ(FailureOf([&] { Engine().OnRenameFile(context_, "/a.txt", "/b.txt"); }), "");
  EXPECT_EQ(FailureOf([&] { Engine().OnDeleteFile(context_, "/b.txt"); }), "");
}

TEST_F(FileHandlersTest, StoreOpensAsItIsAndCreatesWhatIsMissing) {
  // The handler changes nothing in an existing file: the engine cuts it once the upload's data
  // connection is open.
  WriteFile(home_ + "/a.txt", "old");
  for (const bool append : {false, true}) {
    EXPECT_EQ(Contents(*Store("/a.txt", append)), "old") << append;
    EXPECT_EQ(ReadFile(home_ + "/a.txt"), "old") << append;
  }
  for (const bool append : {false, true}) {
    const std::string path = append ? "/sub/appended" : "/sub/stored";
    EXPECT_EQ(Store(path, append)->Size(), 0);
    EXPECT_TRUE(fs::is_regular_file(home_ + path));
  }
}

TEST_F(FileHandlersTest, StoreThatCannotCreateLeavesEverythingAsItWas) {
  const struct {
    std::string path, error;
    bool append;
  } refused[] = {
      {"/nodir/x", "No such file or directory", false},
      {"/nodir/x", "No such file or directory", true},
      {"/sub", "Is a directory", false},
      {"/dangling", "No such file or directory", false},
      {"/dangling", "No such file or directory", true},
      {"/out/planted", "No such file or directory", false},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(FailureOf([&] { Store(c.path, c.append); }), CreateMessage(c.path, c.error))
        << c.path << " " << c.append;
  }
  // APPE of an existing file that cannot be opened carries the open message.
  EXPECT_EQ(FailureOf([&] { Store("/sub", true); }), OpenMessage("/sub", "Is a directory"));
  EXPECT_FALSE(fs::exists(outside_ + "/created"));
  EXPECT_FALSE(fs::exists(outside_ + "/planted"));
  EXPECT_EQ(fs::directory_iterator(outside_)->path().filename(), "secret");
}

TEST_F(FileHandlersTest, AMissingHomeDirectoryFailsEveryOperationWithItsMessage) {
  context_.HomeDir = home_ + "/gone";
  EXPECT_EQ(FailureOf([&] { Retrieve("/a.txt"); }),
            "Cannot open file \"" + home_ + "/gone/a.txt\". No such file or directory");
  EXPECT_EQ(FailureOf([&] { Store("/a.txt", false); }),
            "Cannot create file \"" + home_ + "/gone/a.txt\". No such file or directory");
  EXPECT_EQ(FailureOf([&] { Engine().OnDeleteFile(context_, "/a.txt"); }), "File dont exist");
  EXPECT_EQ(FailureOf([&] { Engine().OnMakeDirectory(context_, "/d"); }), "Failed to create dir");
  EXPECT_FALSE(Engine().OnFileExists(context_, "/a.txt"));
}

TEST_F(FileHandlersTest, FileExistsSeesEveryEntryForUniqueNames) {
  EXPECT_TRUE(Engine().OnFileExists(context_, "/a.txt"));
  EXPECT_TRUE(Engine().OnFileExists(context_, "/sub"));
  EXPECT_TRUE(Engine().OnFileExists(context_, "/dangling"));  // storing there would fail
  EXPECT_FALSE(Engine().OnFileExists(context_, "/Temp0000ABCD"));
  EXPECT_FALSE(Engine().OnFileExists(context_, "/out/secret"));
}

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST_F(FileHandlersTest, NeitherFailuresNorFinishedStreamsLeaveADescriptorOpen) {
  const std::size_t before = OpenDescriptors();
  for (int round = 0; round < 500; ++round) {
    std::unique_ptr<FileStream> held = Retrieve("/a.txt");
    FailureOf([&] { Retrieve("/a.txt"); });
    FailureOf([&] { Store("/a.txt", false); });
    FailureOf([&] { Retrieve("/passwd"); });
    FailureOf([&] { Store("/nodir/x", true); });
    FailureOf([&] { Engine().OnDeleteFile(context_, "/a.txt"); });
    FailureOf([&] { Engine().OnRenameFile(context_, "/a.txt", "/b.txt"); });
    FailureOf([&] { Engine().OnMakeDirectory(context_, "/sub"); });
    Engine().OnFileExists(context_, "/a.txt");
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(FileHandlersTest, ChangeDirectoryEntersOnlyDirectoriesBeneathTheHome) {
  fs::create_symlink("sub", home_ + "/sublink");
  for (const char* path : {"/", "/sub", "/sublink"}) {
    std::string directory = path;
    EXPECT_NO_THROW(Engine().OnChangeDirectory(context_, directory)) << path;
    EXPECT_EQ(directory, path);
  }
  // Missing, a file, a link leading outside the home, a dangling link.
  WriteFile(home_ + "/a.txt", "a");
  for (const char* path : {"/nosuchdir", "/a.txt", "/out", "/dangling", "/sub/none"}) {
    std::string directory = path;
    EXPECT_EQ(FailureOf([&] { Engine().OnChangeDirectory(context_, directory); }),
              "\"" + std::string(path) + "\": No such directory.")
        << path;
  }
}

}  // namespace
}  // namespace corvane
