#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "desktop/user_editor.h"
#include "desktop_test_support.h"

using namespace corvane;
using namespace corvane::test;

namespace {

struct Editor {
  ProgramDirectory directory;
  TForm1 dialog;

  Editor() : dialog(directory.File(QStringLiteral("users.xml")).toStdString(), nullptr) {}
  std::string Path() const { return directory.File(QStringLiteral("users.xml")).toStdString(); }
  QLineEdit* Field(const char* name) { return Find<QLineEdit>(dialog, name); }
  QCheckBox* Box(const char* name) { return Find<QCheckBox>(dialog, name); }
  void Fill(const QString& name, const QString& password, const QString& confirm,
            const QString& home) {
    Field("UserName_txt")->setText(name);
    Field("Password_txt")->setText(password);
    Field("ConfirmPassword_txt")->setText(confirm);
    Field("HomeDir_txt")->setText(home);
  }
  void Save() { Find<QPushButton>(dialog, "Button1")->click(); }
};

}  // namespace

class tst_UserEditor : public QObject {
  Q_OBJECT

 private slots:
  void layout();
  void checksInOrder_data();
  void checksInOrder();
  void addWritesTheAccount_data();
  void addWritesTheAccount();
  void editModeLocksNameAndPassword_data();
  void editModeLocksNameAndPassword();
  void cancelWritesNothing();
  void unwritableFileKeepsTheDialogOpen();
};

void tst_UserEditor::layout() {
  Editor e;
  QCOMPARE(e.dialog.windowTitle(), QStringLiteral("User"));
  QCOMPARE(e.Box("CheckBox1")->text(), QStringLiteral("Enabled"));
  QCOMPARE(e.Box("CheckBox2")->text(), QStringLiteral("Limit Bandwidth of this user"));
  QVERIFY(!e.Box("CheckBox1")->isChecked() && !e.Box("CheckBox2")->isChecked());
  QCOMPARE(e.Field("BandwidthLimit_txt")->text(), QStringLiteral("0"));
  QVERIFY(!e.Field("BandwidthLimit_txt")->isEnabled());
  QCOMPARE(e.Field("Password_txt")->echoMode(), QLineEdit::Password);
  QCOMPARE(e.Field("ConfirmPassword_txt")->echoMode(), QLineEdit::Password);
  QCOMPARE(Find<QPushButton>(e.dialog, "Button1")->text(), QStringLiteral("Save"));
  QCOMPARE(Find<QPushButton>(e.dialog, "Button2")->text(), QStringLiteral("Cancel"));

  // Ticking the limit box resets the field; any text is accepted and kept as typed.
  e.Field("BandwidthLimit_txt")->setText(QStringLiteral("77"));
  e.Box("CheckBox2")->click();
  QCOMPARE(e.Field("BandwidthLimit_txt")->text(), QStringLiteral("0"));
  QVERIFY(e.Field("BandwidthLimit_txt")->isEnabled());
  QTest::keyClicks(e.Field("BandwidthLimit_txt"), QStringLiteral("k"));
  QCOMPARE(e.Field("BandwidthLimit_txt")->text(), QStringLiteral("0k"));
}

void tst_UserEditor::checksInOrder_data() {
  QTest::addColumn<QStringList>(
      "input");  // name, password, confirmation, home ("<dir>": a directory)
  QTest::addColumn<QString>("message");
  QTest::newRow("empty name") << QStringList{"", "", "x", ""} << "Invalid username";
  QTest::newRow("empty password") << QStringList{"ann", "", "x", ""} << "Invalid password";
  QTest::newRow("empty home") << QStringList{"ann", "pw", "x", ""} << "Invalid home dir";
  QTest::newRow("confirmation differs")
      << QStringList{"ann", "pw", "pW", "/nowhere"} << "Password confirmation failed";
  QTest::newRow("confirmation with a blank")
      << QStringList{"ann", "pw", "pw ", "<dir>"} << "Password confirmation failed";
  QTest::newRow("home does not exist")
      << QStringList{"ann", "pw", "pw", "<dir>/none"} << "Invalid Home Dir";
  QTest::newRow("home is a file") << QStringList{"ann", "pw", "pw", "<dir>/file"}
                                  << "Invalid Home Dir";
}

void tst_UserEditor::checksInOrder() {
  QFETCH(QStringList, input);
  QFETCH(QString, message);
  Editor e;
  e.directory.Write(QStringLiteral("file"), "x");
  input.replaceInStrings(QStringLiteral("<dir>"), e.directory.Path());
  e.Fill(input[0], input[1], input[2], input[3]);
  e.dialog.show();
  ModalScript script;
  script.Answer(QMessageBox::Ok);
  e.Save();
  QTRY_VERIFY(script.Done());
  const SeenBox& box = script.Seen().front();
  QCOMPARE(box.caption, QStringLiteral("Error"));
  QCOMPARE(box.text, message);
  QCOMPARE(box.icon, QMessageBox::NoIcon);
  QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(box.owner, &e.dialog);
  QVERIFY(e.dialog.isVisible());
  QCOMPARE(e.dialog.result(), int{QDialog::Rejected});
  QVERIFY(!QFileInfo::exists(e.directory.File(QStringLiteral("users.xml"))));
}

void tst_UserEditor::addWritesTheAccount_data() {
  QTest::addColumn<bool>("enabled");
  QTest::addColumn<bool>("limit");
  QTest::addColumn<QString>("typed");  // typed into the limit field after ticking
  QTest::addColumn<QString>("status");
  QTest::addColumn<QString>("bandwidth");
  QTest::newRow("enabled, no limit") << true << false << ""
                                     << "1"
                                     << "0";
  QTest::newRow("disabled, limit 256") << false << true << "256"
                                       << "0"
                                       << "256";
  QTest::newRow("limit typed as text") << true << true << "x"
                                       << "1"
                                       << "x";
}

