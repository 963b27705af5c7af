// File-system handlers; the data side that uses them is not served yet.
#include <stdexcept>

#include "service/ftpserver.h"

namespace corvane {

void TFTPServer::OnChangeDirectory(TFtpContext&, std::string&) {
  // Every directory change is accepted as it is.
}

void TFTPServer::OnDeleteFile(TFtpContext&, const std::string&) {
  throw std::runtime_error("Failed to delete");
}

void TFTPServer::OnMakeDirectory(TFtpContext&, const std::string&) {
  throw std::runtime_error("Failed to create dir");
}

void TFTPServer::OnRemoveDirectory(TFtpContext&, const std::string&) {
  throw std::runtime_error("Failed to remove dir");
}

void TFTPServer::OnRenameFile(TFtpContext&, const std::string&, const std::string&) {
  throw std::runtime_error("Failed to rename");
}

bool TFTPServer::OnFileExists(TFtpContext&, const std::string&) { return false; }

std::unique_ptr<FileStream> TFTPServer::OnRetrieveFile(TFtpContext&, const std::string&) {
  return nullptr;
}

std::unique_ptr<FileStream> TFTPServer::OnStoreFile(TFtpContext&, const std::string&, bool) {
  return nullptr;
}

}  // namespace corvane
