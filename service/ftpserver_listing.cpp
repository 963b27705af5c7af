// The directory-listing handler: reads a directory beneath the user's home into a listing.
#include <ctime>
#include <optional>
#include <stdexcept>

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

std::chrono::local_seconds ToLocal(std::chrono::sys_seconds when) {
  const std::time_t time = when.time_since_epoch().count();
  std::tm local{};
  if (::localtime_r(&time, &local) == nullptr) return std::chrono::local_seconds{};
  return std::chrono::local_seconds{when.time_since_epoch() +
                                    std::chrono::seconds{local.tm_gmtoff}};
}

bool EndsWithExe(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

void AddEntry(TListOutput& listing, const DirectoryEntryInfo& entry) {
  TListOutputItem& item = listing.Add();
  item.FileName = entry.name;
  item.ItemType = entry.is_directory ? TDirItemType::ditDirectory : TDirItemType::ditFile;
  item.Size = entry.size;
  const std::chrono::sys_seconds modified = TwoSecondPrecision(entry.modified);
  item.ModifiedDate = ToLocal(modified);
  // The exact UTC instant, so fact lines stay right across a daylight-saving change.
  item.ModifiedDateGMT = modified;
  item.CreationDate = item.ModifiedDate;
  item.LastAccessDate = item.ModifiedDate;
  item.OwnerName = "ftp";
  item.GroupName = "ftp";
  // Read-only is the owner write bit clear.
  std::string permissions = "r";
  permissions += entry.owner_writable ? 'w' : '-';
  permissions += EndsWithExe(entry.name) ? 'x' : '-';
  item.OwnerPermissions = permissions;
  item.GroupPermissions = permissions;
  item.OtherPermissions = permissions;
}

}  // namespace

void TFTPServer::OnListDirectory(TFtpContext& context, const std::string& path, const std::string&,
                                 const std::string&, TListOutput& listing) {
  // A wildcard pattern names no directory: an empty listing.
  if (path.find_first_of("*?") != std::string::npos) return;
  std::optional<DirectoryReader> reader;
  try {
    // SECURITY: the directory is opened beneath the home; nothing outside it is read.
    reader.emplace(context.HomeDir, path);
  } catch (const std::runtime_error&) {
    return;  // missing, a file, unreadable: an empty listing and no error
  }
  DirectoryEntryInfo entry;
  while (reader->Next(entry)) AddEntry(listing, entry);
}

}  // namespace corvane
