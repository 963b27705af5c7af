#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>

#include "desktop_test_support.h"
#include "formats/xml_document.h"

using namespace corvane;
using namespace corvane::test;

namespace {

// gc.xml as "Section/element=text" lines in document order, the root's name first.
QStringList Flatten(const QString& path) {
  const XmlDocument document = XmlDocument::Load(path.toStdString());
  const XmlElement root = document.DocumentElement();
  QStringList lines{QString::fromStdString(root.Name())};
  for (const XmlElement& section : root.Children()) {
    for (const XmlElement& value : section.Children()) {
      lines << QString::fromStdString(section.Name() + "/" + value.Name() + "=" +
                                      value.Text().value_or(""));
    }
  }
  return lines;
}

QString Text(const TForm2& window, const char* name) {
  return Find<QLineEdit>(window, name)->text();
}

const QByteArray kFullFile =
    "<?xml version=\"1.0\"?>\n<global>\n"
    "  <FTP><port>2121</port><maxcon>25</maxcon><authoption>xml</authoption>"
    "<logdir>/var/log/corvane</logdir><cert>/etc/corvane/c.cer</cert><key>/etc/corvane/c.key</key>"
    "<bandwidth>0</bandwidth><IP>10.1.2.3</IP><IP>127.0.0.1</IP><passive>yes</passive></FTP>\n"
    "  <Management><port>10100</port><password>s3cret</password><IP>127.0.0.1</IP></Management>\n"
    "  <Extra>kept nowhere</Extra>\n</global>\n";

}  // namespace

class tst_Configuration : public QObject {
  Q_OBJECT

 private slots:
  void loadsPagesAndEndpoint_data();
  void loadsPagesAndEndpoint();
  void loadFailureShowsTheErrorBox_data();
  void loadFailureShowsTheErrorBox();
  void saveWritesTheFixedOrder_data();
  void saveWritesTheFixedOrder();
  void saveChecksInOrder_data();
  void saveChecksInOrder();
  void saveThatCannotWriteSendsNothing();
};

void tst_Configuration::loadsPagesAndEndpoint_data() {
  QTest::addColumn<QByteArray>("file");  // empty: no gc.xml
  QTest::addColumn<QStringList>(
      "fields");  // lport, mport, MaxCon_txt, logdir, cert, key, bandwidth
  QTest::addColumn<bool>("limitTicked");
  QTest::addColumn<bool>("windows");
  QTest::addColumn<QStringList>("ftpLists");  // chosen | system
  QTest::addColumn<QStringList>("managementLists");
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("host");
  QTest::addColumn<int>("port");
  const QString d = QStringLiteral("<dir>");
  const QString builtin = QStringLiteral("62#%8152@7&&");

  QTest::newRow("no file")
      << QByteArray()
      << QStringList{"21", "1010", "0", d + "/logs", d + "/default.cer", d + "/default.key", "0"}
      << false << false << QStringList{"127.0.0.1", "|", "192.168.7.7", "10.1.2.3"}
      << QStringList{"127.0.0.1", "|", "192.168.7.7", "10.1.2.3"} << builtin << "127.0.0.1" << 1010;
  QTest::newRow("full file") << kFullFile << QStringList{"2121",
                                                         "10100",
                                                         "25",
                                                         "/var/log/corvane",
                                                         "/etc/corvane/c.cer",
                                                         "/etc/corvane/c.key",
                                                         "0"}
                             << false << false
                             << QStringList{"10.1.2.3", "127.0.0.1", "|", "192.168.7.7"}
                             << QStringList{"127.0.0.1", "|", "192.168.7.7", "10.1.2.3"} << "s3cret"
                             << "127.0.0.1" << 10100;
  QTest::newRow("missing elements")
      << QByteArray(
             "<global><FTP><port>21</port><maxcon/></FTP>"
             "<Management><port>1011</port></Management></global>")
      << QStringList{"21", "1011", "0", d + "/logs", d + "/default.cer", d + "/default.key", "0"}
      << false << false << QStringList{"|", "192.168.7.7", "127.0.0.1", "10.1.2.3"}
      << QStringList{"|", "192.168.7.7", "127.0.0.1", "10.1.2.3"} << builtin << "" << 1011;
  QTest::newRow("bandwidth 500, Windows accounts, another root")
      << QByteArray(
             "<config><FTP><port>21</port><bandwidth>500</bandwidth>"
             "<authoption>win</authoption></FTP></config>")
      << QStringList{"21", "1010", "0", d + "/logs", d + "/default.cer", d + "/default.key", "500"}
      << true << true << QStringList{"|", "192.168.7.7", "127.0.0.1", "10.1.2.3"}
      << QStringList{"|", "192.168.7.7", "127.0.0.1", "10.1.2.3"} << builtin << "" << 1010;
  QTest::newRow("upper-case WIN and two management addresses")
      << QByteArray(
             "<global><FTP><port>21</port><authoption>WIN</authoption></FTP>"
             "<Management><port>1010</port><IP>10.1.2.3</IP><IP>0.0.0.0</IP>"
             "</Management></global>")
      << QStringList{"21", "1010", "0", d + "/logs", d + "/default.cer", d + "/default.key", "0"}
      << false << false << QStringList{"|", "192.168.7.7", "127.0.0.1", "10.1.2.3"}
      << QStringList{"10.1.2.3", "0.0.0.0", "|", "192.168.7.7", "127.0.0.1"} << builtin << "0.0.0.0"
      << 1010;
}

