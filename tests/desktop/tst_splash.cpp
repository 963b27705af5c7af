// The splash window at start and the About box from the Help menu.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "desktop/about_box.h"
#include "desktop/main_window.h"
#include "desktop/splash_form.h"

using namespace corvane;

class tst_Splash : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationName(QStringLiteral("Corvane Server")); }
  void splashLook();
  void splashClosesAfterAboutThreeSeconds();
  void aboutBoxFromTheHelpMenu();
};

void tst_Splash::splashLook() {
  TForm13 splash;
  QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
  QCOMPARE(splash.size(), QSize(302, 155));
  QCOMPARE(splash.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
           QStringLiteral("Version 0.1"));
  const QLabel* picture = splash.findChild<QLabel*>(QStringLiteral("Image1"));
  QCOMPARE(picture->pixmap().size(), QSize(300, 161));
  // The drawing was found and rendered: not every pixel is transparent.
  const QImage image = picture->pixmap().toImage();
  QVERIFY(image.pixelColor(150, 80).alpha() > 0);
}

void tst_Splash::splashClosesAfterAboutThreeSeconds() {
  TForm13 splash;
  QElapsedTimer shown;
  shown.start();
  // A safety net so that a splash that never closes fails instead of hanging.
  QTimer::singleShot(20000, &splash, &QDialog::reject);
  QCOMPARE(splash.exec(), int(QDialog::Accepted));
  const qint64 elapsed = shown.elapsed();
  QVERIFY2(elapsed >= 2500 && elapsed < 10000, qPrintable(QString::number(elapsed)));
}

void tst_Splash::aboutBoxFromTheHelpMenu() {
  QTemporaryDir directory;
  TForm2 window({directory.path().toStdString(), [] { return std::vector<std::string>{}; }});
  QAction* about = window.findChild<QAction*>(QStringLiteral("About1"));
  QVERIFY(about);

  // Each use shows a fresh box with the same texts; the operator closes it with its frame.
  QList<QPointer<TAboutBox>> seen;
  QStringList texts;
  QTimer closer;
  connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen << box;
    texts << box->windowTitle() << box->findChild<QLabel*>(QStringLiteral("ProductName"))->text()
          << box->findChild<QLabel*>(QStringLiteral("Version"))->text();
    QCOMPARE(box->size(), QSize(486, 309));
    QCOMPARE(box->findChild<QLabel*>(QStringLiteral("ProductName"))->font().pixelSize(), 32);
    QCOMPARE(box->parentWidget(), &window);
    box->close();
  });
  closer.start(10);
  about->trigger();
  about->trigger();
  closer.stop();

  const QStringList once = {"About", "Corvane Server", "Version 0.1 (beta)"};
  QCOMPARE(texts, once + once);
  QCOMPARE(seen.size(), 2);
  // Freed when closed.
  QVERIFY(seen[0].isNull() && seen[1].isNull());
}

QTEST_MAIN(tst_Splash)
#include "tst_splash.moc"
