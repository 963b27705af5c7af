#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>

namespace corvane {

// The activity log, main.log: one line per Write, "<stamp> - <text> \r\n", appended to
// <directory>/main.log. The file is opened and closed for every line, so other programs may
// read, copy or delete it between two lines.
class ActivityLog {
 public:
  // Reads the current time; replaceable so a test can fix the stamp.
  using Clock = std::function<std::time_t()>;

  // default_directory takes the lines written before SetDirectory (the program directory +
  // "/logs").
  explicit ActivityLog(std::string default_directory, Clock clock = nullptr);
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  // Takes effect with the next line.
  void SetDirectory(const std::string& directory);
  // The directory given to SetDirectory; empty until it is called.
  std::string Directory() const;

  // Appends one line. Never throws: a line that cannot be written to main.log (a missing
  // directory, a read-only disk) goes to the system log instead. Lines from concurrent callers
  // are whole and in the order in which they took the lock.
  void Write(const std::string& text) noexcept;

 private:
  const std::string default_directory_;
  const Clock clock_;
  mutable std::mutex log_lock_;  // LogLock: the innermost lock of the server object
  std::string directory_;        // guarded by log_lock_
};

// The 24-character local time stamp of a log line, such as "Tue Dec  9 07:05:03 2025": English
// day and month names, the day of the month right-aligned in two characters.
std::string FormatLogTimeStamp(std::time_t time);

}  // namespace corvane
