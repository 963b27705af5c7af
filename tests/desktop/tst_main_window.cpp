#include <QtTest>

#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

#include "desktop_test_support.h"

using namespace corvane;
using namespace corvane::test;

class tst_MainWindow : public QObject {
  Q_OBJECT

 public slots:
  // Stands in for the desktop's browser.
  void openUrl(const QUrl& url) { opened_ << url; }

 private slots:
  void checkForUpdatesOpensTheVendorsPage();
  void widgetsCarryTheirNamesAndCaptions_data();
  void widgetsCarryTheirNamesAndCaptions();
  void menusAndTabs();
  void treeItemsSelectTheirPages_data();
  void treeItemsSelectTheirPages();
  void passwordFieldsHideTheirText();
  void movesAddressesBetweenLists_data();
  void movesAddressesBetweenLists();
  void activateOnAllReplacesTheChosenList_data();
  void activateOnAllReplacesTheChosenList();
  void digitFieldsFilterTypedKeys_data();
  void digitFieldsFilterTypedKeys();
  void bandwidthBoxEnablesTheField();
  void authenticationRadiosShowTheUserList();
  void startupErrorShowsTheErrorBoxAndSkipsTheRest_data();
  void startupErrorShowsTheErrorBoxAndSkipsTheRest();
  void startupCreatesTheLogsDirectory();

 private:
  QList<QUrl> opened_;
};

void tst_MainWindow::checkForUpdatesOpensTheVendorsPage() {
  ProgramDirectory directory;
  TForm2 window({directory.StdPath(), &MachineAddresses});
  QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
  window.findChild<QAction*>(QStringLiteral("IntelligentPorts1"))->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  QCOMPARE(opened_.size(), 1);
  QCOMPARE(opened_.front().scheme(), QStringLiteral("https"));
  QVERIFY(!opened_.front().host().isEmpty());
}

void tst_MainWindow::widgetsCarryTheirNamesAndCaptions_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("className");
  QTest::addColumn<QString>("text");  // the "text" property; "-" for widgets without one
  const struct {
    const char *name, *class_name, *text;
  } rows[] = {
      {"MaxCon_txt", "QLineEdit", "0"},
      {"DefaultLogFolder_txt", "QLineEdit", ""},
      {"CheckBox1", "QCheckBox", "Limit Bandwidth of Every User"},
      {"BandwidthLimit_txt", "QLineEdit", "0"},
      {"RadioButton1", "QRadioButton", "Windows Authentication"},
      {"RadioButton2", "QRadioButton", "Create and use XML Users file"},
      {"Label20", "QLabel", "(right click on below list box to create new users)"},
      {"ListView1", "QTableView", "-"},
      {"SystemIPS", "QListWidget", "-"},
      {"SelectedIPs", "QListWidget", "-"},
      {"SpeedButton1", "QToolButton", ">"},
      {"SpeedButton2", "QToolButton", "<"},
      {"ActivateOnAll_chk", "QCheckBox", "Activate on all Ips"},
      {"lport", "QLineEdit", "21"},
      {"SystemIPS2", "QListWidget", "-"},
      {"SelectedIPs2", "QListWidget", "-"},
      {"SpeedButton3", "QToolButton", ">"},
      {"SpeedButton4", "QToolButton", "<"},
      {"ActivateOnAll_chk2", "QCheckBox", "Activate on all Ips"},
      {"mport", "QLineEdit", "1010"},
      {"ServerPass_txt", "QLineEdit", ""},
      {"ConfirmServerPass_txt", "QLineEdit", ""},
      {"PolicyReject_radio", "QRadioButton", "Reject All"},
      {"PolicyAccept_radio", "QRadioButton", "Accept All"},
      {"RulesList", "QListWidget", "-"},
      {"Button2", "QPushButton", "Add Rule"},
      {"Button3", "QPushButton", "Clear"},
      {"KeyFile_txt", "QLineEdit", ""},
      {"SpeedButton6", "QToolButton", "..."},
      {"CertFile_txt", "QLineEdit", ""},
      {"SpeedButton7", "QToolButton", "..."},
      {"Button1", "QPushButton", "Save"},
      {"TreeView1", "QTreeWidget", "-"},
      {"PageControl1", "QTabWidget", "-"},
      {"PageControl2", "QStackedWidget", "-"},
      {"status_lbl", "QLabel", "Stopped"},
      {"TotalPorts_lbl", "QLabel", "? users are connected"},
      {"StatusUnknown", "QLabel", ""},
      {"StatusRunning", "QLabel", ""},
      {"StatusStoped", "QLabel", ""},
      {"ServicePaused", "QLabel", ""},
      {"StartService_lbl", "corvane::TLinkLabel", "Start Service"},
      {"StopService_lbl", "corvane::TLinkLabel", "Stop Service"},
      {"PauseService_lbl", "corvane::TLinkLabel", "Pause Service"},
      {"ResumeService_lbl", "corvane::TLinkLabel", "Resume Service"},
      {"UninstallService_lbl", "corvane::TLinkLabel", "Uninstall Service"},
      {"InstallService_lbl", "corvane::TLinkLabel", "Reinstall Service"},
  };
  for (const auto& row : rows) {
    QTest::newRow(row.name) << row.name << row.class_name << row.text;
  }
}

