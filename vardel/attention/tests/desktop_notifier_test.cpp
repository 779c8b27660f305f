// The notifications client against a real dunst on a private session bus.

#include "vardel/attention/desktop_notifier.h"
#include "vardel/attention/tests/bus_peers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");

AlertRecord alert(const std::string& server, const std::string& text, std::int16_t severity) {
    AlertRecord r;
    r.serverName = server;
    r.alertText = text;
    r.severity = severity;
    return r;
}

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        const QString config = m_dir.filePath("dunstrc");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Nothing expires by itself: what is shown stays until the test closes it.
        file.write("[global]\n    monitor = 0\n    history_length = 2000\n    idle_threshold = 0\n"
                   "[urgency_low]\n    timeout = 0\n[urgency_normal]\n    timeout = 0\n"
                   "[urgency_critical]\n    timeout = 0\n");
        file.close();
        m_dunst = std::make_unique<BusDaemon>("dunst", QStringList{"-config", config}, kNotifications);
    }

    // Notifications dunst holds: waiting, on screen and in its history.
    static int dunstCount(const char* which) {
        return runTool("dunstctl", {"count", which}).trimmed().toInt();
    }
    static int dunstTotal() {
        return dunstCount("waiting") + dunstCount("displayed") + dunstCount("history");
    }
    // Closes every notification shown and returns dunst's history.
    static QJsonArray closedHistory() {
        runTool("dunstctl", {"close-all"});
        const QJsonObject history = QJsonDocument::fromJson(runTool("dunstctl", {"history"})).object();
        return history["data"].toArray().at(0).toArray();
    }
    static QString field(const QJsonValue& entry, const char* name) {
        return entry.toObject()[name].toObject()["data"].toVariant().toString();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<BusDaemon> m_dunst;
};

// One critical alert: a Notify call with urgency 2 that never expires, the
// server as summary and the alert text as body; "Show" chosen through the
// daemon reaches the console.
TEST_F(DesktopNotifierTest, CriticalAlertIsUrgentAndItsActionComesBack) {
    ASSERT_TRUE(m_dunst->start());
    const QString monitorLog = m_dir.filePath("monitor.txt");
    QProcess monitor;
    monitor.setStandardOutputFile(monitorLog);
    monitor.start("dbus-monitor", {"--session", "interface='org.freedesktop.Notifications',member='Notify'"});
    ASSERT_TRUE(monitor.waitForStarted());
    const auto logged = [&] {
        QFile f(monitorLog);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    // The monitor is in place once it has given up its own name.
    ASSERT_TRUE(waitUntil([&] { return logged().contains("NameLost"); }));

    DesktopNotifier notifier(QDBusConnection::sessionBus());
    QSignalSpy shown(&notifier, &DesktopNotifier::showRequested);
    notifier.notify(alert("alpha", "Volume SYS is full", kSeverityCritical));
    EXPECT_EQ(notifier.callsMade(), 0u) << "off by default";
    notifier.setEnabled(true);
    notifier.notify(alert("alpha", "Volume SYS is full", kSeverityCritical));
    ASSERT_TRUE(waitUntil([&] { return dunstCount("displayed") == 1 && notifier.idle(); }));
    EXPECT_EQ(notifier.callsFailed(), 0u);

    ASSERT_TRUE(waitUntil([&] { return logged().contains("member=Notify"); }));
    const QString call = logged().mid(logged().indexOf("member=Notify"));
    EXPECT_TRUE(call.contains(QRegularExpression(R"(string "urgency"\s+variant\s+byte 2)")))
        << call.toStdString();
    EXPECT_TRUE(call.contains(QRegularExpression(R"(string "desktop-entry"\s+variant\s+string "vardel")")));
    EXPECT_TRUE(call.contains(QRegularExpression(R"(string "default"\s+string "Show")")));
    EXPECT_TRUE(call.contains(QRegularExpression(R"(\]\s+int32 0\s*$)"))) << "expire_timeout 0";
    monitor.kill();
    monitor.waitForFinished();

    runTool("dunstctl", {"action", "0"});
    ASSERT_TRUE(waitUntil([&] { return shown.count() >= 1; }));
    EXPECT_EQ(shown.count(), 1);

    const QJsonArray history = closedHistory();
    ASSERT_EQ(history.size(), 1);
    EXPECT_EQ(field(history[0], "summary"), "alpha");
    EXPECT_EQ(field(history[0], "body"), "Volume SYS is full");
}

// A thousand alerts at once are one notification whose text is replaced.
TEST_F(DesktopNotifierTest, BurstIsOneReplacedNotification) {
    ASSERT_TRUE(m_dunst->start());
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    notifier.setEnabled(true);
    for (int i = 0; i < 1000; ++i)
        notifier.notify(alert("server" + std::to_string(i % 12), "Link down", kSeverityWarning));
    ASSERT_TRUE(waitUntil([&] { return notifier.callsMade() >= 2 && notifier.idle(); }));
    EXPECT_EQ(notifier.callsMade(), 2u);
    EXPECT_EQ(notifier.callsFailed(), 0u);
    EXPECT_LE(dunstTotal(), 2);
    const QJsonArray history = closedHistory();
    ASSERT_GE(history.size(), 1);
    EXPECT_EQ(field(history[0], "body"), "1000 new alerts from 12 servers");
}

// No daemon, then one that comes, dies in a burst and comes back: calls fail
// without a retry, and the notifications resume with the daemon.
TEST_F(DesktopNotifierTest, SurvivesMissingDyingAndLateDaemon) {
    DesktopNotifier notifier(QDBusConnection::sessionBus());
    notifier.setEnabled(true);
    for (int i = 0; i < 100; ++i)
        notifier.notify(alert("beta", "Fan failed", kSeverityCritical));
    ASSERT_TRUE(waitUntil([&] { return notifier.callsMade() >= 2 && notifier.idle(); }));
    EXPECT_EQ(notifier.callsMade(), 2u) << "a failed call is not repeated";
    EXPECT_EQ(notifier.callsFailed(), 2u);

    ASSERT_TRUE(m_dunst->start());
    const std::uint32_t before = notifier.callsMade();
    notifier.notify(alert("beta", "Fan failed", kSeverityCritical));
    ASSERT_TRUE(waitUntil([&] { return notifier.callsMade() > before && notifier.idle(); }));
    ASSERT_TRUE(waitUntil([&] { return dunstCount("displayed") >= 1; }));

    // Killed in the middle of a burst.
    for (int i = 0; i < 300; ++i)
        notifier.notify(alert("gamma", "Power lost", kSeverityWarning));
    ASSERT_TRUE(m_dunst->stop());
    for (int i = 0; i < 300; ++i)
        notifier.notify(alert("delta", "Power lost", kSeverityWarning));
    const std::uint32_t failed = notifier.callsFailed();
    ASSERT_TRUE(waitUntil([&] { return notifier.idle() && notifier.callsFailed() > failed; }));

    ASSERT_TRUE(m_dunst->start());
    for (int i = 0; i < 300; ++i)
        notifier.notify(alert("epsilon", "Power back", kSeverityNormal));
    ASSERT_TRUE(waitUntil([&] { return dunstCount("displayed") >= 1 && notifier.idle(); }));
    const QJsonArray history = closedHistory();
    ASSERT_GE(history.size(), 1);
    const QString body = field(history[0], "body");
    EXPECT_TRUE(body == "Power back" ||
                body.contains(QRegularExpression(R"(^\d+ new alerts from \d+ servers$)")))
        << body.toStdString();
}

} // namespace
