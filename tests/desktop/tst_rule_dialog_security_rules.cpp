// The Security page's rules: rules.txt loaded into the radios and the list, rules added and
// cleared, and the main window's save that writes the file and then tells a management listener
// to reload.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "desktop/main_window.h"
#include "desktop/rule_dialog.h"
#include "desktop/security_rules.h"
#include "formats/server_config.h"
#include "modal_steps.h"

using namespace corvane;

namespace {

// The page's controls with the initial state of the form: "Reject All" selected.
struct Page {
  Page() {
    reject.setChecked(true);
    // Radios need a common parent to exclude each other.
    reject.setParent(&group);
    accept.setParent(&group);
  }
  SecurityRules::Controls Controls() { return {&reject, &accept, &list, &add, &clear}; }
  QStringList Entries() const {
    QStringList entries;
    for (int row = 0; row < list.count(); ++row) entries << list.item(row)->text();
    return entries;
  }

  QWidget group;
  QRadioButton reject{QStringLiteral("Reject All")};
  QRadioButton accept{QStringLiteral("Accept All")};
  QListWidget list;
  QPushButton add{QStringLiteral("Add Rule")};
  QPushButton clear{QStringLiteral("Clear")};
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

}  // namespace

class tst_SecurityRules : public QObject {
  Q_OBJECT

 private slots:
  void loadAndSave_data();
  void loadAndSave();
  void addRuleAndClear();
  void buttonsOfThePage();
  void failedWriteReportsFalse();
  void savedFromTheMainWindowThenReloaded_data();
  void savedFromTheMainWindowThenReloaded();
};

void tst_SecurityRules::loadAndSave_data() {
  QTest::addColumn<QByteArray>("file");  // "<missing>": no file
  QTest::addColumn<bool>("accept");
  QTest::addColumn<QStringList>("entries");
  QTest::addColumn<QByteArray>("saved");

  QTest::newRow("missing file") << QByteArray("<missing>") << false << QStringList{}
                                << QByteArray("POLICY REJECT\r\n");
  QTest::newRow("policy only") << QByteArray("POLICY ACCEPT\r\n") << true << QStringList{}
                               << QByteArray("POLICY ACCEPT\r\n");
  QTest::newRow("foreign lines kept, policy moves to the top")
      << QByteArray(
             "ACCEPT 10.0.0.0/8\r\nROUTE 10.0.0.0/8 gateway\r\n\r\nPOLICY ACCEPT\r\n"
             "LIMITMAX 1.2.3.4 5\nREJECT 10.1.1.10-5\n")
      << true
      << QStringList{"ACCEPT 10.0.0.0/8", "ROUTE 10.0.0.0/8 gateway", "", "LIMITMAX 1.2.3.4 5",
                     "REJECT 10.1.1.10-5"}
      << QByteArray(
             "POLICY ACCEPT\r\nACCEPT 10.0.0.0/8\r\nROUTE 10.0.0.0/8 gateway\r\n\r\n"
             "LIMITMAX 1.2.3.4 5\r\nREJECT 10.1.1.10-5\r\n");
  QTest::newRow("last policy wins") << QByteArray("POLICY ACCEPT\nPOLICY REJECT\n") << false
                                    << QStringList{} << QByteArray("POLICY REJECT\r\n");
  QTest::newRow("malformed policy lines change nothing and are dropped")
      << QByteArray("POLICY  REJECT\nPOLICY\nPOLICYACCEPT\n") << false << QStringList{}
      << QByteArray("POLICY REJECT\r\n");
  QTest::newRow("lower-case policy is an entry")
      << QByteArray("policy accept\n") << false << QStringList{"policy accept"}
      << QByteArray("POLICY REJECT\r\npolicy accept\r\n");
  QTest::newRow("bytes outside ASCII written back unchanged")
      << QByteArray("ROUTE 1.2.3.4 caf\xc3\xa9\nROUTE 1.2.3.5 caf\xe9\n") << false
      << QStringList{QString::fromLatin1("ROUTE 1.2.3.4 caf\xc3\xa9"),
                     QString::fromLatin1("ROUTE 1.2.3.5 caf\xe9")}
      << QByteArray("POLICY REJECT\r\nROUTE 1.2.3.4 caf\xc3\xa9\r\nROUTE 1.2.3.5 caf\xe9\r\n");

  // A line longer than the reader's 255 characters is read in pieces, each its own entry.
  const QByteArray long_line = "ROUTE 10.0.0.0/8 " + QByteArray(1500 - 17, 'x');
  QStringList pieces;
  QByteArray saved = "POLICY REJECT\r\n";
  for (int at = 0; at < long_line.size(); at += 255) {
    pieces << QString::fromLatin1(long_line.mid(at, 255));
    saved += long_line.mid(at, 255) + "\r\n";
  }
  QTest::newRow("1,500-character line") << long_line + "\r\n" << false << pieces << saved;
}

void tst_SecurityRules::loadAndSave() {
  QFETCH(QByteArray, file);
  QFETCH(bool, accept);
  QFETCH(QStringList, entries);
  QFETCH(QByteArray, saved);

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("rules.txt"));
  if (file != "<missing>") Write(path, file);
  Page page;
  SecurityRules rules(page.Controls(), path.toStdString(), [] { return QString(); });
  QCOMPARE(rules.Load(), file != "<missing>");
  QCOMPARE(page.accept.isChecked(), accept);
  QCOMPARE(page.reject.isChecked(), !accept);
  QCOMPARE(page.Entries(), entries);

