#include "platform/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/system_error.h"

namespace corvane {
namespace {

// The kernel answers EAGAIN when a rename elsewhere races a ".." lookup; a few retries settle it.
constexpr int kResolveAttempts = 8;

std::string Relative(const std::string& path) {
  const std::size_t start = path.find_first_not_of('/');
  return start == std::string::npos ? std::string(".") : path.substr(start);
}

void RejectNul(const std::string& path) {
  // A C call would silently cut the name at the NUL and name another file.
  if (path.find('\0') != std::string::npos) throw FileSystemError(EINVAL);
}

int OpenFlags(FileOpenMode mode) {
  // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; it is refused below.
  const int common = O_NOCTTY | O_NONBLOCK;
  switch (mode) {
    case FileOpenMode::Read:
      return O_RDONLY | common;
    case FileOpenMode::ReadWrite:
      return O_RDWR | common;
    case FileOpenMode::CreateOrOpen:
      return O_RDWR | O_CREAT | common;
  }
  return O_RDONLY | common;
}

}  // namespace

FileSystemError::FileSystemError(int error)
    : std::runtime_error(SystemErrorText(error)), error_(error) {}

BeneathDirectory::BeneathDirectory(const std::string& root) {
  RejectNul(root);
  root_.Reset(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root_) throw FileSystemError(errno);
}

UniqueFd BeneathDirectory::Resolve(const std::string& path, int flags, unsigned mode) const {
  RejectNul(path);
  const std::string relative = Relative(path);
  open_how how{};
  how.flags = static_cast<unsigned long long>(flags | O_CLOEXEC);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  // SECURITY: every lookup stays beneath the root, through ".." and symbolic links alike.
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 1;; ++attempt) {
    const long fd = ::syscall(SYS_openat2, root_.Get(), relative.c_str(), &how, sizeof how);
    if (fd >= 0) return UniqueFd(static_cast<int>(fd));
    const int error = errno;
    if (error == EINTR || (error == EAGAIN && attempt < kResolveAttempts)) continue;
    // A path that leads outside the root names nothing the caller may see.
    throw FileSystemError(error == EXDEV ? ENOENT : error);
  }
}

std::pair<UniqueFd, std::string> BeneathDirectory::ResolveParent(const std::string& path) const {
  RejectNul(path);
  const std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) throw FileSystemError(EBUSY);  // the root itself
  const std::string trimmed = path.substr(0, end + 1);
  const std::size_t slash = trimmed.rfind('/');
  std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name == "." || name == "..") throw FileSystemError(EINVAL);
  const std::string parent = slash == std::string::npos ? std::string() : trimmed.substr(0, slash);
  return {Resolve(parent, O_PATH | O_DIRECTORY), std::move(name)};
}

UniqueFd BeneathDirectory::OpenLocked(const std::string& path, FileOpenMode mode) const {
  UniqueFd fd = Resolve(path, OpenFlags(mode), 0666);
  struct stat status {};
  if (::fstat(fd.Get(), &status) != 0) throw FileSystemError(errno);
  if (S_ISDIR(status.st_mode)) throw FileSystemError(EISDIR);
  if (!S_ISREG(status.st_mode)) throw FileSystemError(EINVAL);
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw FileSystemError(errno);
  }
  // Linux opens do not exclude each other; the lock held by this descriptor does.
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) throw FileSystemError(errno);
  }
  return fd;
}

UniqueFd BeneathDirectory::OpenDirectory(const std::string& path) const {
  return Resolve(path, O_RDONLY | O_DIRECTORY);
}

std::optional<struct stat> BeneathDirectory::Status(const std::string& path) const {
  try {
    const UniqueFd fd = Resolve(path, O_PATH);
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) return std::nullopt;
    return status;
  } catch (const FileSystemError&) {
    return std::nullopt;
  }
}

FileKind BeneathDirectory::Kind(const std::string& path) const {
  const std::optional<struct stat> status = Status(path);
  if (!status) return FileKind::Missing;
  if (S_ISREG(status->st_mode)) return FileKind::Regular;
  if (S_ISDIR(status->st_mode)) return FileKind::Directory;
  return FileKind::Other;
}

bool BeneathDirectory::Exists(const std::string& path) const {
  if (path.find_first_not_of('/') == std::string::npos) return true;  // the root
  try {
    const auto [parent, name] = ResolveParent(path);
    struct stat status {};
    return ::fstatat(parent.Get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  } catch (const FileSystemError&) {
    return false;
  }
}

void BeneathDirectory::Unlink(const std::string& path) const {
  const auto [parent, name] = ResolveParent(path);
  if (::unlinkat(parent.Get(), name.c_str(), 0) != 0) throw FileSystemError(errno);
}

void BeneathDirectory::MakeDirectory(const std::string& path) const {
  const auto [parent, name] = ResolveParent(path);
  if (::mkdirat(parent.Get(), name.c_str(), 0777) != 0) throw FileSystemError(errno);
}

void BeneathDirectory::RemoveDirectory(const std::string& path) const {
  const auto [parent, name] = ResolveParent(path);
  if (::unlinkat(parent.Get(), name.c_str(), AT_REMOVEDIR) != 0) throw FileSystemError(errno);
}

void BeneathDirectory::Rename(const std::string& from, const std::string& to) const {
  const auto [from_parent, from_name] = ResolveParent(from);
  const auto [to_parent, to_name] = ResolveParent(to);
  if (::renameat2(from_parent.Get(), from_name.c_str(), to_parent.Get(), to_name.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return;
  }
  int error = errno;
  if (error == EINVAL) {
    // A file system without RENAME_NOREPLACE: test the target, then rename plainly.
    struct stat status {};
    if (::fstatat(to_parent.Get(), to_name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
      throw FileSystemError(EEXIST);
    }
    if (::renameat(from_parent.Get(), from_name.c_str(), to_parent.Get(), to_name.c_str()) == 0) {
      return;
    }
    error = errno;
  }
  throw FileSystemError(error);
}

}  // namespace corvane
