#include "desktop/user_prompts.h"

#include "desktop/message_boxes.h"

namespace corvane {

bool MessageBoxPrompts::Confirm(const QString& text) {
  return ShowMessageBox(nullptr, QObject::tr("Confirmation"), text,
                        QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::Question) == QMessageBox::Yes;
}

void MessageBoxPrompts::Failure(const QString& text) {
  ShowMessageBox(nullptr, QObject::tr("Error"), text, QMessageBox::Ok, QMessageBox::Critical);
}

void MessageBoxPrompts::ValidationError(QWidget* owner, const QString& text) {
  ShowValidationError(owner, text);
}

}  // namespace corvane
