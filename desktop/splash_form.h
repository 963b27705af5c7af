#pragma once

#include <QDialog>
#include <QTimer>

namespace corvane {

// The borderless start-up picture with the version label. Shown modally before the main window;
// closes itself 3000 ms (Timer1) after it is shown.
class TForm13 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm13(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QTimer timer1_;
};

}  // namespace corvane
