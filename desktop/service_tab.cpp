#include "desktop/service_tab.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "desktop/link_label.h"

namespace corvane {
namespace {

QLabel* Picture(const QString& name, const QString& resource, QSize size, QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(name);
  picture->setFixedSize(size);
  picture->setPixmap(QIcon(resource).pixmap(size));
  return picture;
}

QGroupBox* WhiteGroup(const QString& title, QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  group->setAutoFillBackground(true);
  QPalette palette = group->palette();
  palette.setColor(QPalette::Window, Qt::white);
  group->setPalette(palette);
  return group;
}

QGroupBox* BuildStatusGroup(QWidget* parent) {
  QGroupBox* group = WhiteGroup(QObject::tr("Service Status"), parent);
  auto* status = new QLabel(QObject::tr("Stopped"), group);
  status->setObjectName(QStringLiteral("status_lbl"));
  status->setAlignment(Qt::AlignCenter);
  QFont arial(QStringLiteral("Arial"));
  arial.setStyleHint(QFont::SansSerif);
  arial.setPointSize(8);
  status->setFont(arial);

  // The four status pictures lie on one spot; exactly one of them is visible.
  auto* pictures = new QWidget(group);
  pictures->setFixedSize(50, 50);
  auto* stack = new QStackedLayout(pictures);
  stack->setStackingMode(QStackedLayout::StackAll);
  const QSize size(50, 50);
  QLabel* unknown = Picture(QStringLiteral("StatusUnknown"),
                            QStringLiteral(":/desktop/gear_grey.svg"), size, pictures);
  for (QLabel* picture : {unknown,
                          Picture(QStringLiteral("StatusRunning"),
                                  QStringLiteral(":/desktop/gear_green.svg"), size, pictures),
                          Picture(QStringLiteral("StatusStoped"),
                                  QStringLiteral(":/desktop/gear_red.svg"), size, pictures),
                          Picture(QStringLiteral("ServicePaused"),
                                  QStringLiteral(":/desktop/gear_yellow.svg"), size, pictures)}) {
    stack->addWidget(picture);
    picture->setVisible(picture == unknown);
  }

  auto* layout = new QHBoxLayout(group);
  layout->addWidget(Picture(QStringLiteral("Image2"), QStringLiteral(":/desktop/server.svg"),
                            QSize(48, 64), group));
  layout->addWidget(status, 1);
  layout->addWidget(pictures);
  return group;
}

QGroupBox* BuildUsersGroup(QWidget* parent) {
  auto* group = new QGroupBox(QObject::tr("Users Status"), parent);
  auto* count = new QLabel(QObject::tr("? users are connected"), group);
  count->setObjectName(QStringLiteral("TotalPorts_lbl"));
  (new QHBoxLayout(group))->addWidget(count);
  return group;
}

QGroupBox* BuildManagementGroup(QWidget* parent) {
  QGroupBox* group = WhiteGroup(QObject::tr("Service Management"), parent);
  const struct {
    const char* name;
    const char* caption;
  } links[] = {
      {"StartService_lbl", QT_TR_NOOP("Start Service")},
      {"StopService_lbl", QT_TR_NOOP("Stop Service")},
      {"PauseService_lbl", QT_TR_NOOP("Pause Service")},
      {"ResumeService_lbl", QT_TR_NOOP("Resume Service")},
      {"UninstallService_lbl", QT_TR_NOOP("Uninstall Service")},
      {"InstallService_lbl", QT_TR_NOOP("Reinstall Service")},
  };
  auto* layout = new QGridLayout(group);
  int index = 0;
  for (const auto& link : links) {
    auto* label = new TLinkLabel(QObject::tr(link.caption), group);
    label->setObjectName(QString::fromLatin1(link.name));
    layout->addWidget(label, index % 3, index / 3);
    ++index;
  }
  return group;
}

}  // namespace

QWidget* BuildServiceTab(QWidget* parent) {
  auto* tab = new QWidget(parent);
  tab->setObjectName(QStringLiteral("ServiceTab"));
  auto* banner = new QLabel(tab);
  banner->setObjectName(QStringLiteral("Image1"));
  banner->setPixmap(QIcon(QStringLiteral(":/desktop/banner.svg")).pixmap(QSize(500, 60)));
  banner->setAlignment(Qt::AlignCenter);

  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(banner);
  layout->addWidget(BuildStatusGroup(tab));
  layout->addWidget(BuildUsersGroup(tab));
  layout->addWidget(BuildManagementGroup(tab));
  layout->addStretch();
  return tab;
}

}  // namespace corvane
