// Renders the README's pictures of the Service tab beside a running server and of the rule
// dialog: the real CorvaneServer runs in a temporary program directory with two open FTP
// connections, and the window reads the unit's state from a stand-in service manager on a
// private bus (build machines have no service manager of their own).
// Usage: desktop_service_screenshots OUTPUT_DIR (CorvaneServer lies beside this program)

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <memory>
#include <vector>

#include "desktop/main_window.h"
#include "desktop/rule_dialog.h"
#include "desktop/user_prompts.h"
#include "service_manager_stand_in.h"
#include "staged_server.h"

namespace {

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
  const auto end_bus = qScopeGuard([&bus] {
    bus.kill();
    bus.waitForFinished(5000);
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
  corvane::StagedServer server;
  const QString error = server.Start(
      "POLICY REJECT\r\nACCEPT 127.0.0.1\r\nACCEPT 192.168.1.0/24\r\n"
      "ACCEPT 10.1.1.10-20\r\nREJECT 192.168.1.13\r\n",
      QStringLiteral("demo-password"));
  if (!error.isEmpty()) return Fail(qPrintable(error));
  std::vector<std::unique_ptr<QTcpSocket>> clients;
  for (int i = 0; i < 2; ++i) {
    clients.push_back(server.Greeted());
    if (!clients.back()) return Fail("the FTP listener does not greet");
  }

  corvane::TForm2 window({server.Directory().toStdString(), [] {
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
