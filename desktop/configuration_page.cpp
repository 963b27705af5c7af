#include "desktop/configuration_page.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <charconv>
#include <filesystem>
#include <limits>
#include <stdexcept>

#include "desktop/field_helpers.h"
#include "desktop/message_boxes.h"
#include "formats/server_config.h"
#include "formats/xml_document.h"

namespace corvane {
namespace {

std::string Text(const QLineEdit* field) {
  return field->text().toStdString();
}
QString FromStd(const std::string& text) {
  return QString::fromStdString(text);
}

// A whole decimal number within [low, high]; std::nullopt for anything else, the empty text too.
std::optional<long long> DecimalIn(const QString& text, long long low, long long high) {
  const std::string digits = text.toStdString();
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  long long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::uint16_t PortValue(const QLineEdit* field) {
  const std::optional<long long> port = DecimalIn(field->text(), 0, 65535);
  if (!port) throw std::runtime_error("'" + Text(field) + "' is not a valid port number");
  return static_cast<std::uint16_t>(*port);
}

std::string RequiredPort(const XmlElement& section) {
  std::optional<std::string> port = ReadConfigText(section, "port");
  if (!port) throw std::runtime_error("gc.xml: the " + section.Name() + " section has no port");
  return *port;
}

}  // namespace

TConfigurationPage::TConfigurationPage(const ConfigurationWidgets& widgets,
                                       ManagementEndpoint& endpoint, std::string program_directory,
                                       QWidget* owner)
    : w_(widgets),
      endpoint_(endpoint),
      program_directory_(std::move(program_directory)),
      owner_(owner) {}

std::string TConfigurationPage::DefaultPath(const char* name) const {
  return program_directory_ + "/" + name;
}

void TConfigurationPage::LoadConfiguration() {
  const QString password = QString::fromLatin1(kBuiltInManagementPassword);
  w_.serverPassword->setText(password);
  w_.confirmServerPassword->setText(password);
  endpoint_.password = kBuiltInManagementPassword;
  w_.logFolder->setText(FromStd(DefaultPath("logs")));
  w_.certFile->setText(FromStd(DefaultPath("default.cer")));
  w_.keyFile->setText(FromStd(DefaultPath("default.key")));
  w_.limitBandwidth->setChecked(false);
  SetFieldEnabled(w_.bandwidthLimit, false);
  w_.userList->show();
  w_.userListHint->show();

  const std::string path = DefaultPath("gc.xml");
  bool management_read = false;
  if (std::filesystem::exists(path)) {
    const XmlElement root = XmlDocument::Load(path).DocumentElement();
    for (const XmlElement& section : root.Children()) {
      if (section.Name() == "FTP") {
        LoadFtpSection(section);
      } else if (section.Name() == "Management") {
        LoadManagementSection(section);
        management_read = true;
      }
    }
  } else {
    const QString loopback = QStringLiteral("127.0.0.1");
    w_.ftpAddresses->Choose(loopback);
    w_.managementAddresses->Choose(loopback);
    endpoint_.host = "127.0.0.1";
  }
  if (!management_read) endpoint_.port = PortValue(w_.managementPort);
}

void TConfigurationPage::LoadFtpSection(const XmlElement& section) {
  w_.ftpPort->setText(FromStd(RequiredPort(section)));
  w_.maxConnections->setText(FromStd(ReadConfigText(section, "maxcon").value_or("0")));

  const std::string bandwidth = ReadConfigText(section, "bandwidth").value_or("0");
  w_.bandwidthLimit->setText(FromStd(bandwidth));
  const bool limited = bandwidth != "0";
  w_.limitBandwidth->setChecked(limited);
  SetFieldEnabled(w_.bandwidthLimit, limited);

  const bool windows = ReadConfigText(section, "authoption") == std::optional<std::string>("win");
  w_.windowsAuthentication->setChecked(windows);
  w_.xmlUsersFile->setChecked(!windows);
  w_.userList->setVisible(!windows);
  w_.userListHint->setVisible(!windows);

  w_.logFolder->setText(FromStd(ReadConfigText(section, "logdir").value_or(DefaultPath("logs"))));
  w_.certFile->setText(
      FromStd(ReadConfigText(section, "cert").value_or(DefaultPath("default.cer"))));
  w_.keyFile->setText(FromStd(ReadConfigText(section, "key").value_or(DefaultPath("default.key"))));

  for (const XmlElement& child : section.Children()) {
    if (child.Name() == "IP") w_.ftpAddresses->Choose(FromStd(ReadConfigAddress(child)));
  }
}

void TConfigurationPage::LoadManagementSection(const XmlElement& section) {
  w_.managementPort->setText(FromStd(RequiredPort(section)));
  if (const std::optional<std::string> password = ReadConfigText(section, "password")) {
    w_.serverPassword->setText(FromStd(*password));
    w_.confirmServerPassword->setText(FromStd(*password));
  }
  endpoint_.port = PortValue(w_.managementPort);
  endpoint_.password = Text(w_.serverPassword);
  for (const XmlElement& child : section.Children()) {
    if (child.Name() != "IP") continue;
    const std::string address = ReadConfigAddress(child);
    w_.managementAddresses->Choose(FromStd(address));
    endpoint_.host = address;
  }
}

bool TConfigurationPage::CheckBeforeSave() {
  const auto fail = [this](const char* message) {
    ShowValidationError(owner_, QObject::tr(message));
    return false;
  };
  if (w_.serverPassword->text().isEmpty()) return fail(QT_TR_NOOP("Invalid password"));
  if (w_.confirmServerPassword->text() != w_.serverPassword->text()) {
    return fail(QT_TR_NOOP("Password confirmation failed"));
  }
  if (w_.logFolder->text().isEmpty()) w_.logFolder->setText(FromStd(DefaultPath("logs")));
  if (!QFileInfo(w_.logFolder->text()).isDir()) {
    return fail(QT_TR_NOOP("Specified log directory dont exist"));
  }
  if (!w_.keyFile->text().isEmpty() && !QFileInfo(w_.keyFile->text()).isFile()) {
    return fail(QT_TR_NOOP("Specified key file dont exist"));
  }
  if (!w_.certFile->text().isEmpty() && !QFileInfo(w_.certFile->text()).isFile()) {
    return fail(QT_TR_NOOP("Specified certificate file dont exist"));
  }
  // The number fields take only typed digits, but a paste can still leave anything in them; a
  // gc.xml with such a value would keep the service from starting.
  if (!DecimalIn(w_.ftpPort->text(), 1, 65535)) return fail(QT_TR_NOOP("Invalid FTP port"));
  if (!DecimalIn(w_.managementPort->text(), 1, 65535)) {
    return fail(QT_TR_NOOP("Invalid management port"));
  }
  const long long int_max = std::numeric_limits<std::int32_t>::max();
  if (!DecimalIn(w_.maxConnections->text(), 0, int_max)) {
    return fail(QT_TR_NOOP("Invalid maximum connections"));
  }
  if (w_.limitBandwidth->isChecked() && !DecimalIn(w_.bandwidthLimit->text(), 0, int_max)) {
    return fail(QT_TR_NOOP("Invalid bandwidth limit"));
  }
  return true;
}

void TConfigurationPage::SaveConfiguration() {
  ServerConfig config;
  config.ftp.port = Text(w_.ftpPort);
  config.ftp.maxcon = Text(w_.maxConnections);
  config.ftp.authoption = w_.windowsAuthentication->isChecked() ? "win" : "xml";
  config.ftp.logdir = Text(w_.logFolder);
  config.ftp.cert = Text(w_.certFile);
  config.ftp.key = Text(w_.keyFile);
  config.ftp.bandwidth = w_.limitBandwidth->isChecked() ? Text(w_.bandwidthLimit) : "0";
  for (const QString& address : w_.ftpAddresses->Chosen()) {
    config.ftp.addresses.push_back(address.toStdString());
  }
  config.management.port = Text(w_.managementPort);
  config.management.password = Text(w_.serverPassword);
  for (const QString& address : w_.managementAddresses->Chosen()) {
    config.management.addresses.push_back(address.toStdString());
  }
  const std::uint16_t port = PortValue(w_.managementPort);

  WriteServerConfig(DefaultPath("gc.xml"), config);

  if (!config.management.addresses.empty()) {
    endpoint_.host = config.management.addresses.back();
    endpoint_.password = config.management.password;
  }
  endpoint_.port = port;
}

}  // namespace corvane
