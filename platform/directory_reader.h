#pragma once

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/beneath.h"

namespace corvane {

// What a listing needs to know of one directory entry.
struct DirectoryEntryInfo {
  std::string name;
  bool is_directory = false;
  bool owner_writable = true;  // the owner write bit
  std::uint64_t size = 0;
  std::chrono::sys_seconds modified{};  // last write, whole seconds
};

// Reads one directory that lies beneath a root directory, entry by entry, confined to the
// root: the path, and every symbolic link among the entries, are resolved beneath it
// (BeneathDirectory), so nothing outside the root is opened or examined.
class DirectoryReader {
 public:
  // relative is a path below root ("" or "." for root itself). Throws std::runtime_error with
  // the system's text when the directory cannot be opened (missing, not a directory, not
  // readable, or outside the root).
  DirectoryReader(const std::string& root, const std::string& relative);

  // Every entry, in the order the file system returns them (a read error ends the list).
  // "." and ".." are included. A symbolic link shows what it points to when that lies beneath
  // the root, otherwise it shows as an empty file. Entries that cannot be examined (gone since
  // they were read, say) are left out. ".." of the root shows the root itself. With
  // names_only, entries are not examined: each is a file of size 0 with only its name set.
  // A large directory is examined on two threads.
  std::vector<DirectoryEntryInfo> ReadAll(bool names_only);

 private:
  // Fills in the entry whose name is set; false when it cannot be examined.
  bool Examine(DirectoryEntryInfo& entry) const;

  struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };

  BeneathDirectory root_;
  std::string relative_;  // "." for the root itself
  std::unique_ptr<DIR, DirCloser> dir_;
};

}  // namespace corvane
