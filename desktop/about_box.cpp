#include "desktop/about_box.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <QIcon>

namespace corvane {

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(tr("About"));
  setFixedSize(486, 309);
  setAutoFillBackground(true);
  QPalette grey = palette();
  grey.setColor(QPalette::Window, QColor(233, 233, 233));
  setPalette(grey);

  auto* panel = new QFrame;
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* picture = new QLabel;
  picture->setObjectName(QStringLiteral("ProgramIcon"));
  picture->setFixedSize(190, 278);
  picture->setPixmap(QIcon(QStringLiteral(":/desktop/about.svg")).pixmap(QSize(190, 278)));

  auto* product = new QLabel(QGuiApplication::applicationDisplayName());
  product->setObjectName(QStringLiteral("ProductName"));
  QFont impact(QStringLiteral("Impact"));
  impact.setPixelSize(32);
  product->setFont(impact);
  auto* version = new QLabel(tr("Version 0.1 (beta)"));
  version->setObjectName(QStringLiteral("Version"));

  auto* texts = new QVBoxLayout;
  texts->addWidget(product);
  texts->addWidget(version);
  texts->addStretch(1);
  auto* inside = new QHBoxLayout(panel);
  inside->addWidget(picture);
  inside->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
}

void TAboutBox::ShowAbout(QWidget* parent) {
  TAboutBox box(parent);
  box.exec();
}

}  // namespace corvane
