#pragma once

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/beneath.h"

namespace corvane {

// What a listing needs to know of one directory entry. The name lies in the names of the
// DirectoryEntries that holds the entry.
struct DirectoryEntryInfo {
  std::uint32_t name_offset = 0;
  std::uint32_t name_size = 0;
  bool is_directory = false;
  bool owner_writable = true;  // the owner write bit
  std::uint64_t size = 0;
  std::chrono::sys_seconds modified{};  // last write, whole seconds
};

// The entries of one directory, their names kept together in one buffer (each followed by a
// NUL), so a large directory costs two allocations and not one per name.
struct DirectoryEntries {
  std::string names;
  std::vector<DirectoryEntryInfo> entries;

  std::string_view Name(const DirectoryEntryInfo& entry) const {
    return {names.data() + entry.name_offset, entry.name_size};
  }
  const char* NameText(const DirectoryEntryInfo& entry) const {
    return names.c_str() + entry.name_offset;
  }
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
  // A large directory is examined on two threads, the second starting while it is read.
  DirectoryEntries ReadAll(bool names_only);

 private:
  // Fills in the entry called name; false when it cannot be examined.
  bool Examine(const char* name, DirectoryEntryInfo& entry) const;

  struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };

  BeneathDirectory root_;
  std::string relative_;  // "." for the root itself
  std::unique_ptr<DIR, DirCloser> dir_;
};

}  // namespace corvane
