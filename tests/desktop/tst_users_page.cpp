#include <QtTest>

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

#include "desktop_test_support.h"
#include "formats/user_accounts.h"

using namespace corvane;
using namespace corvane::test;

namespace {

const QString kReloadNotice = QStringLiteral("Signal sent to server for reloading users");

QByteArray Account(const char* name, const char* status, const char* extra = "") {
  return QByteArray("<user><username>") + name + "</username><password>pw-" + name +
         "</password><homedir>/tmp</homedir>" + status + extra + "</user>";
}

// Three accounts: ann enabled, bob without status, bob again disabled.
QByteArray ThreeAccounts() {
  return "<users>" + Account("ann", "<status>1</status>", "<bandwidth>300</bandwidth>") +
         Account("bob", "") + Account("bob", "<status>0</status>") + "</users>";
}

struct Fixture {
  ManagementListener listener;
  ProgramDirectory directory;
  std::unique_ptr<TForm2> window;
  QTableView* list = nullptr;

  Fixture() {
    directory.Write(QStringLiteral("gc.xml"), ConfigWithManagement(listener.Port()));
    directory.Write(QStringLiteral("users.xml"), ThreeAccounts());
    window = directory.OpenWindow();
    list = Find<QTableView>(*window, "ListView1");
  }
  std::string UsersPath() const {
    return directory.File(QStringLiteral("users.xml")).toStdString();
  }
  void Select(int row) const {
    if (row >= 0) list->selectRow(row);
  }
  void Trigger(const char* action) const { window->findChild<QAction*>(action)->trigger(); }
  QStringList Cell(int column) const {
    QStringList cells;
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      cells << list->model()->index(row, column).data().toString();
    }
    return cells;
  }
};

}  // namespace

class tst_UsersPage : public QObject {
  Q_OBJECT

 private slots:
  void listShowsEveryAccount();
  void menuFollowsTheSelection_data();
  void menuFollowsTheSelection();
  void statusChangeAsksThenReloads_data();
  void statusChangeAsksThenReloads();
  void deleteRemovesEveryNamesakeAndSendsNothing_data();
  void deleteRemovesEveryNamesakeAndSendsNothing();
  void createAppendsAnAccount();
  void editKeepsThePassword();
  void reloadNoticeShowsWithTheServiceDown();
  void unreadableFileStopsTheOperation();
};

void tst_UsersPage::listShowsEveryAccount() {
  Fixture f;
  QCOMPARE(f.Cell(1), QStringList({"ann", "bob", "bob"}));
  QCOMPARE(f.Cell(2), QStringList({"/tmp", "/tmp", "/tmp"}));
  QCOMPARE(f.Cell(3), QStringList({"1", "0", "0"}));
  QCOMPARE(f.Cell(4), QStringList({"300", "0", "0"}));
  QCOMPARE(f.Cell(0), QStringList({"", "", ""}));
  QVERIFY(f.list->isColumnHidden(3) && f.list->isColumnHidden(4));
  QCOMPARE(f.list->columnWidth(0), 25);
  QCOMPARE(f.list->columnWidth(1), 200);
  QCOMPARE(f.list->columnWidth(2), 225);
  QAbstractItemModel* model = f.list->model();
  QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("User Name"));
  QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Home Dir"));
  // Green dot for the enabled account, red for both others.
  const QImage green =
      model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
  const QImage red =
      model->index(1, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
  QVERIFY(!green.isNull() && !red.isNull());
  QVERIFY(green != red);
  QCOMPARE(model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage(), red);
  const QColor centre_green = green.pixelColor(8, 10);
  const QColor centre_red = red.pixelColor(8, 10);
  QVERIFY(centre_green.green() > centre_green.red());
  QVERIFY(centre_red.red() > centre_red.green());
}

void tst_UsersPage::menuFollowsTheSelection_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<QList<bool>>("enabled");  // Enable, Disable, Edit, Delete, Create
  QTest::newRow("no selection") << -1 << QList<bool>{false, false, false, false, true};
  QTest::newRow("enabled account") << 0 << QList<bool>{false, true, true, true, true};
  QTest::newRow("missing status") << 1 << QList<bool>{true, false, true, true, true};
}

