#include "formats/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/system_error.h"
#include "platform/unique_fd.h"

namespace corvane {
namespace {

[[noreturn]] void ThrowWriteError(const std::string& path, int error) {
  throw std::runtime_error("Cannot write " + path + ": " + SystemErrorText(error));
}

// The file that the path names: the target of a symbolic link, so that the link survives.
std::string ResolveTarget(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

// Creates a new file beside target with a name no one else uses; the mode honours the umask.
UniqueFd CreateTemporary(const std::string& target, std::string& name) {
  std::random_device random;
  constexpr int kAttempts = 16;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    name = target + suffix;
    UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd) return fd;
    if (errno != EEXIST) ThrowWriteError(target, errno);
  }
  ThrowWriteError(target, EEXIST);
}

void WriteAll(int fd, std::string_view content, const std::string& target) {
  while (!content.empty()) {
    ssize_t written = ::write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowWriteError(target, errno);
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

void ReplaceFileContent(const std::string& path, std::string_view content) {
  const std::string target = ResolveTarget(path);

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists) {
    // The old file must be writable: a read-only file is not replaced behind its owner's back.
    UniqueFd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!probe) ThrowWriteError(path, errno);
  }

  std::string temporary;
  UniqueFd fd = CreateTemporary(target, temporary);
  try {
    if (exists) {
      if (::fchmod(fd.Get(), existing.st_mode & 07777) != 0) ThrowWriteError(path, errno);
      // Only root may hand the file back to its owner; for anyone else it is theirs already.
      if (::fchown(fd.Get(), existing.st_uid, existing.st_gid) != 0) {
      }
    }
    WriteAll(fd.Get(), content, path);
    if (::fsync(fd.Get()) != 0) ThrowWriteError(path, errno);
    if (::close(fd.Release()) != 0) ThrowWriteError(path, errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) ThrowWriteError(path, errno);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace corvane