  QVERIFY(rules.Save());
  QCOMPARE(ReadAll(path), saved);
}

void tst_SecurityRules::addRuleAndClear() {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("rules.txt"));
  Write(path, "POLICY REJECT\r\nROUTE 10.0.0.0/8 gateway\r\n");
  Page page;
  QStringList answers = {"ACCEPT 0.0.0.0", "", "REJECT 10.0.0.5"};
  SecurityRules rules(page.Controls(), path.toStdString(),
                      [&answers] { return answers.takeFirst(); });
  QVERIFY(rules.Load());
  rules.AddRule();
  rules.AddRule();  // cancelled: nothing added
  rules.AddRule();
  QCOMPARE(page.Entries(),
           (QStringList{"ROUTE 10.0.0.0/8 gateway", "ACCEPT 0.0.0.0", "REJECT 10.0.0.5"}));
  page.accept.setChecked(true);
  QVERIFY(rules.Save());
  QCOMPARE(ReadAll(path), QByteArray("POLICY ACCEPT\r\nROUTE 10.0.0.0/8 gateway\r\n"
                                     "ACCEPT 0.0.0.0\r\nREJECT 10.0.0.5\r\n"));

  rules.Clear();
  QVERIFY(page.Entries().isEmpty());
  // Clearing writes nothing by itself.
  QCOMPARE(ReadAll(path).count('\n'), 4);
  QVERIFY(rules.Save());
  QCOMPARE(ReadAll(path), QByteArray("POLICY ACCEPT\r\n"));
}

void tst_SecurityRules::buttonsOfThePage() {
  QTemporaryDir dir;
  Page page;
  int asked = 0;
  SecurityRules rules(
      page.Controls(), dir.filePath(QStringLiteral("rules.txt")).toStdString(),
      [&asked] { return ++asked == 1 ? QStringLiteral("ACCEPT 0.0.0.0") : QString(); });
  page.add.click();
  page.add.click();
  QCOMPARE(asked, 2);
  QCOMPARE(page.Entries(), QStringList{"ACCEPT 0.0.0.0"});
  page.clear.click();
  QVERIFY(page.Entries().isEmpty());
}

void tst_SecurityRules::failedWriteReportsFalse() {
  QTemporaryDir dir;
  Page page;
  SecurityRules rules(page.Controls(),
                      dir.filePath(QStringLiteral("missing/rules.txt")).toStdString(),
                      [] { return QString(); });
  QVERIFY(!rules.Load());
  QVERIFY(page.reject.isChecked());
  QVERIFY(!rules.Save());
}

