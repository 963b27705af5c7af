#include "platform/program_directory.h"

#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <memory>
#include <stdexcept>

#include "platform/system_error.h"

namespace corvane {

std::string ExecutablePath() {
  // realpath resolves the /proc link and any link along the way; free() releases its buffer.
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath("/proc/self/exe", nullptr), &::free);
  if (!resolved) {
    throw std::runtime_error("Cannot find the program's own path: " + SystemErrorText(errno));
  }
  return resolved.get();
}

std::string ProgramDirectory() {
  return DirectoryOf(ExecutablePath());
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace corvane
