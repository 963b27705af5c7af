#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_context.h"
#include "service/net/tcp_server.h"

namespace corvane {

class FileStream;
class TListOutput;
class TTlsServerHandler;

enum class TUseTLS { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };
enum class TDirFormat { ftpdfDOS, ftpdfUnix, ftpdfEPLF, ftpdfCustom, ftpdfOSDependent };
enum class TPathProcessing { ftppDOS, ftppUnix, ftppCustom };

// The vendor's web address, shown in the greeting.
inline constexpr const char* kVendorWebAddress = "https://www.corvane.example";

// The FTP protocol engine: the FTP listener, the command tables and the events through which
// the program decides logins and does every file-system operation.
class TFtpEngine {
 public:
  TFtpEngine();
  ~TFtpEngine();
  TFtpEngine(const TFtpEngine&) = delete;
  TFtpEngine& operator=(const TFtpEngine&) = delete;

  // Configuration, set before activation and only read afterwards.
  TFtpReply Greeting{220, "Service ready."};
  TUseTLS UseTLS = TUseTLS::utNoTLSSupport;
  TDirFormat DirFormat = TDirFormat::ftpdfDOS;
  TPathProcessing PathProcessing = TPathProcessing::ftppDOS;
  TSecurityOptions FTPSecurityOptions;
  TFtpReply ReplyUnknownSITCommand{500, "Invalid SITE command."};
  TFtpReply ExceptionReply{500, "Unknown Internal Error"};
  std::uint16_t DefaultDataPort = 20;
  std::uint16_t PASVBoundPortMin = 0;
  std::uint16_t PASVBoundPortMax = 0;
  // How long a passive data connection waits for the client.
  int PassiveAcceptTimeoutMs = 60000;
  // A data connection that moves no byte for this long fails its transfer (426).
  int DataProgressTimeoutMs = 300000;
  std::function<std::unique_ptr<TFtpContext>()> ContextClass;

  // Events; each holds one handler.
  std::function<void(TFtpContext&)> OnConnect;
  std::function<bool(TFtpContext&, const std::string& user, const std::string& password)>
      OnUserLogin;
  std::function<void(TFtpContext&, std::string& directory)> OnChangeDirectory;
  std::function<void(TFtpContext&)> OnDataPortAfterBind;
  std::function<void(TFtpContext&, const std::string& path)> OnDeleteFile;
  std::function<void(TFtpContext&, const std::string& path)> OnMakeDirectory;
  std::function<void(TFtpContext&, const std::string& path)> OnRemoveDirectory;
  std::function<void(TFtpContext&, const std::string& old_path, const std::string& new_path)>
      OnRenameFile;
  std::function<std::unique_ptr<FileStream>(TFtpContext&, const std::string& path)> OnRetrieveFile;
  std::function<std::unique_ptr<FileStream>(TFtpContext&, const std::string& path, bool append)>
      OnStoreFile;
  // Whether a file of that virtual path exists (STOU picks a name that does not).
  std::function<bool(TFtpContext&, const std::string& path)> OnFileExists;
  std::function<void(TFtpContext&, const std::string& path, const std::string& options,
                     const std::string& command, TListOutput& listing)>
      OnListDirectory;
  // Prepares the I/O handler (builds the TLS context) when the listener is activated.
  std::function<void()> PrepareIoHandler;
  // The TLS context holder shared by the control and data connections; null: no TLS.
  const TTlsServerHandler* TlsHandler = nullptr;

  // The four command tables, filled by the constructor.
  TCommandTable& CommandHandlers() { return main_table_; }
  TCommandTable& SiteCommands() { return site_table_; }
  TCommandTable& OptsCommands() { return opts_table_; }
  TCommandTable& TransferCommands() { return transfer_table_; }
  const TCommandTable& CommandHandlers() const { return main_table_; }
  const TCommandTable& SiteCommands() const { return site_table_; }
  const TCommandTable& OptsCommands() const { return opts_table_; }
  const TCommandTable& TransferCommands() const { return transfer_table_; }

  // The listener.
  void AddBinding(const std::string& address, std::uint16_t port) {
    listener_.AddBinding(address, port);
  }
  std::size_t BindingCount() const { return listener_.BindingCount(); }
  void SetDefaultPort(std::uint16_t port) { listener_.SetDefaultPort(port); }
  std::uint16_t DefaultPort() const { return listener_.DefaultPort(); }
  // Over the limit a new connection gets a 421 reply and is closed; 0 means no limit.
  void SetMaxConnections(int max_connections);
  void SetActive(bool active);
  bool Active() const { return listener_.Active(); }
  std::vector<Endpoint> ListeningEndpoints() const { return listener_.ListeningEndpoints(); }
  // Open control connections, logged in or not, counted under the connection list's lock.
  std::size_t ConnectionCount() const { return listener_.ConnectionCount(); }

 private:
  void ServeConnection(TcpSocket& socket);

  TCommandTable main_table_;
  TCommandTable site_table_;
  TCommandTable opts_table_;
  TCommandTable transfer_table_;
  TcpServer listener_;
};

}  // namespace corvane
