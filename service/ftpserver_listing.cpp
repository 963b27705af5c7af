// The directory-listing handler: reads a directory beneath the user's home into a listing.
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "platform/directory_reader.h"
#include "service/ftp/ftp_context.h"
#include "service/ftp/list_output.h"
#include "service/ftpserver.h"

namespace corvane {
namespace {

// File times are listed to 2-second precision.
std::chrono::sys_seconds TwoSecondPrecision(std::chrono::sys_seconds when) {
  const auto count = when.time_since_epoch().count();
  return std::chrono::sys_seconds{std::chrono::seconds{count - (((count % 2) + 2) % 2)}};
}

// Local time of file times; the conversion of the last instant is kept, since the entries of
// one directory often share their times.
class LocalTimes {
 public:
  std::chrono::local_seconds ToLocal(std::chrono::sys_seconds when) {
    if (when != last_utc_ || !valid_) {
      const std::time_t time = when.time_since_epoch().count();
      std::tm local{};
      valid_ = ::localtime_r(&time, &local) != nullptr;
      last_utc_ = when;
      last_local_ = valid_ ? std::chrono::local_seconds{when.time_since_epoch() +
                                                        std::chrono::seconds{local.tm_gmtoff}}
                           : std::chrono::local_seconds{};
    }
    return last_local_;
  }

 private:
  bool valid_ = false;
  std::chrono::sys_seconds last_utc_{};
  std::chrono::local_seconds last_local_{};
};

bool EndsWithExe(std::string_view name) {
  return name.size() >= 4 && name.substr(name.size() - 4) == ".exe";
}

}  // namespace

void TFTPServer::OnListDirectory(TFtpContext& context, const std::string& path,
                                 const std::string& options, const std::string& command,
                                 TListOutput& listing) {
  // A wildcard pattern names no directory: an empty listing.
  if (path.find_first_of("*?") != std::string::npos) return;
  std::optional<DirectoryReader> reader;
  try {
    // SECURITY: the directory is opened beneath the home; nothing outside it is read.
    reader.emplace(context.HomeDir, path);
  } catch (const std::runtime_error&) {
    return;  // missing, a file, unreadable: an empty listing and no error
  }
  // NLST without "l" shows names only: no entry needs to be examined.
  const bool names_only = command == "NLST" && options.find('l') == std::string::npos;
  DirectoryEntries read = reader->ReadAll(names_only);
  TListTable table;
  table.Rows.reserve(read.entries.size());
  LocalTimes times;
  for (const DirectoryEntryInfo& entry : read.entries) {
    TListTableRow& row = table.Rows.emplace_back();
    row.NameOffset = entry.name_offset;
    row.NameSize = entry.name_size;
    row.Directory = entry.is_directory;
    // Read-only is the owner write bit clear.
    row.Writable = entry.owner_writable;
    row.Executable = EndsWithExe(read.Name(entry));
    row.Size = entry.size;
    // The exact UTC instant too, so fact lines stay right across a daylight-saving change.
    row.ModifiedDateGMT = TwoSecondPrecision(entry.modified);
    row.ModifiedDate = times.ToLocal(row.ModifiedDateGMT);
  }
  table.Names = std::move(read.names);
  table.OwnerName = "ftp";
  table.GroupName = "ftp";
  listing.SetTable(std::move(table));
}

}  // namespace corvane
