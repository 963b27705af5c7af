#include "desktop/user_prompts.h"

#include <QMessageBox>

namespace corvane {

bool MessageBoxPrompts::Confirm(const QString& text) {
  return QMessageBox::question(parent_, QObject::tr("Confirmation"), text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void MessageBoxPrompts::Error(const QString& text) {
  QMessageBox::critical(parent_, QObject::tr("Error"), text);
}

}  // namespace corvane
