#pragma once

// Helpers shared by the desktop tests: answering the real modal boxes, a loopback listener that
// stands in for the management port, and a program directory with its files.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/main_window.h"

namespace corvane::test {

// What a message box showed when it was answered.
struct SeenBox {
  QString caption;
  QString text;
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QWidget* owner = nullptr;
};

// Answers modal windows as they come up, one scripted step per window, by polling the active
// modal widget from the event loop that the modal window runs. Steps that are left over when the
// test ends show as Done() being false.
class ModalScript {
 public:
  using Step = std::function<void(QWidget* modal)>;

  ModalScript() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  // Presses the button on the next message box and records what the box showed.
  ModalScript& Answer(QMessageBox::StandardButton button) {
    steps_.push_back([this, button](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) {
        unexpected_ << modal->metaObject()->className();
        modal->close();
        return;
      }
      seen_.push_back({box->windowTitle(), box->text(), box->standardButtons(), box->icon(),
                       box->parentWidget()});
      if (QAbstractButton* pressed = box->button(button)) {
        pressed->click();
      } else {
        unexpected_ << QStringLiteral("no button %1 on \"%2\"").arg(button).arg(box->text());
        box->close();
      }
    });
    return *this;
  }

  // Hands the next modal window (a dialog) to step.
  ModalScript& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  bool Done() const { return steps_.empty(); }
  const std::vector<SeenBox>& Seen() const { return seen_; }
  // Modal windows that came up without a matching step.
  const QStringList& Unexpected() const { return unexpected_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == last_ || !modal->isVisible()) return;
    last_ = modal;
    if (steps_.empty()) {
      unexpected_ << modal->windowTitle();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) unexpected_ << box->text();
      modal->close();
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(modal);
  }

  QTimer timer_;
  std::deque<Step> steps_;
  std::vector<SeenBox> seen_;
  QStringList unexpected_;
  QPointer<QWidget> last_;
};

// A stand-in for the service's management port on 127.0.0.1: collects every line it receives.
class ManagementListener {
 public:
  ManagementListener() {
    server_.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
          while (socket->canReadLine()) lines_ << QString::fromUtf8(socket->readLine());
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  quint16 Port() const { return server_.serverPort(); }
  const QStringList& Lines() const { return lines_; }

 private:
  QTcpServer server_;
  QStringList lines_;
};

// The addresses that the tests give the window as the machine's own.
inline std::vector<std::string> MachineAddresses() {
  return {"192.168.7.7", "127.0.0.1", "10.1.2.3"};
}

// A temporary program directory with the desktop's files.
class ProgramDirectory {
 public:
  QString Path() const { return directory_.path(); }
  std::string StdPath() const { return directory_.path().toStdString(); }
  QString File(const QString& name) const { return directory_.filePath(name); }

  void Write(const QString& name, const QByteArray& content) const {
    QFile file(File(name));
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(File(name)));
    file.write(content);
  }
  QByteArray Read(const QString& name) const {
    QFile file(File(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // A main window over this directory, built and through its start-up sequence.
  std::unique_ptr<TForm2> OpenWindow() const {
    auto window = std::make_unique<TForm2>(TForm2::Options{StdPath(), &MachineAddresses});
    window->RunStartupSequence();
    return window;
  }

 private:
  QTemporaryDir directory_;
};

// A gc.xml whose management section points at port, with the given password.
inline QByteArray ConfigWithManagement(quint16 port, const QByteArray& password = "secret") {
  return "<global><FTP><port>21</port><IP>127.0.0.1</IP></FTP><Management><port>" +
         QByteArray::number(port) + "</port><password>" + password +
         "</password><IP>127.0.0.1</IP></Management></global>";
}

template <typename Widget>
Widget* Find(const QWidget& window, const char* name) {
  return window.findChild<Widget*>(QString::fromLatin1(name));
}

inline QStringList Entries(const QListWidget* list) {
  QStringList entries;
  for (int row = 0; row < list->count(); ++row) entries << list->item(row)->text();
  return entries;
}

}  // namespace corvane::test
