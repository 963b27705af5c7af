#include "platform/unit_installer.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/system_error.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace corvane {

namespace {

constexpr const char* kWantsDirectory = "multi-user.target.wants";

[[noreturn]] void ThrowSystemError(int error) {
  throw std::runtime_error(SystemErrorText(error));
}

std::string FindOnPath(const std::string& program) {
  const char* path = ::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "/usr/sbin:/usr/bin:/sbin:/bin");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Runs a program with the arguments and waits for it; returns its exit status.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int error = ::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) ThrowSystemError(error);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) ThrowSystemError(errno);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void RunSystemctl(const UnitLocation& location, const std::string& verb) {
  const int status = RunProgram(location.systemctl, {"--quiet", verb, kServiceUnitName});
  if (status != 0) {
    throw std::runtime_error("systemctl " + verb + " " + kServiceUnitName + " exited with status " +
                             std::to_string(status));
  }
}

void WriteWhole(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      ThrowSystemError(errno);
    }
    done += static_cast<std::size_t>(written);
  }
}

bool NeedsQuoting(const std::string& path) {
  for (char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '.' || c == '_' || c == '-' || c == '+';
    if (!plain) return true;
  }
  return false;
}

// The executable as ExecStart's first word: quoted when it holds a blank or another unusual
// character, with "%" doubled since systemd expands specifiers there. Variables are not expanded
// in that word, so "$" stays as it is.
std::string ExecStartWord(const std::string& path) {
  if (!NeedsQuoting(path)) return path;
  std::string word = "\"";
  for (char c : path) {
    if (c == '%') word += '%';
    word += c;
  }
  return word + "\"";
}

void LinkIntoWants(const UnitLocation& location) {
  const std::string wants = location.directory + "/" + kWantsDirectory;
  if (::mkdir(wants.c_str(), 0755) != 0 && errno != EEXIST) ThrowSystemError(errno);
  const std::string link = wants + "/" + kServiceUnitName;
  // A link left by an earlier installation is replaced by one to this unit.
  if (::unlink(link.c_str()) != 0 && errno != ENOENT) ThrowSystemError(errno);
  // Relative, as systemctl would make it in the same place: the link survives a moved tree.
  const std::string target = std::string("../") + kServiceUnitName;
  if (::symlink(target.c_str(), link.c_str()) != 0) ThrowSystemError(errno);
}

void UnlinkFromWants(const UnitLocation& location) {
  const std::string wants = location.directory + "/" + kWantsDirectory;
  const std::string link = wants + "/" + kServiceUnitName;
  if (::unlink(link.c_str()) != 0 && errno != ENOENT) ThrowSystemError(errno);
  ::rmdir(wants.c_str());  // only succeeds when no other unit is wanted there
}

}  // namespace

UnitLocation ServiceUnitLocation() {
  const char* overridden = ::getenv("CORVANE_UNIT_DIR");
  if (overridden != nullptr && *overridden != '\0' &&
      overridden != std::string(kDefaultUnitDirectory)) {
    return UnitLocation{overridden, {}};
  }
  return UnitLocation{kDefaultUnitDirectory, FindOnPath("systemctl")};
}

std::string ServiceUnitText(const std::string& executable) {
  // systemd refuses quotes and backslashes in an executable's name, and a control character
  // would end or corrupt the line.
  for (char c : executable) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      throw std::runtime_error("The program path holds characters that a unit cannot hold");
    }
  }
  return "[Unit]\n"
         "Description=CorvaneServer\n"
         "After=network.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         // One thread and at least one descriptor per session: systemd's defaults (1024
         // descriptors, a share of the system's tasks) would cap the service near 1,000.
         "LimitNOFILE=65536\n"
         "TasksMax=65536\n"
         "ExecStart=" +
         ExecStartWord(executable) +
         "\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

void InstallServiceUnit(const UnitLocation& location, const std::string& executable) {
  const std::string text = ServiceUnitText(executable);
  const std::string unit_path = location.directory + "/" + kServiceUnitName;
  {
    // O_EXCL: an installed service is never overwritten, as registering it twice fails.
    UniqueFd file(::open(unit_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file) ThrowSystemError(errno);
    try {
      WriteWhole(file.Get(), text);
      if (::fsync(file.Get()) != 0) ThrowSystemError(errno);
    } catch (...) {
      ::unlink(unit_path.c_str());
      throw;
    }
  }
  try {
    if (location.systemctl.empty()) {
      LinkIntoWants(location);
    } else {
      RunSystemctl(location, "enable");
    }
  } catch (...) {
    // A unit that could not be enabled is taken away again, so a retry starts clean.
    if (location.systemctl.empty()) {
      try {
        UnlinkFromWants(location);
      } catch (...) {
      }
    }
    ::unlink(unit_path.c_str());
    throw;
  }
}

void UninstallServiceUnit(const UnitLocation& location) {
  const std::string unit_path = location.directory + "/" + kServiceUnitName;
  struct stat info {};
  if (::lstat(unit_path.c_str(), &info) != 0) ThrowSystemError(errno);
  if (location.systemctl.empty()) {
    UnlinkFromWants(location);
  } else {
    RunSystemctl(location, "disable");
  }
  if (::unlink(unit_path.c_str()) != 0) ThrowSystemError(errno);
  if (!location.systemctl.empty()) {
    // Lets a running systemd forget the deleted unit; without one there is nothing to forget.
    try {
      RunProgram(location.systemctl, {"--quiet", "daemon-reload"});
    } catch (const std::runtime_error&) {
    }
  }
}

}  // namespace corvane
