#pragma once

#include <string>

#include "desktop/configuration_pages.h"
#include "desktop/management_endpoint.h"

class QWidget;

namespace corvane {

// Loads gc.xml into the configuration pages, checks them when the operator saves, and writes
// them back, keeping the management endpoint in step with both.
class TConfigurationPage {
 public:
  // program_directory holds gc.xml and the default log directory, certificate and key; message
  // boxes are owned by owner.
  TConfigurationPage(const ConfigurationWidgets& widgets, ManagementEndpoint& endpoint,
                     std::string program_directory, QWidget* owner);

  // Puts the defaults into the pages, then the values of gc.xml when it exists. Throws
  // std::runtime_error for a file that cannot be read or parsed, a section without port text, an
  // IP element without text or a management port that is not a port number; the sections read
  // before stay applied.
  void LoadConfiguration();

  // The Save button's checks in order; the first failure is shown in an "Error" box and false is
  // returned. An empty log directory field is first set to the default log directory.
  bool CheckBeforeSave();

  // Writes a new gc.xml from the pages and updates the endpoint. Throws std::runtime_error when
  // the file cannot be written; the old file and the endpoint are then left as they were.
  void SaveConfiguration();

 private:
  void LoadFtpSection(const XmlElement& section);
  void LoadManagementSection(const XmlElement& section);
  std::string DefaultPath(const char* name) const;

  ConfigurationWidgets w_;
  ManagementEndpoint& endpoint_;
  std::string program_directory_;
  QWidget* owner_;
};

}  // namespace corvane
