#include "desktop/field_helpers.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QPalette>

namespace corvane {
namespace {

class DigitOnlyFilter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    return !Accepts(*static_cast<QKeyEvent*>(event));
  }

 private:
  static bool Accepts(const QKeyEvent& key) {
    // Backspace and Delete (character codes 8 and 127) edit the field as usual.
    if (key.key() == Qt::Key_Backspace || key.key() == Qt::Key_Delete) return true;
    if (key.matches(QKeySequence::Paste)) return false;
    const Qt::KeyboardModifiers shortcut = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (key.modifiers() & shortcut) return false;
    const QString text = key.text();
    // Keys without a character (arrows, Home, End, Tab, Enter) keep their usual meaning.
    if (text.isEmpty()) return true;
    return text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9');
  }
};

}  // namespace

void SetFieldEnabled(QLineEdit* field, bool enabled) {
  field->setEnabled(enabled);
  QPalette palette = field->palette();
  const QPalette& standard = QApplication::palette();
  palette.setColor(QPalette::Base, enabled ? standard.color(QPalette::Active, QPalette::Base)
                                           : standard.color(QPalette::Active, QPalette::Button));
  field->setPalette(palette);
}

void AcceptDigitsOnly(QLineEdit* field) {
  field->installEventFilter(new DigitOnlyFilter(field));
}

void MaskWithAsterisks(QLineEdit* field) {
  field->setEchoMode(QLineEdit::Password);
  field->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
}

void ApplyFormFont(QWidget* form) {
  QFont font;
  if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) {
    font.setFamily(QStringLiteral("Tahoma"));
  } else {
    font.setStyleHint(QFont::SansSerif);
    font.setFamily(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  }
  font.setPointSize(8);
  form->setFont(font);
}

}  // namespace corvane