void tst_Configuration::loadsPagesAndEndpoint() {
  QFETCH(QByteArray, file);
  QFETCH(QStringList, fields);
  QFETCH(bool, limitTicked);
  QFETCH(bool, windows);
  QFETCH(QStringList, ftpLists);
  QFETCH(QStringList, managementLists);
  QFETCH(QString, password);
  QFETCH(QString, host);
  QFETCH(int, port);
  ProgramDirectory directory;
  if (!file.isEmpty()) directory.Write(QStringLiteral("gc.xml"), file);
  fields.replaceInStrings(QStringLiteral("<dir>"), directory.Path());

  ModalScript script;
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  QVERIFY2(script.Unexpected().isEmpty(), qPrintable(script.Unexpected().join('\n')));
  const TForm2& w = *window;
  QCOMPARE((QStringList{Text(w, "lport"), Text(w, "mport"), Text(w, "MaxCon_txt"),
                        Text(w, "DefaultLogFolder_txt"), Text(w, "CertFile_txt"),
                        Text(w, "KeyFile_txt"), Text(w, "BandwidthLimit_txt")}),
           fields);
  QCOMPARE(Find<QCheckBox>(w, "CheckBox1")->isChecked(), limitTicked);
  QCOMPARE(Find<QLineEdit>(w, "BandwidthLimit_txt")->isEnabled(), limitTicked);
  QCOMPARE(Find<QRadioButton>(w, "RadioButton1")->isChecked(), windows);
  QCOMPARE(Find<QRadioButton>(w, "RadioButton2")->isChecked(), !windows);
  QCOMPARE(Find<QWidget>(w, "ListView1")->isHidden(), windows);
  QCOMPARE(Find<QWidget>(w, "Label20")->isHidden(), windows);
  QCOMPARE(Entries(Find<QListWidget>(w, "SelectedIPs")) + QStringList{"|"} +
               Entries(Find<QListWidget>(w, "SystemIPS")),
           ftpLists);
  QCOMPARE(Entries(Find<QListWidget>(w, "SelectedIPs2")) + QStringList{"|"} +
               Entries(Find<QListWidget>(w, "SystemIPS2")),
           managementLists);
  QCOMPARE(Text(w, "ServerPass_txt"), password);
  QCOMPARE(Text(w, "ConfirmServerPass_txt"), password);
  QCOMPARE(QString::fromStdString(w.Endpoint().host), host);
  QCOMPARE(int{w.Endpoint().port}, port);
  QCOMPARE(QString::fromStdString(w.Endpoint().password), password);
  QVERIFY(file.isEmpty() || directory.Read(QStringLiteral("gc.xml")) == file);
  QVERIFY(!file.isEmpty() || !QFileInfo::exists(directory.File(QStringLiteral("gc.xml"))));
}

