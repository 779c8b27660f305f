#pragma once
// What the windows of every folder share: texts between the program's UTF-8
// strings and Qt's, and the wait cursor for the length of a scope.

#include <QApplication>
#include <QString>
#include <string>

inline QString toQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string toStd(const QString& text) {
    return text.toStdString();
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
