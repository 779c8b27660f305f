#pragma once
// What the dialogs of this folder share: the framework's message box, the
// help key, visible focus in multi-line fields and lists, and the edit styles (upper
// case, digits only).

#include "vardel/resources/qt_text.h"

#include <QString>
#include <string>

class QDialog;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace editing {

using ::toQt;
using ::toStd;

// The framework's box: the program's name as caption, OK, the warning icon.
void FrameworkMessageBox(QWidget* owner, const std::string& text);
// The framework's refusal of a field longer than limit bytes.
void FrameworkMaxCharsBox(QWidget* owner, int limit);

// F1 opens the help contents; multi-line fields and lists show a focus frame.
void ApplyDialogManners(QDialog* dialog);

// Typed and pasted letters become capitals.
void KeepUpperCase(QLineEdit* edit);
void KeepUpperCase(QPlainTextEdit* edit);
// Only the digits 0 to 9 can be typed or pasted.
void AcceptDigitsOnly(QLineEdit* edit);

} // namespace editing
