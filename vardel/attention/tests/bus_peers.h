#pragma once
// The daemons of the attention tests, on the private session bus of
// scripts/in-private-bus, and a bounded wait on a condition.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>

// Runs the event loop until cond holds or the bound passes; cond's last value.
inline bool waitUntil(const std::function<bool()>& cond, int boundMs = 30000) {
    QDeadlineTimer deadline(boundMs);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

// Calls on the session bus and waits at most boundMs for the answer, turning
// the event loop meanwhile. The bound is the test's own: a blocking call can
// outlive its time-out on a loaded machine. An error reply when none came.
inline QDBusMessage callWithin(const QDBusMessage& message, int boundMs = 5000) {
    const QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, boundMs);
    if (!waitUntil([&] { return pending.isFinished(); }, boundMs + 1000))
        return message.createErrorReply(QDBusError::Timeout, QStringLiteral("no answer"));
    return pending.reply();
}

inline bool busNameOwned(const QString& name) {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value();
}

// A daemon started by the test, killed at the end.
class BusDaemon {
public:
    BusDaemon(QString program, QStringList arguments, QString busName)
        : m_program(std::move(program)), m_arguments(std::move(arguments)), m_busName(std::move(busName)) {}
    ~BusDaemon() { stop(); }

    // Starts it and waits until it owns its bus name.
    bool start() {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->setStandardOutputFile(QProcess::nullDevice());
        m_process->start(m_program, m_arguments);
        if (!m_process->waitForStarted(10000))
            return false;
        return waitUntil([this] { return busNameOwned(m_busName); });
    }
    // Kills it and waits until its name is gone from the bus.
    bool stop() {
        if (!m_process)
            return true;
        m_process->kill();
        m_process->waitForFinished(10000);
        m_process.reset();
        return waitUntil([this] { return !busNameOwned(m_busName); });
    }

private:
    QString m_program;
    QStringList m_arguments;
    QString m_busName;
    std::unique_ptr<QProcess> m_process;
};

// Runs a command to its end; its standard output.
inline QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    tool.waitForFinished(20000);
    return tool.readAllStandardOutput();
}
