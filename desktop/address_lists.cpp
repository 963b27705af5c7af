#include "desktop/address_lists.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace corvane {
namespace {

QToolButton* MoveButton(const QString& name, const QString& caption, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(caption);
  button->setFixedSize(24, 22);
  return button;
}

}  // namespace

TAddressLists::TAddressLists(const AddressListNames& names, AddressSource source, QWidget* parent)
    : QWidget(parent), source_(std::move(source)) {
  system_ = new QListWidget(this);
  system_->setObjectName(names.systemList);
  chosen_ = new QListWidget(this);
  chosen_->setObjectName(names.chosenList);
  for (QListWidget* list : {system_, chosen_}) {
    list->setSelectionMode(QAbstractItemView::SingleSelection);
  }
  QToolButton* choose = MoveButton(names.chooseButton, QStringLiteral(">"), this);
  QToolButton* give_back = MoveButton(names.returnButton, QStringLiteral("<"), this);
  all_ = new QCheckBox(tr("Activate on all Ips"), this);
  all_->setObjectName(names.allCheck);

  auto* buttons = new QVBoxLayout;
  buttons->addStretch();
  buttons->addWidget(choose);
  buttons->addWidget(give_back);
  buttons->addStretch();

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->addWidget(new QLabel(tr("IPs On this System"), this), 0, 0);
  grid->addWidget(new QLabel(tr("IPs To use for this port"), this), 0, 2);
  grid->addWidget(system_, 1, 0);
  grid->addLayout(buttons, 1, 1);
  grid->addWidget(chosen_, 1, 2);
  grid->addWidget(all_, 2, 2);

  connect(choose, &QToolButton::clicked, this, [this] { MoveSelected(system_, chosen_); });
  connect(give_back, &QToolButton::clicked, this, [this] { MoveSelected(chosen_, system_); });
  connect(all_, &QCheckBox::toggled, this, &TAddressLists::ActivateOnAllClick);
}

void TAddressLists::FillSystemAddresses() {
  system_->clear();
  for (const std::string& address : source_()) system_->addItem(QString::fromStdString(address));
}

void TAddressLists::Choose(const QString& address) {
  chosen_->addItem(address);
  for (int row = system_->count() - 1; row >= 0; --row) {
    if (system_->item(row)->text() == address) delete system_->takeItem(row);
  }
}

QStringList TAddressLists::Chosen() const {
  QStringList addresses;
  for (int row = 0; row < chosen_->count(); ++row) addresses << chosen_->item(row)->text();
  return addresses;
}

void TAddressLists::MoveSelected(QListWidget* from, QListWidget* to) {
  // After a move the next entry has moved up into the same row, so the row is not advanced.
  for (int row = 0; row < from->count();) {
    if (from->item(row)->isSelected()) {
      QListWidgetItem* item = from->takeItem(row);
      item->setSelected(false);
      to->addItem(item);
    } else {
      ++row;
    }
  }
}

void TAddressLists::ActivateOnAllClick(bool ticked) {
  chosen_->clear();
  if (ticked) {
    chosen_->addItem(QStringLiteral("0.0.0.0"));
  } else {
    FillSystemAddresses();
  }
}

}  // namespace corvane
