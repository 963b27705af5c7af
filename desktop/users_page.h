#pragma once

#include <QObject>
#include <optional>
#include <string>

#include "desktop/management_endpoint.h"

class QAction;
class QMenu;
class QTableView;
class QTimer;
class QWidget;

namespace corvane {

class TUserListModel;

// The user list ListView1 of the Authentication page with its context menu PopupMenu1: each
// operation changes users.xml, refills the list from the file and, except a deletion, switches on
// the 10 ms one-shot Timer1, which sends USERSRELOAD to the management endpoint and tells the
// operator. Message boxes are owned by window.
class TUsersPage : public QObject {
  Q_OBJECT

 public:
  // users_path is the users.xml beside the program; endpoint is read when Timer1 fires.
  TUsersPage(std::string users_path, const ManagementEndpoint& endpoint, QWidget* window);

  QTableView* ListView() const { return list_; }

  // Empties the list and adds one row per account of users.xml in file order. Throws
  // std::runtime_error when the file cannot be read or parsed; the list is then left as it was.
  void FillUserList();

 private:
  std::optional<int> SelectedRow() const;
  void PopupMenu1Popup();
  void ChangeStatus(const QString& question, const std::string& status);
  void Activate1Click();
  void Deactivate1Click();
  void Edit1Click();
  void Delete1Click();
  void Enable1Click();
  void Timer1Timer();

  std::string users_path_;
  const ManagementEndpoint& endpoint_;
  QWidget* window_;
  TUserListModel* model_;
  QTableView* list_;
  QMenu* menu_;
  QAction* enable_user_;
  QAction* disable_user_;
  QAction* edit_user_;
  QAction* delete_user_;
  QAction* create_user_;
  QTimer* timer1_;
};

}  // namespace corvane
