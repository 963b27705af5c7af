#pragma once

#include <cstddef>

#include "platform/unique_fd.h"

namespace corvane {

// One open file handed to a transfer: a position, reads and writes at it, and the size.
// Errors throw std::runtime_error with the system's error text.
class FileStream {
 public:
  explicit FileStream(UniqueFd fd) : fd_(std::move(fd)) {}
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  int Fd() const { return fd_.Get(); }

  long long Position() const { return position_; }
  void Seek(long long position) { position_ = position; }
  void SeekToEnd() { position_ = Size(); }
  long long Size() const;
  void SetSize(long long size);
  // Reserves disk space for the first size bytes without changing the file's size or content;
  // only a help, so a failure is ignored.
  void Reserve(long long size) noexcept;

  // Reads at the position and advances it; returns 0 at the end of the file.
  std::size_t Read(void* buffer, std::size_t size);
  // Writes everything at the position and advances it.
  void Write(const void* data, std::size_t size);

 private:
  UniqueFd fd_;
  long long position_ = 0;
};

}  // namespace corvane
