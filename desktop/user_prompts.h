#pragma once

#include <QString>

class QWidget;

namespace corvane {

// The message boxes through which the desktop asks and tells the operator. Tests answer them
// with a stand-in instead of a person.
class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // Caption "Confirmation", Yes and No, question icon; true only when the answer is Yes.
  virtual bool Confirm(const QString& text) = 0;
  // Caption "Error", error icon, OK.
  virtual void Error(const QString& text) = 0;
};

// Real message boxes, owned by parent (nullptr: no owner window).
class MessageBoxPrompts final : public UserPrompts {
 public:
  explicit MessageBoxPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  bool Confirm(const QString& text) override;
  void Error(const QString& text) override;

 private:
  QWidget* parent_;
};

}  // namespace corvane
