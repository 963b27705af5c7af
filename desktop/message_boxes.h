#pragma once

#include <QMessageBox>
#include <QString>
#include <exception>
#include <utility>

class QWidget;

namespace corvane {

// The application title; the caption of the framework's error box.
inline constexpr char kApplicationTitle[] = "Corvane Server";

// Shows a modal message box owned by owner (a box of its own when owner is null) and returns the
// button that closed it.
QMessageBox::StandardButton ShowMessageBox(QWidget* owner, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::Icon icon = QMessageBox::NoIcon);

// Caption "Error", OK, no icon: the validation messages.
void ShowValidationError(QWidget* owner, const QString& text);
// Caption "Information", OK, no icon.
void ShowInformation(QWidget* owner, const QString& text);
// Caption "Information", Yes and No, no icon; true when the operator answered Yes.
bool AskInformation(QWidget* owner, const QString& text);

// The framework's error box for an error that escaped an operation: caption kApplicationTitle,
// error icon, OK, the error's message as text.
void ShowErrorBox(QWidget* owner, const std::exception& error);

// Runs action; an exception it throws is shown in the framework's error box. Returns whether the
// action finished without one. Keeps exceptions out of the event loop, where Qt cannot take them.
template <typename Action>
bool RunGuarded(QWidget* owner, Action&& action) {
  try {
    std::forward<Action>(action)();
    return true;
  } catch (const std::exception& error) {
    ShowErrorBox(owner, error);
    return false;
  }
}

}  // namespace corvane
