#pragma once

#include <QDialog>
#include <string>

#include "formats/user_accounts.h"

class QCheckBox;
class QLineEdit;

namespace corvane {

// The user editor: a modal dialog that checks the operator's input and creates an account in
// users.xml (add mode) or updates one (edit mode), then closes. A failed check or a failed write
// leaves the dialog open and the file as it was.
class TForm1 : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { kAdd, kEdit };

  TForm1(std::string users_path, QWidget* parent);

  // Edit mode disables the user name and both password fields and puts "test" in the latter,
  // only to satisfy the password checks: the password is never written in edit mode.
  void SetEditorMode(Mode mode);
  // Fills the dialog from a row of the user list: name, home directory, the bandwidth limit
  // (ticked with the row's value unless it is empty or "0") and "Enabled" (status "1").
  void FillFromAccount(const AccountSummary& account);

 private:
  void Button1Click();
  void CheckBox2Click(bool ticked);
  bool CheckInput();
  void AddUserAccount(const std::string& name, const std::string& password,
                      const std::string& status, const std::string& homedir);
  void UpdateUserAccount(const std::string& name, const std::string& status,
                         const std::string& homedir);

  std::string users_path_;
  Mode mode_ = Mode::kAdd;
  QLineEdit* user_name_;
  QLineEdit* password_;
  QLineEdit* confirm_password_;
  QLineEdit* home_dir_;
  QCheckBox* enabled_;
  QCheckBox* limit_bandwidth_;
  QLineEdit* bandwidth_limit_;
};

}  // namespace corvane