void tst_MainWindow::widgetsCarryTheirNamesAndCaptions() {
  QFETCH(QString, name);
  QFETCH(QString, className);
  QFETCH(QString, text);
  ProgramDirectory directory;
  TForm2 window({directory.StdPath(), &MachineAddresses});
  const QList<QWidget*> found = window.findChildren<QWidget*>(name);
  QCOMPARE(found.size(), 1);
  QCOMPARE(QString::fromLatin1(found.front()->metaObject()->className()), className);
  if (text != QStringLiteral("-")) QCOMPARE(found.front()->property("text").toString(), text);
}

void tst_MainWindow::menusAndTabs() {
  ProgramDirectory directory;
  TForm2 window({directory.StdPath(), &MachineAddresses});
  QCOMPARE(window.windowTitle(), QStringLiteral("Corvane Server Desktop"));

  QStringList menus;
  for (QAction* action : window.menuBar()->actions()) menus << action->text();
  QCOMPARE(menus, QStringList({"System", "Help"}));
  const struct {
    const char *name, *text;
  } items[] = {{"Exit1", "Exit"}, {"IntelligentPorts1", "Check for updates"}, {"About1", "About"}};
  for (const auto& item : items) {
    auto* action = window.findChild<QAction*>(QString::fromLatin1(item.name));
    QVERIFY2(action != nullptr, item.name);
    QCOMPARE(action->text(), QString::fromLatin1(item.text));
  }

  auto* tabs = Find<QTabWidget>(window, "PageControl1");
  QCOMPARE(tabs->count(), 2);
  QCOMPARE(tabs->tabText(0), QStringLiteral("Service"));
  QCOMPARE(tabs->tabText(1), QStringLiteral("Configuration"));
  QCOMPARE(tabs->currentIndex(), 0);

  auto* tree = Find<QTreeWidget>(window, "TreeView1");
  QStringList items_text;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) items_text << tree->topLevelItem(i)->text(0);
  QCOMPARE(items_text, QStringList({"General", "Authentication", "FTP Service",
                                    "Management Service", "Security", "SSL"}));

  QVERIFY(Find<QWidget>(window, "StatusUnknown")->isVisibleTo(Find<QWidget>(window, "ServiceTab")));
  for (const char* hidden : {"StatusRunning", "StatusStoped", "ServicePaused"}) {
    QVERIFY2(Find<QWidget>(window, hidden)->isHidden(), hidden);
  }
}

void tst_MainWindow::treeItemsSelectTheirPages_data() {
  QTest::addColumn<QList<int>>("order");
  QTest::newRow("in order") << QList<int>{0, 1, 2, 3, 4, 5};
  QTest::newRow("backwards") << QList<int>{5, 4, 3, 2, 1, 0};
  QTest::newRow("jumping") << QList<int>{3, 0, 5, 1, 4, 2, 3};
}

