#pragma once

#include <QString>

class QStackedWidget;
class QVBoxLayout;

namespace corvane {

// Appends a configuration page to the page stack: a dark blue header band with the bold white
// title and the white subtitle, then an empty area whose layout is returned for the page's groups.
QVBoxLayout* AddHeaderPage(QStackedWidget* pages, const QString& object_name, const QString& title,
                           const QString& subtitle);

}  // namespace corvane
