#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "desktop/address_lists.h"
#include "desktop/configuration_pages.h"
#include "desktop/management_endpoint.h"
#include "desktop/user_prompts.h"

class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvane {

class SecurityRules;
class ServicePanel;
class TConfigurationPage;
class TUsersPage;

// The main window: the "Service" tab and the "Configuration" tab with the page tree, the hidden
// page stack and "Save". It owns the management endpoint that the user operations, the rules
// reload and the connected-users poller use.
class TForm2 : public QMainWindow {
  Q_OBJECT

 public:
  struct Options {
    std::string program_directory;  // where gc.xml, users.xml, rules.txt and logs/ lie
    AddressSource addresses;        // the machine's IPv4 addresses
  };

  explicit TForm2(Options options, QWidget* parent = nullptr);
  ~TForm2() override;

  // The start-up steps in order: user list, system address lists, the logs directory, the
  // configuration, the rules. An error in a step is shown in the framework's error box and the
  // remaining steps are skipped.
  void RunStartupSequence();

  const ManagementEndpoint& Endpoint() const { return endpoint_; }
  const std::string& ProgramDirectory() const { return program_directory_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void BuildMenu();
  void BuildToolBar();
  QWidget* BuildConfigurationTab();
  void TreeView1Change(QTreeWidgetItem* current);
  void Button1Click();
  void Timer3Timer();
  void FormActivate();

  // Hooks for the parts that come with the service control panel and the security page.
  void StartStatusPoller();   // the connected-users poller, started at first activation
  void OpenServiceControl();  // service name, control manager and the first status query
  void LoadSecurityRules();   // rules.txt into the Security page, last start-up step
  void SaveSecurityRules();   // the Security page into rules.txt, after gc.xml is written
  void About1Click();         // the About box, shown modally

  std::string program_directory_;
  AddressSource addresses_;
  ManagementEndpoint endpoint_;
  bool activated_ = false;
  QTabWidget* page_control1_ = nullptr;
  QTreeWidget* tree_view1_ = nullptr;
  QStackedWidget* page_control2_ = nullptr;
  QTimer* timer2_ = nullptr;
  QTimer* timer3_ = nullptr;
  TUsersPage* users_page_ = nullptr;
  ConfigurationWidgets widgets_;
  std::unique_ptr<TConfigurationPage> configuration_;
  MessageBoxPrompts prompts_;
  // Declared after prompts_, which they use, so that they end first.
  std::unique_ptr<ServicePanel> service_panel_;
  std::unique_ptr<SecurityRules> security_rules_;
};

}  // namespace corvane
