// The connected-users poller against a management listener that this test runs on its own
// thread: the label after each kind of reply, and what survives a listener that goes away, never
// answers or sends garbage.
#include <QElapsedTimer>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <atomic>

#include "desktop/service_panel.h"
#include "desktop/service_tab.h"
#include "desktop/status_thread.h"
#include "fake_prompts.h"

using namespace corvane;

namespace {

enum class Mode { Answer, Silent, Garbage };

// A stand-in for the service's management port: greets, reads one request line and answers it
// with the configured reply, or stays silent, or sends bytes without a line end and closes.
class ManagementStandIn final : public QThread {
 public:
  explicit ManagementStandIn(quint16 port = 0) : port_(port) {}
  ~ManagementStandIn() override { Stop(); }

  bool Listen() {
    start();
    ready_.acquire();
    return port_ != 0;
  }
  void Stop() {
    quit();
    wait();
  }
  quint16 Port() const { return port_; }
  void Set(Mode mode, QByteArray reply = {}) {
    QMutexLocker lock(&mutex_);
    mode_ = mode;
    reply_ = std::move(reply);
  }
  int Connections() const { return connections_; }
  QByteArray LastRequest() {
    QMutexLocker lock(&mutex_);
    return last_request_;
  }

 protected:
  void run() override {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port_)) {
      port_ = 0;
      ready_.release();
      return;
    }
    port_ = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, [this, &server] {
      while (QTcpSocket* socket = server.nextPendingConnection()) Serve(socket);
    });
    ready_.release();
    exec();
  }

 private:
  void Serve(QTcpSocket* socket) {
    ++connections_;
    QMutexLocker lock(&mutex_);
    switch (mode_) {
      case Mode::Silent:
        return;
      case Mode::Garbage:
        socket->write(QByteArray("\x01\xfe\x00 garbage with no line end", 29));
        socket->disconnectFromHost();
        return;
      case Mode::Answer:
        socket->write("200 Welcome\r\n");
        break;
    }
    QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
      if (!socket->canReadLine()) return;
      QMutexLocker lock(&mutex_);
      last_request_ = socket->readLine();
      socket->write(reply_ + "\r\n");
    });
  }

  std::atomic<quint16> port_;
  QSemaphore ready_;
  std::atomic<int> connections_{0};
  QMutex mutex_;
  Mode mode_ = Mode::Answer;    // guarded by mutex_
  QByteArray reply_ = "200 0";  // guarded by mutex_
  QByteArray last_request_;     // guarded by mutex_
};

// The Service tab with its panel; the poller reports to the panel.
struct ServiceTab {
  explicit ServiceTab(UserPrompts& prompts)
      : widgets(BuildServiceTab(nullptr)),
        panel(widgets.get(), QStringLiteral("CorvaneService.service"), prompts),
        label(widgets->findChild<QLabel*>(QStringLiteral("TotalPorts_lbl"))) {}
  QString Text() const { return label->text(); }

  std::unique_ptr<QWidget> widgets;
  ServicePanel panel;
  QLabel* label;
};

}  // namespace

class tst_StatusThread : public QObject {
  Q_OBJECT

 private slots:
  void replies_data();
  void replies();
  void countText_data();
  void countText();
  void lastTextKeptWhenTheListenerGoes();
  void silentPeerDoesNotStopThePolling();
  void garbageChangesNothing();
  void endsPromptlyWhileWaitingForTheWindow();

 private:
  FakePrompts prompts_;
};

void tst_StatusThread::replies_data() {
  QTest::addColumn<QByteArray>("reply");
  QTest::addColumn<QString>("label");
  QTest::newRow("count") << QByteArray("200 3") << "3 users are connected";
  QTest::newRow("wrong password") << QByteArray("201 Authorization failed")
                                  << "Authorization failed users are connected";
}

void tst_StatusThread::replies() {
  QFETCH(QByteArray, reply);
  QFETCH(QString, label);
  ManagementStandIn listener;
  QVERIFY(listener.Listen());
  listener.Set(Mode::Answer, reply);
  ServiceTab tab(prompts_);
  QCOMPARE(tab.Text(), QStringLiteral("? users are connected"));
  tab.panel.StartStatusPoller("127.0.0.1", listener.Port(), "62#%8152@7&&");
  QTRY_COMPARE_WITH_TIMEOUT(tab.Text(), label, 10000);
  QCOMPARE(listener.LastRequest(), QByteArray("USERSSTATUS 62#%8152@7&&\r\n"));
  // A second start does not make a second poller.
  tab.panel.StartStatusPoller("127.0.0.1", listener.Port(), "other");
  const int before = listener.Connections();
  QTest::qWait(2500);
  QVERIFY2(listener.Connections() - before <= 3, "more than one poll a second");
  QCOMPARE(listener.LastRequest(), QByteArray("USERSSTATUS 62#%8152@7&&\r\n"));
}

