#pragma once

#include <string>

namespace corvane {

// Client paths are virtual: "/" is the user's home directory. These turn what a client sends
// into one canonical virtual path that never rises above "/".

// Resolves path against the current directory; backslashes count as slashes.
std::string Canonicalise(const std::string& current_directory, const std::string& path);

// The new working directory for CWD and XCWD with the given parameter.
std::string ChangeDirectoryTarget(const std::string& current_directory, const std::string& path);

// The new working directory for CDUP and XCUP (keeps a trailing "/").
std::string ParentDirectoryTarget(const std::string& current_directory);

}  // namespace corvane
