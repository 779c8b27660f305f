#pragma once
// The main window: a tabbed sheet (Configuration, Server Status) with OK,
// Cancel and Help. Its initialisation is the console's start-up; it owns all
// run-time state and routes timers and private messages.

#include "snmp/snmp.h"
#include "vardel/alerts/alert_arrival.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/trap_handoff.h"
#include "vardel/store/config_store.h"
#include "vardel/store/console_settings.h"

#include <QDialog>
#include <QList>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CAlertsPage;
class CConfigTab;
class CNotifyWindow;
class DesktopNotifier;
class QuietPolicy;
class TrayStatus;
class ManagementExchange;
class CServerStatusTab;
class PollCycle;
class Snmp;
class SnmpPollSession;
class ThreadedEchoProbe;
class TrapListenerThread;
namespace Ui {
class CVardelTabs;
}

// The host address library's start-up calls, replaceable in tests.
struct HostLibrary {
    int (*initHostInfo)();
    int (*getHostName)(char* buffer);
    int (*getIpAddress)(char* buffer);
    int (*getIpxAddressForNWTrapDestination)(char* buffer);
    static HostLibrary system();
};

struct StartupOptions {
    std::string programDirectory; // with its trailing '/'
    HostLibrary host = HostLibrary::system();
    // The program's file name without extension: the caption of some boxes.
    std::string programName = "vardel";
    // The trap listener thread on this UDP port (tests of the window alone run without it).
    bool startTrapListener = true;
    std::uint16_t trapPort = 162;
    // Records from the trap thread that may wait for this window.
    std::size_t trapQueueLimit = kTrapHandoffLimit;
    // The step of the management-server prompt's countdown.
    int promptTickMs = 1000;
    // An icon in the desktop's status area, once there is one.
    bool trayStatus = false;
    // The window can be resized and maximised; its size and place and the
    // grids' column widths are kept in this file (the user's) from one run to
    // the next. Empty: the fixed window, nothing kept.
    std::string windowStatePath;
};

class CVardelTabs : public QDialog, private LivenessHooks {
    Q_OBJECT

public:
    explicit CVardelTabs(StartupOptions options, QWidget* parent = nullptr);
    ~CVardelTabs() override;

    // The start-up sequence; false when it stopped early.
    bool OnInitDialog();

    void OnOK();
    void OnCancel();
    void OnHelp();
    // After the Trap Definitions dialog changed the index: the listener's
    // registration and the enterprise list follow it.
    void OnDefinitionsChanged();
    // Set by the Configuration tab while it adds, edits or resets servers.
    void setConfigurationBusy(bool busy) { m_configurationBusy = busy; }
    bool isEnded() const { return m_ended; }

