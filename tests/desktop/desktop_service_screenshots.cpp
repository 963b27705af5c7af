// Renders the README's pictures of the Service tab beside a running server and of the rule
// dialog: the real CorvaneServer runs in a temporary program directory with two open FTP
// connections, and the window reads the unit's state from a stand-in service manager on a
// private bus (build machines have no service manager of their own).
// Usage: desktop_service_screenshots OUTPUT_DIR (CorvaneServer lies beside this program)

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <memory>
#include <vector>

#include "desktop/main_window.h"
#include "desktop/rule_dialog.h"
#include "desktop/user_prompts.h"
#include "service_manager_stand_in.h"

namespace {

void Write(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(content);
}

quint16 FreePort() {
  QTcpServer probe;
  return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool Save(QWidget& widget, const QString& path) {
  QApplication::processEvents();
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "desktop_service_screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

int Fail(const char* what) {
  std::fprintf(stderr, "desktop_service_screenshots: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane Server"));
  if (argc != 2) {
    std::fprintf(stderr, "Usage: desktop_service_screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir output(QString::fromLocal8Bit(argv[1]));

  // Both processes end with this program, also when it fails.
  QProcess bus;
  QProcess service;
  const auto end_processes = qScopeGuard([&] {
    for (QProcess* process : {&service, &bus}) {
      if (process->state() == QProcess::NotRunning) continue;
      process->terminate();
      if (!process->waitForFinished(10000)) process->kill();
      process->waitForFinished(5000);
    }
  });
  const QString address = corvane::StartPrivateBus(bus);
  if (address.isEmpty()) return Fail("no dbus-daemon");
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLatin1());
  corvane::ManagerStandIn manager;
  manager.SetUnit({{QStringLiteral("LoadState"), QStringLiteral("loaded")},
                   {QStringLiteral("ActiveState"), QStringLiteral("active")}});
  if (!corvane::ExportServiceManager(address, QStringLiteral("stand-in"), manager)) {
    return Fail("cannot export the stand-in service manager");
  }

  // The server and the desktop share one program directory, as they do when installed.
  QTemporaryDir directory;
  const QDir program(directory.path());
  const QString server = program.filePath(QStringLiteral("CorvaneServer"));
  if (!QFile::copy(QApplication::applicationDirPath() + QStringLiteral("/CorvaneServer"), server)) {
    return Fail("no CorvaneServer beside this program");
  }
  program.mkdir(QStringLiteral("logs"));
  program.mkdir(QStringLiteral("home"));
  // The FTP listener starts only with its certificate and key.
  QProcess openssl;
  openssl.setStandardErrorFile(QProcess::nullDevice());
  openssl.start(QStringLiteral("openssl"),
                {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-subj",
                 "/CN=localhost", "-keyout", program.filePath(QStringLiteral("default.key")),
                 "-out", program.filePath(QStringLiteral("default.cer"))});
  if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
    return Fail("openssl cannot make a certificate");
  }
  const quint16 ftp_port = FreePort();
  const quint16 management_port = FreePort();
  Write(program.filePath(QStringLiteral("gc.xml")),
        QStringLiteral("<global><FTP><port>%1</port><maxcon>0</maxcon><authoption>xml</authoption>"
                       "<logdir>%3</logdir><bandwidth>0</bandwidth><IP>127.0.0.1</IP></FTP>"
                       "<Management><port>%2</port><password>demo-password</password>"
                       "<IP>127.0.0.1</IP></Management></global>")
            .arg(ftp_port)
            .arg(management_port)
            .arg(program.filePath(QStringLiteral("logs")))
            .toUtf8());
  Write(program.filePath(QStringLiteral("users.xml")),
        QStringLiteral("<users><user><username>demo</username><password>demo</password>"
                       "<homedir>%1</homedir><status>1</status><bandwidth>0</bandwidth></user>"
                       "</users>")
            .arg(program.filePath(QStringLiteral("home")))
            .toUtf8());
  Write(program.filePath(QStringLiteral("rules.txt")),
        "POLICY REJECT\r\nACCEPT 127.0.0.1\r\nACCEPT 192.168.1.0/24\r\nACCEPT 10.1.1.10-20\r\n"
        "REJECT 192.168.1.13\r\n");

  service.setProgram(server);
  service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  service.start();
  if (!service.waitForStarted(5000)) return Fail("CorvaneServer does not start");
  std::vector<std::unique_ptr<QTcpSocket>> clients;
  for (int i = 0; i < 2; ++i) {
    auto client = std::make_unique<QTcpSocket>();
    bool greeted = false;
    for (int attempt = 0; attempt < 50 && !greeted; ++attempt) {
      client->connectToHost(QHostAddress::LocalHost, ftp_port);
      greeted = client->waitForConnected(1000) && client->waitForReadyRead(1000);
      if (!greeted) {
        client->abort();
        QTest::qWait(100);
      }
    }
    if (!greeted) return Fail("the FTP listener does not greet");
    clients.push_back(std::move(client));
  }

  corvane::TForm2 window({directory.path().toStdString(), [] {
                            return std::vector<std::string>{"192.168.1.20", "127.0.0.1"};
                          }});
  window.RunStartupSequence();
  window.show();
  window.activateWindow();
  auto* status = window.findChild<QLabel*>(QStringLiteral("status_lbl"));
  auto* users = window.findChild<QLabel*>(QStringLiteral("TotalPorts_lbl"));
  const bool shown = QTest::qWaitFor(
      [&] {
        return status->text() == QStringLiteral("Corvane Service is Running") &&
               users->text() == QStringLiteral("2 users are connected");
      },
      20000);
  if (!shown) {
    return Fail(qPrintable(QStringLiteral("the Service tab shows \"%1\" and \"%2\"")
                               .arg(status->text(), users->text())));
  }
  bool ok = Save(window, output.filePath(QStringLiteral("desktop-service-running.png")));

  window.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
  auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("TreeView1"));
  tree->setCurrentItem(tree->topLevelItem(4));
  ok = Save(window, output.filePath(QStringLiteral("desktop-security-rules.png"))) && ok;

  corvane::MessageBoxPrompts prompts;
  corvane::TForm3 dialog(prompts, &window);
  dialog.show();
  dialog.findChild<QRadioButton*>(QStringLiteral("RadioButton2"))->setChecked(true);
  QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("cidr1")), "192.168.2.0");
  QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("cidr2")), "24");
  dialog.findChild<QComboBox*>(QStringLiteral("RuleType"))->setCurrentIndex(1);
  ok = Save(dialog, output.filePath(QStringLiteral("desktop-rule-dialog.png"))) && ok;
  dialog.close();

  clients.clear();
  return ok ? 0 : 1;
}
