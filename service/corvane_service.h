#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_log.h"

namespace corvane {

class XmlElement;

// The calls the service makes on its server object while it starts and stops. TFTPServer
// stands behind it in the program (CreateFtpServer); a test puts a recorder there.
class ServiceServer {
 public:
  virtual ~ServiceServer() = default;

  virtual void SetManagementPassword(const std::string& password) = 0;
  virtual void SetAuthOption(const std::string& option) = 0;
  virtual void SetCertFile(const std::string& path) = 0;
  virtual void SetKeyFile(const std::string& path) = 0;
  virtual void SetLogDir(const std::string& path) = 0;
  virtual void SetRulesFile(const std::string& path) = 0;
  virtual void SetBandwidth(std::int32_t bandwidth) = 0;
  virtual void SetMaxConnections(std::int32_t max_connections) = 0;
  virtual std::string LogDir() const = 0;

  virtual void AddFtpBinding(const std::string& address, int port) = 0;
  virtual void AddManagementBinding(const std::string& address, int port) = 0;
  // The ports a listener without any recorded binding falls back to (on the wildcard address).
  virtual void SetFallbackPorts(int ftp_port, int management_port) = 0;
  virtual void Activate() = 0;
  virtual void Deactivate() = 0;
};

// Creates the server object for a program directory.
using ServerFactory = std::function<std::unique_ptr<ServiceServer>(const std::string&)>;

// The real server object, TFTPServer, for the program directory.
std::unique_ptr<ServiceServer> CreateFtpServer(const std::string& program_directory);

// The service object: reads gc.xml from the program directory, configures and activates the
// server object on start, deactivates it on stop, and reports both to the event log.
class TCorvaneService {
 public:
  TCorvaneService(std::string program_directory, EventSink& events,
                  ServerFactory create_server = CreateFtpServer);
  TCorvaneService(const TCorvaneService&) = delete;
  TCorvaneService& operator=(const TCorvaneService&) = delete;

  // Creates the server object, applies the defaults and gc.xml, and activates it. Throws
  // std::runtime_error when gc.xml is not well-formed or holds a value that cannot be read;
  // the steps done before stay done. Failures of the server object itself go to its activity
  // log and do not throw.
  void ServiceStart();

  // Deactivates the server object created by ServiceStart.
  void ServiceStop();

  // The server object; null before ServiceStart.
  ServiceServer* Server() { return server_.get(); }

 private:
  void ApplyFtpElement(const XmlElement& element);
  void ApplyManagementElement(const XmlElement& element);
  std::string DefaultLogDirectory() const;

  const std::string program_directory_;
  EventSink& events_;
  const ServerFactory create_server_;
  std::unique_ptr<ServiceServer> server_;
  int ftp_port_ = 21;
  int management_port_ = 1010;
};

}  // namespace corvane
