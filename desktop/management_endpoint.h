#pragma once

#include <cstdint>
#include <string>

#include "formats/server_config.h"

namespace corvane {

// Where the desktop reaches the running service's management port, kept in step with gc.xml by
// the configuration load and save and used for every management request.
struct ManagementEndpoint {
  std::string host;
  std::uint16_t port = 1010;
  std::string password = kBuiltInManagementPassword;
};

}  // namespace corvane