void tst_SecurityRules::savedFromTheMainWindowThenReloaded_data() {
  QTest::addColumn<bool>("writable");
  QTest::newRow("rules.txt written") << true;
  // The service is told to reload even so, and keeps its old rules.
  QTest::newRow("rules.txt cannot be written") << false;
}

void tst_SecurityRules::savedFromTheMainWindowThenReloaded() {
  QFETCH(bool, writable);
  QTcpServer listener;
  QVERIFY(listener.listen(QHostAddress::LocalHost));
  QTemporaryDir dir;
  QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("logs")));
  ServerConfig config;
  const std::string cert = dir.filePath(QStringLiteral("default.cer")).toStdString();
  const std::string key = dir.filePath(QStringLiteral("default.key")).toStdString();
  Write(QString::fromStdString(cert), "");
  Write(QString::fromStdString(key), "");
  config.ftp = {"2121", "0", "xml", dir.filePath(QStringLiteral("logs")).toStdString(),
                cert,   key, "0",   {"127.0.0.1"}};
  config.management = {std::to_string(listener.serverPort()), "secret", {"127.0.0.1"}};
  WriteServerConfig(dir.filePath(QStringLiteral("gc.xml")).toStdString(), config);
  const QString rules_path = dir.filePath(QStringLiteral("rules.txt"));
  if (writable) {
    Write(rules_path, "ROUTE 10.0.0.0/8 gateway\r\n\r\nPOLICY ACCEPT\r\n");
  } else {
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("rules.txt")));
  }

  TForm2 window({dir.path().toStdString(), [] { return std::vector<std::string>{}; }});
  window.RunStartupSequence();
  auto* list = window.findChild<QListWidget*>(QStringLiteral("RulesList"));
  QVERIFY(list);
  QCOMPARE(list->count(), writable ? 2 : 0);

  QString closing_message;
  bool reloaded_while_shown = false;
  ModalSteps steps({
      [](QWidget* modal) {
        auto* dialog = qobject_cast<TForm3*>(modal);
        QVERIFY(dialog);
        dialog->findChild<QRadioButton*>(QStringLiteral("RadioButton1"))->setChecked(true);
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("singleip")), "10.0.0.5");
        dialog->findChild<QComboBox*>(QStringLiteral("RuleType"))->setCurrentIndex(0);
        dialog->findChild<QPushButton*>(QStringLiteral("Button3"))->click();
      },
      // The closing message of the save; the reload goes out while it is on screen.
      [&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) closing_message = box->text();
        reloaded_while_shown = QTest::qWaitFor([&] { return listener.hasPendingConnections(); });
        modal->close();
      },
  });
  QPushButton* add_rule = nullptr;
  for (auto* button : window.findChildren<QPushButton*>(QStringLiteral("Button2"))) {
    if (button->text() == QStringLiteral("Add Rule")) add_rule = button;
  }
  QVERIFY(add_rule);
  add_rule->click();
  QCOMPARE(list->item(list->count() - 1)->text(), QStringLiteral("REJECT 10.0.0.5"));
  window.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  QVERIFY(steps.Done());
  QVERIFY2(closing_message.startsWith("If you modified server wide configuration"),
           qPrintable(closing_message));
  QVERIFY(reloaded_while_shown);

  if (writable) {
    QCOMPARE(ReadAll(rules_path),
             QByteArray("POLICY ACCEPT\r\nROUTE 10.0.0.0/8 gateway\r\n\r\nREJECT 10.0.0.5\r\n"));
  }
  QTcpSocket* peer = listener.nextPendingConnection();
  QVERIFY(peer);
  QByteArray received;
  QTRY_VERIFY((received += peer->readAll(), received.endsWith('\n')));
  QCOMPARE(received, QByteArray("RULESRELOAD secret\r\n"));
  QTest::qWait(50);
  QVERIFY(!listener.hasPendingConnections());
}
QTEST_MAIN(tst_SecurityRules)
#include "tst_rule_dialog_security_rules.moc"
