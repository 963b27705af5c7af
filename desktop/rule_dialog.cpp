#include "desktop/rule_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QVBoxLayout>

#include "desktop/user_prompts.h"

namespace corvane {
namespace {

QString WithoutBlanks(const QString& text) {
  QString result = text;
  result.remove(QLatin1Char(' '));
  return result;
}

bool AllDigits(const QString& text) {
  if (text.isEmpty()) return false;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

QLineEdit* MaskedField(const QString& name, const QString& mask) {
  auto* field = new QLineEdit;
  field->setObjectName(name);
  // Digits are optional in every position; unfilled positions show as blanks.
  field->setInputMask(mask + QStringLiteral("; "));
  return field;
}

}  // namespace

std::optional<QString> PlainAddress(const QString& field_text) {
  const QString text = WithoutBlanks(field_text);
  if (text.contains(QStringLiteral(".."))) return std::nullopt;
  const QStringList parts = text.split(QLatin1Char('.'));
  if (parts.size() != 4) return std::nullopt;
  QStringList numbers;
  for (const QString& part : parts) {
    if (!AllDigits(part) || part.size() > 3 || part.toInt() > 255) return std::nullopt;
    numbers << QString::number(part.toInt());
  }
  // The service compares a single address with the client's text, which has no leading zeros.
  return numbers.join(QLatin1Char('.'));
}

std::optional<QString> PlainNumber(const QString& field_text) {
  const QString text = WithoutBlanks(field_text);
  if (!AllDigits(text) || text.size() > 3) return std::nullopt;
  return QString::number(text.toInt());
}

TForm3::TForm3(UserPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
  setWindowTitle(tr("Add Rule"));

  auto* scope = new QGroupBox(tr("Rule Applies to"));
  auto* grid = new QGridLayout(scope);
  all_ips_ = new QRadioButton(tr("All IPs"));
  all_ips_->setObjectName(QStringLiteral("RadioButton4"));
  single_ip_ = new QRadioButton(tr("Single IP"));
  single_ip_->setObjectName(QStringLiteral("RadioButton1"));
  cidr_block_ = new QRadioButton(tr("CIDR Block"));
  cidr_block_->setObjectName(QStringLiteral("RadioButton2"));
  ip_range_ = new QRadioButton(tr("IP Range"));
  ip_range_->setObjectName(QStringLiteral("RadioButton3"));
  singleip_ = MaskedField(QStringLiteral("singleip"), QStringLiteral("000.000.000.000"));
  cidr1_ = MaskedField(QStringLiteral("cidr1"), QStringLiteral("000.000.000.000"));
  cidr2_ = MaskedField(QStringLiteral("cidr2"), QStringLiteral("000"));
  range1_ = MaskedField(QStringLiteral("range1"), QStringLiteral("000.000.000.000"));
  range2_ = MaskedField(QStringLiteral("range2"), QStringLiteral("000"));
  grid->addWidget(all_ips_, 0, 0);
  grid->addWidget(single_ip_, 1, 0);
  grid->addWidget(singleip_, 1, 1);
  grid->addWidget(cidr_block_, 2, 0);
  grid->addWidget(cidr1_, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("/")), 2, 2);
  grid->addWidget(cidr2_, 2, 3);
  grid->addWidget(ip_range_, 3, 0);
  grid->addWidget(range1_, 3, 1);
  grid->addWidget(new QLabel(QStringLiteral("---")), 3, 2);
  grid->addWidget(range2_, 3, 3);
  all_ips_->setChecked(true);

  rule_type_ = new QComboBox;
  rule_type_->setObjectName(QStringLiteral("RuleType"));
  rule_type_->addItems({QStringLiteral("REJECT"), QStringLiteral("ACCEPT")});
  rule_type_->setCurrentIndex(-1);

  auto* add = new QPushButton(tr("Add Rule"));
  add->setObjectName(QStringLiteral("Button3"));
  add->setDefault(true);
  auto* cancel = new QPushButton(tr("Cancel"));
  cancel->setObjectName(QStringLiteral("Button2"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(rule_type_);
  buttons->addStretch(1);
  buttons->addWidget(add);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scope);
  layout->addLayout(buttons);

  for (QRadioButton* radio : {all_ips_, single_ip_, cidr_block_, ip_range_}) {
    connect(radio, &QRadioButton::toggled, this, &TForm3::UpdateFields);
  }
  connect(add, &QPushButton::clicked, this, &TForm3::AddRule);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  UpdateFields();
}

QString TForm3::AskRule(UserPrompts& prompts, QWidget* parent) {
  TForm3 dialog(prompts, parent);
  dialog.exec();
  return dialog.RuleText();
}

void TForm3::UpdateFields() {
  const bool single = all_ips_->isChecked() || single_ip_->isChecked();
  const bool cidr = cidr_block_->isChecked();
  const bool range = ip_range_->isChecked();
  const auto set = [](QLineEdit* field, bool enabled) {
    field->setEnabled(enabled);
    QPalette colours = field->palette();
    colours.setColor(QPalette::Base, enabled ? QPalette().color(QPalette::Base)
                                             : QPalette().color(QPalette::Button));
    field->setPalette(colours);
  };
  set(singleip_, single);
  set(cidr1_, cidr);
  set(cidr2_, cidr);
  set(range1_, range);
  set(range2_, range);
}

void TForm3::AddRule() {
  if (rule_type_->currentIndex() < 0) {
    prompts_.ValidationError(this, tr("Please select rule type."));
    return;
  }
  QString rule = rule_type_->currentText() + QLatin1Char(' ');
  if (single_ip_->isChecked()) {
    const std::optional<QString> address = PlainAddress(singleip_->text());
    if (!address) return prompts_.ValidationError(this, tr("Invalid IP"));
    rule += *address;
  } else if (cidr_block_->isChecked()) {
    const std::optional<QString> address = PlainAddress(cidr1_->text());
    const std::optional<QString> prefix = PlainNumber(cidr2_->text());
    if (!address || !prefix || prefix->toInt() > 32)
      return prompts_.ValidationError(this, tr("Invalid CIDR."));
    rule += *address + QLatin1Char('/') + *prefix;
  } else if (ip_range_->isChecked()) {
    const std::optional<QString> address = PlainAddress(range1_->text());
    const std::optional<QString> end = PlainNumber(range2_->text());
    if (!address || !end) return prompts_.ValidationError(this, tr("Invalid Range."));
    rule += *address + QLatin1Char('-') + *end;
  } else {
    rule += QStringLiteral("0.0.0.0");
  }
  rule_text_ = rule;
  accept();
}

}  // namespace corvane
