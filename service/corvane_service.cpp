#include "service/corvane_service.h"

#include <filesystem>
#include <optional>
#include <utility>

#include "formats/server_config.h"
#include "formats/xml_document.h"

namespace corvane {

namespace {

// The management password that applies when gc.xml names none.
constexpr const char* kDefaultManagementPassword = "62#%8152@7&&";
constexpr const char* kDefaultAuthOption = "xml";
constexpr int kDefaultFtpPort = 21;
constexpr int kDefaultManagementPort = 1010;
constexpr const char* kLoopbackAddress = "127.0.0.1";

// gc.xml counts as missing when nothing, or a directory, stands at its path.
bool ConfigurationFileExists(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  return std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

TCorvaneService::TCorvaneService(std::string program_directory, EventSink& events,
                                 ServerFactory create_server)
    : program_directory_(std::move(program_directory)),
      events_(events),
      create_server_(std::move(create_server)) {}

std::string TCorvaneService::DefaultLogDirectory() const {
  return program_directory_ + "/logs";
}

void TCorvaneService::ServiceStart() {
  events_.Information("Starting Corvane service");
  server_ = create_server_(program_directory_);

  server_->SetManagementPassword(kDefaultManagementPassword);
  server_->SetAuthOption(kDefaultAuthOption);
  server_->SetCertFile(program_directory_ + "/default.cer");
  server_->SetKeyFile(program_directory_ + "/default.key");
  server_->SetLogDir(DefaultLogDirectory());
  server_->SetRulesFile(program_directory_ + "/rules.txt");
  server_->SetBandwidth(0);

  const std::string config_path = program_directory_ + "/gc.xml";
  ftp_port_ = kDefaultFtpPort;
  management_port_ = kDefaultManagementPort;

  if (!ConfigurationFileExists(config_path)) {
    server_->AddFtpBinding(kLoopbackAddress, ftp_port_);
    server_->AddManagementBinding(kLoopbackAddress, management_port_);
  } else {
    const XmlDocument document = XmlDocument::Load(config_path);
    const XmlElement root = document.DocumentElement();
    for (std::size_t i = 0; i < root.ChildCount(); ++i) {
      const XmlElement child = root.Child(i);
      const std::string name = child.Name();
      if (name == "FTP") {
        ApplyFtpElement(child);
      } else if (name == "Management") {
        ApplyManagementElement(child);
      }
    }
  }

  // A listener without any IP element listens on the wildcard address at the working port.
  server_->SetFallbackPorts(ftp_port_, management_port_);
  server_->Activate();
  events_.Information("Corvane Service started");
}

void TCorvaneService::ApplyFtpElement(const XmlElement& element) {
  if (const auto port = ReadConfigInteger(element, "port")) ftp_port_ = *port;
  if (const auto maxcon = ReadConfigInteger(element, "maxcon")) server_->SetMaxConnections(*maxcon);
  if (const auto option = ReadConfigText(element, "authoption")) server_->SetAuthOption(*option);
  const auto log_directory = ReadConfigText(element, "logdir");
  server_->SetLogDir(log_directory ? *log_directory : DefaultLogDirectory());
  if (const auto cert = ReadConfigText(element, "cert")) server_->SetCertFile(*cert);
  if (const auto key = ReadConfigText(element, "key")) server_->SetKeyFile(*key);
  if (const auto bandwidth = ReadConfigInteger(element, "bandwidth")) {
    server_->SetBandwidth(*bandwidth);
  }

  // Only the last component is made: a missing parent makes this fail, and the start goes on.
  std::error_code ignored;
  const std::string log_dir = server_->LogDir();
  if (!std::filesystem::is_directory(log_dir, ignored)) {
    std::filesystem::create_directory(log_dir, ignored);
  }

  for (std::size_t i = 0; i < element.ChildCount(); ++i) {
    const XmlElement child = element.Child(i);
    if (child.Name() != "IP") continue;
    const std::string address = ReadConfigAddress(child);
    server_->AddFtpBinding(address, ftp_port_);
    events_.Information("Configuring Corvane Service on IP: " + address + ":" +
                        std::to_string(ftp_port_));
  }
}

void TCorvaneService::ApplyManagementElement(const XmlElement& element) {
  if (const auto port = ReadConfigInteger(element, "port")) management_port_ = *port;
  if (const auto password = ReadConfigText(element, "password")) {
    server_->SetManagementPassword(*password);
  }
  for (std::size_t i = 0; i < element.ChildCount(); ++i) {
    const XmlElement child = element.Child(i);
    if (child.Name() != "IP") continue;
    const std::string address = ReadConfigAddress(child);
    server_->AddManagementBinding(address, management_port_);
    events_.Information("Configuring Corvane Management Service on IP: " + address + ":" +
                        std::to_string(management_port_));
  }
}

void TCorvaneService::ServiceStop() {
  events_.Information("Stoping Corvane service");
  if (server_) server_->Deactivate();
  events_.Information("Corvane service is stoped");
}

}  // namespace corvane
