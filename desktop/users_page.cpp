#include "desktop/users_page.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QTimer>

#include "desktop/message_boxes.h"
#include "desktop/user_editor.h"
#include "desktop/user_list_model.h"
#include "formats/management_client.h"
#include "formats/user_accounts.h"

namespace corvane {
namespace {

QAction* MenuItem(QMenu* menu, const QString& name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  return action;
}

}  // namespace

TUsersPage::TUsersPage(std::string users_path, const ManagementEndpoint& endpoint, QWidget* window)
    : QObject(window), users_path_(std::move(users_path)), endpoint_(endpoint), window_(window) {
  model_ = new TUserListModel(this);
  list_ = new QTableView(window);
  list_->setObjectName(QStringLiteral("ListView1"));
  list_->setModel(model_);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setShowGrid(true);
  list_->verticalHeader()->hide();
  list_->horizontalHeader()->setHighlightSections(false);
  list_->setColumnWidth(TUserListModel::kState, 25);
  list_->setColumnWidth(TUserListModel::kUserName, 200);
  list_->setColumnWidth(TUserListModel::kHomeDir, 225);
  list_->setColumnHidden(TUserListModel::kStatus, true);
  list_->setColumnHidden(TUserListModel::kBandwidth, true);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);

  menu_ = new QMenu(list_);
  menu_->setObjectName(QStringLiteral("PopupMenu1"));
  enable_user_ = MenuItem(menu_, QStringLiteral("Activate1"), tr("Enable User"));
  disable_user_ = MenuItem(menu_, QStringLiteral("Deactivate1"), tr("Disable User"));
  menu_->addSeparator();
  edit_user_ = MenuItem(menu_, QStringLiteral("Edit1"), tr("Edit User"));
  menu_->addSeparator();
  delete_user_ = MenuItem(menu_, QStringLiteral("Delete1"), tr("Delete User"));
  menu_->addSeparator();
  create_user_ = MenuItem(menu_, QStringLiteral("Enable1"), tr("Create User"));

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(10);
  timer1_->setSingleShot(true);

  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
    menu_->popup(list_->viewport()->mapToGlobal(position));
  });
  connect(menu_, &QMenu::aboutToShow, this, &TUsersPage::PopupMenu1Popup);
  connect(enable_user_, &QAction::triggered, this, &TUsersPage::Activate1Click);
  connect(disable_user_, &QAction::triggered, this, &TUsersPage::Deactivate1Click);
  connect(edit_user_, &QAction::triggered, this, &TUsersPage::Edit1Click);
  connect(delete_user_, &QAction::triggered, this, &TUsersPage::Delete1Click);
  connect(create_user_, &QAction::triggered, this, &TUsersPage::Enable1Click);
  connect(timer1_, &QTimer::timeout, this, &TUsersPage::Timer1Timer);
}

void TUsersPage::FillUserList() {
  model_->SetAccounts(ListAccounts(users_path_));
}

std::optional<int> TUsersPage::SelectedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return rows.first().row();
}

void TUsersPage::PopupMenu1Popup() {
  const std::optional<int> row = SelectedRow();
  const bool enabled = row && model_->Account(*row).status == "1";
  enable_user_->setEnabled(row && !enabled);
  disable_user_->setEnabled(row && enabled);
  edit_user_->setEnabled(row.has_value());
  delete_user_->setEnabled(row.has_value());
  create_user_->setEnabled(true);
}

void TUsersPage::ChangeStatus(const QString& question, const std::string& status) {
  RunGuarded(window_, [&] {
    if (const std::optional<int> row = SelectedRow()) {
      const std::string name = model_->Account(*row).name;
      if (AskInformation(window_, question)) SetAccountStatus(users_path_, name, status);
      FillUserList();
    }
    timer1_->start();
  });
}

void TUsersPage::Activate1Click() {
  ChangeStatus(tr("Are you sure you want to enable this user?"), "1");
}

void TUsersPage::Deactivate1Click() {
  ChangeStatus(tr("Are you sure you want to disable this user?"), "0");
}

void TUsersPage::Edit1Click() {
  RunGuarded(window_, [&] {
    if (const std::optional<int> row = SelectedRow()) {
      TForm1 editor(users_path_, window_);
      editor.SetEditorMode(TForm1::Mode::kEdit);
      editor.FillFromAccount(model_->Account(*row));
      editor.exec();
    }
    FillUserList();
    timer1_->start();
  });
}

void TUsersPage::Delete1Click() {
  const std::optional<int> row = SelectedRow();
  if (!row) return;
  RunGuarded(window_, [&] {
    const std::string name = model_->Account(*row).name;
    if (AskInformation(window_, tr("Are you sure you want to delete this user?"))) {
      DeleteAccount(users_path_, name);
    }
    FillUserList();
    // A deletion sends no reload: the service keeps the account until its next reload or start.
  });
}

void TUsersPage::Enable1Click() {
  RunGuarded(window_, [&] {
    {
      TForm1 editor(users_path_, window_);
      editor.SetEditorMode(TForm1::Mode::kAdd);
      editor.exec();
    }
    FillUserList();
    timer1_->start();
  });
}

void TUsersPage::Timer1Timer() {
  timer1_->stop();
  SendUsersReload(endpoint_.host, endpoint_.port, endpoint_.password);
  // Shown in every case: the reload is fire and forget, so this does not mean it arrived.
  ShowInformation(window_, tr("Signal sent to server for reloading users"));
}

}  // namespace corvane