void tst_UsersPage::menuFollowsTheSelection() {
  QFETCH(int, row);
  QFETCH(QList<bool>, enabled);
  Fixture f;
  f.Select(row);
  auto* menu = f.list->findChild<QMenu*>(QStringLiteral("PopupMenu1"));
  QStringList captions;
  for (QAction* action : menu->actions()) captions << action->text();
  QCOMPARE(captions, QStringList({"Enable User", "Disable User", "", "Edit User", "", "Delete User",
                                  "", "Create User"}));
  menu->popup(QPoint(0, 0));
  QList<bool> states;
  for (const char* name : {"Activate1", "Deactivate1", "Edit1", "Delete1", "Enable1"}) {
    states << menu->findChild<QAction*>(QString::fromLatin1(name))->isEnabled();
  }
  menu->close();
  QCOMPARE(states, enabled);
}

void tst_UsersPage::statusChangeAsksThenReloads_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<QString>("action");
  QTest::addColumn<int>("answer");
  QTest::addColumn<QString>("question");  // empty: no row selected, no question
  QTest::addColumn<QStringList>("statuses");
  const QString enable = QStringLiteral("Are you sure you want to enable this user?");
  const QString disable = QStringLiteral("Are you sure you want to disable this user?");
  QTest::newRow("enable both bobs")
      << 1 << "Activate1" << int{QMessageBox::Yes} << enable << QStringList{"1", "1", "1"};
  QTest::newRow("enable answered No")
      << 1 << "Activate1" << int{QMessageBox::No} << enable << QStringList{"1", "0", "0"};
  QTest::newRow("disable ann") << 0 << "Deactivate1" << int{QMessageBox::Yes} << disable
                               << QStringList{"0", "0", "0"};
  QTest::newRow("nothing selected")
      << -1 << "Activate1" << int{QMessageBox::NoButton} << "" << QStringList{"1", "0", "0"};
}

void tst_UsersPage::statusChangeAsksThenReloads() {
  QFETCH(int, row);
  QFETCH(QString, action);
  QFETCH(int, answer);
  QFETCH(QString, question);
  QFETCH(QStringList, statuses);
  Fixture f;
  f.Select(row);
  ModalScript script;
  if (!question.isEmpty()) script.Answer(static_cast<QMessageBox::StandardButton>(answer));
  script.Answer(QMessageBox::Ok);
  f.window->findChild<QAction*>(action)->trigger();
  QTRY_VERIFY(script.Done());
  QTRY_COMPARE(f.listener.Lines(), QStringList{"USERSRELOAD secret\r\n"});

  std::vector<SeenBox> seen = script.Seen();
  if (!question.isEmpty()) {
    QCOMPARE(seen.front().caption, QStringLiteral("Information"));
    QCOMPARE(seen.front().text, question);
    QCOMPARE(seen.front().buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(seen.front().icon, QMessageBox::NoIcon);
    QCOMPARE(seen.front().owner, f.window.get());
    seen.erase(seen.begin());
  }
  QCOMPARE(seen.front().caption, QStringLiteral("Information"));
  QCOMPARE(seen.front().text, kReloadNotice);
  QCOMPARE(seen.front().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(seen.front().owner, f.window.get());

  QCOMPARE(f.Cell(3), statuses);
  QStringList in_file;
  for (const AccountSummary& account : ListAccounts(f.UsersPath())) {
    in_file << QString::fromStdString(account.status);
  }
  QCOMPARE(in_file, statuses);
  QVERIFY(script.Unexpected().isEmpty());
}

void tst_UsersPage::deleteRemovesEveryNamesakeAndSendsNothing_data() {
  QTest::addColumn<int>("answer");
  QTest::addColumn<QStringList>("names");
  QTest::newRow("Yes") << int{QMessageBox::Yes} << QStringList{"ann"};
  QTest::newRow("No") << int{QMessageBox::No} << QStringList{"ann", "bob", "bob"};
}

void tst_UsersPage::deleteRemovesEveryNamesakeAndSendsNothing() {
  QFETCH(int, answer);
  QFETCH(QStringList, names);
  Fixture f;
  f.Select(2);
  ModalScript script;
  script.Answer(static_cast<QMessageBox::StandardButton>(answer));
  f.Trigger("Delete1");
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().front().text,
           QStringLiteral("Are you sure you want to delete this user?"));
  QCOMPARE(script.Seen().front().caption, QStringLiteral("Information"));
  QCOMPARE(f.Cell(1), names);
  QTest::qWait(200);
  QVERIFY(script.Unexpected().isEmpty());  // no reload notice
  QCOMPARE(f.listener.Lines(), QStringList());

  // Nothing selected: nothing happens at all.
  f.Trigger("Delete1");
  QTest::qWait(100);
  QVERIFY(script.Unexpected().isEmpty());
}

void tst_UsersPage::createAppendsAnAccount() {
  Fixture f;
  const QString home = f.directory.Path();
  ModalScript script;
  QStringList editor_state;
  script.Then([&](QWidget* dialog) {
    editor_state << dialog->windowTitle()
                 << QString::number(
                        dialog->findChild<QLineEdit*>(QStringLiteral("UserName_txt"))->isEnabled());
    dialog->findChild<QLineEdit*>(QStringLiteral("UserName_txt"))->setText(QStringLiteral("Cat"));
    dialog->findChild<QLineEdit*>(QStringLiteral("Password_txt"))->setText(QStringLiteral("pw"));
    dialog->findChild<QLineEdit*>(QStringLiteral("ConfirmPassword_txt"))
        ->setText(QStringLiteral("pw"));
    dialog->findChild<QLineEdit*>(QStringLiteral("HomeDir_txt"))->setText(home);
    dialog->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(true);
    dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  });
  script.Answer(QMessageBox::Ok);
  f.Trigger("Enable1");
  QTRY_VERIFY(script.Done());
  QCOMPARE(editor_state, QStringList({"User", "1"}));
  QCOMPARE(script.Seen().front().text, kReloadNotice);
  QTRY_COMPARE(f.listener.Lines(), QStringList{"USERSRELOAD secret\r\n"});
  QCOMPARE(f.Cell(1), QStringList({"ann", "bob", "bob", "Cat"}));
  const std::vector<AccountSummary> accounts = ListAccounts(f.UsersPath());
  QCOMPARE(accounts.back(), (AccountSummary{"Cat", home.toStdString(), "1", "0"}));
}

void tst_UsersPage::editKeepsThePassword() {
  Fixture f;
  const QString home = f.directory.Path();
  f.Select(0);
  ModalScript script;
  QStringList editor_state;
  script.Then([&](QWidget* dialog) {
    auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("Password_txt"));
    auto* limit = dialog->findChild<QLineEdit*>(QStringLiteral("BandwidthLimit_txt"));
    editor_state << dialog->findChild<QLineEdit*>(QStringLiteral("UserName_txt"))->text()
                 << password->text() << QString::number(password->isEnabled()) << limit->text()
                 << QString::number(
                        dialog->findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->isChecked());
    dialog->findChild<QLineEdit*>(QStringLiteral("HomeDir_txt"))->setText(home);
    limit->setText(QStringLiteral("128"));
    dialog->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  });
  script.Answer(QMessageBox::Ok);
  f.Trigger("Edit1");
  QTRY_VERIFY(script.Done());
  QCOMPARE(editor_state, QStringList({"ann", "test", "0", "300", "1"}));
  QTRY_COMPARE(f.listener.Lines(), QStringList{"USERSRELOAD secret\r\n"});
  QCOMPARE(f.Cell(2).front(), home);
  QCOMPARE(f.Cell(4).front(), QStringLiteral("128"));
  const QByteArray file = f.directory.Read(QStringLiteral("users.xml"));
  QVERIFY(file.contains("<password>pw-ann</password>"));
  QVERIFY(!file.contains("test"));
}

