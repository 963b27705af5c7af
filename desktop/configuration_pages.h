#pragma once

#include "desktop/address_lists.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace corvane {

// The fields of the configuration pages that the load, the save and the security rules read
// and write. Each widget also carries its form name as its object name (in the comments).
struct ConfigurationWidgets {
  QLineEdit* maxConnections = nullptr;            // MaxCon_txt
  QLineEdit* logFolder = nullptr;                 // DefaultLogFolder_txt
  QCheckBox* limitBandwidth = nullptr;            // CheckBox1
  QLineEdit* bandwidthLimit = nullptr;            // BandwidthLimit_txt
  QRadioButton* windowsAuthentication = nullptr;  // RadioButton1
  QRadioButton* xmlUsersFile = nullptr;           // RadioButton2
  QLabel* userListHint = nullptr;                 // Label20
  QWidget* userList = nullptr;                    // ListView1
  TAddressLists* ftpAddresses = nullptr;          // SystemIPS, SelectedIPs, ...
  QLineEdit* ftpPort = nullptr;                   // lport
  TAddressLists* managementAddresses = nullptr;   // SystemIPS2, SelectedIPs2, ...
  QLineEdit* managementPort = nullptr;            // mport
  QLineEdit* serverPassword = nullptr;            // ServerPass_txt
  QLineEdit* confirmServerPassword = nullptr;     // ConfirmServerPass_txt
  QLineEdit* keyFile = nullptr;                   // KeyFile_txt
  QLineEdit* certFile = nullptr;                  // CertFile_txt
  QRadioButton* policyReject = nullptr;           // PolicyReject_radio
  QRadioButton* policyAccept = nullptr;           // PolicyAccept_radio
  QListWidget* rulesList = nullptr;               // RulesList
  QPushButton* addRule = nullptr;                 // Button2
  QPushButton* clearRules = nullptr;              // Button3
};

// Builds the six pages in index order (General, Authentication, FTP Service, Management Service,
// Security, SSL) into the page stack, places user_list on the Authentication page, and wires the
// pages' own small behaviours: the bandwidth box, the authentication radios, the digit-only fields
// and the SSL browse buttons. The security page gets its widgets only.
ConfigurationWidgets BuildConfigurationPages(QStackedWidget* pages, QWidget* user_list,
                                             const AddressSource& addresses);

}  // namespace corvane
