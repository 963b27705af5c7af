#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Replaces the content of the file at path (following a symbolic link) with content. The new
// content goes to a temporary file beside it that is renamed over the old one once complete, so
// a failed write leaves the old file as it was. An existing file must be writable and keeps its
// permission bits. Throws std::runtime_error("Cannot write <path>: <system error>").
void ReplaceFileContent(const std::string& path, std::string_view content);

}  // namespace corvane
