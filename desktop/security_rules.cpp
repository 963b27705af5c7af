#include "desktop/security_rules.h"

#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "formats/rules_file.h"

namespace corvane {

// Entries travel as Latin-1, which maps every byte to one character and back, so lines in any
// encoding are written back byte for byte.

SecurityRules::SecurityRules(Controls controls, std::string rules_path, RuleAsker ask_rule,
                             QObject* parent)
    : QObject(parent),
      controls_(controls),
      rules_path_(std::move(rules_path)),
      ask_rule_(std::move(ask_rule)) {
  if (controls_.add_rule != nullptr) {
    connect(controls_.add_rule, &QPushButton::clicked, this, &SecurityRules::AddRule);
  }
  if (controls_.clear != nullptr) {
    connect(controls_.clear, &QPushButton::clicked, this, &SecurityRules::Clear);
  }
}

bool SecurityRules::Load() {
  DesktopRules rules;
  rules.policy = controls_.policy_accept->isChecked() ? DesktopRules::Policy::AcceptAll
                                                      : DesktopRules::Policy::RejectAll;
  if (!ReadDesktopRules(rules_path_, rules)) return false;
  if (rules.policy == DesktopRules::Policy::AcceptAll) {
    controls_.policy_accept->setChecked(true);
  } else {
    controls_.policy_reject->setChecked(true);
  }
  for (const std::string& entry : rules.entries) {
    controls_.rules_list->addItem(QString::fromLatin1(entry.data(), qsizetype(entry.size())));
  }
  return true;
}

void SecurityRules::AddRule() {
  const QString rule = ask_rule_();
  if (!rule.isEmpty()) controls_.rules_list->addItem(rule);
}

void SecurityRules::Clear() {
  controls_.rules_list->clear();
}

bool SecurityRules::Save() {
  DesktopRules rules;
  rules.policy = controls_.policy_accept->isChecked() ? DesktopRules::Policy::AcceptAll
                                                      : DesktopRules::Policy::RejectAll;
  for (int row = 0; row < controls_.rules_list->count(); ++row) {
    rules.entries.push_back(controls_.rules_list->item(row)->text().toLatin1().toStdString());
  }
  return WriteDesktopRules(rules_path_, rules);
}

}  // namespace corvane
