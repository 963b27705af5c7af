#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_stream.h"
#include "service/activity_log.h"

namespace corvane {

class TFtpEngine;
class TFtpContext;
class TCmdServer;
class TCmdCommand;
class TTlsServerHandler;
class TRulesProcessor;
class TListOutput;
class FileStream;

// The service's one server object: owns the FTP engine, the TLS handler, the management
// server, the user table, the rule engine and the activity log, and implements every handler
// the engine and the management server call.
class TFTPServer {
 public:
  // One enabled account of users.xml: password, home directory, bandwidth text.
  using UserEntry = std::vector<std::string>;

  explicit TFTPServer(std::string program_directory);
  ~TFTPServer();
  TFTPServer(const TFTPServer&) = delete;
  TFTPServer& operator=(const TFTPServer&) = delete;

  void SetManagementPassword(const std::string& password) { management_password_ = password; }
  void SetAuthOption(const std::string& option) { auth_option_ = option; }
  void SetCertFile(const std::string& path) { cert_file_ = path; }
  void SetKeyFile(const std::string& path) { key_file_ = path; }
  void SetLogDir(const std::string& path) { log_.SetDirectory(path); }
  void SetRulesFile(const std::string& path) { rules_file_ = path; }
  void SetBandwidth(std::int32_t bandwidth) { bandwidth_ = bandwidth; }
  void SetMaxConnections(std::int32_t max_connections) { max_connections_ = max_connections; }

  std::string LogDir() const { return log_.Directory(); }

  void AddFtpBinding(const std::string& address, int port);
  void AddManagementBinding(const std::string& address, int port);
  // The ports the listeners fall back to, on the wildcard address, when no binding was added.
  void SetFallbackPorts(int ftp_port, int management_port);

  // Each runs under one error guard: a failure is written to the activity log, never raised.
  void Activate();
  void Deactivate();

  // The activity-log writer; never raises.
  void Log(const std::string& text) { log_.Write(text); }

  TFtpEngine& Engine() { return *engine_; }
  TCmdServer& ManagementServer() { return *management_; }

 private:
  void AttachEngineHandlers();

  // Login (ftpserver_login.cpp).
  bool OnUserLogin(TFtpContext& context, const std::string& user, const std::string& password);
  bool CheckXmlUser(TFtpContext& context, const std::string& user, const std::string& password);
  bool CheckWindowsUser(TFtpContext& context, const std::string& user,
                        const std::string& password);
  void LoadUsers();    // caller holds users_lock_
  void ReloadUsers();  // takes users_lock_

  // Admission by the access rules (ftpserver_rules.cpp).
  void OnConnect(TFtpContext& context);

  // Bandwidth (ftpserver_throttle.cpp).
  void OnDataPortAfterBind(TFtpContext& context);
  void ApplyThrottle(TFtpContext& context, bool for_transfer);

  // File system (ftpserver_files.cpp, ftpserver_listing.cpp).
  void OnChangeDirectory(TFtpContext& context, std::string& directory);
  void OnDeleteFile(TFtpContext& context, const std::string& path);
  void OnMakeDirectory(TFtpContext& context, const std::string& path);
  void OnRemoveDirectory(TFtpContext& context, const std::string& path);
  void OnRenameFile(TFtpContext& context, const std::string& old_path,
                    const std::string& new_path);
  std::unique_ptr<FileStream> OnRetrieveFile(TFtpContext& context, const std::string& path);
  std::unique_ptr<FileStream> OnStoreFile(TFtpContext& context, const std::string& path,
                                          bool append);
  bool OnFileExists(TFtpContext& context, const std::string& path);
  void OnListDirectory(TFtpContext& context, const std::string& path, const std::string& options,
                       const std::string& command, TListOutput& listing);

  // Management commands (ftpserver_management.cpp).
  bool CheckManagementPassword(TCmdCommand& command);
  void OnUsersStatus(TCmdCommand& command);
  void OnUsersReload(TCmdCommand& command);
  void OnRulesReload(TCmdCommand& command);

  const std::string program_directory_;

  std::mutex users_lock_;  // UsersLock: guards user_table_
  ActivityLog log_;        // holds LogLock, the innermost lock
  std::unique_ptr<TFtpEngine> engine_;
  std::unique_ptr<TCmdServer> management_;
  std::unique_ptr<TTlsServerHandler> tls_;
  std::string management_password_;
  std::int32_t max_connections_ = 0;
  std::string auth_option_;
  std::string rules_file_;
  std::string cert_file_;
  std::string key_file_;
  std::int32_t bandwidth_ = 0;
  std::map<std::string, UserEntry> user_table_;  // guarded by users_lock_
  std::unique_ptr<TRulesProcessor> rules_;
};

}  // namespace corvane
