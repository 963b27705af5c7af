// The Security page's rules: rules.txt loaded into the radios and the list, rules added and
// cleared, and the save that writes the file and then tells a management listener to reload.
#include <QFile>
#include <QListWidget>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "desktop/security_rules.h"

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
  SecurityRules::Controls Controls() { return {&reject, &accept, &list}; }
  QStringList Entries() const {
    QStringList entries;
    for (int row = 0; row < list.count(); ++row) entries << list.item(row)->text();
    return entries;
  }

  QWidget group;
  QRadioButton reject{QStringLiteral("Reject All")};
  QRadioButton accept{QStringLiteral("Accept All")};
  QListWidget list;
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
  void saveSendsRulesReloadAfterwards();
  void failedWriteStillSendsReload();
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

  // Nothing listens on the management port here; the request fails quietly.
  QVERIFY(rules.Save("127.0.0.1", 9, "password"));
  QCOMPARE(ReadAll(path), saved);
  QTest::qWait(50);
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
  QVERIFY(rules.Save("127.0.0.1", 9, "password"));
  QCOMPARE(ReadAll(path), QByteArray("POLICY ACCEPT\r\nROUTE 10.0.0.0/8 gateway\r\n"
                                     "ACCEPT 0.0.0.0\r\nREJECT 10.0.0.5\r\n"));

  rules.Clear();
  QVERIFY(page.Entries().isEmpty());
  // Clearing writes nothing by itself.
  QCOMPARE(ReadAll(path).count('\n'), 4);
  QVERIFY(rules.Save("127.0.0.1", 9, "password"));
  QCOMPARE(ReadAll(path), QByteArray("POLICY ACCEPT\r\n"));
  QTest::qWait(50);
}

void tst_SecurityRules::saveSendsRulesReloadAfterwards() {
  QTcpServer listener;
  QVERIFY(listener.listen(QHostAddress::LocalHost));
  QTemporaryDir dir;
  Page page;
  SecurityRules rules(page.Controls(), dir.filePath(QStringLiteral("rules.txt")).toStdString(),
                      [] { return QString(); });
  QVERIFY(rules.Save("127.0.0.1", listener.serverPort(), "62#%8152@7&&"));
  // The request goes out from the event loop, after the save (and its message) began.
  QVERIFY(!listener.hasPendingConnections());
  QTRY_VERIFY(listener.hasPendingConnections());
  QTcpSocket* peer = listener.nextPendingConnection();
  QByteArray received;
  QTRY_VERIFY((received += peer->readAll(),
               peer->state() == QAbstractSocket::UnconnectedState || received.endsWith('\n')));
  QCOMPARE(received, QByteArray("RULESRELOAD 62#%8152@7&&\r\n"));
  // One request per save.
  QTest::qWait(100);
  QVERIFY(!listener.hasPendingConnections());
}

void tst_SecurityRules::failedWriteStillSendsReload() {
  QTcpServer listener;
  QVERIFY(listener.listen(QHostAddress::LocalHost));
  QTemporaryDir dir;
  Page page;
  SecurityRules rules(page.Controls(),
                      dir.filePath(QStringLiteral("missing/rules.txt")).toStdString(),
                      [] { return QString(); });
  QVERIFY(!rules.Save("127.0.0.1", listener.serverPort(), "password"));
  QTRY_VERIFY(listener.hasPendingConnections());
}

QTEST_MAIN(tst_SecurityRules)
#include "tst_rule_dialog_security_rules.moc"
