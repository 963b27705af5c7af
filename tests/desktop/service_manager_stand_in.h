#pragma once

// A stand-in for the service manager's D-Bus API: the Manager object (LoadUnit, StartUnit,
// StopUnit) and the object of the unit CorvaneService.service, whose properties the test sets.
// Registered on a private bus, it answers the desktop exactly where the real manager would.

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QVariantMap>

namespace corvane {

inline const QString kManagerPath = QStringLiteral("/org/freedesktop/systemd1");
inline const QString kUnitPath =
    QStringLiteral("/org/freedesktop/systemd1/unit/CorvaneService_2eservice");

enum class Answer { Normal, Error, Silent, WrongSignature };

// Qt may call handleMessage on its bus thread, hence the lock.
class ManagerStandIn final : public QDBusVirtualObject {
 public:
  void SetUnit(QVariantMap properties, Answer answer = Answer::Normal) {
    QMutexLocker lock(&mutex_);
    properties_ = std::move(properties);
    status_answer_ = answer;
  }
  void SetLoadAnswer(Answer answer) {
    QMutexLocker lock(&mutex_);
    load_answer_ = answer;
  }
  void SetActionAnswer(Answer answer) {
    QMutexLocker lock(&mutex_);
    action_answer_ = answer;
  }
  QStringList Calls() {
    QMutexLocker lock(&mutex_);
    return calls_;
  }
  void ClearCalls() {
    QMutexLocker lock(&mutex_);
    calls_.clear();
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    QMutexLocker lock(&mutex_);
    const QString member = message.member();
    if (message.path() == kManagerPath && member == QLatin1String("LoadUnit")) {
      return Reply(connection, message, load_answer_,
                   {QVariant::fromValue(QDBusObjectPath(kUnitPath))});
    }
    if (message.path() == kManagerPath &&
        (member == QLatin1String("StartUnit") || member == QLatin1String("StopUnit"))) {
      QStringList arguments;
      for (const QVariant& argument : message.arguments()) arguments << argument.toString();
      calls_ << member + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
      return Reply(connection, message, action_answer_,
                   {QVariant::fromValue(
                       QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/7")))});
    }
    if (message.path() == kUnitPath && member == QLatin1String("GetAll")) {
      return Reply(connection, message, status_answer_, {properties_});
    }
    connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    return true;
  }

 private:
  static bool Reply(const QDBusConnection& connection, const QDBusMessage& message, Answer answer,
                    const QList<QVariant>& arguments) {
    switch (answer) {
      case Answer::Normal:
        connection.send(message.createReply(arguments));
        break;
      case Answer::Error:
        connection.send(
            message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.AccessDenied"),
                                     QStringLiteral("Interactive authentication required.")));
        break;
      case Answer::Silent:
        break;
      case Answer::WrongSignature:
        connection.send(message.createReply(QVariant(QStringLiteral("unexpected"))));
        break;
    }
    return true;
  }

  QMutex mutex_;
  QVariantMap properties_;
  QStringList calls_;
  Answer load_answer_ = Answer::Normal;
  Answer status_answer_ = Answer::Normal;
  Answer action_answer_ = Answer::Normal;
};

// Starts a private message bus (dbus-daemon with the session configuration) in daemon and
// returns its address; empty when dbus-daemon is missing or does not start.
inline QString StartPrivateBus(QProcess& daemon) {
  const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
  if (program.isEmpty()) return {};
  daemon.start(program, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                         QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
  if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000)) return {};
  const QString address = QString::fromLatin1(daemon.readLine()).trimmed();
  return address.startsWith(QLatin1String("unix:")) ? address : QString();
}

// Registers stand_in as org.freedesktop.systemd1 on the bus at address, on a connection of its
// own named connection_name. Returns false when the bus cannot be reached or the name is taken.
inline bool ExportServiceManager(const QString& address, const QString& connection_name,
                                 ManagerStandIn& stand_in) {
  QDBusConnection bus = QDBusConnection::connectToBus(address, connection_name);
  return bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.systemd1")) &&
         bus.registerVirtualObject(kManagerPath, &stand_in, QDBusConnection::SubPath);
}

}  // namespace corvane
