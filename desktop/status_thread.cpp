#include "desktop/status_thread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

#include "formats/management_client.h"

namespace corvane {

// Shared by the thread and its events: an event may outlive the thread object in the queue.
struct StatusHandoff {
  QMutex mutex;
  QWaitCondition changed;
  bool stop = false;     // guarded by mutex
  bool handled = false;  // guarded by mutex: the last posted reply was handled
};

namespace {
constexpr int kPollIntervalMs = 1000;
}

StatusReplyEvent::StatusReplyEvent(QString line, std::shared_ptr<StatusHandoff> handoff)
    : QEvent(kStatusReplyEventType), line_(std::move(line)), handoff_(std::move(handoff)) {}

StatusReplyEvent::~StatusReplyEvent() {
  QMutexLocker lock(&handoff_->mutex);
  handoff_->handled = true;
  handoff_->changed.wakeAll();
}

QString ConnectedUsersText(const QString& reply_line) {
  const qsizetype blank = reply_line.indexOf(QLatin1Char(' '));
  const QString count = blank < 0 ? reply_line : reply_line.mid(blank + 1);
  return count + QObject::tr(" users are connected");
}

StatusThread::StatusThread(std::string host, std::uint16_t port, std::string password,
                           QObject* receiver)
    : host_(std::move(host)),
      port_(port),
      password_(std::move(password)),
      receiver_(receiver),
      handoff_(std::make_shared<StatusHandoff>()) {}

StatusThread::~StatusThread() {
  Stop();
  wait();
}

void StatusThread::Stop() {
  QMutexLocker lock(&handoff_->mutex);
  handoff_->stop = true;
  handoff_->changed.wakeAll();
}

void StatusThread::run() {
  for (;;) {
    {
      QMutexLocker lock(&handoff_->mutex);
      QDeadlineTimer pause(kPollIntervalMs);
      while (!handoff_->stop && !pause.hasExpired())
        handoff_->changed.wait(&handoff_->mutex, pause);
      if (handoff_->stop) return;
      handoff_->handled = false;
    }
    // The query has its own time limits, so a silent peer delays the loop but cannot stop it.
    const std::optional<std::string> reply = QueryUsersStatus(host_, port_, password_);
    if (!reply) continue;
    QCoreApplication::postEvent(receiver_,
                                new StatusReplyEvent(QString::fromLatin1(*reply), handoff_));
    QMutexLocker lock(&handoff_->mutex);
    while (!handoff_->stop && !handoff_->handled) handoff_->changed.wait(&handoff_->mutex);
  }
}

}  // namespace corvane
