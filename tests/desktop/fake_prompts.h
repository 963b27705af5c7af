#pragma once

#include <QStringList>

#include "desktop/user_prompts.h"

namespace corvane {

// Answers every confirmation with `answer` and records what was asked and shown.
class FakePrompts final : public UserPrompts {
 public:
  bool Confirm(const QString& text) override {
    confirmations << text;
    return answer;
  }
  void Failure(const QString& text) override { errors << text; }
  void ValidationError(QWidget*, const QString& text) override { errors << text; }

  bool answer = true;
  QStringList confirmations;
  QStringList errors;
};

}  // namespace corvane
