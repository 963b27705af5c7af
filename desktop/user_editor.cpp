#include "desktop/user_editor.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/field_helpers.h"
#include "desktop/message_boxes.h"

namespace corvane {
namespace {

QLineEdit* Edit(const QString& name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

std::string Text(const QLineEdit* field) {
  return field->text().toStdString();
}

}  // namespace

TForm1::TForm1(std::string users_path, QWidget* parent)
    : QDialog(parent), users_path_(std::move(users_path)) {
  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(tr("User"));
  ApplyFormFont(this);

  auto* information = new QGroupBox(tr("User Information"), this);
  user_name_ = Edit(QStringLiteral("UserName_txt"), information);
  password_ = Edit(QStringLiteral("Password_txt"), information);
  confirm_password_ = Edit(QStringLiteral("ConfirmPassword_txt"), information);
  home_dir_ = Edit(QStringLiteral("HomeDir_txt"), information);
  MaskWithAsterisks(password_);
  MaskWithAsterisks(confirm_password_);
  enabled_ = new QCheckBox(tr("Enabled"), information);
  enabled_->setObjectName(QStringLiteral("CheckBox1"));
  auto* form = new QFormLayout(information);
  form->addRow(tr("User Name :"), user_name_);
  form->addRow(tr("Password :"), password_);
  form->addRow(tr("Confirm Password :"), confirm_password_);
  form->addRow(tr("Home Dir :"), home_dir_);
  form->addRow(QString(), enabled_);

  auto* bandwidth = new QGroupBox(tr("Bandwidth Throttling"), this);
  limit_bandwidth_ = new QCheckBox(tr("Limit Bandwidth of this user"), bandwidth);
  limit_bandwidth_->setObjectName(QStringLiteral("CheckBox2"));
  bandwidth_limit_ = Edit(QStringLiteral("BandwidthLimit_txt"), bandwidth);
  bandwidth_limit_->setText(QStringLiteral("0"));
  SetFieldEnabled(bandwidth_limit_, false);
  auto* bandwidth_layout = new QHBoxLayout(bandwidth);
  bandwidth_layout->addWidget(limit_bandwidth_);
  bandwidth_layout->addWidget(bandwidth_limit_);
  bandwidth_layout->addWidget(new QLabel(tr("Kb"), bandwidth));

  auto* save = new QPushButton(tr("Save"), this);
  save->setObjectName(QStringLiteral("Button1"));
  save->setAutoDefault(false);
  auto* cancel = new QPushButton(tr("Cancel"), this);
  cancel->setObjectName(QStringLiteral("Button2"));
  cancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(information);
  layout->addWidget(bandwidth);
  layout->addStretch();
  layout->addLayout(buttons);
  resize(380, 289);

  connect(save, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // Only the operator's click resets the field; a tick made by FillFromAccount keeps the value.
  connect(limit_bandwidth_, &QCheckBox::clicked, this, &TForm1::CheckBox2Click);
}

void TForm1::SetEditorMode(Mode mode) {
  mode_ = mode;
  if (mode != Mode::kEdit) return;
  user_name_->setEnabled(false);
  for (QLineEdit* field : {password_, confirm_password_}) {
    field->setText(QStringLiteral("test"));
    field->setEnabled(false);
  }
}

void TForm1::FillFromAccount(const AccountSummary& account) {
  user_name_->setText(QString::fromStdString(account.name));
  home_dir_->setText(QString::fromStdString(account.homedir));
  if (!account.bandwidth.empty() && account.bandwidth != "0") {
    limit_bandwidth_->setChecked(true);
    SetFieldEnabled(bandwidth_limit_, true);
    bandwidth_limit_->setText(QString::fromStdString(account.bandwidth));
  }
  enabled_->setChecked(account.status == "1");
}

void TForm1::CheckBox2Click(bool ticked) {
  bandwidth_limit_->setText(QStringLiteral("0"));
  SetFieldEnabled(bandwidth_limit_, ticked);
}

bool TForm1::CheckInput() {
  const struct {
    bool failed;
    const char* message;
  } checks[] = {
      {user_name_->text().isEmpty(), QT_TR_NOOP("Invalid username")},
      {password_->text().isEmpty(), QT_TR_NOOP("Invalid password")},
      {home_dir_->text().isEmpty(), QT_TR_NOOP("Invalid home dir")},
      {confirm_password_->text() != password_->text(), QT_TR_NOOP("Password confirmation failed")},
      {!QFileInfo(home_dir_->text()).isDir(), QT_TR_NOOP("Invalid Home Dir")},
  };
  for (const auto& check : checks) {
    if (check.failed) {
      ShowValidationError(this, tr(check.message));
      return false;
    }
  }
  return true;
}

void TForm1::Button1Click() {
  if (!CheckInput()) return;
  const std::string status = enabled_->isChecked() ? "1" : "0";
  const bool written = RunGuarded(this, [&] {
    if (mode_ == Mode::kAdd) {
      AddUserAccount(Text(user_name_), Text(password_), status, Text(home_dir_));
    } else {
      UpdateUserAccount(Text(user_name_), status, Text(home_dir_));
    }
  });
  if (written) accept();
}

void TForm1::AddUserAccount(const std::string& name, const std::string& password,
                            const std::string& status, const std::string& homedir) {
  const std::string bandwidth = limit_bandwidth_->isChecked() ? Text(bandwidth_limit_) : "0";
  CreateAccount(users_path_, name, password, homedir, status, bandwidth);
}

void TForm1::UpdateUserAccount(const std::string& name, const std::string& status,
                               const std::string& homedir) {
  // The field holds "0" whenever the box was unticked by the operator, so its text is written.
  UpdateAccount(users_path_, name, homedir, status, Text(bandwidth_limit_));
}

}  // namespace corvane
