#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <vector>

#include "formats/user_accounts.h"

namespace corvane {

// The accounts of users.xml as the rows of the user list: column 0 has no text and the state dot
// (green exactly when the status is "1"), then "User Name", "Home Dir", and the hidden status and
// bandwidth columns.
class TUserListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kState = 0, kUserName, kHomeDir, kStatus, kBandwidth, kColumnCount };

  explicit TUserListModel(QObject* parent = nullptr);

  void SetAccounts(std::vector<AccountSummary> accounts);
  const AccountSummary& Account(int row) const {
    return accounts_.at(static_cast<std::size_t>(row));
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<AccountSummary> accounts_;
  QIcon enabled_dot_;
  QIcon disabled_dot_;
};

}  // namespace corvane
