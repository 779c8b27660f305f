#pragma once
// The console's icon in the desktop's status area: its picture is the worst
// outstanding state, its tooltip the counts; a click shows the alerts.
//
// The icon is QSystemTrayIcon, which is a StatusNotifierItem when a host is
// registered with the watcher at its creation and an XEmbed tray icon
// otherwise. Qt decides that once per process, so the icon is created only
// when one of the two is present; until then both are watched for.

#include "vardel/alerts/quiet_policy.h"
#include "vardel/attention/attention_summary.h"

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

struct TrayActions {
    std::function<void()> showAlerts;
    std::function<void()> showConsole;
    std::function<void()> quit;
    // Snooze All: every server, for the period chosen.
    std::function<void(SnoozePeriod)> snoozeAll;
};

class TrayStatus : public QObject {
    Q_OBJECT

public:
    // How often an XEmbed tray is looked for while there is no status area.
    static constexpr int kTrayLookMs = 5000;

    TrayStatus(TrayActions actions, QDBusConnection bus, QObject* parent = nullptr);
    ~TrayStatus() override;

    // Starts looking for a status area.
    void start();
    // The state to show (kept until an icon exists).
    void show(const AttentionSummary& summary);

    bool iconShown() const;
    // A question to the watcher is under way.
    bool looking() const { return m_asking; }
    const AttentionSummary& shown() const { return m_summary; }
    // The icon's menu (nullptr until the icon exists).
    QMenu* menu() const { return m_menu.get(); }

    // The picture of a state: the lit lamp of its severity picture; none is
    // an unlit lamp.
    static QPixmap pictureOf(AttentionLevel level);

private slots:
    // Asks the watcher whether a host is registered; without one, looks for
    // an XEmbed tray.
    void look();

private:
    void onHostAnswer(bool hostRegistered);
    bool xembedTrayPresent() const;
    void createIcon();
    void applySummary();

    TrayActions m_actions;
    QDBusConnection m_bus;
    AttentionSummary m_summary;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QTimer m_lookTimer;
    bool m_asking = false;
    // Something changed while the watcher was being asked: ask again.
    bool m_lookAgain = false;
};
