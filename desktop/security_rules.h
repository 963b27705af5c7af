#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <QObject>
#include <QString>
#include <QTimer>

class QListWidget;
class QRadioButton;

namespace corvane {

// The Security page's rules: the policy radios and the rules list as an in-memory copy of
// rules.txt, loaded once, extended by the rule dialog, cleared, and written back on save, after
// which the service is told to reload them.
class SecurityRules : public QObject {
  Q_OBJECT

 public:
  // The page's controls; they must outlive this object.
  struct Controls {
    QRadioButton* policy_reject;  // PolicyReject_radio
    QRadioButton* policy_accept;  // PolicyAccept_radio
    QListWidget* rules_list;      // RulesList
  };
  // Shows the rule dialog and returns its rule text, empty for none.
  using RuleAsker = std::function<QString()>;

  SecurityRules(Controls controls, std::string rules_path, RuleAsker ask_rule,
                QObject* parent = nullptr);

  // Reads rules_path into the radios and the list (entries are appended). A file that cannot be
  // read leaves both as they are and returns false.
  bool Load();
  // "Add Rule": asks for a rule and appends it when there is one.
  void AddRule();
  // "Clear": empties the list; nothing is written until the next save.
  void Clear();
  // Writes the policy line and every entry to rules_path, then starts the 10 ms one-shot Timer3,
  // whose expiry sends RULESRELOAD to the given management endpoint without reading a reply.
  // The request goes out even when writing failed (the service then reloads the old file).
  // Returns whether the file was written.
  bool Save(const std::string& mgmt_host, std::uint16_t mgmt_port,
            const std::string& mgmt_password);

 private:
  void SendReload();

  Controls controls_;
  const std::string rules_path_;
  RuleAsker ask_rule_;
  QTimer timer3_;
  std::string reload_host_;
  std::uint16_t reload_port_ = 0;
  std::string reload_password_;
};

}  // namespace corvane