void tst_MainWindow::treeItemsSelectTheirPages() {
  QFETCH(QList<int>, order);
  const QStringList titles = {"General Options",    "Authentication", "FTP Service",
                              "Management Service", "Security",       "SSL Options"};
  const QStringList subtitles = {"Configure various startup and general options",
                                 "Configure authentication settings",
                                 "Configure FTP Service options",
                                 "Configure Management service options",
                                 "Security Rules",
                                 "Configure SSL options"};
  ProgramDirectory directory;
  TForm2 window({directory.StdPath(), &MachineAddresses});
  auto* tree = Find<QTreeWidget>(window, "TreeView1");
  auto* pages = Find<QStackedWidget>(window, "PageControl2");
  for (int index : order) {
    tree->setCurrentItem(tree->topLevelItem(index));
    QCOMPARE(pages->currentIndex(), index);
    const QString page = pages->currentWidget()->objectName();
    auto* title = pages->currentWidget()->findChild<QLabel*>(page + QStringLiteral("Title"));
    auto* subtitle = pages->currentWidget()->findChild<QLabel*>(page + QStringLiteral("Subtitle"));
    QCOMPARE(title->text(), titles[index]);
    QVERIFY(title->font().bold());
    QCOMPARE(subtitle->text(), subtitles[index]);
  }
}

void tst_MainWindow::passwordFieldsHideTheirText() {
  ProgramDirectory directory;
  TForm2 window({directory.StdPath(), &MachineAddresses});
  for (const char* name : {"ServerPass_txt", "ConfirmServerPass_txt"}) {
    QCOMPARE(Find<QLineEdit>(window, name)->echoMode(), QLineEdit::Password);
  }
}

void tst_MainWindow::movesAddressesBetweenLists_data() {
  QTest::addColumn<QString>("system");
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("choose");
  QTest::addColumn<QString>("giveBack");
  QTest::newRow("FTP") << "SystemIPS"
                       << "SelectedIPs"
                       << "SpeedButton1"
                       << "SpeedButton2";
  QTest::newRow("management") << "SystemIPS2"
                              << "SelectedIPs2"
                              << "SpeedButton3"
                              << "SpeedButton4";
}

void tst_MainWindow::movesAddressesBetweenLists() {
  QFETCH(QString, system);
  QFETCH(QString, chosen);
  QFETCH(QString, choose);
  QFETCH(QString, giveBack);
  ProgramDirectory directory;
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  auto* system_list = window->findChild<QListWidget*>(system);
  auto* chosen_list = window->findChild<QListWidget*>(chosen);
  // Without gc.xml the loopback address is chosen and gone from the system list.
  QCOMPARE(Entries(system_list), QStringList({"192.168.7.7", "10.1.2.3"}));
  QCOMPARE(Entries(chosen_list), QStringList({"127.0.0.1"}));

  system_list->item(1)->setSelected(true);
  window->findChild<QToolButton*>(choose)->click();
  QCOMPARE(Entries(system_list), QStringList({"192.168.7.7"}));
  QCOMPARE(Entries(chosen_list), QStringList({"127.0.0.1", "10.1.2.3"}));

  chosen_list->item(0)->setSelected(true);
  window->findChild<QToolButton*>(giveBack)->click();
  QCOMPARE(Entries(system_list), QStringList({"192.168.7.7", "127.0.0.1"}));
  QCOMPARE(Entries(chosen_list), QStringList({"10.1.2.3"}));

  // Nothing selected: nothing moves.
  window->findChild<QToolButton*>(choose)->click();
  QCOMPARE(Entries(chosen_list), QStringList({"10.1.2.3"}));
}

void tst_MainWindow::activateOnAllReplacesTheChosenList_data() {
  QTest::addColumn<QString>("system");
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("check");
  QTest::newRow("FTP") << "SystemIPS"
                       << "SelectedIPs"
                       << "ActivateOnAll_chk";
  QTest::newRow("management") << "SystemIPS2"
                              << "SelectedIPs2"
                              << "ActivateOnAll_chk2";
}

void tst_MainWindow::activateOnAllReplacesTheChosenList() {
  QFETCH(QString, system);
  QFETCH(QString, chosen);
  QFETCH(QString, check);
  ProgramDirectory directory;
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  auto* system_list = window->findChild<QListWidget*>(system);
  auto* chosen_list = window->findChild<QListWidget*>(chosen);
  auto* all = window->findChild<QCheckBox*>(check);

  all->click();
  QCOMPARE(Entries(chosen_list), QStringList({"0.0.0.0"}));
  all->click();
  QCOMPARE(Entries(chosen_list), QStringList());
  QCOMPARE(Entries(system_list), QStringList({"192.168.7.7", "127.0.0.1", "10.1.2.3"}));
}

void tst_MainWindow::digitFieldsFilterTypedKeys_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("expected");
  for (const char* field : {"lport", "mport", "MaxCon_txt", "BandwidthLimit_txt"}) {
    QTest::addRow("%s digits", field) << field << "2121"
                                      << "2121";
    QTest::addRow("%s letters and signs", field) << field << "1a-2 b+3."
                                                 << "123";
  }
}

