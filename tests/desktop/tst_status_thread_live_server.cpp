// The connected-users line beside a real CorvaneServer: it follows the connections as they open
// and close, and keeps its last count when the server stops.
#include <QLabel>
#include <QTest>

#include "desktop/service_panel.h"
#include "desktop/service_tab.h"
#include "fake_prompts.h"
#include "staged_server.h"

using namespace corvane;

class tst_StatusThreadLiveServer : public QObject {
  Q_OBJECT

 private slots:
  void countFollowsTheConnections();
};

void tst_StatusThreadLiveServer::countFollowsTheConnections() {
  StagedServer server;
  const QString error = server.Start("POLICY ACCEPT\r\n", QStringLiteral("secret"));
  QVERIFY2(error.isEmpty(), qPrintable(error));

  FakePrompts prompts;
  std::unique_ptr<QWidget> tab(BuildServiceTab(nullptr));
  ServicePanel panel(tab.get(), QStringLiteral("CorvaneService.service"), prompts);
  auto* label = tab->findChild<QLabel*>(QStringLiteral("TotalPorts_lbl"));
  panel.StartStatusPoller("127.0.0.1", server.ManagementPort(), "secret");
  QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("0 users are connected"), 10000);

  auto first = server.Greeted();
  auto second = server.Greeted();
  QVERIFY(first && second);
  QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("2 users are connected"), 10000);
  first.reset();
  second.reset();
  QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("0 users are connected"), 10000);

  auto third = server.Greeted();
  QVERIFY(third);
  QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("1 users are connected"), 10000);
  server.Stop();
  QTest::qWait(2500);
  QCOMPARE(label->text(), QStringLiteral("1 users are connected"));
}

QTEST_MAIN(tst_StatusThreadLiveServer)
#include "tst_status_thread_live_server.moc"
