#include "service/activity_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/event_log.h"
#include "platform/unique_fd.h"

namespace corvane {

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Appends the whole record with as few writes as the kernel allows; false on any failure.
bool AppendRecord(const std::string& path, const std::string& record) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!file) return false;
  std::size_t done = 0;
  while (done < record.size()) {
    const ssize_t written = ::write(file.Get(), record.data() + done, record.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

std::string FormatLogTimeStamp(std::time_t time) {
  std::tm local{};
  if (::localtime_r(&time, &local) == nullptr) return std::string(24, '?');
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%s %s %2d %02d:%02d:%02d %04d", kDayNames[local.tm_wday % 7],
                kMonthNames[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, local.tm_year + 1900);
  return stamp;
}

ActivityLog::ActivityLog(std::string default_directory, Clock clock)
    : default_directory_(std::move(default_directory)), clock_(std::move(clock)) {}

void ActivityLog::SetDirectory(const std::string& directory) {
  std::lock_guard<std::mutex> guard(log_lock_);
  directory_ = directory;
}

std::string ActivityLog::Directory() const {
  std::lock_guard<std::mutex> guard(log_lock_);
  return directory_;
}

void ActivityLog::Write(const std::string& text) noexcept {
  try {
    std::lock_guard<std::mutex> guard(log_lock_);
    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    const std::string& directory = directory_.empty() ? default_directory_ : directory_;
    const std::string record = FormatLogTimeStamp(now) + " - " + text + " \r\n";
    bool written = AppendRecord(directory + "/main.log", record);
    // The default directory is made on first use (one level, like the configured one at
    // start-up), so the lines written before the configuration is read are not lost.
    if (!written && directory_.empty() && ::mkdir(default_directory_.c_str(), 0755) == 0)
      written = AppendRecord(directory + "/main.log", record);
    if (!written) {
      WriteSystemLog(SystemLogPriority::kInformation, text);
    }
  } catch (...) {
    // Only memory exhaustion or a broken mutex gets here; the line is lost rather than
    // raised into a caller that may itself be reporting an error.
  }
}

}  // namespace corvane
