// Renders the main window's Service tab and each configuration page into PNG files for the README,
// from the real window over a sample program directory. Usage: desktop_screenshots OUTPUT_DIR

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>

#include "desktop/main_window.h"

namespace {

void Write(const QString& path, const QByteArray& content) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(content);
}

bool Save(QWidget& window, const QString& path) {
  QApplication::processEvents();
  if (!window.grab().save(path)) {
    std::fprintf(stderr, "desktop_screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "Usage: desktop_screenshots OUTPUT_DIR\n");
    return 2;
  }
  const QDir output(QString::fromLocal8Bit(argv[1]));
  QTemporaryDir directory;
  Write(directory.filePath(QStringLiteral("gc.xml")),
        "<global><FTP><port>2121</port><maxcon>0</maxcon><authoption>xml</authoption>"
        "<logdir>/srv/corvane/logs</logdir><cert>/srv/corvane/default.cer</cert>"
        "<key>/srv/corvane/default.key</key><bandwidth>0</bandwidth><IP>127.0.0.1</IP></FTP>"
        "<Management><port>10100</port><password>demo-password</password><IP>127.0.0.1</IP>"
        "</Management></global>");
  Write(directory.filePath(QStringLiteral("users.xml")),
        "<users><user><username>demo</username><password>demo</password>"
        "<homedir>/srv/ftp/demo</homedir><status>1</status><bandwidth>0</bandwidth></user>"
        "<user><username>guest</username><password>guest</password>"
        "<homedir>/srv/ftp/public</homedir><status>0</status><bandwidth>64</bandwidth></user>"
        "</users>");

  corvane::TForm2 window({directory.path().toStdString(), [] {
                            return std::vector<std::string>{"192.168.1.20", "127.0.0.1"};
                          }});
  window.RunStartupSequence();
  window.show();

  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("TreeView1"));
  bool ok = Save(window, output.filePath(QStringLiteral("desktop-service.png")));
  tabs->setCurrentIndex(1);
  const char* const pages[] = {
      "general", "authentication", "ftp-service", "management-service", "security", "ssl"};
  for (int index = 0; index < tree->topLevelItemCount(); ++index) {
    tree->setCurrentItem(tree->topLevelItem(index));
    ok = Save(window, output.filePath(QStringLiteral("desktop-%1.png").arg(pages[index]))) && ok;
  }
  return ok ? 0 : 1;
}
