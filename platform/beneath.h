#pragma once

#include <sys/stat.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace corvane {

// A failed file-system call: what() is the system's text for the errno value.
class FileSystemError : public std::runtime_error {
 public:
  explicit FileSystemError(int error);
  int Error() const { return error_; }

 private:
  int error_;
};

enum class FileKind { Missing, Regular, Directory, Other };

enum class FileOpenMode {
  Read,          // an existing file, read only
  ReadWrite,     // an existing file, read and write
  CreateOrOpen,  // read and write; created when missing; never truncated here
};

// Every path operation confined beneath one directory, symbolic links included: a path is
// resolved from a descriptor of the root with RESOLVE_BENEATH, so neither ".." nor a link can
// leave it. A path that would leave the root counts as missing (ENOENT). Paths are relative to
// the root; leading slashes are ignored, so a canonical virtual path ("/a/b") works as it is.
// A path holding a NUL byte names nothing (EINVAL). Every call throws FileSystemError on failure
// and changes nothing on disk then.
class BeneathDirectory {
 public:
  // Opens the root directory itself; throws FileSystemError when it cannot be opened.
  explicit BeneathDirectory(const std::string& root);
  BeneathDirectory(const BeneathDirectory&) = delete;
  BeneathDirectory& operator=(const BeneathDirectory&) = delete;

  // Opens a regular file and takes an exclusive lock on it that lasts as long as the returned
  // descriptor, so no other locked open of the file succeeds meanwhile (EWOULDBLOCK). A
  // directory fails with EISDIR, any other non-regular file with EINVAL; a file created here
  // and then refused stays created (empty).
  UniqueFd OpenLocked(const std::string& path, FileOpenMode mode) const;

  // Opens a directory for reading its entries.
  UniqueFd OpenDirectory(const std::string& path) const;

  // What the path names, links followed; Missing also for any path that cannot be resolved.
  FileKind Kind(const std::string& path) const;
  // The status of what the path names, links followed; std::nullopt when it cannot be resolved.
  std::optional<struct stat> Status(const std::string& path) const;
  // Whether an entry of that name exists; a symbolic link counts, wherever it points.
  bool Exists(const std::string& path) const;

  // Removes a non-directory entry (a link itself, never its target).
  void Unlink(const std::string& path) const;
  // Creates one directory; its parent must exist.
  void MakeDirectory(const std::string& path) const;
  // Removes an empty directory.
  void RemoveDirectory(const std::string& path) const;
  // Renames or moves an entry; never replaces an existing one (EEXIST).
  void Rename(const std::string& from, const std::string& to) const;

 private:
  UniqueFd Resolve(const std::string& path, int flags, unsigned mode = 0) const;
  // The parent directory of the path's last component, and that component.
  std::pair<UniqueFd, std::string> ResolveParent(const std::string& path) const;

  UniqueFd root_;
};

}  // namespace corvane
