// The directory-listing handler: reads a directory beneath the user's home into a listing.
#include <ctime>
#include <optional>
#include <stdexcept>
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

bool EndsWithExe(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

void AddEntry(TListOutput& listing, DirectoryEntryInfo&& entry, LocalTimes& times) {
  TListOutputItem& item = listing.Add();
  const bool exe = EndsWithExe(entry.name);
  item.FileName = std::move(entry.name);
  item.ItemType = entry.is_directory ? TDirItemType::ditDirectory : TDirItemType::ditFile;
  item.Size = entry.size;
  const std::chrono::sys_seconds modified = TwoSecondPrecision(entry.modified);
  item.ModifiedDate = times.ToLocal(modified);
  // The exact UTC instant, so fact lines stay right across a daylight-saving change.
  item.ModifiedDateGMT = modified;
  item.CreationDate = item.ModifiedDate;
  item.LastAccessDate = item.ModifiedDate;
  item.OwnerName = "ftp";
  item.GroupName = "ftp";
  // Read-only is the owner write bit clear.
  std::string permissions = "r";
  permissions += entry.owner_writable ? 'w' : '-';
  permissions += exe ? 'x' : '-';
  item.OwnerPermissions = permissions;
  item.GroupPermissions = permissions;
  item.OtherPermissions = permissions;
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
  std::vector<DirectoryEntryInfo> entries = reader->ReadAll(names_only);
  listing.Reserve(listing.Count() + entries.size());
  LocalTimes times;
  for (DirectoryEntryInfo& entry : entries) AddEntry(listing, std::move(entry), times);
}

}  // namespace corvane
