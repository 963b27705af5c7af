#include "desktop/main_window.h"

#include <QAction>
#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>
#include <system_error>

#include "desktop/about_box.h"
#include "desktop/configuration_page.h"
#include "desktop/field_helpers.h"
#include "desktop/message_boxes.h"
#include "desktop/rule_dialog.h"
#include "desktop/security_rules.h"
#include "desktop/service_panel.h"
#include "desktop/service_tab.h"
#include "desktop/users_page.h"
#include "formats/management_client.h"

namespace corvane {
namespace {

// The tree items in page order: the index of an item's text is the index of its page.
const char* const kPageItems[] = {QT_TR_NOOP("General"),     QT_TR_NOOP("Authentication"),
                                  QT_TR_NOOP("FTP Service"), QT_TR_NOOP("Management Service"),
                                  QT_TR_NOOP("Security"),    QT_TR_NOOP("SSL")};

constexpr char kVendorAddress[] = "https://corvane.example.org/";
// The unit that the service program installs for itself.
constexpr char kServiceUnit[] = "CorvaneService.service";

}  // namespace

TForm2::TForm2(Options options, QWidget* parent)
    : QMainWindow(parent),
      program_directory_(std::move(options.program_directory)),
      addresses_(std::move(options.addresses)) {
  setObjectName(QStringLiteral("TForm2"));
  setWindowTitle(tr("Corvane Server Desktop"));
  ApplyFormFont(this);

  users_page_ = new TUsersPage(program_directory_ + "/users.xml", endpoint_, this);

  BuildMenu();
  BuildToolBar();
  page_control1_ = new QTabWidget(this);
  page_control1_->setObjectName(QStringLiteral("PageControl1"));
  page_control1_->setStyleSheet(QStringLiteral("QTabBar::tab { min-width: 100px; }"));
  QWidget* service_tab = BuildServiceTab(page_control1_);
  service_panel_ =
      std::make_unique<ServicePanel>(service_tab, QString::fromLatin1(kServiceUnit), prompts_);
  page_control1_->addTab(service_tab, QIcon(QStringLiteral(":/desktop/gear_tab.svg")),
                         tr("Service"));
  page_control1_->addTab(BuildConfigurationTab(), QIcon(QStringLiteral(":/desktop/tools.svg")),
                         tr("Configuration"));
  setCentralWidget(page_control1_);
  auto* status_bar = new QStatusBar(this);
  status_bar->setObjectName(QStringLiteral("StatusBar1"));
  setStatusBar(status_bar);

  configuration_ =
      std::make_unique<TConfigurationPage>(widgets_, endpoint_, program_directory_, this);
  security_rules_ = std::make_unique<SecurityRules>(
      SecurityRules::Controls{widgets_.policyReject, widgets_.policyAccept, widgets_.rulesList,
                              widgets_.addRule, widgets_.clearRules},
      program_directory_ + "/rules.txt", [this] { return TForm3::AskRule(prompts_, this); });

  timer2_ = new QTimer(this);
  timer2_->setObjectName(QStringLiteral("Timer2"));
  timer2_->setInterval(5000);
  timer3_ = new QTimer(this);
  timer3_->setObjectName(QStringLiteral("Timer3"));
  timer3_->setInterval(10);
  timer3_->setSingleShot(true);
  connect(timer3_, &QTimer::timeout, this, &TForm2::Timer3Timer);
  connect(timer2_, &QTimer::timeout, service_panel_.get(), &ServicePanel::PollServiceStatus);
  timer2_->start();

  resize(509, 383 + menuBar()->sizeHint().height());
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TForm2::~TForm2() = default;

void TForm2::BuildMenu() {
  QMenuBar* menu = menuBar();
  menu->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* system = menu->addMenu(tr("System"));
  QAction* exit = system->addAction(tr("Exit"));
  exit->setObjectName(QStringLiteral("Exit1"));
  connect(exit, &QAction::triggered, this, &QWidget::close);

  QMenu* help = menu->addMenu(tr("Help"));
  QAction* updates = help->addAction(tr("Check for updates"));
  updates->setObjectName(QStringLiteral("IntelligentPorts1"));
  connect(updates, &QAction::triggered, this,
          [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kVendorAddress))); });
  help->addSeparator();
  QAction* about = help->addAction(tr("About"));
  about->setObjectName(QStringLiteral("About1"));
  connect(about, &QAction::triggered, this, &TForm2::About1Click);
}

