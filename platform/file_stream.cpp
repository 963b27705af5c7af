#include "platform/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/system_error.h"

namespace corvane {

long long FileStream::Size() const {
  struct stat status {};
  if (::fstat(Fd(), &status) != 0) throw std::runtime_error(SystemErrorText(errno));
  return status.st_size;
}

void FileStream::SetSize(long long size) {
  if (::ftruncate(Fd(), size) != 0) throw std::runtime_error(SystemErrorText(errno));
}

void FileStream::Reserve(long long size) noexcept {
  if (size > 0) ::fallocate(Fd(), FALLOC_FL_KEEP_SIZE, 0, size);
}

std::size_t FileStream::Read(void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::pread(Fd(), buffer, size, position_);
    if (got >= 0) {
      position_ += got;
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) throw std::runtime_error(SystemErrorText(errno));
  }
}

void FileStream::Write(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::pwrite(Fd(), next, size, position_);
    if (written < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(SystemErrorText(errno));
    }
    next += written;
    size -= static_cast<std::size_t>(written);
    position_ += written;
  }
}

}  // namespace corvane
