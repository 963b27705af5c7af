#include "desktop/page_header.h"

#include <QFrame>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace corvane {
namespace {

const QColor kHeaderBlue(0, 0, 128);

QLabel* WhiteLabel(const QString& text, bool bold, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  label->setPalette(palette);
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
  return label;
}

}  // namespace

QVBoxLayout* AddHeaderPage(QStackedWidget* pages, const QString& object_name, const QString& title,
                           const QString& subtitle) {
  auto* page = new QWidget(pages);
  page->setObjectName(object_name);

  auto* band = new QFrame(page);
  band->setObjectName(object_name + QStringLiteral("Header"));
  band->setAutoFillBackground(true);
  QPalette palette = band->palette();
  palette.setColor(QPalette::Window, kHeaderBlue);
  band->setPalette(palette);
  auto* band_layout = new QVBoxLayout(band);
  band_layout->setContentsMargins(8, 4, 8, 4);
  band_layout->setSpacing(0);
  QLabel* title_label = WhiteLabel(title, true, band);
  title_label->setObjectName(object_name + QStringLiteral("Title"));
  QLabel* subtitle_label = WhiteLabel(subtitle, false, band);
  subtitle_label->setObjectName(object_name + QStringLiteral("Subtitle"));
  band_layout->addWidget(title_label);
  band_layout->addWidget(subtitle_label);

  auto* page_layout = new QVBoxLayout(page);
  page_layout->setContentsMargins(0, 0, 0, 0);
  page_layout->addWidget(band);
  auto* content = new QVBoxLayout;
  content->setContentsMargins(6, 4, 6, 4);
  page_layout->addLayout(content, 1);
  pages->addWidget(page);
  return content;
}

}  // namespace corvane
