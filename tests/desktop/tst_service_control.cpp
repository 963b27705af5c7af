// The Service tab against a private message bus on which this test exports a stand-in for the
// service manager (its Manager object and one unit object), reached through
// DBUS_SYSTEM_BUS_ADDRESS exactly as the real manager on the system bus.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QTest>

#include "desktop/service_control.h"
#include "desktop/service_panel.h"
#include "desktop/service_tab.h"
#include "fake_prompts.h"
#include "service_manager_stand_in.h"

using namespace corvane;

namespace {

const QString kUnit = QStringLiteral("CorvaneService.service");
// Nothing listens here: the panel's poller fails quietly.
constexpr std::uint16_t kClosedPort = 9;

QVariantMap Unit(const QString& active, const QString& freezer = QStringLiteral("running"),
                 const QString& load = QStringLiteral("loaded")) {
  return {{QStringLiteral("LoadState"), load},
          {QStringLiteral("ActiveState"), active},
          {QStringLiteral("FreezerState"), freezer}};
}

// What the panel shows: label text, label colour, the one visible gear, the enabled links.
struct Look {
  QString text;
  QColor colour;
  QString gear;
  QStringList enabled;
};

// The Service tab's widgets with the panel that drives them.
struct ServiceTab {
  ServiceTab(UserPrompts& prompts)
      : widgets(BuildServiceTab(nullptr)), panel(widgets.get(), kUnit, prompts) {}
  void PollServiceStatus() { panel.PollServiceStatus(); }

  std::unique_ptr<QWidget> widgets;
  ServicePanel panel;
};

Look LookOf(ServiceTab& tab) {
  QWidget& panel = *tab.widgets;
  Look look;
  const auto* label = panel.findChild<QLabel*>(QStringLiteral("status_lbl"));
  look.text = label->text();
  look.colour = label->palette().color(QPalette::WindowText);
  for (const char* gear : {"StatusUnknown", "StatusRunning", "StatusStoped", "ServicePaused"}) {
    if (!panel.findChild<QLabel*>(QLatin1String(gear))->isHidden())
      look.gear += QLatin1String(gear);
  }
  for (const char* link : {"StartService_lbl", "StopService_lbl", "PauseService_lbl",
                           "ResumeService_lbl", "UninstallService_lbl", "InstallService_lbl"}) {
    if (panel.findChild<QLabel*>(QLatin1String(link))->isEnabled())
      look.enabled << QLatin1String(link);
  }
  return look;
}

void Click(ServiceTab& tab, const QString& link) {
  QTest::mouseClick(tab.widgets->findChild<QLabel*>(link), Qt::LeftButton);
}

}  // namespace

class tst_ServiceControl : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();
  void statusMapping_data();
  void statusMapping();
  void displayKeepsStateDuringTransitions_data();
  void displayKeepsStateDuringTransitions();
  void flappingServiceFollowsEachPoll();
  void initialLookBeforeActivation();
  void actions_data();
  void actions();
  void silentManagerGivesUnknownWithinTimeLimit();
  void noBus();

 private:
  // A panel opened against the stand-in, showing its first status.
  std::unique_ptr<ServiceTab> OpenPanel();

  QProcess bus_daemon_;
  QString address_;
  ManagerStandIn stand_in_;
  FakePrompts prompts_;
};

void tst_ServiceControl::initTestCase() {
  address_ = StartPrivateBus(bus_daemon_);
  QVERIFY2(!address_.isEmpty(), "no dbus-daemon (scripts/setup.sh installs it)");
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toLatin1());
  QVERIFY(ExportServiceManager(address_, QStringLiteral("stand-in"), stand_in_));
}

void tst_ServiceControl::cleanupTestCase() {
  QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
  if (bus_daemon_.state() != QProcess::NotRunning) {
    bus_daemon_.kill();
    bus_daemon_.waitForFinished(5000);
  }
}

void tst_ServiceControl::init() {
  stand_in_.SetLoadAnswer(Answer::Normal);
  stand_in_.SetActionAnswer(Answer::Normal);
  stand_in_.SetUnit(Unit(QStringLiteral("inactive")));
  stand_in_.ClearCalls();
  prompts_ = FakePrompts();
}

