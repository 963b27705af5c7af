#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QTimer>
#include <QWidget>

#include "desktop/service_control.h"

class QLabel;

namespace corvane {

class StatusThread;
class UserPrompts;

// The body of the Service tab: the groups "Service Status", "Users Status" and "Service
// Management". It shows the unit's state polled every 5000 ms (Timer2), runs the start, stop,
// pause and resume actions after the operator confirms them, and shows the connected-users count
// that its poller thread reports.
class ServicePanel : public QWidget {
  Q_OBJECT

 public:
  // prompts must outlive the panel.
  ServicePanel(QString unit_name, UserPrompts& prompts, QWidget* parent = nullptr);
  // Stops and joins the poller.
  ~ServicePanel() override;

  // The window's first activation: starts the poller with copies of the management endpoint and
  // opens the service control. Later calls do nothing.
  void Activate(const std::string& mgmt_host, std::uint16_t mgmt_port,
                const std::string& mgmt_password);

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
  QTimer timer2_;
  std::unique_ptr<StatusThread> poller_;
  bool activated_ = false;

  QLabel* status_lbl_;
  QLabel* total_ports_lbl_;
  QLabel* status_unknown_;
  QLabel* status_running_;
  QLabel* status_stoped_;
  QLabel* service_paused_;
  QLabel* start_service_lbl_;
  QLabel* stop_service_lbl_;
  QLabel* pause_service_lbl_;
  QLabel* resume_service_lbl_;
  QLabel* uninstall_service_lbl_;
  QLabel* install_service_lbl_;
};

}  // namespace corvane
