#include "desktop/splash_form.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <QIcon>

namespace corvane {
namespace {
constexpr int kShowMs = 3000;
}

TForm13::TForm13(QWidget* parent) : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("SplashForm"));
  setWindowTitle(QStringLiteral("SplashForm"));
  setFixedSize(302, 155);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("Image1"));
  picture->setGeometry(0, 0, 300, 161);
  picture->setPixmap(QIcon(QStringLiteral(":/desktop/splash.svg")).pixmap(QSize(300, 161)));

  auto* version = new QLabel(tr("Version 0.1"), this);
  version->setObjectName(QStringLiteral("Label1"));
  version->setAutoFillBackground(true);
  version->move(8, 8);
  version->adjustSize();

  timer1_.setSingleShot(true);
  timer1_.setTimerType(Qt::PreciseTimer);
  timer1_.setInterval(kShowMs);
  connect(&timer1_, &QTimer::timeout, this, &QDialog::accept);
}

void TForm13::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  // Counted from showing rather than activation: a frameless window may never be activated
  // (no window manager), and the program must still go on.
  if (!timer1_.isActive()) timer1_.start();
}

}  // namespace corvane
