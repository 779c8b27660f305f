#pragma once
// The severity pictures (bitmaps 146, 148, 149, 150), the edit text colour
// of each severity and the field background it is read on.

#include <QColor>
#include <QPixmap>

// The picture whose resource id is the severity code; a null pixmap for any
// other code.
QPixmap SeverityPicture(int severity);

// Text colour of the notify window's edits for a severity code.
QColor SeverityTextColor(int severity);

// Contrast ratio of two colours (relative luminance, 1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);

// The background of the notify window's fields for a severity: the platform's
// read-only field background, unless the severity's text colour reads at less
// than 4.5:1 on it; then a dark (or, failing that, white) field on which it does.
QColor SeverityFieldBackground(int severity, const QColor& readOnlyBackground);
