#include "desktop/svg_picture.h"

#include <QPainter>
#include <QSvgRenderer>

namespace corvane {

QPixmap SvgPicture(const QString& resource, QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  if (renderer.isValid()) {
    QPainter painter(&pixmap);
    renderer.render(&painter);
  }
  return pixmap;
}

}  // namespace corvane
