#pragma once

#include <QLabel>

namespace corvane {

// A link-style label (navy, underlined, hand cursor) that reports a left click while enabled.
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  TLinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace corvane
