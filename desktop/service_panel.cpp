#include "desktop/service_panel.h"

#include <functional>

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "desktop/status_thread.h"
#include "desktop/svg_picture.h"
#include "desktop/user_prompts.h"

namespace corvane {
namespace {

constexpr int kPollIntervalMs = 5000;

// A label that looks and acts like a link: navy, underlined, hand cursor. Disabled, it takes
// no clicks.
class LinkLabel final : public QLabel {
 public:
  LinkLabel(const QString& text, const QString& name, std::function<void()> on_click)
      : QLabel(text), on_click_(std::move(on_click)) {
    setObjectName(name);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette colours = palette();
    colours.setColor(QPalette::Active, QPalette::WindowText, QColor(Qt::darkBlue));
    colours.setColor(QPalette::Inactive, QPalette::WindowText, QColor(Qt::darkBlue));
    setPalette(colours);
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      on_click_();
    }
  }

 private:
  std::function<void()> on_click_;
};

QLabel* Picture(const QString& resource, const QString& name, QSize size) {
  auto* label = new QLabel;
  label->setObjectName(name);
  label->setFixedSize(size);
  label->setPixmap(SvgPicture(resource, size));
  return label;
}

QGroupBox* WhiteGroup(const QString& title) {
  auto* group = new QGroupBox(title);
  group->setAutoFillBackground(true);
  QPalette white = group->palette();
  white.setColor(QPalette::Window, Qt::white);
  group->setPalette(white);
  return group;
}

struct StatusLook {
  QString text;
  std::optional<QColor> colour;  // std::nullopt: keep the current one
  int picture;                   // 0 unknown, 1 running, 2 stopped, 3 paused
  bool start, stop, pause, resume;
};

StatusLook LookFor(int code) {
  switch (code) {
    case kStatusStopped:
      return {
          QObject::tr("Corvane Service is Stopped"), QColor(Qt::red), 2, true, false, false, false};
    case kStatusRunning:
      return {QObject::tr("Corvane Service is Running"),
              QColor(0, 128, 0),
              1,
              false,
              true,
              true,
              false};
    case kStatusStarting:
      return {QObject::tr("Corvane Service is Starting"),
              QColor(Qt::yellow),
              3,
              false,
              false,
              false,
              false};
    case kStatusStopping:
      return {
          QObject::tr("Corvane Service is Stoping"), std::nullopt, 3, false, false, false, false};
    case kStatusPaused:
      return {QObject::tr("Corvane Service is Paused"), std::nullopt, 3, false, true, false, true};
    default:
      return {QObject::tr("Failed to get Corvane service status"),
              QColor(Qt::black),
              0,
              false,
              false,
              false,
              false};
  }
}

}  // namespace