    ConsoleSettings& settings() { return m_settings; }
    ServerList& servers() { return m_servers; }
    AlertStore& alertStore() { return m_alertStore; }
    // Traps from addresses outside the server list (once start-up made it).
    UnknownSenders* unknownSenders() { return m_arrival ? &m_arrival->unknownSenders() : nullptr; }
    CNotifyWindow* notifyWindow() { return m_notifyWindow.get(); }
    TrapListenerThread* trapListener() { return m_trapListener.get(); }
    Snmp* pollingSession();
    PollCycle* pollCycle() { return m_pollCycle.get(); }
    CServerStatusTab* statusTab() { return m_statusTab; }
    CConfigTab* configTab() { return m_configTab; }
    CAlertsPage* alertsPage() { return m_alertsPage; }
    // Opens the agents dialog of one server (kind "IP" or "IPX"); false when
    // it could not be created.
    using AgentsDialogOpener = std::function<bool(const std::string& name, const std::string& address,
                                                  const std::string& kind, const std::string& community)>;
    void setAgentsDialogOpener(AgentsDialogOpener opener) { m_openAgentsDialog = std::move(opener); }
    QTimer& firstPollTimer() { return m_firstPollTimer; }
    QTimer& pollTimer() { return m_pollTimer; }
    int currentTab() const;
    // The status-area icon (nullptr unless StartupOptions::trayStatus) and the
    // desktop notifications client (nullptr until an alert meets the option on).
    TrayStatus* trayStatus() { return m_tray.get(); }
    DesktopNotifier* desktopNotifier() { return m_notifier.get(); }
    // Snoozes, quiet hours and flapping servers.
    QuietPolicy& quietPolicy() { return *m_quiet; }
    // Snooze All of the tray: every server of the list.
    void SnoozeAll(std::time_t until);
    // Brings up the notify window on the alert it shows, when any is outstanding.
    void ShowAlerts();
    // Restores and raises this window.
    void ShowConsole();
    // ShowConsole for a later start (on Wayland with the desktop's activation token).
    void ShowConsoleFor(const std::string& activationToken);
    // The window's size and place and the column widths, to the file and back.
    void saveWindowState() const;
    void restoreWindowState();
    std::string registryPath() const { return m_settings.programDirectory + "vardel.reg"; }

signals:
    // The sheet has ended (after OK or Cancel); the program quits.
    void ended();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void reject() override;

private:
    void startTrapListener();
    // SNMPv3: the servers' users from their file, the console's engine (made
    // on first use), the refused senders' report.
    void loadV3Credentials();
    std::string v3ConsoleEngine();
    void reportRefusedSenders();
    void takeTrapAlerts();
    void registerHostIdentity();
    void registerConsole();
    void armTimers();
    void onFirstPollTimer();
    void onPollTimer();
    void stopPolling();
    void Shutdown();
    void startAttention();
    void refreshAttention();
    void onAlertStored(const AlertRecord& alert);
    void acknowledgeAlerts(const QList<quint64>& alertIds);
    // A change of state found by polling: its alert, and the one flapping
    // alert when the change makes the server flapping.
    int raiseStateAlert(const std::string& serverName, const std::string& state, int source);
    // The attention column now, and again when the next snooze or flapping ends.
    void onQuietChanged();
    ManagementExchange exchange();
    // Asks before OK saves a list without servers of the file it never loaded;
    // false when the user said no.
    bool confirmServersNotLoaded();

    // The polling side of a trap's proof of life.
    void hostReachable(const std::string& address) override;
    void agentAnswered(const std::string& address) override;
    void showSnmpStatus(const std::string& serverName, const std::string& status) override;

    std::unique_ptr<Ui::CVardelTabs> m_ui;
    StartupOptions m_options;
    ConsoleSettings m_settings;
    ServerList m_servers;
    AlertStore m_alertStore;
    // The Configuration tab, a child of its page.
    CConfigTab* m_configTab = nullptr;
    // The Server Status tab, a child of its page; it also keeps the alert counts.
    CServerStatusTab* m_statusTab = nullptr;
    AgentsDialogOpener m_openAgentsDialog;
    // The Alerts page, a child of its page.
    CAlertsPage* m_alertsPage = nullptr;
    std::unique_ptr<CNotifyWindow> m_notifyWindow;
    std::unique_ptr<AlertArrival> m_arrival;
    // Records from the trap thread; one event wakes this window for
    // everything queued since the last one.
    TrapHandoff m_trapHandoff;
    // Records taken from the queue and not handled yet: a burst is handled in
    // slices, the event loop turning between them.
    std::deque<std::unique_ptr<AlertRecord>> m_trapBacklog;
    QTimer m_trapSliceTimer;
    // Datagrams lost since the last report, added on the trap thread.
    std::atomic<std::uint64_t> m_trapsLost{0};
    std::string m_consoleEngineId;
    bool m_v3FileUnreadable = false; // then it is never written
    std::mutex m_refusalsMutex;
    std::vector<UsmRefusals> m_refusals; // under m_refusalsMutex, from the listener
    QTimer m_refusalReportTimer;
    std::unique_ptr<TrapListenerThread> m_trapListener;
    std::unique_ptr<SnmpPollSession> m_pollSession;
    std::unique_ptr<ThreadedEchoProbe> m_echo;
    std::unique_ptr<PollCycle> m_pollCycle;
    std::list<std::string> m_enterpriseList;
    // The servers loaded at start-up: those of them missing at OK were removed by the user.
    std::set<std::string> m_loadedServerNames;
    QTimer m_firstPollTimer;
    QTimer m_pollTimer;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<TrayStatus> m_tray;
    // Brings the tray's picture and tooltip up to date.
    QTimer m_attentionTimer;
    std::unique_ptr<QuietPolicy> m_quiet;
    QTimer m_quietEndTimer;
    // Set at the end of OnInitDialog: traps are taken from then on.
    bool m_startupDone = false;
    bool m_configurationBusy = false;
    bool m_ended = false;
};
