#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QObject>
#include <QString>

#include "desktop/service_control.h"

class QLabel;
class QWidget;

namespace corvane {

class StatusThread;
class UserPrompts;

// What the Service tab does: shows the unit's state (label text and colour, one of the four
// gears, the enabled links), runs start, stop, pause and resume after the operator confirms,
// and shows the connected-users count that its poller thread reports. It works on the tab's
// widgets, found by their form names (status_lbl, StatusUnknown, StatusRunning, StatusStoped,
// ServicePaused, TotalPorts_lbl and the six *Service_lbl links).
class ServicePanel : public QObject {
  Q_OBJECT

 public:
  // service_tab must hold the widgets named above and outlive the panel; so must prompts.
  ServicePanel(QWidget* service_tab, QString unit_name, UserPrompts& prompts,
               QObject* parent = nullptr);
  // Stops and joins the poller.
  ~ServicePanel() override;

  // Starts the connected-users poller with copies of the management endpoint (the window's first
  // activation). Later calls do nothing: there is one poller for the life of the panel.
  void StartStatusPoller(const std::string& mgmt_host, std::uint16_t mgmt_port,
                         const std::string& mgmt_password);
  // Opens the service control and shows the first status (the window's first activation).
  void OpenServiceControl();

  // Asks for the unit's state now (Timer2 does so every 5000 ms); the display follows the answer.
  void PollServiceStatus();

  // Label text, colour, gear and enabled links for a status code (kStatusUnknown..kStatusPaused).
  void ShowServiceStatus(int code);

 protected:
  // Takes the poller's reply events and rewrites the connected-users label.
  bool event(QEvent* event) override;

 private:
  void RunAction(ServiceAction action);
  void ShowFailure(ServiceAction action);

  UserPrompts& prompts_;
  ServiceControl control_;
  std::unique_ptr<StatusThread> poller_;

  QLabel* status_lbl_;
  QLabel* total_ports_lbl_;
  QLabel* pictures_[4];  // StatusUnknown, StatusRunning, StatusStoped, ServicePaused
  QLabel* links_[6];     // Start, Stop, Pause, Resume, Uninstall, Reinstall
};

}  // namespace corvane