void tst_StatusThread::countText_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QString>("label");
  QTest::newRow("code and count") << "200 0"
                                  << "0 users are connected";
  QTest::newRow("no blank") << "500"
                            << "500 users are connected";
  QTest::newRow("everything after the first blank") << "200  7 x"
                                                    << " 7 x users are connected";
  QTest::newRow("empty") << ""
                         << " users are connected";
}

void tst_StatusThread::countText() {
  QFETCH(QString, line);
  QFETCH(QString, label);
  QCOMPARE(ConnectedUsersText(line), label);
}

void tst_StatusThread::lastTextKeptWhenTheListenerGoes() {
  auto listener = std::make_unique<ManagementStandIn>();
  QVERIFY(listener->Listen());
  const quint16 port = listener->Port();
  listener->Set(Mode::Answer, "200 3");
  ServiceTab tab(prompts_);
  tab.panel.StartStatusPoller("127.0.0.1", port, "secret");
  QTRY_COMPARE_WITH_TIMEOUT(tab.Text(), QStringLiteral("3 users are connected"), 10000);

  listener.reset();
  QTest::qWait(2500);
  QCOMPARE(tab.Text(), QStringLiteral("3 users are connected"));

  // The loop went on: a listener on the same port is polled again.
  listener = std::make_unique<ManagementStandIn>(port);
  QVERIFY(listener->Listen());
  listener->Set(Mode::Answer, "200 4");
  QTRY_COMPARE_WITH_TIMEOUT(tab.Text(), QStringLiteral("4 users are connected"), 10000);
}

void tst_StatusThread::silentPeerDoesNotStopThePolling() {
  ManagementStandIn listener;
  QVERIFY(listener.Listen());
  listener.Set(Mode::Silent);
  ServiceTab tab(prompts_);
  tab.panel.StartStatusPoller("127.0.0.1", listener.Port(), "secret");
  QTRY_VERIFY_WITH_TIMEOUT(listener.Connections() >= 1, 10000);
  listener.Set(Mode::Answer, "200 5");
  // The silent query gives up after the client's time limit and the next poll is answered.
  QTRY_COMPARE_WITH_TIMEOUT(tab.Text(), QStringLiteral("5 users are connected"), 15000);
}

void tst_StatusThread::garbageChangesNothing() {
  ManagementStandIn listener;
  QVERIFY(listener.Listen());
  listener.Set(Mode::Garbage);
  ServiceTab tab(prompts_);
  tab.panel.StartStatusPoller("127.0.0.1", listener.Port(), "secret");
  QTRY_VERIFY_WITH_TIMEOUT(listener.Connections() >= 2, 10000);
  QCOMPARE(tab.Text(), QStringLiteral("? users are connected"));
}

void tst_StatusThread::endsPromptlyWhileWaitingForTheWindow() {
  ManagementStandIn listener;
  QVERIFY(listener.Listen());
  listener.Set(Mode::Answer, "200 1");
  auto tab = std::make_unique<ServiceTab>(prompts_);
  tab->panel.StartStatusPoller("127.0.0.1", listener.Port(), "secret");
  QTRY_COMPARE_WITH_TIMEOUT(tab->Text(), QStringLiteral("1 users are connected"), 10000);
  // Keep the window thread busy: the next reply is posted and the poller waits on the window.
  const int before = listener.Connections();
  QElapsedTimer busy;
  busy.start();
  while (listener.Connections() == before && busy.elapsed() < 5000) QThread::msleep(50);
  QThread::msleep(300);
  QElapsedTimer ending;
  ending.start();
  tab.reset();
  // Generous bound: a poller that could not be stopped would hang here instead.
  QVERIFY2(ending.elapsed() < 3000, qPrintable(QString::number(ending.elapsed())));
}

QTEST_MAIN(tst_StatusThread)
#include "tst_status_thread.moc"
