#include "platform/directory_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <stdexcept>

#include "platform/system_error.h"

namespace corvane {
namespace {

std::string Trimmed(const std::string& relative) {
  const std::size_t first = relative.find_first_not_of('/');
  if (first == std::string::npos) return ".";
  const std::size_t last = relative.find_last_not_of('/');
  return relative.substr(first, last - first + 1);
}

void Fill(const std::string& name, const struct stat& status, DirectoryEntryInfo& entry) {
  entry.name = name;
  entry.is_directory = S_ISDIR(status.st_mode);
  entry.owner_writable = (status.st_mode & S_IWUSR) != 0;
  entry.size = entry.is_directory ? 0 : static_cast<std::uint64_t>(status.st_size);
  entry.modified = std::chrono::sys_seconds{std::chrono::seconds{status.st_mtim.tv_sec}};
}

}  // namespace

DirectoryReader::DirectoryReader(const std::string& root, const std::string& relative)
    : root_(root), relative_(Trimmed(relative)) {
  UniqueFd directory = root_.OpenDirectory(relative_);
  dir_.reset(::fdopendir(directory.Get()));
  if (!dir_) throw std::runtime_error(SystemErrorText(errno));
  directory.Release();  // the stream owns it now
}

bool DirectoryReader::Next(DirectoryEntryInfo& entry) {
  const int dir_fd = ::dirfd(dir_.get());
  for (;;) {
    errno = 0;
    const dirent* record = ::readdir(dir_.get());
    if (record == nullptr) return false;  // the end, or a read error: the listing ends here
    const std::string name = record->d_name;
    struct stat status {};
    if (name == "." || (name == ".." && relative_ == ".")) {
      // SECURITY: the root's parent lies outside it; ".." of the root shows the root.
      if (::fstat(dir_fd, &status) != 0) continue;
      Fill(name, status, entry);
      return true;
    }
    if (name == "..") {
      // A directory reached through a link may have its parent outside: then it shows itself.
      std::optional<struct stat> parent = root_.Status(relative_ + "/..");
      if (!parent && ::fstat(dir_fd, &status) != 0) continue;
      Fill(name, parent ? *parent : status, entry);
      return true;
    }
    if (::fstatat(dir_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(status.st_mode)) {
      // SECURITY: follow a link only while it stays beneath the root.
      if (const std::optional<struct stat> target = root_.Status(relative_ + "/" + name)) {
        Fill(name, *target, entry);
      } else {
        Fill(name, status, entry);
        entry.is_directory = false;
        entry.size = 0;
      }
      return true;
    }
    Fill(name, status, entry);
    return true;
  }
}

}  // namespace corvane
