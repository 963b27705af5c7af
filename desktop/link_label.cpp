#include "desktop/link_label.h"

#include <QMouseEvent>

namespace corvane {

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  QPalette palette = this->palette();
  palette.setColor(QPalette::Active, QPalette::WindowText, QColor(0, 0, 128));
  palette.setColor(QPalette::Inactive, QPalette::WindowText, QColor(0, 0, 128));
  setPalette(palette);
  QFont font = this->font();
  font.setUnderline(true);
  setFont(font);
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && isEnabled() &&
      rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

}  // namespace corvane
