// The "Add Rule" dialog driven as an operator drives it: choose a scope, type into the masked
// fields, pick a type, press "Add Rule" or "Cancel".
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "desktop/rule_dialog.h"
#include "fake_prompts.h"

using namespace corvane;

namespace {

const QStringList kFields = {"singleip", "cidr1", "cidr2", "range1", "range2"};

void Type(TForm3& dialog, const QString& field, const QString& keys) {
  auto* edit = dialog.findChild<QLineEdit*>(field);
  QVERIFY(edit);
  edit->setFocus();
  edit->home(false);
  QTest::keyClicks(edit, keys);
}

void Press(TForm3& dialog, const char* button) {
  QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
}

}  // namespace

class tst_RuleDialog : public QObject {
  Q_OBJECT

 private slots:
  void initialState();
  void radiosEnableFields_data();
  void radiosEnableFields();
  void addRule_data();
  void addRule();
  void failedAttemptThenCancelOrRetry();
  void frameCloseReturnsNothing();
  void plainNumbers_data();
  void plainNumbers();
};

void tst_RuleDialog::initialState() {
  FakePrompts prompts;
  TForm3 dialog(prompts);
  QCOMPARE(dialog.windowTitle(), QStringLiteral("Add Rule"));
  QVERIFY(dialog.findChild<QRadioButton*>("RadioButton4")->isChecked());
  QCOMPARE(dialog.findChild<QComboBox*>("RuleType")->currentIndex(), -1);
  QCOMPARE(dialog.findChild<QComboBox*>("RuleType")->count(), 2);
  QVERIFY(dialog.RuleText().isEmpty());
}

void tst_RuleDialog::radiosEnableFields_data() {
  QTest::addColumn<QString>("radio");
  QTest::addColumn<QStringList>("enabled");
  QTest::newRow("All IPs") << "RadioButton4" << QStringList{"singleip"};
  QTest::newRow("Single IP") << "RadioButton1" << QStringList{"singleip"};
  QTest::newRow("CIDR Block") << "RadioButton2" << QStringList{"cidr1", "cidr2"};
  QTest::newRow("IP Range") << "RadioButton3" << QStringList{"range1", "range2"};
}

void tst_RuleDialog::radiosEnableFields() {
  QFETCH(QString, radio);
  QFETCH(QStringList, enabled);
  FakePrompts prompts;
  TForm3 dialog(prompts);
  dialog.show();
  // Pass through another scope first so that every field has been switched at least once.
  QTest::mouseClick(dialog.findChild<QRadioButton*>("RadioButton2"), Qt::LeftButton);
  QTest::mouseClick(dialog.findChild<QRadioButton*>(radio), Qt::LeftButton);
  QStringList actual;
  for (const QString& field : kFields) {
    auto* edit = dialog.findChild<QLineEdit*>(field);
    if (edit->isEnabled()) actual << field;
    const QColor base = edit->palette().color(QPalette::Base);
    QCOMPARE(base, edit->isEnabled() ? QPalette().color(QPalette::Base)
                                     : QPalette().color(QPalette::Button));
  }
  QCOMPARE(actual, enabled);
}

void tst_RuleDialog::addRule_data() {
  QTest::addColumn<QString>("radio");
  QTest::addColumn<int>("type");          // -1 none, 0 REJECT, 1 ACCEPT
  QTest::addColumn<QStringList>("keys");  // typed into singleip, cidr1, cidr2, range1, range2
  QTest::addColumn<QString>("rule");
  QTest::addColumn<QString>("error");

  const QStringList none = {"", "", "", "", ""};
  QTest::newRow("no type") << "RadioButton4" << -1 << none << ""
                           << "Please select rule type.";
  QTest::newRow("no type, valid single")
      << "RadioButton1" << -1 << QStringList{"10.0.0.5", "", "", "", ""} << ""
      << "Please select rule type.";
  QTest::newRow("ACCEPT all") << "RadioButton4" << 1 << none << "ACCEPT 0.0.0.0"
                              << "";
  QTest::newRow("REJECT all ignores the single field")
      << "RadioButton4" << 0 << QStringList{"999", "", "", "", ""} << "REJECT 0.0.0.0"
      << "";
  QTest::newRow("single") << "RadioButton1" << 0 << QStringList{"10.0.0.5", "", "", "", ""}
                          << "REJECT 10.0.0.5"
                          << "";
  QTest::newRow("single, three digits each")
      << "RadioButton1" << 1 << QStringList{"192.168.100.255", "", "", "", ""}
      << "ACCEPT 192.168.100.255"
      << "";
  QTest::newRow("single, leading zeros dropped")
      << "RadioButton1" << 0 << QStringList{"010.000.000.005", "", "", "", ""} << "REJECT 10.0.0.5"
      << "";
  QTest::newRow("single, part over 255")
      << "RadioButton1" << 0 << QStringList{"10.0.0.256", "", "", "", ""} << ""
      << "Invalid IP";
  QTest::newRow("single, empty") << "RadioButton1" << 0 << none << ""
                                 << "Invalid IP";
  QTest::newRow("single, three parts")
      << "RadioButton1" << 0 << QStringList{"10.0.0", "", "", "", ""} << ""
      << "Invalid IP";
  QTest::newRow("single, empty part")
      << "RadioButton1" << 0 << QStringList{"10..0.5", "", "", "", ""} << ""
      << "Invalid IP";
  QTest::newRow("cidr") << "RadioButton2" << 1 << QStringList{"", "192.168.0.0", "16", "", ""}
                        << "ACCEPT 192.168.0.0/16"
                        << "";
  QTest::newRow("cidr, prefix with leading zero")
      << "RadioButton2" << 1 << QStringList{"", "192.168.0.0", "016", "", ""}
      << "ACCEPT 192.168.0.0/16"
      << "";
  QTest::newRow("cidr, prefix 0") << "RadioButton2" << 0 << QStringList{"", "0.0.0.0", "0", "", ""}
                                  << "REJECT 0.0.0.0/0"
                                  << "";
  QTest::newRow("cidr, prefix 32")
      << "RadioButton2" << 0 << QStringList{"", "10.1.2.3", "32", "", ""} << "REJECT 10.1.2.3/32"
      << "";
  QTest::newRow("cidr, prefix 33")
      << "RadioButton2" << 1 << QStringList{"", "192.168.0.0", "33", "", ""} << ""
      << "Invalid CIDR.";
  QTest::newRow("cidr, no prefix")
      << "RadioButton2" << 1 << QStringList{"", "192.168.0.0", "", "", ""} << ""
      << "Invalid CIDR.";
  QTest::newRow("cidr, bad address")
      << "RadioButton2" << 1 << QStringList{"", "192.168.0.300", "8", "", ""} << ""
      << "Invalid CIDR.";
  QTest::newRow("cidr ignores the single field")
      << "RadioButton2" << 0 << QStringList{"1.2.3.4", "10.0.0.0", "8", "", ""}
      << "REJECT 10.0.0.0/8"
      << "";
  QTest::newRow("range") << "RadioButton3" << 0 << QStringList{"", "", "", "10.1.1.10", "5"}
                         << "REJECT 10.1.1.10-5"
                         << "";
  QTest::newRow("range, end with leading zeros")
      << "RadioButton3" << 1 << QStringList{"", "", "", "10.1.1.1", "009"} << "ACCEPT 10.1.1.1-9"
      << "";
  QTest::newRow("range, end not compared with 255")
      << "RadioButton3" << 1 << QStringList{"", "", "", "10.1.1.1", "999"} << "ACCEPT 10.1.1.1-999"
      << "";
  QTest::newRow("range, no end") << "RadioButton3" << 0 << QStringList{"", "", "", "10.1.1.10", ""}
                                 << ""
                                 << "Invalid Range.";
  QTest::newRow("range, bad address")
      << "RadioButton3" << 0 << QStringList{"", "", "", "10.1.1", "5"} << ""
      << "Invalid Range.";
}

