#pragma once

#include <optional>

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace corvane {

class UserPrompts;

// The "Add Rule" dialog: one access rule line ("REJECT " or "ACCEPT " and an address spec) built
// from the chosen scope, the masked address fields and the rule type. Invalid input is reported
// through prompts and keeps the dialog open. A new dialog is made for every use.
class TForm3 : public QDialog {
  Q_OBJECT

 public:
  // prompts must outlive the dialog.
  explicit TForm3(UserPrompts& prompts, QWidget* parent = nullptr);

  // The rule made by "Add Rule"; empty after Cancel, the frame's close, or before either.
  QString RuleText() const { return rule_text_; }

  // Shows a new dialog modally and returns its rule text.
  static QString AskRule(UserPrompts& prompts, QWidget* parent);

 private:
  void UpdateFields();
  void AddRule();

  UserPrompts& prompts_;
  QString rule_text_;
  QRadioButton* all_ips_;     // RadioButton4
  QRadioButton* single_ip_;   // RadioButton1
  QRadioButton* cidr_block_;  // RadioButton2
  QRadioButton* ip_range_;    // RadioButton3
  QLineEdit* singleip_;
  QLineEdit* cidr1_;
  QLineEdit* cidr2_;
  QLineEdit* range1_;
  QLineEdit* range2_;
  QComboBox* rule_type_;
};

// The text of a dotted address field as a spec: blanks removed, four decimal numbers of at most
// 255 each, written without leading zeros. std::nullopt when it is not such an address.
std::optional<QString> PlainAddress(const QString& field_text);

// The text of a three-digit number field as a plain decimal number (blanks removed, leading
// zeros dropped: " 08" is "8"). std::nullopt when no digit was entered.
std::optional<QString> PlainNumber(const QString& field_text);

}  // namespace corvane
