#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/xml_document.h"

namespace corvane {

// The management password in force when gc.xml names none, and the desktop's initial one.
inline constexpr char kBuiltInManagementPassword[] = "62#%8152@7&&";

// Every value that the desktop writes to gc.xml, as the texts of its fields.
struct ServerConfig {
  struct Ftp {
    std::string port;
    std::string maxcon;
    std::string authoption;  // "win" or "xml"
    std::string logdir;
    std::string cert;
    std::string key;
    std::string bandwidth;  // in units of 1024 bytes per second; "0" for no limit
    std::vector<std::string> addresses;
  };
  struct Management {
    std::string port;
    std::string password;
    std::vector<std::string> addresses;
  };
  Ftp ftp;
  Management management;
};

// Writes a new gc.xml holding exactly the configuration: root "global", then "FTP" and
// "Management", each child in the fixed order and one "IP" per address; empty values are written
// as empty elements. Throws std::runtime_error when the file cannot be written.
void WriteServerConfig(const std::string& path, const ServerConfig& config);

// Readers for one value of a section element. Absent (missing or without text) is std::nullopt;
// an element that holds other elements throws std::runtime_error.
std::optional<std::string> ReadConfigText(const XmlElement& section, const std::string& name);
// Throws std::runtime_error naming the element and its text when the text is not a decimal
// 32-bit integer with an optional sign.
std::optional<std::int32_t> ReadConfigInteger(const XmlElement& section, const std::string& name);
// The address of an "IP" element; throws std::runtime_error when it holds no text.
std::string ReadConfigAddress(const XmlElement& ip_element);

}  // namespace corvane
