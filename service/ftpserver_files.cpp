// File-system handlers: every path is a canonical virtual path, mapped onto the user's home
// directory and resolved beneath it (platform/beneath.h), so nothing outside the home is
// reachable, through ".." or a symbolic link alike.
#include <cerrno>
#include <optional>
#include <stdexcept>

#include "platform/beneath.h"
#include "service/ftp/ftp_context.h"
#include "service/ftpserver.h"

namespace corvane {
namespace {

// The local path shown in messages: the home directory followed by the virtual path.
std::string ToLocal(const TFtpContext& context, const std::string& path) {
  return context.HomeDir + path;
}

std::runtime_error OpenError(const TFtpContext& context, const std::string& path,
                             const std::exception& error) {
  return std::runtime_error("Cannot open file \"" + ToLocal(context, path) + "\". " + error.what());
}

std::runtime_error CreateError(const TFtpContext& context, const std::string& path,
                               const std::exception& error) {
  return std::runtime_error("Cannot create file \"" + ToLocal(context, path) + "\". " +
                            error.what());
}

// Opens the file with the exclusive lock a transfer holds, to prove no transfer has it; an
// empty descriptor when the lock cannot be tested (no read access), a throw when it is taken.
UniqueFd LockAgainstTransfers(const BeneathDirectory& home, const std::string& path) {
  try {
    return home.OpenLocked(path, FileOpenMode::Read);
  } catch (const FileSystemError& error) {
    if (error.Error() == EWOULDBLOCK) throw;
    return UniqueFd();
  }
}

}  // namespace

void TFTPServer::OnChangeDirectory(TFtpContext& context, std::string& directory) {
  // Only an existing directory beneath the home (links resolved beneath it) can be entered.
  FileKind kind = FileKind::Missing;
  try {
    kind = BeneathDirectory(context.HomeDir).Kind(directory);
  } catch (const FileSystemError&) {
  }
  if (kind != FileKind::Directory)
    throw std::runtime_error("\"" + directory + "\": No such directory.");
}

void TFTPServer::OnDeleteFile(TFtpContext& context, const std::string& path) {
  std::optional<BeneathDirectory> home;
  try {
    home.emplace(context.HomeDir);
  } catch (const FileSystemError&) {
    throw std::runtime_error("File dont exist");
  }
  if (home->Kind(path) != FileKind::Regular) throw std::runtime_error("File dont exist");
  try {
    // A file under transfer is held by its stream's lock; keep it held over the unlink so no
    // transfer starts on the file meanwhile.
    const UniqueFd lock = LockAgainstTransfers(*home, path);
    home->Unlink(path);
  } catch (const FileSystemError&) {
    throw std::runtime_error("Failed to delete");
  }
}

void TFTPServer::OnMakeDirectory(TFtpContext& context, const std::string& path) {
  try {
    BeneathDirectory(context.HomeDir).MakeDirectory(path);
  } catch (const FileSystemError&) {
    throw std::runtime_error("Failed to create dir");
  }
}

void TFTPServer::OnRemoveDirectory(TFtpContext& context, const std::string& path) {
  try {
    BeneathDirectory(context.HomeDir).RemoveDirectory(path);
  } catch (const FileSystemError&) {
    throw std::runtime_error("Failed to remove dir");
  }
}

void TFTPServer::OnRenameFile(TFtpContext& context, const std::string& old_path,
                              const std::string& new_path) {
  // No RNFR on this connection yet.
  if (old_path.empty()) throw std::runtime_error("Failed to rename");
  try {
    const BeneathDirectory home(context.HomeDir);
    UniqueFd lock;
    if (home.Kind(old_path) == FileKind::Regular) lock = LockAgainstTransfers(home, old_path);
    home.Rename(old_path, new_path);
  } catch (const FileSystemError&) {
    throw std::runtime_error("Failed to rename");
  }
}

bool TFTPServer::OnFileExists(TFtpContext& context, const std::string& path) {
  try {
    return BeneathDirectory(context.HomeDir).Exists(path);
  } catch (const FileSystemError&) {
    return false;
  }
}

std::unique_ptr<FileStream> TFTPServer::OnRetrieveFile(TFtpContext& context,
                                                       const std::string& path) {
  ApplyThrottle(context, true);
  try {
    const BeneathDirectory home(context.HomeDir);
    return std::make_unique<FileStream>(home.OpenLocked(path, FileOpenMode::Read));
  } catch (const FileSystemError& error) {
    throw OpenError(context, path, error);
  }
}

std::unique_ptr<FileStream> TFTPServer::OnStoreFile(TFtpContext& context, const std::string& path,
                                                    bool append) {
  ApplyThrottle(context, true);
  std::optional<BeneathDirectory> home;
  try {
    home.emplace(context.HomeDir);
  } catch (const FileSystemError& error) {
    throw CreateError(context, path, error);
  }
  if (append) {
    // An existing file is opened (its failure is the open error); a missing one is created.
    try {
      return std::make_unique<FileStream>(home->OpenLocked(path, FileOpenMode::ReadWrite));
    } catch (const FileSystemError& error) {
      if (error.Error() != ENOENT) throw OpenError(context, path, error);
    }
    try {
      return std::make_unique<FileStream>(home->OpenLocked(path, FileOpenMode::CreateOrOpen));
    } catch (const FileSystemError& error) {
      throw CreateError(context, path, error);
    }
  }
  try {
    // Opened as it is: the engine cuts the file at the upload's start position only once the
    // data connection is open, so a store that fails before that leaves the file untouched.
    return std::make_unique<FileStream>(home->OpenLocked(path, FileOpenMode::CreateOrOpen));
  } catch (const std::runtime_error& error) {
    throw CreateError(context, path, error);
  }
}

}  // namespace corvane
