#include "desktop/service_panel.h"

#include <optional>
#include <stdexcept>

#include <QColor>
#include <QLabel>
#include <QWidget>

#include "desktop/link_label.h"
#include "desktop/status_thread.h"
#include "desktop/user_prompts.h"

namespace corvane {
namespace {

enum Link { kStart, kStop, kPause, kResume, kUninstall, kReinstall };
enum Picture { kUnknownGear, kRunningGear, kStoppedGear, kPausedGear };

struct StatusLook {
  const char* text;
  std::optional<QColor> colour;  // std::nullopt: the colour stays as it is
  Picture picture;
  bool start, stop, pause, resume;
};

StatusLook LookFor(int code) {
  switch (code) {
    case kStatusStopped:
      return {QT_TR_NOOP("Corvane Service is Stopped"),
              QColor(Qt::red),
              kStoppedGear,
              true,
              false,
              false,
              false};
    case kStatusRunning:
      return {QT_TR_NOOP("Corvane Service is Running"),
              QColor(0, 128, 0),
              kRunningGear,
              false,
              true,
              true,
              false};
    case kStatusStarting:
      return {QT_TR_NOOP("Corvane Service is Starting"),
              QColor(Qt::yellow),
              kPausedGear,
              false,
              false,
              false,
              false};
    case kStatusStopping:
      return {QT_TR_NOOP("Corvane Service is Stoping"),
              std::nullopt,
              kPausedGear,
              false,
              false,
              false,
              false};
    case kStatusPaused:
      return {QT_TR_NOOP("Corvane Service is Paused"),
              std::nullopt,
              kPausedGear,
              false,
              true,
              false,
              true};
    default:
      return {QT_TR_NOOP("Failed to get Corvane service status"),
              QColor(Qt::black),
              kUnknownGear,
              false,
              false,
              false,
              false};
  }
}

template <typename Widget>
Widget* Find(QWidget* tab, const char* name) {
  auto* widget = tab->findChild<Widget*>(QLatin1String(name));
  if (widget == nullptr) throw std::logic_error(std::string("Service tab without ") + name);
  return widget;
}

}  // namespace

ServicePanel::ServicePanel(QWidget* service_tab, QString unit_name, UserPrompts& prompts,
                           QObject* parent)
    : QObject(parent), prompts_(prompts), control_(std::move(unit_name)) {
  status_lbl_ = Find<QLabel>(service_tab, "status_lbl");
  total_ports_lbl_ = Find<QLabel>(service_tab, "TotalPorts_lbl");
  const char* const pictures[] = {"StatusUnknown", "StatusRunning", "StatusStoped",
                                  "ServicePaused"};
  for (int i = 0; i < 4; ++i) pictures_[i] = Find<QLabel>(service_tab, pictures[i]);
  const char* const links[] = {"StartService_lbl",  "StopService_lbl",      "PauseService_lbl",
                               "ResumeService_lbl", "UninstallService_lbl", "InstallService_lbl"};
  for (int i = 0; i < 6; ++i) {
    TLinkLabel* link = Find<TLinkLabel>(service_tab, links[i]);
    links_[i] = link;
    connect(link, &TLinkLabel::clicked, this, [this, i] {
      switch (i) {
        case kStart:
          return RunAction(ServiceAction::Start);
        case kStop:
          return RunAction(ServiceAction::Stop);
        case kPause:
          return RunAction(ServiceAction::Pause);
        case kResume:
          return RunAction(ServiceAction::Resume);
        // Installing and removing the unit is the service program's own job; these only ask.
        case kUninstall:
          prompts_.Confirm(tr("Are you sure you want to uninstall Corvane Service?"));
          return;
        default:
          prompts_.Confirm(tr("Are you sure you want to install Corvane Service?"));
          return;
      }
    });
  }
  connect(&control_, &ServiceControl::StatusReported, this, &ServicePanel::ShowServiceStatus);
  connect(&control_, &ServiceControl::RequestFailed, this, &ServicePanel::ShowFailure);
}

ServicePanel::~ServicePanel() {
  // The poller posts to this panel: it must end first.
  poller_.reset();
}

void ServicePanel::StartStatusPoller(const std::string& mgmt_host, std::uint16_t mgmt_port,
                                     const std::string& mgmt_password) {
  if (poller_) return;
  poller_ = std::make_unique<StatusThread>(mgmt_host, mgmt_port, mgmt_password, this);
  poller_->start();
}

void ServicePanel::OpenServiceControl() {
  control_.Open();
}

void ServicePanel::PollServiceStatus() {
  control_.Poll();
}

void ServicePanel::ShowServiceStatus(int code) {
  const StatusLook look = LookFor(code);
  status_lbl_->setText(tr(look.text));
  if (look.colour) {
    QPalette colours = status_lbl_->palette();
    colours.setColor(QPalette::WindowText, *look.colour);
    status_lbl_->setPalette(colours);
  }
  for (int i = 0; i < 4; ++i) pictures_[i]->setVisible(i == look.picture);
  links_[kStart]->setEnabled(look.start);
  links_[kStop]->setEnabled(look.stop);
  links_[kPause]->setEnabled(look.pause);
  links_[kResume]->setEnabled(look.resume);
  links_[kUninstall]->setEnabled(false);
  links_[kReinstall]->setEnabled(false);
}

bool ServicePanel::event(QEvent* event) {
  if (event->type() == kStatusReplyEventType) {
    total_ports_lbl_->setText(ConnectedUsersText(static_cast<StatusReplyEvent*>(event)->Line()));
    return true;
  }
  return QObject::event(event);
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
  prompts_.Failure(tr(kFailures[static_cast<int>(action)]));
}

}  // namespace corvane
