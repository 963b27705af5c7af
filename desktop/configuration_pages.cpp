#include "desktop/configuration_pages.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "desktop/field_helpers.h"
#include "desktop/page_header.h"

namespace corvane {
namespace {

template <typename Widget>
Widget* Named(Widget* widget, const QString& name) {
  widget->setObjectName(name);
  return widget;
}

QLineEdit* Edit(const QString& name, const QString& text, QWidget* parent) {
  auto* edit = Named(new QLineEdit(text, parent), name);
  return edit;
}

QToolButton* BrowseButton(const QString& name, QWidget* parent) {
  auto* button = Named(new QToolButton(parent), name);
  button->setText(QStringLiteral("..."));
  return button;
}

// Shows a file-open dialog without a filter; a confirmed choice replaces the field's text.
void BrowseForFile(QLineEdit* field) {
  const QString path = QFileDialog::getOpenFileName(field->window());
  if (!path.isEmpty()) field->setText(path);
}

void BuildGeneralPage(QStackedWidget* pages, ConfigurationWidgets& w) {
  QVBoxLayout* content =
      AddHeaderPage(pages, QStringLiteral("GeneralPage"), QObject::tr("General Options"),
                    QObject::tr("Configure various startup and general options"));
  QWidget* page = pages->widget(pages->count() - 1);

  auto* connections = new QGroupBox(QObject::tr("Maximum Allowed Connections"), page);
  w.maxConnections = Edit(QStringLiteral("MaxCon_txt"), QStringLiteral("0"), connections);
  (new QHBoxLayout(connections))->addWidget(w.maxConnections);

  auto* log = new QGroupBox(QObject::tr("Log Directory"), page);
  w.logFolder = Edit(QStringLiteral("DefaultLogFolder_txt"), QString(), log);
  auto* log_layout = new QHBoxLayout(log);
  log_layout->addWidget(w.logFolder);
  // The log directory's browse button has no action, as on the original form.
  log_layout->addWidget(BrowseButton(QStringLiteral("SpeedButton5"), log));

  auto* bandwidth = new QGroupBox(QObject::tr("Bandwidth Throttling"), page);
  w.limitBandwidth = Named(new QCheckBox(QObject::tr("Limit Bandwidth of Every User"), bandwidth),
                           QStringLiteral("CheckBox1"));
  w.bandwidthLimit = Edit(QStringLiteral("BandwidthLimit_txt"), QStringLiteral("0"), bandwidth);
  SetFieldEnabled(w.bandwidthLimit, false);
  auto* bandwidth_layout = new QHBoxLayout(bandwidth);
  bandwidth_layout->addWidget(w.limitBandwidth);
  bandwidth_layout->addWidget(w.bandwidthLimit);
  bandwidth_layout->addWidget(new QLabel(QObject::tr("Kb"), bandwidth));
  QLineEdit* limit = w.bandwidthLimit;
  QObject::connect(w.limitBandwidth, &QCheckBox::toggled, limit,
                   [limit](bool ticked) { SetFieldEnabled(limit, ticked); });

  content->addWidget(connections);
  content->addWidget(log);
  content->addWidget(bandwidth);
  content->addStretch();
}

void BuildAuthenticationPage(QStackedWidget* pages, QWidget* user_list, ConfigurationWidgets& w) {
  QVBoxLayout* content =
      AddHeaderPage(pages, QStringLiteral("AuthenticationPage"), QObject::tr("Authentication"),
                    QObject::tr("Configure authentication settings"));
  QWidget* page = pages->widget(pages->count() - 1);

  auto* type = new QGroupBox(QObject::tr("Authentication Type"), page);
  w.windowsAuthentication = Named(new QRadioButton(QObject::tr("Windows Authentication"), type),
                                  QStringLiteral("RadioButton1"));
  w.xmlUsersFile = Named(new QRadioButton(QObject::tr("Create and use XML Users file"), type),
                         QStringLiteral("RadioButton2"));
  w.xmlUsersFile->setChecked(true);
  w.userListHint =
      Named(new QLabel(QObject::tr("(right click on below list box to create new users)"), type),
            QStringLiteral("Label20"));
  auto* type_layout = new QVBoxLayout(type);
  type_layout->addWidget(w.windowsAuthentication);
  type_layout->addWidget(w.xmlUsersFile);
  type_layout->addWidget(w.userListHint);

  w.userList = user_list;
  user_list->setParent(page);
  user_list->hide();
  w.userListHint->hide();
  content->addWidget(type);
  content->addWidget(user_list, 1);

  QLabel* hint = w.userListHint;
  QRadioButton* xml = w.xmlUsersFile;
  const auto show_list = [hint, xml, user_list] {
    user_list->setVisible(xml->isChecked());
    hint->setVisible(xml->isChecked());
  };
  QObject::connect(w.windowsAuthentication, &QRadioButton::clicked, page, show_list);
  QObject::connect(w.xmlUsersFile, &QRadioButton::clicked, page, show_list);
}

TAddressLists* AddressGroup(QVBoxLayout* content, const QString& title,
                            const AddressListNames& names, const AddressSource& addresses,
                            QWidget* page) {
  auto* group = new QGroupBox(title, page);
  auto* lists = new TAddressLists(names, addresses, group);
  (new QVBoxLayout(group))->addWidget(lists);
  content->addWidget(group, 1);
  return lists;
}

QLineEdit* PortGroup(QVBoxLayout* content, const QString& title, const QString& name,
                     const QString& initial, QWidget* page) {
  auto* group = new QGroupBox(title, page);
  QLineEdit* port = Edit(name, initial, group);
  (new QHBoxLayout(group))->addWidget(port);
  content->addWidget(group);
  return port;
}

void BuildFtpServicePage(QStackedWidget* pages, const AddressSource& addresses,
                         ConfigurationWidgets& w) {
  QVBoxLayout* content =
      AddHeaderPage(pages, QStringLiteral("FtpServicePage"), QObject::tr("FTP Service"),
                    QObject::tr("Configure FTP Service options"));
  QWidget* page = pages->widget(pages->count() - 1);
  w.ftpAddresses = AddressGroup(
      content, QObject::tr("FTP Server"),
      {QStringLiteral("SystemIPS"), QStringLiteral("SelectedIPs"), QStringLiteral("SpeedButton1"),
       QStringLiteral("SpeedButton2"), QStringLiteral("ActivateOnAll_chk")},
      addresses, page);
  w.ftpPort = PortGroup(content, QObject::tr("FTP Port"), QStringLiteral("lport"),
                        QStringLiteral("21"), page);
}

void BuildManagementServicePage(QStackedWidget* pages, const AddressSource& addresses,
                                ConfigurationWidgets& w) {
  QVBoxLayout* content = AddHeaderPage(pages, QStringLiteral("ManagementServicePage"),
                                       QObject::tr("Management Service"),
                                       QObject::tr("Configure Management service options"));
  QWidget* page = pages->widget(pages->count() - 1);
  w.managementAddresses = AddressGroup(
      content, QObject::tr("Management Server"),
      {QStringLiteral("SystemIPS2"), QStringLiteral("SelectedIPs2"), QStringLiteral("SpeedButton3"),
       QStringLiteral("SpeedButton4"), QStringLiteral("ActivateOnAll_chk2")},
      addresses, page);
  w.managementPort = PortGroup(content, QObject::tr("Port"), QStringLiteral("mport"),
                               QStringLiteral("1010"), page);

  auto* password = new QGroupBox(QObject::tr("Management Server Password"), page);
  w.serverPassword = Edit(QStringLiteral("ServerPass_txt"), QString(), password);
  w.confirmServerPassword = Edit(QStringLiteral("ConfirmServerPass_txt"), QString(), password);
  auto* form = new QFormLayout(password);
  for (QLineEdit* field : {w.serverPassword, w.confirmServerPassword}) {
    MaskWithAsterisks(field);
  }
  form->addRow(QObject::tr("Password :"), w.serverPassword);
  form->addRow(QObject::tr("Confirm Password :"), w.confirmServerPassword);
  content->addWidget(password);
}

void BuildSecurityPage(QStackedWidget* pages, ConfigurationWidgets& w) {
  QVBoxLayout* content = AddHeaderPage(pages, QStringLiteral("SecurityPage"),
                                       QObject::tr("Security"), QObject::tr("Security Rules"));
  QWidget* page = pages->widget(pages->count() - 1);

  auto* policy = new QGroupBox(QObject::tr("Default Connection Policy"), page);
  w.policyReject = Named(new QRadioButton(QObject::tr("Reject All"), policy),
                         QStringLiteral("PolicyReject_radio"));
  w.policyAccept = Named(new QRadioButton(QObject::tr("Accept All"), policy),
                         QStringLiteral("PolicyAccept_radio"));
  w.policyReject->setChecked(true);
  auto* policy_layout = new QHBoxLayout(policy);
  policy_layout->addWidget(w.policyReject);
  policy_layout->addWidget(w.policyAccept);

  auto* rules = new QGroupBox(QObject::tr("Rules (RuleSet file content)"), page);
  w.rulesList = Named(new QListWidget(rules), QStringLiteral("RulesList"));
  (new QVBoxLayout(rules))->addWidget(w.rulesList);

  w.addRule = Named(new QPushButton(QObject::tr("Add Rule"), page), QStringLiteral("Button2"));
  w.clearRules = Named(new QPushButton(QObject::tr("Clear"), page), QStringLiteral("Button3"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(w.addRule);
  buttons->addWidget(w.clearRules);

  content->addWidget(policy);
  content->addWidget(rules, 1);
  content->addLayout(buttons);
}

QLineEdit* FileGroup(QVBoxLayout* content, const QString& title, const QString& field_name,
                     const QString& button_name, QWidget* page) {
  auto* group = new QGroupBox(title, page);
  QLineEdit* field = Edit(field_name, QString(), group);
  QToolButton* browse = BrowseButton(button_name, group);
  auto* layout = new QHBoxLayout(group);
  layout->addWidget(field);
  layout->addWidget(browse);
  QObject::connect(browse, &QToolButton::clicked, field, [field] { BrowseForFile(field); });
  content->addWidget(group);
  return field;
}

void BuildSslPage(QStackedWidget* pages, ConfigurationWidgets& w) {
  QVBoxLayout* content = AddHeaderPage(pages, QStringLiteral("SslPage"), QObject::tr("SSL Options"),
                                       QObject::tr("Configure SSL options"));
  QWidget* page = pages->widget(pages->count() - 1);
  w.keyFile = FileGroup(content, QObject::tr("Key File"), QStringLiteral("KeyFile_txt"),
                        QStringLiteral("SpeedButton6"), page);
  w.certFile = FileGroup(content, QObject::tr("Certificate File"), QStringLiteral("CertFile_txt"),
                         QStringLiteral("SpeedButton7"), page);
  content->addStretch();
}

}  // namespace

ConfigurationWidgets BuildConfigurationPages(QStackedWidget* pages, QWidget* user_list,
                                             const AddressSource& addresses) {
  ConfigurationWidgets w;
  BuildGeneralPage(pages, w);
  BuildAuthenticationPage(pages, user_list, w);
  BuildFtpServicePage(pages, addresses, w);
  BuildManagementServicePage(pages, addresses, w);
  BuildSecurityPage(pages, w);
  BuildSslPage(pages, w);
  for (QLineEdit* field : {w.ftpPort, w.managementPort, w.maxConnections, w.bandwidthLimit}) {
    AcceptDigitsOnly(field);
  }
  return w;
}

}  // namespace corvane
