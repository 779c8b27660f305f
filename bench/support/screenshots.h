#pragma once
// Shared by the screenshot tools: the picture directory named on the command
// line, and saving a widget's grab into it.

#include <QApplication>
#include <QDir>
#include <QWidget>
#include <cstdio>
#include <optional>

namespace screenshots {

// The directory of `tool <directory>`, created; nothing (after saying why on
// standard error) when the command line is wrong or it cannot be created.
inline std::optional<QDir> outputDirectory(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return std::nullopt;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return std::nullopt;
    }
    return out;
}

// Grabs widget into out/file and prints the path; false, said on standard
// error, when the picture cannot be written.
inline bool save(QWidget& widget, const QDir& out, const char* file) {
    QApplication::processEvents();
    const QString path = out.filePath(QString::fromLatin1(file));
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace screenshots