std::unique_ptr<ServiceTab> tst_ServiceControl::OpenPanel() {
  auto tab = std::make_unique<ServiceTab>(prompts_);
  tab->panel.StartStatusPoller("127.0.0.1", kClosedPort, "password");
  tab->panel.OpenServiceControl();
  return tab;
}

void tst_ServiceControl::statusMapping_data() {
  QTest::addColumn<QVariantMap>("unit");
  QTest::addColumn<int>("answer");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QColor>("colour");
  QTest::addColumn<QString>("gear");
  QTest::addColumn<QStringList>("enabled");

  const QString unknown = QStringLiteral("Failed to get Corvane service status");
  const QColor black(Qt::black);
  const int normal = int(Answer::Normal);
  QTest::newRow("stopped") << Unit("inactive") << normal << "Corvane Service is Stopped"
                           << QColor(Qt::red) << "StatusStoped" << QStringList{"StartService_lbl"};
  QTest::newRow("failed is stopped")
      << Unit("failed") << normal << "Corvane Service is Stopped" << QColor(Qt::red)
      << "StatusStoped" << QStringList{"StartService_lbl"};
  QTest::newRow("starting") << Unit("activating") << normal << "Corvane Service is Starting"
                            << QColor(Qt::yellow) << "ServicePaused" << QStringList{};
  QTest::newRow("running") << Unit("active") << normal << "Corvane Service is Running"
                           << QColor(0, 128, 0) << "StatusRunning"
                           << QStringList{"StopService_lbl", "PauseService_lbl"};
  QTest::newRow("reloading is running")
      << Unit("reloading") << normal << "Corvane Service is Running" << QColor(0, 128, 0)
      << "StatusRunning" << QStringList{"StopService_lbl", "PauseService_lbl"};
  // Stopping and paused keep the colour of the first status shown, black for unknown.
  QTest::newRow("stopping") << Unit("deactivating") << normal << "Corvane Service is Stoping"
                            << black << "ServicePaused" << QStringList{};
  QTest::newRow("paused (frozen)")
      << Unit("active", "frozen") << normal << "Corvane Service is Paused" << black
      << "ServicePaused" << QStringList{"StopService_lbl", "ResumeService_lbl"};
  QTest::newRow("manager without freezer")
      << QVariantMap{{"ActiveState", "active"}} << normal << "Corvane Service is Running"
      << QColor(0, 128, 0) << "StatusRunning" << QStringList{"StopService_lbl", "PauseService_lbl"};
  QTest::newRow("missing unit") << Unit("inactive", "running", "not-found") << normal << unknown
                                << black << "StatusUnknown" << QStringList{};
  QTest::newRow("error reply") << Unit("active") << int(Answer::Error) << unknown << black
                               << "StatusUnknown" << QStringList{};
  QTest::newRow("reply of another type") << Unit("active") << int(Answer::WrongSignature) << unknown
                                         << black << "StatusUnknown" << QStringList{};
  QTest::newRow("state of another type")
      << QVariantMap{{"ActiveState", 4}, {"LoadState", "loaded"}} << normal << unknown << black
      << "StatusUnknown" << QStringList{};
  QTest::newRow("no state") << QVariantMap{{"LoadState", "loaded"}} << normal << unknown << black
                            << "StatusUnknown" << QStringList{};
}

void tst_ServiceControl::statusMapping() {
  QFETCH(QVariantMap, unit);
  QFETCH(int, answer);
  QFETCH(QString, text);
  QFETCH(QColor, colour);
  QFETCH(QString, gear);
  QFETCH(QStringList, enabled);

  stand_in_.SetUnit(unit, Answer(answer));
  const auto panel = OpenPanel();
  QTRY_COMPARE(LookOf(*panel).text, text);
  const Look look = LookOf(*panel);
  QCOMPARE(look.colour, colour);
  QCOMPARE(look.gear, gear);
  QCOMPARE(look.enabled, enabled);
}

void tst_ServiceControl::displayKeepsStateDuringTransitions_data() {
  QTest::addColumn<QString>("freezer");
  QTest::newRow("pause pending") << "freezing";
  QTest::newRow("continue pending") << "thawing";
}

