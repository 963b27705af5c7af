#pragma once

#include <QApplication>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace corvane {

// Handles each modal window that comes up with the next step, from the modal loop itself.
class ModalSteps {
 public:
  explicit ModalSteps(QList<std::function<void(QWidget*)>> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == last_) return;
      last_ = modal;
      if (steps_.isEmpty()) {
        // An unexpected window: close it rather than wait forever.
        unexpected_ = true;
        modal->close();
        return;
      }
      steps_.takeFirst()(modal);
    });
    timer_.start(10);
  }
  bool Done() const { return steps_.isEmpty() && !unexpected_; }

 private:
  QList<std::function<void(QWidget*)>> steps_;
  QPointer<QWidget> last_;
  bool unexpected_ = false;
  QTimer timer_;
};

}  // namespace corvane
