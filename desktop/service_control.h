#pragma once

#include <optional>

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace corvane {

// Codes of the service's state as the Service tab shows it.
enum ServiceStatusCode : int {
  kStatusUnknown = -1,  // no bus, no access, no unit, or the query failed
  kStatusStopped = 0,
  kStatusRunning = 1,
  kStatusStarting = 2,
  kStatusStopping = 3,
  kStatusPaused = 4,
};

enum class ServiceAction { Start, Stop, Pause, Resume };

// Maps a unit's LoadState, ActiveState and FreezerState (empty when the manager has none) to a
// code. inactive and failed are stopped, activating starting, active and reloading running,
// deactivating stopping; a frozen running unit is paused. A unit that is not found is
// kStatusUnknown. Transitions that leave the display as it is (freezing, thawing) and states
// this program does not know give std::nullopt.
std::optional<int> StatusCodeFor(const QString& load_state, const QString& active_state,
                                 const QString& freezer_state);

// Client of the service manager's D-Bus API on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set)
// for one unit. Every call is asynchronous with a time limit, so a peer that refuses, fails or
// never answers gives a failure or kStatusUnknown and never blocks the window thread.
class ServiceControl : public QObject {
  Q_OBJECT

 public:
  explicit ServiceControl(QString unit_name, QObject* parent = nullptr);
  ~ServiceControl() override;
  ServiceControl(const ServiceControl&) = delete;
  ServiceControl& operator=(const ServiceControl&) = delete;

  // Connects to the bus and asks the manager for the unit's object, once; then polls. Without a
  // bus or a unit object, reports kStatusUnknown now and at every later poll.
  void Open();
  // Asks for the unit's state; StatusReported follows, or nothing for states that leave the
  // display unchanged. Before Open and after a failed Open reports kStatusUnknown at once. A poll
  // while the previous one is unanswered is dropped.
  void Poll();
  // Start and Stop ask the manager to start or stop the unit (job mode "replace"), letting it ask
  // the operator for authorisation. Pause and Resume always fail: the service accepts neither.
  // RequestFailed follows every failure; success says nothing, the next poll shows it.
  void Request(ServiceAction action);

 signals:
  void StatusReported(int code);
  void RequestFailed(corvane::ServiceAction action);

 private:
  enum class OpenState { NotOpened, Opening, Opened, Failed };

  void OnUnitLoaded(QDBusPendingCallWatcher* watcher);
  void OnStatusReply(QDBusPendingCallWatcher* watcher);

  const QString unit_name_;
  const QString connection_name_;
  QDBusConnection bus_;
  OpenState open_state_ = OpenState::NotOpened;
  QString unit_path_;
  bool poll_pending_ = false;
};

}  // namespace corvane
