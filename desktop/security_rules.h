#pragma once

#include <functional>
#include <string>

#include <QObject>
#include <QString>

class QListWidget;
class QPushButton;
class QRadioButton;

namespace corvane {

// The Security page's rules: the policy radios and the rules list as the desktop's in-memory
// copy of rules.txt, loaded once, extended through the rule dialog, cleared, and written back
// when the configuration is saved (the window then sends RULESRELOAD).
class SecurityRules : public QObject {
  Q_OBJECT

 public:
  // The page's controls; they must outlive this object. The buttons may be null.
  struct Controls {
    QRadioButton* policy_reject;  // PolicyReject_radio
    QRadioButton* policy_accept;  // PolicyAccept_radio
    QListWidget* rules_list;      // RulesList
    QPushButton* add_rule;        // Button2, "Add Rule"
    QPushButton* clear;           // Button3, "Clear"
  };
  // Shows the rule dialog and returns its rule text, empty for none.
  using RuleAsker = std::function<QString()>;

  SecurityRules(Controls controls, std::string rules_path, RuleAsker ask_rule,
                QObject* parent = nullptr);

  // Reads rules_path into the radios and appends its entries to the list. A file that cannot be
  // read leaves both as they are and returns false.
  bool Load();
  // "Add Rule": asks for a rule and appends it when there is one.
  void AddRule();
  // "Clear": empties the list; nothing is written until the next save.
  void Clear();
  // Writes the policy line, then every entry in list order. Returns whether the file was written;
  // a failure is not reported to the operator (the service keeps the old rules).
  bool Save();

 private:
  Controls controls_;
  const std::string rules_path_;
  RuleAsker ask_rule_;
};

}  // namespace corvane
