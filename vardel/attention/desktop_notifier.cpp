#include "vardel/attention/desktop_notifier.h"

#include "vardel/attention/attention_summary.h"
#include "vardel/resources/string_table.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kShowAction = QStringLiteral("default");
const QString kAcknowledgeAction = QStringLiteral("acknowledge");

// The worse of two severity codes.
int worse(int a, int b) {
    return AttentionLevelOf(a) >= AttentionLevelOf(b) ? a : b;
}

// Urgency: 0 low, 1 normal, 2 critical.
uchar urgencyOf(int severity) {
    switch (AttentionLevelOf(severity)) {
    case AttentionLevel::critical:
        return 2;
    case AttentionLevel::normal:
        return 0;
    default:
        return 1;
    }
}

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {
    m_window.setSingleShot(true);
    m_window.setInterval(kBurstWindowMs);
    connect(&m_window, &QTimer::timeout, this, &DesktopNotifier::flush);
    if (!m_bus.isConnected())
        return;
    m_bus.connect(QString(), kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(QString(), kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
    // A daemon that ends or is replaced knows none of the earlier ids.
    auto* watcher = new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { forgetNotifications(); });
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::setEnabled(bool enabled) {
    m_enabled = enabled;
    if (!enabled) {
        m_pendingCount = 0;
        m_window.stop();
    }
}

void DesktopNotifier::notify(const AlertRecord& alert) {
    if (!m_enabled || !m_bus.isConnected())
        return;
    if (m_pendingCount == 0) {
        m_firstServer = alert.serverName;
        m_firstText = alert.alertText;
        m_pendingWorst = alert.severity;
    } else {
        m_pendingWorst = worse(m_pendingWorst, alert.severity);
    }
    m_pendingCount += 1;
    m_burstServers.insert(alert.serverName);
    m_burstIds.push_back(alert.alertId);
    if (!m_window.isActive())
        flush();
}

// Runs when an alert comes after a quiet window, and at the end of each window.
void DesktopNotifier::flush() {
    if (m_pendingCount == 0) {
        // A whole window without alerts ends the burst.
        m_burstCount = 0;
        m_burstServers.clear();
        m_burstWorst = 0;
        m_burstId = 0;
        m_burstIds.clear();
        return;
    }
    m_window.start();
    if (m_inFlight)
        return; // the id to replace is not known yet: the next window sends
    const bool single = m_burstCount == 0 && m_pendingCount == 1;
    m_burstCount += m_pendingCount;
    m_burstWorst = m_burstCount == m_pendingCount ? m_pendingWorst : worse(m_burstWorst, m_pendingWorst);
    m_pendingCount = 0;
    m_sentIds = m_burstIds;
    if (single) {
        send(QString::fromStdString(m_firstServer), QString::fromStdString(m_firstText), m_burstWorst);
        return;
    }
    send(QString::fromStdString(LoadString(IDS_PRODUCT_TITLE)),
         QString::fromStdString(FormatString(
             IDS_NOTIFY_STORM, {std::to_string(m_burstCount), std::to_string(m_burstServers.size())})),
         m_burstWorst);
}

void DesktopNotifier::send(const QString& summary, const QString& body, int severity) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const uchar urgency = urgencyOf(severity);
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgency));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vardel"));
    const QStringList actions{kShowAction, QString::fromStdString(LoadString(IDS_NOTIFY_SHOW)),
                              kAcknowledgeAction, QString::fromStdString(LoadString(IDS_NOTIFY_ACKNOWLEDGE))};
    call << QString::fromStdString(LoadString(IDS_PRODUCT_TITLE)) << m_burstId << QStringLiteral("vardel")
         << summary << body << actions << hints << (urgency == 2 ? 0 : -1);
    m_inFlight = true;
    m_callsMade += 1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onReply);
}

void DesktopNotifier::onReply(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    m_inFlight = false;
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        // No daemon, or one that died or hangs: the next alerts start afresh.
        m_callsFailed += 1;
        m_burstId = 0;
        return;
    }
    m_burstId = reply.value();
    m_alertsOf[m_burstId] = std::move(m_sentIds);
    m_sentIds.clear();
}

void DesktopNotifier::onActionInvoked(uint id, const QString& actionKey) {
    const auto it = m_alertsOf.find(id);
    if (it == m_alertsOf.end())
        return; // not one of this console's
    if (actionKey == kShowAction)
        emit showRequested();
    else if (actionKey == kAcknowledgeAction)
        emit acknowledgeRequested(QList<quint64>(it->second.begin(), it->second.end()));
}

void DesktopNotifier::onNotificationClosed(uint id, uint /*reason*/) {
    m_alertsOf.erase(id);
    if (id == m_burstId)
        m_burstId = 0;
}

void DesktopNotifier::forgetNotifications() {
    m_alertsOf.clear();
    m_burstId = 0;
}
