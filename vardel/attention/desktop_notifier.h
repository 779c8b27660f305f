#pragma once
// The console's client of the desktop notification service
// (org.freedesktop.Notifications). Every call is asynchronous with a short
// time-out and may fail: the alert is then in the store, the log and the
// notify window all the same, and nothing is sent again.

#include "vardel/alerts/alert_record.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

class QDBusPendingCallWatcher;

class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    // A burst is one notification, its text replaced at most once a window.
    static constexpr int kBurstWindowMs = 1000;
    static constexpr int kCallTimeoutMs = 2000;

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;

    void setEnabled(bool enabled);
    bool enabled() const { return m_enabled; }

    // One new alert. The first of a burst is sent at once with its server
    // name and text; the following ones, a window later, as one notification
    // that replaces it: "37 new alerts from 12 servers".
    void notify(const AlertRecord& alert);

    // Notify calls issued, and those answered with an error or not at all.
    std::uint32_t callsMade() const { return m_callsMade; }
    std::uint32_t callsFailed() const { return m_callsFailed; }
    // No call under way and nothing waiting to be sent.
    bool idle() const { return !m_inFlight && m_pendingCount == 0; }

signals:
    // The user chose "Show" on one of the console's notifications.
    void showRequested();
    // The user chose "Acknowledge": the alerts (their alertId) the
    // notification stands for.
    void acknowledgeRequested(const QList<quint64>& alertIds);

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    void flush();
    void send(const QString& summary, const QString& body, int severity);
    void onReply(QDBusPendingCallWatcher* call);
    void forgetNotifications();

    QDBusConnection m_bus;
    bool m_enabled = false;
    QTimer m_window;
    bool m_inFlight = false;
    // Alerts not sent yet.
    std::uint32_t m_pendingCount = 0;
    // The ids of the burst's alerts, and of those the call in flight stands for.
    std::vector<quint64> m_burstIds;
    std::vector<quint64> m_sentIds;
    // The alerts of each notification still open.
    std::map<uint, std::vector<quint64>> m_alertsOf;
    // The first of them, and the worst severity among them.
    std::string m_firstServer, m_firstText;
    int m_pendingWorst = 0;
    // The burst so far: alerts, servers and worst severity, and the
    // notification that stands for it (0: none yet).
    std::uint64_t m_burstCount = 0;
    std::set<std::string> m_burstServers;
    int m_burstWorst = 0;
    uint m_burstId = 0;
    std::uint32_t m_callsMade = 0;
    std::uint32_t m_callsFailed = 0;
};