void tst_Configuration::loadFailureShowsTheErrorBox_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QString>("message");  // a part of the error text
  QTest::addColumn<QString>("ftpPort");  // lport after the failure
  QTest::newRow("not XML") << QByteArray("<global><FTP>") << "not well-formed"
                           << "21";
  QTest::newRow("FTP without port")
      << QByteArray("<global><FTP><maxcon>3</maxcon></FTP></global>") << "FTP section has no port"
      << "21";
  QTest::newRow("Management with empty port")
      << QByteArray("<global><FTP><port>2121</port></FTP><Management><port/></Management></global>")
      << "Management section has no port"
      << "2121";
  QTest::newRow("IP without text")
      << QByteArray("<global><FTP><port>2121</port><IP/></FTP></global>") << "IP"
      << "2121";
  QTest::newRow("management port not a number")
      << QByteArray("<global><Management><port>x1</port></Management></global>")
      << "not a valid port number"
      << "21";
}

void tst_Configuration::loadFailureShowsTheErrorBox() {
  QFETCH(QByteArray, file);
  QFETCH(QString, message);
  QFETCH(QString, ftpPort);
  ProgramDirectory directory;
  directory.Write(QStringLiteral("gc.xml"), file);
  ModalScript script;
  script.Answer(QMessageBox::Ok);
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().front().caption, QStringLiteral("Corvane Server"));
  QCOMPARE(script.Seen().front().icon, QMessageBox::Critical);
  QVERIFY2(script.Seen().front().text.contains(message), qPrintable(script.Seen().front().text));
  QCOMPARE(Text(*window, "lport"), ftpPort);
}

void tst_Configuration::saveWritesTheFixedOrder_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QString>("edit");
  QTest::addColumn<QStringList>("expected");  // "<dir>" is the program directory
  QTest::addColumn<QString>("host");          // the endpoint after the save

  const QStringList full = {"global",
                            "FTP/port=2121",
                            "FTP/maxcon=25",
                            "FTP/authoption=xml",
                            "FTP/logdir=<dir>",
                            "FTP/cert=<dir>/c.cer",
                            "FTP/key=<dir>/c.key",
                            "FTP/bandwidth=0",
                            "FTP/IP=10.1.2.3",
                            "FTP/IP=127.0.0.1",
                            "Management/port=<port>",
                            "Management/password=s3cret",
                            "Management/IP=127.0.0.1"};
  QTest::newRow("unchanged, unknown elements dropped") << kFullFile << "" << full << "127.0.0.1";
  QStringList all = full;
  all.replace(12, QStringLiteral("Management/IP=0.0.0.0"));
  QTest::newRow("activate on all management addresses")
      << kFullFile << "all management" << all << "0.0.0.0";
  QStringList ssl = full;
  ssl.replace(5, QStringLiteral("FTP/cert="));
  ssl.replace(6, QStringLiteral("FTP/key="));
  QTest::newRow("empty SSL paths") << kFullFile << "empty ssl" << ssl << "127.0.0.1";
  QStringList windows = full;
  windows.replace(3, QStringLiteral("FTP/authoption=win"));
  QTest::newRow("Windows accounts") << kFullFile << "windows" << windows << "127.0.0.1";
  QStringList limit = full;
  limit.replace(7, QStringLiteral("FTP/bandwidth=500"));
  QTest::newRow("bandwidth limit 500") << kFullFile << "limit 500" << limit << "127.0.0.1";
  QStringList empty_log = full;
  empty_log.replace(4, QStringLiteral("FTP/logdir=<dir>/logs"));
  QTest::newRow("empty log directory") << kFullFile << "empty log" << empty_log << "127.0.0.1";
  QTest::newRow("no file: the defaults") << QByteArray() << ""
                                         << QStringList{"global",
                                                        "FTP/port=21",
                                                        "FTP/maxcon=0",
                                                        "FTP/authoption=xml",
                                                        "FTP/logdir=<dir>/logs",
                                                        "FTP/cert=",
                                                        "FTP/key=",
                                                        "FTP/bandwidth=0",
                                                        "FTP/IP=127.0.0.1",
                                                        "Management/port=1010",
                                                        "Management/password=62#%8152@7&&",
                                                        "Management/IP=127.0.0.1"}
                                         << "127.0.0.1";
}

