#include "desktop/user_list_model.h"

namespace corvane {

TUserListModel::TUserListModel(QObject* parent)
    : QAbstractTableModel(parent),
      enabled_dot_(QStringLiteral(":/desktop/dot_green.svg")),
      disabled_dot_(QStringLiteral(":/desktop/dot_red.svg")) {}

void TUserListModel::SetAccounts(std::vector<AccountSummary> accounts) {
  beginResetModel();
  accounts_ = std::move(accounts);
  endResetModel();
}

int TUserListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(accounts_.size());
}

int TUserListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TUserListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const AccountSummary& account = Account(index.row());
  if (role == Qt::DecorationRole && index.column() == kState) {
    return account.status == "1" ? enabled_dot_ : disabled_dot_;
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kUserName:
      return QString::fromStdString(account.name);
    case kHomeDir:
      return QString::fromStdString(account.homedir);
    case kStatus:
      return QString::fromStdString(account.status);
    case kBandwidth:
      return QString::fromStdString(account.bandwidth);
    default:
      return {};
  }
}

QVariant TUserListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == kUserName) return tr("User Name");
  if (section == kHomeDir) return tr("Home Dir");
  return QString();
}

}  // namespace corvane
