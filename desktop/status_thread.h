#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <QEvent>
#include <QString>
#include <QThread>

class QObject;

namespace corvane {

// Event type of the poller's reply (the window message number the poller sends).
constexpr QEvent::Type kStatusReplyEventType = static_cast<QEvent::Type>(32771);

struct StatusHandoff;

// One reply line of the status query, posted to the receiver. The poller waits until the event
// is destroyed, which happens once the receiver has handled it (or Qt discarded it).
class StatusReplyEvent final : public QEvent {
 public:
  StatusReplyEvent(QString line, std::shared_ptr<StatusHandoff> handoff);
  ~StatusReplyEvent() override;
  const QString& Line() const { return line_; }

 private:
  QString line_;
  std::shared_ptr<StatusHandoff> handoff_;
};

// "<text after the first blank> users are connected"; the whole line when it has no blank.
QString ConnectedUsersText(const QString& reply_line);

// The connected-users poller: once a second it runs the management status query with its own
// copies of host, port and password and hands each reply line to the receiver as a
// StatusReplyEvent, waiting until the receiver's thread has handled it. Failed queries are
// swallowed. Created stopped; start() begins the loop. The receiver must outlive the thread.
class StatusThread final : public QThread {
 public:
  StatusThread(std::string host, std::uint16_t port, std::string password, QObject* receiver);
  // Stops the loop and joins the thread; a query under way finishes first (at most its time
  // limits).
  ~StatusThread() override;
  StatusThread(const StatusThread&) = delete;
  StatusThread& operator=(const StatusThread&) = delete;

  // Sets the stop flag and wakes the loop from its pause or from waiting on the receiver.
  void Stop();

 protected:
  void run() override;

 private:
  const std::string host_;
  const std::uint16_t port_;
  const std::string password_;
  QObject* const receiver_;
  const std::shared_ptr<StatusHandoff> handoff_;
};

}  // namespace corvane