void tst_RuleDialog::addRule() {
  QFETCH(QString, radio);
  QFETCH(int, type);
  QFETCH(QStringList, keys);
  QFETCH(QString, rule);
  QFETCH(QString, error);

  FakePrompts prompts;
  TForm3 dialog(prompts);
  dialog.show();
  QTest::mouseClick(dialog.findChild<QRadioButton*>(radio), Qt::LeftButton);
  // Fields of other scopes are disabled; the operator can only have typed into them before.
  for (int i = 0; i < kFields.size(); ++i) {
    auto* edit = dialog.findChild<QLineEdit*>(kFields[i]);
    const bool enabled = edit->isEnabled();
    edit->setEnabled(true);
    Type(dialog, kFields[i], keys[i]);
    edit->setEnabled(enabled);
  }
  dialog.findChild<QComboBox*>("RuleType")->setCurrentIndex(type);
  Press(dialog, "Button3");

  QCOMPARE(prompts.errors, error.isEmpty() ? QStringList{} : QStringList{error});
  QCOMPARE(dialog.RuleText(), rule);
  QCOMPARE(dialog.isVisible(), !error.isEmpty());
  if (error.isEmpty()) QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void tst_RuleDialog::failedAttemptThenCancelOrRetry() {
  FakePrompts prompts;
  {
    TForm3 dialog(prompts);
    dialog.show();
    QTest::mouseClick(dialog.findChild<QRadioButton*>("RadioButton1"), Qt::LeftButton);
    Type(dialog, "singleip", "10.0.0.256");
    dialog.findChild<QComboBox*>("RuleType")->setCurrentIndex(0);
    Press(dialog, "Button3");
    QCOMPARE(prompts.errors, QStringList{"Invalid IP"});
    Press(dialog, "Button2");
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(dialog.RuleText().isEmpty());
  }
  {
    // The input stays after a refusal; a corrected attempt starts again from the type.
    TForm3 dialog(prompts);
    dialog.show();
    Press(dialog, "Button3");
    dialog.findChild<QComboBox*>("RuleType")->setCurrentIndex(1);
    Press(dialog, "Button3");
    QCOMPARE(dialog.RuleText(), QStringLiteral("ACCEPT 0.0.0.0"));
  }
}

void tst_RuleDialog::frameCloseReturnsNothing() {
  FakePrompts prompts;
  TForm3 dialog(prompts);
  dialog.show();
  dialog.findChild<QComboBox*>("RuleType")->setCurrentIndex(1);
  dialog.close();
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
  QVERIFY(dialog.RuleText().isEmpty());
}

void tst_RuleDialog::plainNumbers_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("number");  // "-" for none
  QTest::newRow("digits") << "16"
                          << "16";
  QTest::newRow("blank padded") << " 8 "
                                << "8";
  QTest::newRow("leading zeros") << "007"
                                 << "7";
  QTest::newRow("zero") << "000"
                        << "0";
  QTest::newRow("empty") << ""
                         << "-";
  QTest::newRow("blanks only") << "   "
                               << "-";
  QTest::newRow("four digits") << "1234"
                               << "-";
  QTest::newRow("sign") << "-1"
                        << "-";
}

void tst_RuleDialog::plainNumbers() {
  QFETCH(QString, text);
  QFETCH(QString, number);
  QCOMPARE(PlainNumber(text).value_or(QStringLiteral("-")), number);
}

QTEST_MAIN(tst_RuleDialog)
#include "tst_rule_dialog.moc"
