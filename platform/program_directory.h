#pragma once

#include <string>

namespace corvane {

// The real path of the running executable (/proc/self/exe with every link resolved).
// Throws std::runtime_error with the system error text when it cannot be read.
std::string ExecutablePath();

// The directory of ExecutablePath(), without a trailing slash ("/" for a program in the root).
// Every shared file of the service lies there: gc.xml, users.xml, rules.txt, the default
// certificate and key, and the logs directory.
std::string ProgramDirectory();

// The directory part of a path, without a trailing slash: "/srv/corvane/CorvaneServer" gives
// "/srv/corvane"; a path directly under the root gives "/".
std::string DirectoryOf(const std::string& path);

}  // namespace corvane
