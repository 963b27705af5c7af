#include "desktop/service_control.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace corvane {
namespace {

const QString kManagerService = QStringLiteral("org.freedesktop.systemd1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Queries answer within one poll period or count as failed.
constexpr int kQueryTimeoutMs = 4000;
// Start and stop may wait for the operator to authorise them in the session's agent.
constexpr int kActionTimeoutMs = 120000;

// The string value of a property, or std::nullopt when it is absent or not a string.
std::optional<QString> StringProperty(const QVariantMap& properties, const QString& name) {
  const auto it = properties.find(name);
  if (it == properties.end() || it->metaType().id() != QMetaType::QString) return std::nullopt;
  return it->toString();
}

}  // namespace

std::optional<int> StatusCodeFor(const QString& load_state, const QString& active_state,
                                 const QString& freezer_state) {
  if (load_state == QLatin1String("not-found")) return kStatusUnknown;
  if (active_state == QLatin1String("inactive") || active_state == QLatin1String("failed")) {
    return kStatusStopped;
  }
  if (active_state == QLatin1String("activating")) return kStatusStarting;
  if (active_state == QLatin1String("deactivating")) return kStatusStopping;
  if (active_state == QLatin1String("active") || active_state == QLatin1String("reloading")) {
    if (freezer_state == QLatin1String("frozen")) return kStatusPaused;
    if (freezer_state == QLatin1String("freezing") || freezer_state == QLatin1String("thawing")) {
      return std::nullopt;
    }
    return kStatusRunning;
  }
  return std::nullopt;
}

ServiceControl::ServiceControl(QString unit_name, QObject* parent)
    : QObject(parent),
      unit_name_(std::move(unit_name)),
      connection_name_(QStringLiteral("corvane-service-control-%1")
                           .arg(reinterpret_cast<quintptr>(this), 0, 16)),
      bus_(connection_name_) {}

ServiceControl::~ServiceControl() {
  QDBusConnection::disconnectFromBus(connection_name_);
}

void ServiceControl::Open() {
  if (open_state_ != OpenState::NotOpened) return;
  bus_ = QDBusConnection::connectToBus(QDBusConnection::SystemBus, connection_name_);
  if (!bus_.isConnected()) {
    open_state_ = OpenState::Failed;
    emit StatusReported(kStatusUnknown);
    return;
  }
  open_state_ = OpenState::Opening;
  QDBusMessage load = QDBusMessage::createMethodCall(kManagerService, kManagerPath,
                                                     kManagerInterface, QStringLiteral("LoadUnit"));
  load << unit_name_;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(load, kQueryTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, &ServiceControl::OnUnitLoaded);
}

void ServiceControl::OnUnitLoaded(QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  const QDBusMessage reply = watcher->reply();
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("o")) {
    open_state_ = OpenState::Failed;
    emit StatusReported(kStatusUnknown);
    return;
  }
  unit_path_ = reply.arguments().constFirst().value<QDBusObjectPath>().path();
  open_state_ = OpenState::Opened;
  Poll();
}

void ServiceControl::Poll() {
  switch (open_state_) {
    case OpenState::NotOpened:
    case OpenState::Failed:
      emit StatusReported(kStatusUnknown);
      return;
    case OpenState::Opening:
      return;  // the answer to Open polls
    case OpenState::Opened:
      break;
  }
  if (poll_pending_) return;
  poll_pending_ = true;
  QDBusMessage get_all = QDBusMessage::createMethodCall(
      kManagerService, unit_path_, kPropertiesInterface, QStringLiteral("GetAll"));
  get_all << kUnitInterface;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get_all, kQueryTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, &ServiceControl::OnStatusReply);
}

void ServiceControl::OnStatusReply(QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  poll_pending_ = false;
  const QDBusMessage reply = watcher->reply();
  if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("a{sv}")) {
    emit StatusReported(kStatusUnknown);
    return;
  }
  const QVariantMap properties =
      qdbus_cast<QVariantMap>(reply.arguments().constFirst().value<QDBusArgument>());
  const std::optional<QString> active = StringProperty(properties, QStringLiteral("ActiveState"));
  if (!active) {
    emit StatusReported(kStatusUnknown);
    return;
  }
  const QString load = StringProperty(properties, QStringLiteral("LoadState")).value_or(QString());
  const QString freezer =
      StringProperty(properties, QStringLiteral("FreezerState")).value_or(QString());
  if (const std::optional<int> code = StatusCodeFor(load, *active, freezer)) {
    emit StatusReported(*code);
  }
}

void ServiceControl::Request(ServiceAction action) {
  if (action == ServiceAction::Pause || action == ServiceAction::Resume || !bus_.isConnected()) {
    emit RequestFailed(action);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      kManagerService, kManagerPath, kManagerInterface,
      action == ServiceAction::Start ? QStringLiteral("StartUnit") : QStringLiteral("StopUnit"));
  call << unit_name_ << QStringLiteral("replace");
  // SECURITY: the manager decides through its authorisation agent whether this user may start
  // or stop the unit; a refusal comes back as an error reply and is shown as a failure.
  call.setInteractiveAuthorizationAllowed(true);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kActionTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, action](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (finished->isError()) emit RequestFailed(action);
          });
}

}  // namespace corvane
