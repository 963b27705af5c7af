#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace corvane {

// Renders the SVG drawing at resource (a ":/desktop/..." path) into a transparent pixmap of
// size; an unreadable drawing gives a transparent pixmap.
QPixmap SvgPicture(const QString& resource, QSize size);

}  // namespace corvane
