// The desktop against the real server: account changes made in the window reach the running
// service's next logins through USERSRELOAD.

#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>

#include "desktop_test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

quint16 FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
  return probe.serverPort();
}

// One reply line of the FTP control connection, or "" after the time limit.
QByteArray ReadReply(QTcpSocket& socket) {
  QElapsedTimer timer;
  timer.start();
  while (!socket.canReadLine() && timer.elapsed() < 5000) socket.waitForReadyRead(100);
  return socket.readLine().trimmed();
}

// The reply code to PASS after USER name.
QByteArray LoginReply(quint16 port, const QByteArray& name, const QByteArray& password) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
  if (!socket.waitForConnected(5000)) return "no connection";
  ReadReply(socket);  // greeting
  socket.write("USER " + name + "\r\n");
  ReadReply(socket);
  socket.write("PASS " + password + "\r\n");
  const QByteArray reply = ReadReply(socket).left(3);
  socket.write("QUIT\r\n");
  socket.waitForBytesWritten(1000);
  return reply;
}

bool Accepting(quint16 port) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
  return socket.waitForConnected(200);
}

}  // namespace

class tst_ServerReload : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void accountChangesReachTheNextLogin();

 private:
  ProgramDirectory directory_;
  QProcess server_;
  quint16 ftp_port_ = 0;
  quint16 management_port_ = 0;
};

void tst_ServerReload::initTestCase() {
  const QString binary = qEnvironmentVariable("CORVANE_SERVER");
  if (binary.isEmpty()) QSKIP("CORVANE_SERVER names no server binary");
  const QString copy = directory_.File(QStringLiteral("CorvaneServer"));
  QVERIFY(QFile::copy(binary, copy));
  QProcess openssl;
  openssl.setStandardOutputFile(QProcess::nullDevice());
  openssl.setStandardErrorFile(QProcess::nullDevice());
  openssl.start(QStringLiteral("openssl"),
                {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                 "/CN=localhost", "-keyout", directory_.File(QStringLiteral("default.key")), "-out",
                 directory_.File(QStringLiteral("default.cer"))});
  QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
  ftp_port_ = FreePort();
  management_port_ = FreePort();
  directory_.Write(QStringLiteral("gc.xml"),
                   "<global><FTP><port>" + QByteArray::number(ftp_port_) +
                       "</port><authoption>xml</authoption><IP>127.0.0.1</IP></FTP>"
                       "<Management><port>" +
                       QByteArray::number(management_port_) +
                       "</port><password>pw&amp;1</password><IP>127.0.0.1</IP></Management>"
                       "</global>");
  directory_.Write(QStringLiteral("users.xml"), "<users/>");
  directory_.Write(QStringLiteral("rules.txt"), "POLICY ACCEPT\r\n");

  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("NOTIFY_SOCKET"));
  environment.remove(QStringLiteral("INVOCATION_ID"));
  server_.setProcessEnvironment(environment);
  server_.setWorkingDirectory(directory_.Path());
  server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server_.start(copy, {});
  QVERIFY(server_.waitForStarted(5000));
  QTRY_VERIFY_WITH_TIMEOUT(Accepting(ftp_port_) && Accepting(management_port_), 10000);
}

void tst_ServerReload::cleanupTestCase() {
  if (server_.state() == QProcess::NotRunning) return;
  server_.terminate();
  if (!server_.waitForFinished(10000)) server_.kill();
}

void tst_ServerReload::accountChangesReachTheNextLogin() {
  std::unique_ptr<TForm2> window = directory_.OpenWindow();
  QCOMPARE(int{window->Endpoint().port}, int{management_port_});
  QCOMPARE(LoginReply(ftp_port_, "carol", "pw"), QByteArray("530"));

  const QString home = directory_.Path();
  auto* list = Find<QTableView>(*window, "ListView1");
  // Each script lives only for its own operation, so no two of them answer the same box.
  {
    ModalScript create;
    create
        .Then([&](QWidget* dialog) {
          dialog->findChild<QLineEdit*>(QStringLiteral("UserName_txt"))->setText("carol");
          dialog->findChild<QLineEdit*>(QStringLiteral("Password_txt"))->setText("pw");
          dialog->findChild<QLineEdit*>(QStringLiteral("ConfirmPassword_txt"))->setText("pw");
          dialog->findChild<QLineEdit*>(QStringLiteral("HomeDir_txt"))->setText(home);
          dialog->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true);
          dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        })
        .Answer(QMessageBox::Ok);
    window->findChild<QAction*>(QStringLiteral("Enable1"))->trigger();
    QTRY_VERIFY(create.Done());
    QTRY_COMPARE(LoginReply(ftp_port_, "carol", "pw"), QByteArray("230"));
    QVERIFY(create.Unexpected().isEmpty());
  }

  const struct {
    const char *action, *login;
  } steps[] = {{"Deactivate1", "530"}, {"Activate1", "230"}};
  for (const auto& step : steps) {
    list->selectRow(0);
    ModalScript script;
    script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
    window->findChild<QAction*>(QString::fromLatin1(step.action))->trigger();
    QTRY_VERIFY(script.Done());
    QTRY_COMPARE(LoginReply(ftp_port_, "carol", "pw"), QByteArray(step.login));
    QVERIFY(script.Unexpected().isEmpty());
  }

  // A deletion sends no reload: the service keeps the account until its next reload.
  list->selectRow(0);
  ModalScript remove;
  remove.Answer(QMessageBox::Yes);
  window->findChild<QAction*>(QStringLiteral("Delete1"))->trigger();
  QTRY_VERIFY(remove.Done());
  QCOMPARE(list->model()->rowCount(), 0);
  QCOMPARE(LoginReply(ftp_port_, "carol", "pw"), QByteArray("230"));
  QVERIFY(remove.Unexpected().isEmpty());
}

QTEST_MAIN(tst_ServerReload)
#include "tst_server_reload.moc"
