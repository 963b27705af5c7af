#include <QtTest>

#include "desktop/main_window.h"

class tst_MainWindow : public QObject {
  Q_OBJECT

 private slots:
  void buildsTheWindow() {
    QTemporaryDir directory;
    corvane::TForm2 window(
        {directory.path().toStdString(), [] { return std::vector<std::string>{}; }});
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvane Server Desktop"));
  }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_main_window.moc"
