#include "platform/directory_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/system_error.h"

namespace corvane {
namespace {

std::string Trimmed(const std::string& relative) {
  const std::size_t first = relative.find_first_not_of('/');
  if (first == std::string::npos) return ".";
  const std::size_t last = relative.find_last_not_of('/');
  return relative.substr(first, last - first + 1);
}

void Fill(const struct stat& status, DirectoryEntryInfo& entry) {
  entry.is_directory = S_ISDIR(status.st_mode);
  entry.owner_writable = (status.st_mode & S_IWUSR) != 0;
  entry.size = entry.is_directory ? 0 : static_cast<std::uint64_t>(status.st_size);
  entry.modified = std::chrono::sys_seconds{std::chrono::seconds{status.st_mtim.tv_sec}};
}

// Below this many entries a second thread costs more than it saves.
constexpr std::size_t kParallelExamineMinimum = 4096;

}  // namespace

DirectoryReader::DirectoryReader(const std::string& root, const std::string& relative)
    : root_(root), relative_(Trimmed(relative)) {
  UniqueFd directory = root_.OpenDirectory(relative_);
  dir_.reset(::fdopendir(directory.Get()));
  if (!dir_) throw std::runtime_error(SystemErrorText(errno));
  directory.Release();  // the stream owns it now
}

bool DirectoryReader::Examine(DirectoryEntryInfo& entry) const {
  const int dir_fd = ::dirfd(dir_.get());
  const std::string_view view(entry.name);
  struct stat status {};
  if (view == "." || (view == ".." && relative_ == ".")) {
    // SECURITY: the root's parent lies outside it; ".." of the root shows the root.
    if (::fstat(dir_fd, &status) != 0) return false;
    Fill(status, entry);
    return true;
  }
  if (view == "..") {
    // A directory reached through a link may have its parent outside: then it shows itself.
    std::optional<struct stat> parent = root_.Status(relative_ + "/..");
    if (!parent && ::fstat(dir_fd, &status) != 0) return false;
    Fill(parent ? *parent : status, entry);
    return true;
  }
  if (::fstatat(dir_fd, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(status.st_mode)) {
    // SECURITY: follow a link only while it stays beneath the root.
    if (const std::optional<struct stat> target = root_.Status(relative_ + "/" + entry.name)) {
      Fill(*target, entry);
    } else {
      Fill(status, entry);
      entry.is_directory = false;
      entry.size = 0;
    }
    return true;
  }
  Fill(status, entry);
  return true;
}

std::vector<DirectoryEntryInfo> DirectoryReader::ReadAll(bool names_only) {
  std::vector<DirectoryEntryInfo> entries;
  while (const dirent* record = ::readdir(dir_.get())) entries.emplace_back().name = record->d_name;
  if (names_only) return entries;
  // Examining is one system call per entry and most of a listing's time: a large directory is
  // split between this thread and one more.
  std::vector<char> examined(entries.size(), 0);
  const auto examine = [&](std::size_t begin, std::size_t end) {
    for (std::size_t index = begin; index < end; ++index) examined[index] = Examine(entries[index]);
  };
  const std::size_t half = entries.size() / 2;
  std::optional<std::thread> helper;
  if (entries.size() >= kParallelExamineMinimum) {
    try {
      helper.emplace(examine, half, entries.size());
    } catch (const std::system_error&) {
    }
  }
  examine(0, helper ? half : entries.size());
  if (helper) helper->join();
  std::vector<DirectoryEntryInfo> kept;
  kept.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index)
    if (examined[index]) kept.push_back(std::move(entries[index]));
  return kept;
}

}  // namespace corvane
