#include "service/corvane_service.h"
#include "service/ftpserver.h"

namespace corvane {

namespace {

// Hands the service's calls to the real server object, which it owns.
class FtpServiceServer final : public ServiceServer {
 public:
  explicit FtpServiceServer(const std::string& program_directory) : server_(program_directory) {}

  void SetManagementPassword(const std::string& password) override {
    server_.SetManagementPassword(password);
  }
  void SetAuthOption(const std::string& option) override { server_.SetAuthOption(option); }
  void SetCertFile(const std::string& path) override { server_.SetCertFile(path); }
  void SetKeyFile(const std::string& path) override { server_.SetKeyFile(path); }
  void SetLogDir(const std::string& path) override { server_.SetLogDir(path); }
  void SetRulesFile(const std::string& path) override { server_.SetRulesFile(path); }
  void SetBandwidth(std::int32_t bandwidth) override { server_.SetBandwidth(bandwidth); }
  void SetMaxConnections(std::int32_t max_connections) override {
    server_.SetMaxConnections(max_connections);
  }
  std::string LogDir() const override { return server_.LogDir(); }

  void AddFtpBinding(const std::string& address, int port) override {
    server_.AddFtpBinding(address, port);
  }
  void AddManagementBinding(const std::string& address, int port) override {
    server_.AddManagementBinding(address, port);
  }
  void SetFallbackPorts(int ftp_port, int management_port) override {
    server_.SetFallbackPorts(ftp_port, management_port);
  }
  void Activate() override { server_.Activate(); }
  void Deactivate() override { server_.Deactivate(); }

 private:
  TFTPServer server_;
};

}  // namespace

std::unique_ptr<ServiceServer> CreateFtpServer(const std::string& program_directory) {
  return std::make_unique<FtpServiceServer>(program_directory);
}

}  // namespace corvane