ServicePanel::ServicePanel(QString unit_name, UserPrompts& prompts, QWidget* parent)
    : QWidget(parent), prompts_(prompts), control_(std::move(unit_name)) {
  auto* status_group = WhiteGroup(tr("Service Status"));
  auto* status_layout = new QGridLayout(status_group);
  status_layout->addWidget(Picture(QStringLiteral(":/desktop/service.svg"),
                                   QStringLiteral("ServicePicture"), QSize(50, 50)),
                           0, 0);
  status_lbl_ = new QLabel(tr("Stopped"));
  status_lbl_->setObjectName(QStringLiteral("status_lbl"));
  status_lbl_->setAlignment(Qt::AlignCenter);
  status_lbl_->setFont(QFont(QStringLiteral("Arial"), 8));
  status_layout->addWidget(status_lbl_, 0, 1);
  status_unknown_ = Picture(QStringLiteral(":/desktop/gear_grey.svg"),
                            QStringLiteral("StatusUnknown"), QSize(50, 50));
  status_running_ = Picture(QStringLiteral(":/desktop/gear_green.svg"),
                            QStringLiteral("StatusRunning"), QSize(50, 50));
  status_stoped_ = Picture(QStringLiteral(":/desktop/gear_red.svg"), QStringLiteral("StatusStoped"),
                           QSize(50, 50));
  service_paused_ = Picture(QStringLiteral(":/desktop/gear_yellow.svg"),
                            QStringLiteral("ServicePaused"), QSize(50, 50));
  for (QLabel* gear : {status_unknown_, status_running_, status_stoped_, service_paused_}) {
    status_layout->addWidget(gear, 0, 2);
    gear->setVisible(gear == status_unknown_);
  }
  status_layout->setColumnStretch(1, 1);

  auto* users_group = new QGroupBox(tr("Users Status"));
  auto* users_layout = new QVBoxLayout(users_group);
  total_ports_lbl_ = new QLabel(tr("? users are connected"));
  total_ports_lbl_->setObjectName(QStringLiteral("TotalPorts_lbl"));
  users_layout->addWidget(total_ports_lbl_);

  auto* management_group = WhiteGroup(tr("Service Management"));
  auto* management_layout = new QGridLayout(management_group);
  const auto link = [&](const QString& text, const QString& name, std::function<void()> click) {
    auto* label = new LinkLabel(text, name, std::move(click));
    const int index = management_layout->count();
    management_layout->addWidget(label, index / 2, index % 2);
    return label;
  };
  start_service_lbl_ = link(tr("Start Service"), QStringLiteral("StartService_lbl"),
                            [this] { RunAction(ServiceAction::Start); });
  stop_service_lbl_ = link(tr("Stop Service"), QStringLiteral("StopService_lbl"),
                           [this] { RunAction(ServiceAction::Stop); });
  pause_service_lbl_ = link(tr("Pause Service"), QStringLiteral("PauseService_lbl"),
                            [this] { RunAction(ServiceAction::Pause); });
  resume_service_lbl_ = link(tr("Resume Service"), QStringLiteral("ResumeService_lbl"),
                             [this] { RunAction(ServiceAction::Resume); });
  // Installing and removing the unit is the service program's own job; these only ask.
  uninstall_service_lbl_ =
      link(tr("Uninstall Service"), QStringLiteral("UninstallService_lbl"),
           [this] { prompts_.Confirm(tr("Are you sure you want to uninstall Corvane Service?")); });
  install_service_lbl_ =
      link(tr("Reinstall Service"), QStringLiteral("InstallService_lbl"),
           [this] { prompts_.Confirm(tr("Are you sure you want to install Corvane Service?")); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_group);
  layout->addWidget(users_group);
  layout->addWidget(management_group);
  layout->addStretch(1);

  connect(&control_, &ServiceControl::StatusReported, this, &ServicePanel::ShowServiceStatus);
  connect(&control_, &ServiceControl::RequestFailed, this, &ServicePanel::ShowFailure);
  timer2_.setInterval(kPollIntervalMs);
  connect(&timer2_, &QTimer::timeout, this, &ServicePanel::PollServiceStatus);
  timer2_.start();
}

ServicePanel::~ServicePanel() {
  // The poller posts to this panel: it must end first.
  poller_.reset();
}

void ServicePanel::Activate(const std::string& mgmt_host, std::uint16_t mgmt_port,
                            const std::string& mgmt_password) {
  if (activated_) return;
  activated_ = true;
  poller_ = std::make_unique<StatusThread>(mgmt_host, mgmt_port, mgmt_password, this);
  poller_->start();
  control_.Open();
}

void ServicePanel::PollServiceStatus() {
  control_.Poll();
}

void ServicePanel::ShowServiceStatus(int code) {
  const StatusLook look = LookFor(code);
  status_lbl_->setText(look.text);
  if (look.colour) {
    QPalette colours = status_lbl_->palette();
    colours.setColor(QPalette::WindowText, *look.colour);
    status_lbl_->setPalette(colours);
  }
  QLabel* const pictures[] = {status_unknown_, status_running_, status_stoped_, service_paused_};
  for (int i = 0; i < 4; ++i) pictures[i]->setVisible(i == look.picture);
  start_service_lbl_->setEnabled(look.start);
  stop_service_lbl_->setEnabled(look.stop);
  pause_service_lbl_->setEnabled(look.pause);
  resume_service_lbl_->setEnabled(look.resume);
  uninstall_service_lbl_->setEnabled(false);
  install_service_lbl_->setEnabled(false);
}

bool ServicePanel::event(QEvent* event) {
  if (event->type() == kStatusReplyEventType) {
    total_ports_lbl_->setText(ConnectedUsersText(static_cast<StatusReplyEvent*>(event)->Line()));
    return true;
  }
  return QWidget::event(event);
}

void ServicePanel::RunAction(ServiceAction action) {
  static const char* const kQuestions[] = {
      QT_TR_NOOP("Are you sure you want to start Corvane Service?"),
      QT_TR_NOOP("Are you sure you want to stop Corvane Service?"),
      QT_TR_NOOP("Are you sure you want to pause Corvane Service?"),
      QT_TR_NOOP("Are you sure you want to resume Corvane Service?")};
  if (!prompts_.Confirm(tr(kQuestions[static_cast<int>(action)]))) return;
  control_.Request(action);
}

void ServicePanel::ShowFailure(ServiceAction action) {
  static const char* const kFailures[] = {
      QT_TR_NOOP("Failed to start service."), QT_TR_NOOP("Failed to stop service."),
      QT_TR_NOOP("Failed to pause service."), QT_TR_NOOP("Failed to resume service.")};
  prompts_.Error(tr(kFailures[static_cast<int>(action)]));
}

}  // namespace corvane
