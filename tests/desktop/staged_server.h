#pragma once

// A real CorvaneServer (CORVANE_SERVER, or the one built beside the running program) in a
// temporary program directory of its own, with a fresh certificate, on free loopback ports. It
// ends with this object.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace corvane {

class StagedServer {
 public:
  StagedServer() : program_(directory_.path()) {}
  ~StagedServer() { Stop(); }
  StagedServer(const StagedServer&) = delete;
  StagedServer& operator=(const StagedServer&) = delete;

  QString Directory() const { return directory_.path(); }
  quint16 FtpPort() const { return ftp_port_; }
  quint16 ManagementPort() const { return management_port_; }
  void WriteFile(const QString& name, const QByteArray& content) const {
    QFile file(program_.filePath(name));
    if (file.open(QIODevice::WriteOnly)) file.write(content);
  }

  // Copies the server in, writes gc.xml (management password `password`), users.xml with the
  // account demo/demo, rules.txt, a certificate and key, and starts it. Returns an error text,
  // empty on success.
  QString Start(const QByteArray& rules, const QString& password) {
    QString built = qEnvironmentVariable("CORVANE_SERVER");
    if (built.isEmpty()) built = QCoreApplication::applicationDirPath() + "/CorvaneServer";
    if (!QFile::copy(built, program_.filePath(QStringLiteral("CorvaneServer")))) {
      return QStringLiteral("no CorvaneServer at ") + built;
    }
    program_.mkdir(QStringLiteral("logs"));
    program_.mkdir(QStringLiteral("home"));
    QProcess openssl;
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(
        QStringLiteral("openssl"),
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-subj",
         "/CN=localhost", "-keyout", program_.filePath(QStringLiteral("default.key")), "-out",
         program_.filePath(QStringLiteral("default.cer"))});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
      return QStringLiteral("openssl cannot make a certificate");
    }
    ftp_port_ = FreePort();
    management_port_ = FreePort();
    WriteFile(QStringLiteral("gc.xml"),
              QStringLiteral("<global><FTP><port>%1</port><maxcon>0</maxcon>"
                             "<authoption>xml</authoption><logdir>%3</logdir>"
                             "<bandwidth>0</bandwidth><IP>127.0.0.1</IP></FTP>"
                             "<Management><port>%2</port><password>%4</password>"
                             "<IP>127.0.0.1</IP></Management></global>")
                  .arg(ftp_port_)
                  .arg(management_port_)
                  .arg(program_.filePath(QStringLiteral("logs")), password)
                  .toUtf8());
    WriteFile(QStringLiteral("users.xml"),
              QStringLiteral("<users><user><username>demo</username><password>demo</password>"
                             "<homedir>%1</homedir><status>1</status><bandwidth>0</bandwidth>"
                             "</user></users>")
                  .arg(program_.filePath(QStringLiteral("home")))
                  .toUtf8());
    WriteFile(QStringLiteral("rules.txt"), rules);
    process_.setProgram(program_.filePath(QStringLiteral("CorvaneServer")));
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start();
    if (!process_.waitForStarted(5000)) return QStringLiteral("CorvaneServer does not start");
    for (int attempt = 0; attempt < 100; ++attempt) {
      QTcpSocket probe;
      probe.connectToHost(QHostAddress::LocalHost, management_port_);
      if (probe.waitForConnected(1000)) return {};
      QTest::qWait(100);
    }
    return QStringLiteral("the management port does not open");
  }

  // Connects to the FTP port; the socket when the greeting arrived within 3 s, else nullptr
  // (refused by the rules: closed without a reply).
  std::unique_ptr<QTcpSocket> Greeted() const {
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, ftp_port_);
    if (!client->waitForConnected(3000) || !client->waitForReadyRead(3000)) return nullptr;
    return client;
  }

  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
    process_.waitForFinished(5000);
  }

 private:
  static quint16 FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
  }

  QTemporaryDir directory_;
  QDir program_;
  QProcess process_;
  quint16 ftp_port_ = 0;
  quint16 management_port_ = 0;
};

}  // namespace corvane
