#pragma once

class QLineEdit;
class QWidget;

namespace corvane {

// Enables or disables an edit and paints its background as the form does: the window colour when
// enabled, the menu-bar colour when disabled. The text is left alone.
void SetFieldEnabled(QLineEdit* field, bool enabled);

// Lets the edit take only typed digits, Backspace and Delete; every other typed character and the
// clipboard shortcuts are discarded. Text pasted from the edit's own context menu is not filtered.
void AcceptDigitsOnly(QLineEdit* field);

// Hides the edit's text behind one "*" per character.
void MaskWithAsterisks(QLineEdit* field);

// Gives a form its font: Tahoma 8 pt where the system has it, else the sans-serif at 8 pt.
void ApplyFormFont(QWidget* form);

}  // namespace corvane
