#include "vardel/shell/single_instance.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance(const std::string& title, const std::string& lockDirectory) {
    QString dir = QString::fromStdString(lockDirectory);
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    m_lock = std::make_unique<QLockFile>(QDir(dir).filePath(QString::fromStdString(title) + ".lock"));
    m_lock->setStaleLockTime(0);
}

bool SingleInstance::acquire() {
    return m_lock->tryLock(0);
}
