#pragma once

#include <string>

namespace corvane {

// The operating system's text for an errno value ("No such file or directory").
std::string SystemErrorText(int error);

}  // namespace corvane
