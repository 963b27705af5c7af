#include "desktop/message_boxes.h"

namespace corvane {

QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, buttons, owner);
  box.setObjectName(QStringLiteral("MessageBox"));
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowValidationError(QWidget* owner, const QString& text) {
  ShowMessageBox(owner, QObject::tr("Error"), text, QMessageBox::Ok);
}

void ShowInformation(QWidget* owner, const QString& text) {
  ShowMessageBox(owner, QObject::tr("Information"), text, QMessageBox::Ok);
}

bool AskInformation(QWidget* owner, const QString& text) {
  return ShowMessageBox(owner, QObject::tr("Information"), text,
                        QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void ShowErrorBox(QWidget* owner, const std::exception& error) {
  ShowMessageBox(owner, QString::fromLatin1(kApplicationTitle), QString::fromUtf8(error.what()),
                 QMessageBox::Ok, QMessageBox::Critical);
}

}  // namespace corvane
