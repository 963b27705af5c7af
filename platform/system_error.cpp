#include "platform/system_error.h"

#include <cstring>

namespace corvane {

std::string SystemErrorText(int error) {
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be the buffer.
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace corvane
