#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QListWidget;
class QToolButton;

namespace corvane {

// Where the system lists get the machine's IPv4 addresses from; tests give a fixed list.
using AddressSource = std::function<std::vector<std::string>()>;

// The object names of one pair of address lists and their controls.
struct AddressListNames {
  QString systemList;    // "IPs On this System"
  QString chosenList;    // "IPs To use for this port"
  QString chooseButton;  // ">"
  QString returnButton;  // "<"
  QString allCheck;      // "Activate on all Ips"
};

// The machine's addresses and the addresses chosen for one listener, with the ">" and "<" moves
// and "Activate on all Ips". Both lists are single-selection lists of dotted IPv4 addresses.
class TAddressLists : public QWidget {
  Q_OBJECT

 public:
  TAddressLists(const AddressListNames& names, AddressSource source, QWidget* parent = nullptr);

  // Clears the system list and fills it with the machine's addresses in reported order.
  void FillSystemAddresses();
  // Appends address to the chosen list and removes every equal entry from the system list.
  void Choose(const QString& address);
  QStringList Chosen() const;

  QListWidget* SystemList() const { return system_; }
  QListWidget* ChosenList() const { return chosen_; }

 private:
  static void MoveSelected(QListWidget* from, QListWidget* to);
  void ActivateOnAllClick(bool ticked);

  AddressSource source_;
  QListWidget* system_;
  QListWidget* chosen_;
  QCheckBox* all_;
};

}  // namespace corvane