void tst_MainWindow::digitFieldsFilterTypedKeys() {
  QFETCH(QString, field);
  QFETCH(QString, typed);
  QFETCH(QString, expected);
  ProgramDirectory directory;
  TForm2 window({directory.StdPath(), &MachineAddresses});
  auto* edit = window.findChild<QLineEdit*>(field);
  edit->setEnabled(true);
  edit->clear();
  QTest::keyClicks(edit, typed);
  QCOMPARE(edit->text(), expected);

  // Backspace edits; the clipboard shortcuts are discarded.
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(edit->text(), expected.chopped(1));
  QGuiApplication::clipboard()->setText(QStringLiteral("x9"));
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
  QCOMPARE(edit->text(), expected.chopped(1));
}

void tst_MainWindow::bandwidthBoxEnablesTheField() {
  ProgramDirectory directory;
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  auto* box = Find<QCheckBox>(*window, "CheckBox1");
  auto* field = Find<QLineEdit>(*window, "BandwidthLimit_txt");
  QVERIFY(!box->isChecked());
  QVERIFY(!field->isEnabled());
  const QColor disabled_colour = field->palette().color(QPalette::Base);
  box->click();
  QVERIFY(field->isEnabled());
  QVERIFY(field->palette().color(QPalette::Base) != disabled_colour);
  QCOMPARE(field->text(), QStringLiteral("0"));
  field->setText(QStringLiteral("64"));
  box->click();
  QVERIFY(!field->isEnabled());
  QCOMPARE(field->palette().color(QPalette::Base), disabled_colour);
  QCOMPARE(field->text(), QStringLiteral("64"));
}

void tst_MainWindow::authenticationRadiosShowTheUserList() {
  ProgramDirectory directory;
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  QWidget* list = Find<QWidget>(*window, "ListView1");
  QWidget* hint = Find<QWidget>(*window, "Label20");
  QVERIFY(!list->isHidden() && !hint->isHidden());
  Find<QRadioButton>(*window, "RadioButton1")->click();
  QVERIFY(list->isHidden() && hint->isHidden());
  Find<QRadioButton>(*window, "RadioButton2")->click();
  QVERIFY(!list->isHidden() && !hint->isHidden());
}

void tst_MainWindow::startupErrorShowsTheErrorBoxAndSkipsTheRest_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<bool>("usersFilled");  // the user list step ran before the failure
  QTest::newRow("users.xml not well-formed") << "users.xml" << false;
  QTest::newRow("gc.xml not well-formed") << "gc.xml" << true;
}

void tst_MainWindow::startupErrorShowsTheErrorBoxAndSkipsTheRest() {
  QFETCH(QString, file);
  QFETCH(bool, usersFilled);
  ProgramDirectory directory;
  directory.Write(QStringLiteral("users.xml"),
                  "<users><user><username>ann</username><homedir>/tmp</homedir>"
                  "<status>1</status></user></users>");
  directory.Write(file, "<global><FTP>");

  ModalScript script;
  script.Answer(QMessageBox::Ok);
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().size(), std::size_t{1});
  const SeenBox& box = script.Seen().front();
  QCOMPARE(box.caption, QStringLiteral("Corvane Server"));
  QCOMPARE(box.icon, QMessageBox::Critical);
  QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(box.owner, window.get());
  QVERIFY2(box.text.contains(file), qPrintable(box.text));

  auto* users = Find<QTableView>(*window, "ListView1");
  QCOMPARE(users->model()->rowCount(), usersFilled ? 1 : 0);
  // The address lists are filled after the user list; a users.xml failure skips them.
  QCOMPARE(Find<QListWidget>(*window, "SystemIPS")->count(), usersFilled ? 3 : 0);
  QVERIFY(script.Unexpected().isEmpty());
}

void tst_MainWindow::startupCreatesTheLogsDirectory() {
  ProgramDirectory directory;
  QVERIFY(!QFileInfo(directory.File(QStringLiteral("logs"))).exists());
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  QVERIFY(QFileInfo(directory.File(QStringLiteral("logs"))).isDir());
  QVERIFY(!QFileInfo(directory.File(QStringLiteral("gc.xml"))).exists());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_main_window.moc"
