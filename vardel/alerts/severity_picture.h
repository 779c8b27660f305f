#pragma once
// The severity pictures (bitmaps 146, 148, 149, 150) and the edit text colour
// of each severity.

#include <QColor>
#include <QPixmap>

// The picture whose resource id is the severity code; a null pixmap for any
// other code.
QPixmap SeverityPicture(int severity);

// Text colour of the notify window's edits for a severity code.
QColor SeverityTextColor(int severity);