void tst_ServiceControl::displayKeepsStateDuringTransitions() {
  QFETCH(QString, freezer);
  stand_in_.SetUnit(Unit("active"));
  const auto panel = OpenPanel();
  QTRY_COMPARE(LookOf(*panel).text, QStringLiteral("Corvane Service is Running"));

  stand_in_.SetUnit(Unit("active", freezer));
  panel->PollServiceStatus();
  QTest::qWait(300);
  QCOMPARE(LookOf(*panel).text, QStringLiteral("Corvane Service is Running"));
  QCOMPARE(LookOf(*panel).gear, QStringLiteral("StatusRunning"));
  stand_in_.SetUnit(Unit("inactive"));
  panel->PollServiceStatus();
  QTRY_COMPARE(LookOf(*panel).text, QStringLiteral("Corvane Service is Stopped"));
}

void tst_ServiceControl::flappingServiceFollowsEachPoll() {
  const auto panel = OpenPanel();
  const struct {
    const char* active;
    const char* text;
    QColor colour;
  } states[] = {
      {"inactive", "Corvane Service is Stopped", Qt::red},
      {"activating", "Corvane Service is Starting", Qt::yellow},
      {"active", "Corvane Service is Running", QColor(0, 128, 0)},
      {"deactivating", "Corvane Service is Stoping", QColor(0, 128, 0)},
      {"failed", "Corvane Service is Stopped", Qt::red},
      {"active", "Corvane Service is Running", QColor(0, 128, 0)},
      {"inactive", "Corvane Service is Stopped", Qt::red},
  };
  QTRY_COMPARE(LookOf(*panel).text, QStringLiteral("Corvane Service is Stopped"));
  for (const auto& state : states) {
    stand_in_.SetUnit(Unit(QLatin1String(state.active)));
    panel->PollServiceStatus();
    QTRY_COMPARE(LookOf(*panel).text, QLatin1String(state.text));
    QCOMPARE(LookOf(*panel).colour, state.colour);
  }
}

void tst_ServiceControl::initialLookBeforeActivation() {
  ServiceTab panel(prompts_);
  const Look look = LookOf(panel);
  QCOMPARE(look.text, QStringLiteral("Stopped"));
  QCOMPARE(look.gear, QStringLiteral("StatusUnknown"));
  QCOMPARE(look.enabled.size(), 6);

  // The install links only ask, whatever the answer.
  Click(panel, QStringLiteral("UninstallService_lbl"));
  Click(panel, QStringLiteral("InstallService_lbl"));
  QCOMPARE(prompts_.confirmations,
           (QStringList{"Are you sure you want to uninstall Corvane Service?",
                        "Are you sure you want to install Corvane Service?"}));
  QTest::qWait(100);
  QVERIFY(stand_in_.Calls().isEmpty());
  QVERIFY(prompts_.errors.isEmpty());
}

void tst_ServiceControl::actions_data() {
  QTest::addColumn<QVariantMap>("unit");
  QTest::addColumn<QString>("link");
  QTest::addColumn<bool>("yes");
  QTest::addColumn<int>("answer");
  QTest::addColumn<QString>("question");
  QTest::addColumn<QString>("call");
  QTest::addColumn<QString>("error");

  const int ok = int(Answer::Normal);
  const int denied = int(Answer::Error);
  const QString start_q = "Are you sure you want to start Corvane Service?";
  const QString stop_q = "Are you sure you want to stop Corvane Service?";
  const QString pause_q = "Are you sure you want to pause Corvane Service?";
  const QString resume_q = "Are you sure you want to resume Corvane Service?";
  const QString start_call = "StartUnit CorvaneService.service replace";
  const QString stop_call = "StopUnit CorvaneService.service replace";
  const QVariantMap stopped = Unit("inactive");
  const QVariantMap running = Unit("active");
  const QVariantMap paused = Unit("active", "frozen");

  QTest::newRow("start, No") << stopped << "StartService_lbl" << false << ok << start_q << ""
                             << "";
  QTest::newRow("start, Yes") << stopped << "StartService_lbl" << true << ok << start_q
                              << start_call << "";
  QTest::newRow("start, Yes, refused") << stopped << "StartService_lbl" << true << denied << start_q
                                       << start_call << "Failed to start service.";
  QTest::newRow("stop, No") << running << "StopService_lbl" << false << ok << stop_q << ""
                            << "";
  QTest::newRow("stop, Yes") << running << "StopService_lbl" << true << ok << stop_q << stop_call
                             << "";
  QTest::newRow("stop, Yes, refused") << running << "StopService_lbl" << true << denied << stop_q
                                      << stop_call << "Failed to stop service.";
  QTest::newRow("pause, No") << running << "PauseService_lbl" << false << ok << pause_q << ""
                             << "";
  QTest::newRow("pause, Yes") << running << "PauseService_lbl" << true << ok << pause_q << ""
                              << "Failed to pause service.";
  QTest::newRow("resume, No") << paused << "ResumeService_lbl" << false << ok << resume_q << ""
                              << "";
  QTest::newRow("resume, Yes") << paused << "ResumeService_lbl" << true << ok << resume_q << ""
                               << "Failed to resume service.";
}

