#pragma once

#include <QString>

class QWidget;

namespace corvane {

// The message boxes through which the service panel and the rule dialog ask and tell the
// operator. Tests answer them with a stand-in instead of a person.
class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // Service-control question: caption "Confirmation", Yes and No, question icon, no owner
  // window; true only when the answer is Yes.
  virtual bool Confirm(const QString& text) = 0;
  // Service-control failure: caption "Error", error icon, OK, no owner window.
  virtual void Failure(const QString& text) = 0;
  // Validation error of a dialog: caption "Error", OK, owned by the dialog.
  virtual void ValidationError(QWidget* owner, const QString& text) = 0;
};

// The real message boxes.
class MessageBoxPrompts final : public UserPrompts {
 public:
  bool Confirm(const QString& text) override;
  void Failure(const QString& text) override;
  void ValidationError(QWidget* owner, const QString& text) override;
};

}  // namespace corvane