void tst_Configuration::saveWritesTheFixedOrder() {
  QFETCH(QByteArray, file);
  QFETCH(QString, edit);
  QFETCH(QStringList, expected);
  QFETCH(QString, host);
  ManagementListener listener;
  const QByteArray port = QByteArray::number(listener.Port());
  ProgramDirectory directory;
  const QString dir = directory.Path();
  QByteArray content = file;
  content.replace("/var/log/corvane", dir.toUtf8()).replace("/etc/corvane", dir.toUtf8());
  content.replace("10100", port);
  expected.replaceInStrings(QStringLiteral("<port>"), QString::fromLatin1(port));
  if (!file.isEmpty()) directory.Write(QStringLiteral("gc.xml"), content);
  directory.Write(QStringLiteral("c.cer"), "certificate");
  directory.Write(QStringLiteral("c.key"), "key");
  expected.replaceInStrings(QStringLiteral("<dir>"), dir);

  std::unique_ptr<TForm2> window = directory.OpenWindow();
  TForm2& w = *window;
  if (file.isEmpty() || edit == QStringLiteral("empty ssl")) {
    // The default certificate and key do not exist in a fresh directory; empty paths pass.
    Find<QLineEdit>(w, "CertFile_txt")->clear();
    Find<QLineEdit>(w, "KeyFile_txt")->clear();
  }
  if (edit == QStringLiteral("all management")) Find<QCheckBox>(w, "ActivateOnAll_chk2")->click();
  if (edit == QStringLiteral("windows")) Find<QRadioButton>(w, "RadioButton1")->click();
  if (edit == QStringLiteral("limit 500")) {
    Find<QCheckBox>(w, "CheckBox1")->click();
    Find<QLineEdit>(w, "BandwidthLimit_txt")->setText(QStringLiteral("500"));
  }
  if (edit == QStringLiteral("empty log")) Find<QLineEdit>(w, "DefaultLogFolder_txt")->clear();

  Find<QTabWidget>(w, "PageControl1")->setCurrentIndex(1);
  ModalScript script;
  script.Answer(QMessageBox::Ok);
  Find<QPushButton>(w, "Button1")->click();
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().front().caption, QStringLiteral("Information"));
  QCOMPARE(script.Seen().front().text,
           QStringLiteral("If you modified server wide configuration then you must restart "
                          "Corvane Service. You dont need to restart FTP Service if you only "
                          "modified Security rules."));
  QCOMPARE(script.Seen().front().icon, QMessageBox::NoIcon);
  QCOMPARE(script.Seen().front().owner, window.get());
  QCOMPARE(Find<QTabWidget>(w, "PageControl1")->currentIndex(), 0);
  QCOMPARE(Flatten(directory.File(QStringLiteral("gc.xml"))), expected);
  QCOMPARE(QString::fromStdString(w.Endpoint().host), host);
  // The rules reload goes to the saved management endpoint.
  if (!file.isEmpty()) QTRY_COMPARE(listener.Lines(), QStringList{"RULESRELOAD s3cret\r\n"});
}