void tst_ServiceControl::actions() {
  QFETCH(QVariantMap, unit);
  QFETCH(QString, link);
  QFETCH(bool, yes);
  QFETCH(int, answer);
  QFETCH(QString, question);
  QFETCH(QString, call);
  QFETCH(QString, error);

  stand_in_.SetUnit(unit);
  stand_in_.SetActionAnswer(Answer(answer));
  const auto panel = OpenPanel();
  QTRY_VERIFY(LookOf(*panel).enabled.contains(link));
  prompts_.answer = yes;
  Click(*panel, link);
  QCOMPARE(prompts_.confirmations, QStringList{question});
  const QStringList expected_calls = call.isEmpty() ? QStringList{} : QStringList{call};
  const QStringList expected_errors = error.isEmpty() ? QStringList{} : QStringList{error};
  QTRY_COMPARE(prompts_.errors, expected_errors);
  QTRY_COMPARE(stand_in_.Calls(), expected_calls);
  // Give a late answer time to arrive: nothing more is shown.
  QTest::qWait(200);
  QCOMPARE(prompts_.errors, expected_errors);
}

void tst_ServiceControl::silentManagerGivesUnknownWithinTimeLimit() {
  stand_in_.SetUnit(Unit("active"));
  const auto panel = OpenPanel();
  QTRY_COMPARE(LookOf(*panel).text, QStringLiteral("Corvane Service is Running"));
  stand_in_.SetUnit(Unit("active"), Answer::Silent);
  panel->PollServiceStatus();
  // Polls while the silent one is unanswered are dropped, not queued.
  panel->PollServiceStatus();
  QTRY_COMPARE_WITH_TIMEOUT(LookOf(*panel).text,
                            QStringLiteral("Failed to get Corvane service status"), 10000);
  stand_in_.SetUnit(Unit("active"));
  panel->PollServiceStatus();
  QTRY_COMPARE(LookOf(*panel).text, QStringLiteral("Corvane Service is Running"));
}

void tst_ServiceControl::noBus() {
  stand_in_.SetUnit(Unit("active"));
  const auto opened = OpenPanel();
  QTRY_COMPARE(LookOf(*opened).text, QStringLiteral("Corvane Service is Running"));

  // The manager refusing the unit object at open: unknown on every poll.
  stand_in_.SetLoadAnswer(Answer::Error);
  const auto refused = OpenPanel();
  QTRY_COMPARE(LookOf(*refused).text, QStringLiteral("Failed to get Corvane service status"));
  stand_in_.SetLoadAnswer(Answer::Normal);
  refused->PollServiceStatus();
  QTest::qWait(200);
  QCOMPARE(LookOf(*refused).text, QStringLiteral("Failed to get Corvane service status"));

  bus_daemon_.kill();
  QVERIFY(bus_daemon_.waitForFinished(5000));

  opened->PollServiceStatus();
  QTRY_COMPARE(LookOf(*opened).text, QStringLiteral("Failed to get Corvane service status"));
  QCOMPARE(LookOf(*opened).gear, QStringLiteral("StatusUnknown"));

  const auto without_bus = OpenPanel();
  QCOMPARE(LookOf(*without_bus).text, QStringLiteral("Failed to get Corvane service status"));
  QVERIFY(LookOf(*without_bus).enabled.isEmpty());
  // Every link is disabled now; the request itself still fails cleanly.
  ServiceControl control(kUnit);
  QList<ServiceAction> failed;
  connect(&control, &ServiceControl::RequestFailed, [&](ServiceAction a) { failed << a; });
  control.Open();
  control.Request(ServiceAction::Start);
  QCOMPARE(failed, QList<ServiceAction>{ServiceAction::Start});
}

QTEST_MAIN(tst_ServiceControl)
#include "tst_service_control.moc"