void TForm2::BuildToolBar() {
  QToolBar* bar = addToolBar(tr("Tools"));
  bar->setObjectName(QStringLiteral("ToolBar1"));
  bar->setMovable(false);
  QAction* exit = bar->addAction(QIcon(QStringLiteral(":/desktop/exit.svg")), tr("Exit"));
  exit->setObjectName(QStringLiteral("ToolButton1"));
  exit->setToolTip(tr("Exit"));
  // The tool-bar button carries the hint only; it has no action bound, as on the original form.
}

QWidget* TForm2::BuildConfigurationTab() {
  auto* tab = new QWidget(page_control1_);
  tab->setObjectName(QStringLiteral("ConfigurationTab"));

  tree_view1_ = new QTreeWidget(tab);
  tree_view1_->setObjectName(QStringLiteral("TreeView1"));
  tree_view1_->setHeaderHidden(true);
  tree_view1_->setRootIsDecorated(false);
  tree_view1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree_view1_->setFixedWidth(150);
  for (const char* text : kPageItems) {
    tree_view1_->addTopLevelItem(new QTreeWidgetItem(QStringList(tr(text))));
  }

  page_control2_ = new QStackedWidget(tab);
  page_control2_->setObjectName(QStringLiteral("PageControl2"));
  widgets_ = BuildConfigurationPages(page_control2_, users_page_->ListView(), addresses_);

  auto* save = new QPushButton(tr("Save"), tab);
  save->setObjectName(QStringLiteral("Button1"));

  auto* right = new QVBoxLayout;
  right->addWidget(page_control2_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save);
  right->addLayout(buttons);
  auto* layout = new QHBoxLayout(tab);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(tree_view1_);
  layout->addLayout(right, 1);

  connect(tree_view1_, &QTreeWidget::currentItemChanged, this, &TForm2::TreeView1Change);
  connect(save, &QPushButton::clicked, this, &TForm2::Button1Click);
  return tab;
}

void TForm2::RunStartupSequence() {
  RunGuarded(this, [this] {
    users_page_->FillUserList();
    widgets_.ftpAddresses->FillSystemAddresses();
    widgets_.managementAddresses->FillSystemAddresses();
    std::error_code ignored;  // a missing logs directory is reported by the save's checks
    std::filesystem::create_directory(program_directory_ + "/logs", ignored);
    configuration_->LoadConfiguration();
    LoadSecurityRules();
  });
}

bool TForm2::event(QEvent* event) {
  const bool handled = QMainWindow::event(event);
  if (event->type() == QEvent::WindowActivate) FormActivate();
  return handled;
}

void TForm2::FormActivate() {
  if (activated_) return;
  StartStatusPoller();
  OpenServiceControl();
  activated_ = true;
}

void TForm2::StartStatusPoller() {
  service_panel_->StartStatusPoller(endpoint_.host, endpoint_.port, endpoint_.password);
}

void TForm2::OpenServiceControl() {
  service_panel_->OpenServiceControl();
}

void TForm2::LoadSecurityRules() {
  security_rules_->Load();
}

void TForm2::SaveSecurityRules() {
  security_rules_->Save();
}

void TForm2::About1Click() {
  TAboutBox::ShowAbout(this);
}

void TForm2::TreeView1Change(QTreeWidgetItem* current) {
  if (current == nullptr) return;
  for (int index = 0; index < static_cast<int>(std::size(kPageItems)); ++index) {
    if (current->text(0) == tr(kPageItems[index])) {
      page_control2_->setCurrentIndex(index);
      return;
    }
  }
}

void TForm2::Button1Click() {
  if (!configuration_->CheckBeforeSave()) return;
  page_control1_->setCurrentIndex(0);
  const bool saved = RunGuarded(this, [this] { configuration_->SaveConfiguration(); });
  if (!saved) return;  // nothing else is written and no reload is sent
  SaveSecurityRules();
  timer3_->start();
  ShowInformation(this, tr("If you modified server wide configuration then you must restart "
                           "Corvane Service. You dont need to restart FTP Service if you only "
                           "modified Security rules."));
}

void TForm2::Timer3Timer() {
  timer3_->stop();
  SendRulesReload(endpoint_.host, endpoint_.port, endpoint_.password);
}

}  // namespace corvane
