#include "service/ftpserver.h"

#include <stdexcept>

#include "service/ftp/ftp_engine.h"
#include "service/mycontext.h"
#include "service/net/cmd_server.h"
#include "service/net/tls_server_handler.h"
#include "service/rulesprocessor.h"

namespace corvane {
namespace {

std::uint16_t ToPort(int port) {
  if (port < 0 || port > 65535) throw std::runtime_error("Invalid port " + std::to_string(port));
  return static_cast<std::uint16_t>(port);
}

}  // namespace

TFTPServer::TFTPServer(std::string program_directory)
    : program_directory_(std::move(program_directory)), log_(program_directory_ + "/logs") {
  try {
    engine_ = std::make_unique<TFtpEngine>();
    tls_ = std::make_unique<TTlsServerHandler>();
    engine_->PrepareIoHandler = [this] { tls_->Prepare(); };
    engine_->TlsHandler = tls_.get();
    engine_->UseTLS = TUseTLS::utUseExplicitTLS;
    // The greeting goes out as 220: clients refuse a connection greeted with 200.
    engine_->Greeting.Clear();
    engine_->Greeting.SetReply(220, std::string("Corvane Server (") + kVendorWebAddress + ")");
    engine_->DirFormat = TDirFormat::ftpdfUnix;
    engine_->PathProcessing = TPathProcessing::ftppDOS;
    AttachEngineHandlers();
    engine_->ContextClass = [] { return std::make_unique<TMyContext>(); };

    management_ = std::make_unique<TCmdServer>();
    management_->AddCommandHandler("USERSSTATUS", [this](TCmdCommand& c) { OnUsersStatus(c); });
    management_->AddCommandHandler("USERSRELOAD", [this](TCmdCommand& c) { OnUsersReload(c); });
    management_->AddCommandHandler("RULESRELOAD", [this](TCmdCommand& c) { OnRulesReload(c); });
    Log("Initializing FTP server");
    engine_->SetDefaultPort(0);
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

TFTPServer::~TFTPServer() {
  // Stop every thread before the handlers' state goes away.
  if (engine_) engine_->SetActive(false);
  if (management_) management_->SetActive(false);
}

void TFTPServer::AttachEngineHandlers() {
  TFtpEngine& engine = *engine_;
  engine.OnUserLogin = [this](TFtpContext& c, const std::string& u, const std::string& p) {
    return OnUserLogin(c, u, p);
  };
  engine.OnConnect = [this](TFtpContext& c) { OnConnect(c); };
  engine.OnDataPortAfterBind = [this](TFtpContext& c) { OnDataPortAfterBind(c); };
  engine.OnChangeDirectory = [this](TFtpContext& c, std::string& d) { OnChangeDirectory(c, d); };
  engine.OnListDirectory = [this](TFtpContext& c, const std::string& path,
                                  const std::string& options, const std::string& command,
                                  TListOutput& listing) {
    OnListDirectory(c, path, options, command, listing);
  };
  engine.OnRetrieveFile = [this](TFtpContext& c, const std::string& p) {
    return OnRetrieveFile(c, p);
  };
  engine.OnStoreFile = [this](TFtpContext& c, const std::string& p, bool append) {
    return OnStoreFile(c, p, append);
  };
  engine.OnFileExists = [this](TFtpContext& c, const std::string& p) { return OnFileExists(c, p); };
  engine.OnDeleteFile = [this](TFtpContext& c, const std::string& p) { OnDeleteFile(c, p); };
  engine.OnRenameFile = [this](TFtpContext& c, const std::string& from, const std::string& to) {
    OnRenameFile(c, from, to);
  };
  engine.OnMakeDirectory = [this](TFtpContext& c, const std::string& p) { OnMakeDirectory(c, p); };
  engine.OnRemoveDirectory = [this](TFtpContext& c, const std::string& p) {
    OnRemoveDirectory(c, p);
  };
}

void TFTPServer::AddFtpBinding(const std::string& address, int port) {
  Log(address + ":" + std::to_string(port) + " Loading ip bindings");
  try {
    engine_->AddBinding(address, ToPort(port));
    engine_->SetDefaultPort(ToPort(port));
    Log(address + ":" + std::to_string(port) + " Initialized");
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

void TFTPServer::AddManagementBinding(const std::string& address, int port) {
  try {
    management_->AddBinding(address, port);
    management_->SetDefaultPort(port);
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

void TFTPServer::SetFallbackPorts(int ftp_port, int management_port) {
  try {
    if (engine_->BindingCount() == 0) engine_->SetDefaultPort(ToPort(ftp_port));
    if (!management_->HasBindings()) management_->SetDefaultPort(management_port);
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

void TFTPServer::Activate() {
  try {
    rules_ = std::make_unique<TRulesProcessor>(rules_file_);
    rules_->Load();
    tls_->Options().cert_file = cert_file_;
    tls_->Options().key_file = key_file_;
    engine_->SetMaxConnections(max_connections_);
    engine_->SetActive(true);
    Log("FTP Service activated");
    management_->SetActive(true);
    Log("Management Service activated");
    std::lock_guard lock(users_lock_);
    LoadUsers();
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

void TFTPServer::Deactivate() {
  try {
    engine_->SetActive(false);
    management_->SetActive(false);
    Log(" FTP Server stoped.");
  } catch (const std::exception& error) {
    Log(error.what());
  }
}

}  // namespace corvane