void tst_Configuration::saveChecksInOrder_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("message");
  QTest::newRow("empty password") << "ServerPass_txt"
                                  << ""
                                  << "Invalid password";
  QTest::newRow("confirmation differs") << "ConfirmServerPass_txt"
                                        << "other"
                                        << "Password confirmation failed";
  QTest::newRow("log directory missing") << "DefaultLogFolder_txt"
                                         << "<dir>/none"
                                         << "Specified log directory dont exist";
  QTest::newRow("log directory is a file") << "DefaultLogFolder_txt"
                                           << "<dir>/c.key"
                                           << "Specified log directory dont exist";
  QTest::newRow("key file missing") << "KeyFile_txt"
                                    << "<dir>/none.key"
                                    << "Specified key file dont exist";
  QTest::newRow("certificate file missing") << "CertFile_txt"
                                            << "<dir>/none.cer"
                                            << "Specified certificate file dont exist";
  QTest::newRow("empty FTP port") << "lport"
                                  << ""
                                  << "Invalid FTP port";
  QTest::newRow("FTP port out of range") << "lport"
                                         << "65536"
                                         << "Invalid FTP port";
  QTest::newRow("pasted letters in the FTP port") << "lport"
                                                  << "21a"
                                                  << "Invalid FTP port";
  QTest::newRow("management port 0") << "mport"
                                     << "0"
                                     << "Invalid management port";
  QTest::newRow("pasted sign in connections") << "MaxCon_txt"
                                              << "-1"
                                              << "Invalid maximum connections";
  QTest::newRow("empty bandwidth limit") << "BandwidthLimit_txt"
                                         << ""
                                         << "Invalid bandwidth limit";
}

void tst_Configuration::saveChecksInOrder() {
  QFETCH(QString, field);
  QFETCH(QString, value);
  QFETCH(QString, message);
  ProgramDirectory directory;
  directory.Write(QStringLiteral("c.cer"), "certificate");
  directory.Write(QStringLiteral("c.key"), "key");
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  TForm2& w = *window;
  Find<QLineEdit>(w, "CertFile_txt")->setText(directory.File(QStringLiteral("c.cer")));
  Find<QLineEdit>(w, "KeyFile_txt")->setText(directory.File(QStringLiteral("c.key")));
  Find<QCheckBox>(w, "CheckBox1")->click();
  value.replace(QStringLiteral("<dir>"), directory.Path());
  w.findChild<QLineEdit*>(field)->setText(value);

  ModalScript script;
  script.Answer(QMessageBox::Ok);
  Find<QPushButton>(w, "Button1")->click();
  QTRY_VERIFY(script.Done());
  const SeenBox& box = script.Seen().front();
  QCOMPARE(box.caption, QStringLiteral("Error"));
  QCOMPARE(box.text, message);
  QCOMPARE(box.icon, QMessageBox::NoIcon);
  QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(box.owner, window.get());
  QVERIFY(!QFileInfo::exists(directory.File(QStringLiteral("gc.xml"))));
  QTest::qWait(50);
  QVERIFY(script.Unexpected().isEmpty());
}

void tst_Configuration::saveThatCannotWriteSendsNothing() {
  ManagementListener listener;
  ProgramDirectory directory;
  directory.Write(QStringLiteral("gc.xml"), ConfigWithManagement(listener.Port()));
  std::unique_ptr<TForm2> window = directory.OpenWindow();
  TForm2& w = *window;
  Find<QLineEdit>(w, "CertFile_txt")->clear();
  Find<QLineEdit>(w, "KeyFile_txt")->clear();
  Find<QLineEdit>(w, "ServerPass_txt")->setText(QStringLiteral("changed"));
  Find<QLineEdit>(w, "ConfirmServerPass_txt")->setText(QStringLiteral("changed"));
  // A directory where gc.xml should be cannot be replaced by a file, not even by root.
  QVERIFY(QFile::remove(directory.File(QStringLiteral("gc.xml"))));
  QVERIFY(QDir(directory.Path()).mkdir(QStringLiteral("gc.xml")));

  ModalScript script;
  script.Answer(QMessageBox::Ok);
  Find<QPushButton>(w, "Button1")->click();
  QTRY_VERIFY(script.Done());
  QCOMPARE(script.Seen().front().icon, QMessageBox::Critical);
  QVERIFY2(script.Seen().front().text.contains(QStringLiteral("gc.xml")),
           qPrintable(script.Seen().front().text));
  QTest::qWait(200);
  QVERIFY(script.Unexpected().isEmpty());  // no closing notice
  QCOMPARE(listener.Lines(), QStringList());
  QCOMPARE(QString::fromStdString(w.Endpoint().password), QStringLiteral("secret"));
}

QTEST_MAIN(tst_Configuration)
#include "tst_configuration.moc"
