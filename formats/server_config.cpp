#include "formats/server_config.h"

#include <charconv>
#include <stdexcept>

namespace corvane {
namespace {

void AddValue(XmlElement& parent, const std::string& name, const std::string& text) {
  parent.AddChild(name).SetText(text);
}

void AddAddresses(XmlElement& parent, const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) AddValue(parent, "IP", address);
}

}  // namespace

void WriteServerConfig(const std::string& path, const ServerConfig& config) {
  XmlDocument document = XmlDocument::Create();
  XmlElement root = document.AddDocumentElement("global");
  XmlElement ftp = root.AddChild("FTP");
  XmlElement management = root.AddChild("Management");

  AddValue(ftp, "port", config.ftp.port);
  AddValue(ftp, "maxcon", config.ftp.maxcon);
  AddValue(ftp, "authoption", config.ftp.authoption);
  AddValue(ftp, "logdir", config.ftp.logdir);
  AddValue(ftp, "cert", config.ftp.cert);
  AddValue(ftp, "key", config.ftp.key);
  AddValue(ftp, "bandwidth", config.ftp.bandwidth);
  AddAddresses(ftp, config.ftp.addresses);

  AddValue(management, "port", config.management.port);
  AddValue(management, "password", config.management.password);
  AddAddresses(management, config.management.addresses);

  document.Save(path);
}

std::optional<std::string> ReadConfigText(const XmlElement& section, const std::string& name) {
  return section.ChildValue(name);
}

std::optional<std::int32_t> ReadConfigInteger(const XmlElement& section, const std::string& name) {
  std::optional<std::string> text = section.ChildValue(name);
  if (!text) return std::nullopt;
  // from_chars takes a leading "-" but not "+"; it leaves the rest of the text for us to check.
  const char* first = text->data();
  const char* last = first + text->size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  std::int32_t value = 0;
  auto [end, error] = std::from_chars(first, last, value, 10);
  if (error != std::errc() || end != last) {
    throw std::runtime_error("Element " + section.Name() + "/" + name + " holds \"" + *text +
                             "\", which is not a valid integer value");
  }
  return value;
}

std::string ReadConfigAddress(const XmlElement& ip_element) {
  std::optional<std::string> address = ip_element.Text();
  if (!address) {
    throw std::runtime_error("Element " + ip_element.Name() + " holds no address");
  }
  return *address;
}

}  // namespace corvane