void tst_UsersPage::reloadNoticeShowsWithTheServiceDown() {
  quint16 closed_port = 0;
  {
    ManagementListener gone;
    closed_port = gone.Port();
  }
  ProgramDirectory directory;
  directory.Write(QStringLiteral("gc.xml"), ConfigWithManagement(closed_port));
  directory.Write(QStringLiteral("users.xml"), ThreeAccounts());
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  Find<QTableView>(*window, "ListView1")->selectRow(1);
  ModalScript script;
  script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
  window->findChild<QAction*>(QStringLiteral("Activate1"))->trigger();
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().back().text, kReloadNotice);
}

void tst_UsersPage::unreadableFileStopsTheOperation() {
  Fixture f;
  f.Select(1);
  f.directory.Write(QStringLiteral("users.xml"), "<users><user>");
  ModalScript script;
  script.Answer(QMessageBox::Yes).Answer(QMessageBox::Ok);
  f.Trigger("Activate1");
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().back().caption, QStringLiteral("Corvane Server"));
  QCOMPARE(script.Seen().back().icon, QMessageBox::Critical);
  QVERIFY(script.Seen().back().text.contains(QStringLiteral("users.xml")));
  QCOMPARE(f.Cell(1), QStringList({"ann", "bob", "bob"}));  // not refilled
  QTest::qWait(200);
  QVERIFY(script.Unexpected().isEmpty());
  QCOMPARE(f.listener.Lines(), QStringList());
  QCOMPARE(f.directory.Read(QStringLiteral("users.xml")), QByteArray("<users><user>"));
}

QTEST_MAIN(tst_UsersPage)
#include "tst_users_page.moc"
