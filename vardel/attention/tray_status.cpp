#include "vardel/attention/tray_status.h"

#include "vardel/alerts/severity_picture.h"
#include "vardel/resources/string_table.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <xcb/xcb.h>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr int kAskTimeoutMs = 2000;

// Lamp centres of the 50x150 severity pictures, top to bottom.
constexpr int kLampY[] = {27, 75, 123};
constexpr int kLampBox = 48;

} // namespace

TrayStatus::TrayStatus(TrayActions actions, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_actions(std::move(actions)), m_bus(std::move(bus)) {
    m_lookTimer.setInterval(kTrayLookMs);
    connect(&m_lookTimer, &QTimer::timeout, this, &TrayStatus::look);
}

TrayStatus::~TrayStatus() = default;

QPixmap TrayStatus::pictureOf(AttentionLevel level) {
    int picture = kSeverityNormal;
    int lamp = 0;
    switch (level) {
    case AttentionLevel::critical:
        picture = kSeverityCritical;
        break;
    case AttentionLevel::warning:
        picture = kSeverityWarning;
        lamp = 1;
        break;
    case AttentionLevel::informational:
        picture = kSeverityInformational;
        break;
    case AttentionLevel::normal:
        lamp = 2;
        break;
    case AttentionLevel::none:
        picture = kSeverityCritical;
        lamp = 1;
        break;
    }
    return SeverityPicture(picture).copy(1, kLampY[lamp] - kLampBox / 2, kLampBox, kLampBox);
}

void TrayStatus::start() {
    if (m_bus.isConnected()) {
        auto* watcher =
            new QDBusServiceWatcher(kWatcherService, m_bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &TrayStatus::look);
        m_bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                      QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(look()));
    }
    m_lookTimer.start();
    look();
}

void TrayStatus::look() {
    if (m_icon)
        return;
    if (m_asking) {
        m_lookAgain = true;
        return;
    }
    if (!m_bus.isConnected()) {
        onHostAnswer(false);
        return;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    ask << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    m_asking = true;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(ask, kAskTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QDBusVariant> reply = *done;
        onHostAnswer(!reply.isError() && reply.value().variant().toBool());
        if (m_lookAgain) {
            m_lookAgain = false;
            look();
        }
    });
}

void TrayStatus::onHostAnswer(bool hostRegistered) {
    if (m_icon)
        return;
    if (hostRegistered || xembedTrayPresent())
        createIcon();
}

// The XEmbed system tray of the default screen: the owner of its selection.
bool TrayStatus::xembedTrayPresent() const {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t* connection = x11->connection();
    const QByteArray name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.constData()),
        nullptr);
    if (!atom)
        return false;
    bool present = false;
    if (atom->atom != XCB_ATOM_NONE) {
        xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
        present = owner && owner->owner != XCB_WINDOW_NONE;
        free(owner);
    }
    free(atom);
    return present;
}

void TrayStatus::createIcon() {
    m_lookTimer.stop();
    m_menu = std::make_unique<QMenu>();
    const auto item = [this](int text, const std::function<void()>& action) {
        QAction* a = m_menu->addAction(QString::fromStdString(LoadString(text)));
        connect(a, &QAction::triggered, this, [action] {
            if (action)
                action();
        });
        return a;
    };
    item(IDS_TRAY_SHOW_ALERTS, m_actions.showAlerts);
    item(IDS_TRAY_SHOW_CONSOLE, m_actions.showConsole);
    QMenu* snooze = m_menu->addMenu(QString::fromStdString(LoadString(IDS_TRAY_SNOOZE_ALL)));
    for (const auto& choice : {std::pair{IDS_SNOOZE_15_MIN, SnoozePeriod::quarterHour},
                               std::pair{IDS_SNOOZE_1_HOUR, SnoozePeriod::hour},
                               std::pair{IDS_SNOOZE_TOMORROW, SnoozePeriod::untilTomorrow}}) {
        const SnoozePeriod period = choice.second;
        connect(snooze->addAction(QString::fromStdString(LoadString(choice.first))), &QAction::triggered,
                this, [this, period] {
                    if (m_actions.snoozeAll)
                        m_actions.snoozeAll(period);
                });
    }
    m_menu->addSeparator();
    item(IDS_TRAY_QUIT, m_actions.quit);
    m_icon = std::make_unique<QSystemTrayIcon>();
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) &&
                    m_actions.showAlerts)
                    m_actions.showAlerts();
            });
    applySummary();
    m_icon->show();
}

void TrayStatus::show(const AttentionSummary& summary) {
    if (summary == m_summary && m_icon)
        return;
    m_summary = summary;
    applySummary();
}

void TrayStatus::applySummary() {
    if (!m_icon)
        return;
    m_icon->setIcon(QIcon(pictureOf(m_summary.worst)));
    m_icon->setToolTip(QString::fromStdString(AttentionToolTip(m_summary)));
}

bool TrayStatus::iconShown() const {
    return m_icon && m_icon->isVisible();
}