void tst_UserEditor::addWritesTheAccount() {
  QFETCH(bool, enabled);
  QFETCH(bool, limit);
  QFETCH(QString, typed);
  QFETCH(QString, status);
  QFETCH(QString, bandwidth);
  Editor e;
  // An existing name is accepted: it becomes a second account.
  CreateAccount(e.Path(), "ann", "old", "/tmp", "1", "0");
  e.dialog.SetEditorMode(TForm1::Mode::kAdd);
  e.Fill(QStringLiteral("ann"), QStringLiteral("pw"), QStringLiteral("pw"), e.directory.Path());
  e.Box("CheckBox1")->setChecked(enabled);
  if (limit) {
    e.Box("CheckBox2")->click();
    e.Field("BandwidthLimit_txt")->clear();
    QTest::keyClicks(e.Field("BandwidthLimit_txt"), typed);
  }
  e.dialog.show();
  e.Save();
  QCOMPARE(e.dialog.result(), int{QDialog::Accepted});
  QVERIFY(!e.dialog.isVisible());
  const std::vector<AccountSummary> accounts = ListAccounts(e.Path());
  QCOMPARE(accounts.size(), std::size_t{2});
  QCOMPARE(accounts[1], (AccountSummary{"ann", e.directory.StdPath(), status.toStdString(),
                                        bandwidth.toStdString()}));
  QVERIFY(e.directory.Read(QStringLiteral("users.xml")).contains("<password>pw</password>"));
}

void tst_UserEditor::editModeLocksNameAndPassword_data() {
  QTest::addColumn<QString>("stored");  // the account's bandwidth
  QTest::addColumn<bool>("untick");     // the operator unticks the limit box
  QTest::addColumn<bool>("ticked");     // the box as opened
  QTest::addColumn<QString>("shown");
  QTest::addColumn<QString>("written");
  QTest::newRow("bandwidth 300 kept") << "300" << false << true << "300"
                                      << "300";
  QTest::newRow("bandwidth 300 unticked") << "300" << true << true << "300"
                                          << "0";
  QTest::newRow("bandwidth 0") << "0" << false << false << "0"
                               << "0";
}

void tst_UserEditor::editModeLocksNameAndPassword() {
  QFETCH(QString, stored);
  QFETCH(bool, untick);
  QFETCH(bool, ticked);
  QFETCH(QString, shown);
  QFETCH(QString, written);
  Editor e;
  CreateAccount(e.Path(), "ann", "secret", "/tmp", "0", stored.toStdString());
  e.dialog.SetEditorMode(TForm1::Mode::kEdit);
  e.dialog.FillFromAccount(ListAccounts(e.Path()).front());
  QVERIFY(!e.Field("UserName_txt")->isEnabled());
  for (const char* name : {"Password_txt", "ConfirmPassword_txt"}) {
    QVERIFY(!e.Field(name)->isEnabled());
    QCOMPARE(e.Field(name)->text(), QStringLiteral("test"));
    QCOMPARE(e.Field(name)->displayText(), QStringLiteral("****"));
  }
  QCOMPARE(e.Field("UserName_txt")->text(), QStringLiteral("ann"));
  QCOMPARE(e.Field("HomeDir_txt")->text(), QStringLiteral("/tmp"));
  QCOMPARE(e.Box("CheckBox1")->isChecked(), false);
  QCOMPARE(e.Box("CheckBox2")->isChecked(), ticked);
  QCOMPARE(e.Field("BandwidthLimit_txt")->isEnabled(), ticked);
  QCOMPARE(e.Field("BandwidthLimit_txt")->text(), shown);

  if (untick) e.Box("CheckBox2")->click();
  e.Box("CheckBox1")->setChecked(true);
  e.Field("HomeDir_txt")->setText(e.directory.Path());
  e.dialog.show();
  e.Save();
  QCOMPARE(e.dialog.result(), int{QDialog::Accepted});
  QCOMPARE(
      ListAccounts(e.Path()),
      (std::vector<AccountSummary>{{"ann", e.directory.StdPath(), "1", written.toStdString()}}));
  QVERIFY(e.directory.Read(QStringLiteral("users.xml")).contains("<password>secret</password>"));
}

void tst_UserEditor::cancelWritesNothing() {
  Editor e;
  e.Fill(QStringLiteral("ann"), QStringLiteral("pw"), QStringLiteral("pw"), e.directory.Path());
  e.dialog.show();
  Find<QPushButton>(e.dialog, "Button2")->click();
  QCOMPARE(e.dialog.result(), int{QDialog::Rejected});
  QVERIFY(!e.dialog.isVisible());
  QVERIFY(!QFileInfo::exists(e.directory.File(QStringLiteral("users.xml"))));
}

void tst_UserEditor::unwritableFileKeepsTheDialogOpen() {
  Editor e;
  // A directory in the place of users.xml can be neither read nor replaced.
  QVERIFY(QDir(e.directory.Path()).mkdir(QStringLiteral("users.xml")));
  e.Fill(QStringLiteral("ann"), QStringLiteral("pw"), QStringLiteral("pw"), e.directory.Path());
  e.dialog.show();
  ModalScript script;
  script.Answer(QMessageBox::Ok);
  e.Save();
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().front().caption, QStringLiteral("Corvane Server"));
  QCOMPARE(script.Seen().front().icon, QMessageBox::Critical);
  QCOMPARE(script.Seen().front().owner, &e.dialog);
  QVERIFY(e.dialog.isVisible());
  QVERIFY(QFileInfo(e.directory.File(QStringLiteral("users.xml"))).isDir());
}

QTEST_MAIN(tst_UserEditor)
#include "tst_user_editor.moc"
