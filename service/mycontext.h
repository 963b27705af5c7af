#pragma once

#include <cstdint>

#include "service/ftp/ftp_context.h"

namespace corvane {

// The program's connection context: the engine's context plus the user's own bandwidth.
class TMyContext : public TFtpContext {
 public:
  // Units of 1024 bytes per second; 0 or less means the user has no limit of its own.
  std::int32_t Bandwidth = 0;
};

}  // namespace corvane
