// Rules edited in the desktop take effect at the server's next connection: a real CorvaneServer,
// the main window over the same program directory, a rule added through the dialog and saved.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "desktop/main_window.h"
#include "desktop/rule_dialog.h"
#include "modal_steps.h"
#include "staged_server.h"

using namespace corvane;

class tst_RuleDialogLiveServer : public QObject {
  Q_OBJECT

 private slots:
  void savedRuleRefusesTheNextConnection();
};

void tst_RuleDialogLiveServer::savedRuleRefusesTheNextConnection() {
  StagedServer server;
  const QString error = server.Start("POLICY ACCEPT\r\n", QStringLiteral("secret"));
  QVERIFY2(error.isEmpty(), qPrintable(error));
  const auto before = server.Greeted();
  QVERIFY(before);

  TForm2 window({server.Directory().toStdString(), [] { return std::vector<std::string>{}; }});
  window.RunStartupSequence();
  QString closing_message;
  ModalSteps steps({
      [](QWidget* modal) {
        auto* dialog = qobject_cast<TForm3*>(modal);
        if (dialog == nullptr) {
          modal->close();
          return;
        }
        dialog->findChild<QRadioButton*>(QStringLiteral("RadioButton1"))->setChecked(true);
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("singleip")), "127.0.0.1");
        dialog->findChild<QComboBox*>(QStringLiteral("RuleType"))->setCurrentIndex(0);
        dialog->findChild<QPushButton*>(QStringLiteral("Button3"))->click();
      },
      [&closing_message](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) closing_message = box->text();
        modal->close();
      },
  });
  for (auto* button : window.findChildren<QPushButton*>()) {
    if (button->text() == QStringLiteral("Add Rule")) button->click();
  }
  QCOMPARE(window.findChild<QListWidget*>(QStringLiteral("RulesList"))->count(), 1);
  window.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  QVERIFY(steps.Done());
  QVERIFY2(closing_message.startsWith("If you modified server wide configuration"),
           qPrintable(closing_message));

  // The connection made before the save stays; the next one is closed without a greeting.
  QTRY_VERIFY_WITH_TIMEOUT(server.Greeted() == nullptr, 10000);
  QCOMPARE(before->state(), QAbstractSocket::ConnectedState);
  QFile log(server.Directory() + QStringLiteral("/logs/main.log"));
  QVERIFY(log.open(QIODevice::ReadOnly));
  QVERIFY(log.readAll().contains("127.0.0.1 Rejecting as per rules."));
}

QTEST_MAIN(tst_RuleDialogLiveServer)
#include "tst_rule_dialog_live_server.moc"
