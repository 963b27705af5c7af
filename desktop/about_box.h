#pragma once

#include <QDialog>

namespace corvane {

// The About box: the program picture, the product name (the application's display name) and
// the version, on a light grey panel. Closed only by its frame's close button.
class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // Shows a new box modally over parent and frees it when it is closed.
  static void ShowAbout(QWidget* parent);
};

}  // namespace corvane
