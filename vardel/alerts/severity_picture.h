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

// The one background of the notify window's fields, whatever the severity:
// the platform's read-only field background when every severity's text reads
// on it at 4.5:1 or more, else white.
QColor SeverityFieldBackground(const QColor& readOnlyBackground);
