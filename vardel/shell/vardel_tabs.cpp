#include "vardel/shell/vardel_tabs.h"

#include "hostlore/hostlore.h"
#include "platform/flexgrid/flexgrid.h"
#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "snmp/snmp.h"
#include "ui_vardel_tabs.h"
#include "vardel/alerts/alert_log.h"
#include "vardel/alerts/alerts_page.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/quiet_policy.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/attention/attention_summary.h"
#include "vardel/attention/desktop_notifier.h"
#include "vardel/attention/tray_status.h"
#include "vardel/editing/add_servers_dialog.h"
#include "vardel/editing/config_tab.h"
#include "vardel/polling/agents_dialog.h"
#include "vardel/polling/echo_probe.h"
#include "vardel/polling/page_launch.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/polling/snmp_poll_session.h"
#include "vardel/polling/unknown_senders_dialog.h"
#include "vardel/resources/string_table.h"
#include "vardel/shell/management_exchange.h"
#include "vardel/shell/private_events.h"
#include "vardel/store/program_env.h"
#include "vardel/store/snmpv3_store.h"
#include "vardel/store/store_notice.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QSettings>
#include <QShortcut>
#include <QTableView>
#include <QWindow>
#include <chrono>
#include <climits>

namespace {

constexpr int kConfigurationTab = 0;
constexpr int kServerStatusTab = 1;
constexpr int kAlertsTab = 2;
// The host address library fills 512-byte buffers.
constexpr std::size_t kHostBuffer = 512;

// The store's notices are ownerless boxes, as its own calls were.
void showStoreNotice(const std::string& text, const std::string& caption, store::NoticeLevel level) {
    msgbox::show(nullptr, text, caption, msgbox::Buttons::Ok,
                 level == store::NoticeLevel::Error ? msgbox::Icon::Error : msgbox::Icon::Warning);
}

} // namespace

HostLibrary HostLibrary::system() {
    return {DLLInitHostInfo, DLLGetHostName, DLLGetIpAddress, DLLGetIpxAddressForNWTrapDestination};
}

CVardelTabs::CVardelTabs(StartupOptions options, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CVardelTabs>()), m_options(std::move(options)),
      m_trapHandoff(m_options.trapQueueLimit), m_quiet(std::make_unique<QuietPolicy>()) {
    store::setNoticeSink(showStoreNotice);
    m_ui->setupUi(this);
    setWindowTitle(QString::fromStdString(LoadString(IDS_PRODUCT_TITLE)));
    // Caption, system menu and minimise box; the size of its pages, fixed.
    const bool resizable = !m_options.windowStatePath.empty();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   (resizable ? Qt::WindowMaximizeButtonHint : Qt::WindowType(0)));
    // Resizable, the pages' size stays the least and the first.
    layout()->setSizeConstraint(resizable ? QLayout::SetMinimumSize : QLayout::SetFixedSize);
    auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(helpKey, &QShortcut::activated, this, &CVardelTabs::OnHelp);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CVardelTabs::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CVardelTabs::OnCancel);
    connect(m_ui->helpButton, &QPushButton::clicked, this, &CVardelTabs::OnHelp);
    m_configTab = new CConfigTab(ConfigTabContext{
                                     m_servers,
                                     m_settings,
                                     m_ui->okButton,
                                     m_ui->cancelButton,
                                     [this](bool busy) { setConfigurationBusy(busy); },
                                     [this](const std::string& serverName) {
                                         if (m_pollCycle)
                                             m_pollCycle->PollServer(serverName);
                                     },
                                     [this] {
                                         if (m_pollCycle)
                                             m_pollCycle->OnServerListChanged();
                                     },
                                     RunAddServersDialog,
                                     {},
                                     [this] { OnDefinitionsChanged(); },
                                     {},
                                     [this] { return v3ConsoleEngine(); },
                                     [this](ManagedServer& server) {
                                         if (!v3ConsoleEngine().empty())
                                             ApplyV3Credentials(server, m_consoleEngineId);
                                     },
                                 },
                                 m_ui->configurationPage);
    m_ui->configurationLayout->addWidget(m_configTab);
    m_configTab->settingsChanged = [this] {
        m_quiet->applySettings(m_settings);
        onQuietChanged();
        if (m_trapListener)
            m_trapListener->setReceptions(m_settings.receiveStandardTraps == 1,
                                          m_settings.showUnclassifiedTraps == 1);
    };
    m_statusTab = new CServerStatusTab(
        ServerStatusContext{
            m_servers,
            m_settings,
            [this](const std::string& serverName) { OpenServerPage(m_settings, serverName); },
            [this](const std::string& name, const std::string& address, const std::string& kind,
                   const std::string& community) {
                return m_openAgentsDialog && m_openAgentsDialog(name, address, kind, community);
            },
            [this]() -> std::time_t {
                QTimer& next = m_firstPollTimer.isActive() ? m_firstPollTimer : m_pollTimer;
                if (!next.isActive())
                    return 0;
                return std::time(nullptr) + (next.remainingTime() + 999) / 1000;
            },
        },
        m_ui->serverStatusPage);
    m_ui->serverStatusLayout->addWidget(m_statusTab);
    m_statusTab->setQuietPolicy(m_quiet.get(), [this] { onQuietChanged(); });
    m_statusTab->setUnknownSendersOpener([this] {
        if (!m_arrival)
            return;
        UnknownSenders& senders = m_arrival->unknownSenders();
        std::function<void(const std::string&)> addServer;
        if (m_settings.readOnly != 1)
            addServer = [this, &senders](const std::string& address) {
                m_configTab->OnAddServerAt(address);
                std::string name;
                if (FindServerNameByAddress(m_servers, address, name) == 0)
                    senders.forget(address);
            };
        CUnknownSendersDlg dialog(this, senders, m_settings.programDirectory, addServer);
        dialog.exec();
    });
    m_alertsPage = new CAlertsPage(
        AlertsPageContext{
            m_alertStore,
            m_settings,
            *m_statusTab,
            [this](int sequence) {
                if (m_notifyWindow)
                    m_notifyWindow->ShowAlert(sequence);
            },
            [this](const std::string& serverName) { OpenServerPage(m_settings, serverName); },
            [this]() -> const AlertRecord* {
                return m_notifyWindow ? m_alertStore.findBySequence(m_notifyWindow->currentIndex()) : nullptr;
            },
            [this](const AlertRecord* stillShown) {
                if (m_notifyWindow)
                    m_notifyWindow->FollowStore(stillShown);
            },
            [this] {
                if (m_notifyWindow)
                    m_notifyWindow->ShowAcknowledgement();
            },
            CurrentUserName(),
        },
        m_ui->alertsPage);
    m_ui->alertsLayout->addWidget(m_alertsPage);
    m_ui->pagesTabWidget->setTabText(kAlertsTab, QString::fromStdString(LoadString(IDS_ALERTS_PAGE)));
    m_openAgentsDialog = [this](const std::string& name, const std::string& address, const std::string& kind,
                                const std::string& community) {
        CAgentsDlg dialog(this, name, address, kind, community, m_settings.programDirectory);
        if (const ManagedServer* server = FindServerByName(m_servers, name))
            dialog.setV3(server->v3);
        dialog.exec();
        return true;
    };
    connect(m_ui->pagesTabWidget, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == kServerStatusTab)
            m_statusTab->OnSetActive();
    });
    m_firstPollTimer.setSingleShot(true);
    connect(&m_firstPollTimer, &QTimer::timeout, this, &CVardelTabs::onFirstPollTimer);
    connect(&m_pollTimer, &QTimer::timeout, this, &CVardelTabs::onPollTimer);
    m_refusalReportTimer.setSingleShot(true);
    connect(&m_refusalReportTimer, &QTimer::timeout, this, &CVardelTabs::reportRefusedSenders);
    m_trapSliceTimer.setSingleShot(true);
    connect(&m_trapSliceTimer, &QTimer::timeout, this, &CVardelTabs::takeTrapAlerts);
    m_quietEndTimer.setSingleShot(true);
    connect(&m_quietEndTimer, &QTimer::timeout, this, &CVardelTabs::onQuietChanged);
    m_attentionTimer.setInterval(1000);
    connect(&m_attentionTimer, &QTimer::timeout, this, &CVardelTabs::refreshAttention);
}

CVardelTabs::~CVardelTabs() {
    m_trapListener.reset();
    stopPolling();
    // The Alerts page observes the alert store, a member that is gone before
    // the page would go with the window's children.
    delete m_alertsPage;
    m_alertsPage = nullptr;
}

Snmp* CVardelTabs::pollingSession() {
    return m_pollSession ? &m_pollSession->snmp() : nullptr;
}

int CVardelTabs::currentTab() const {
    return m_ui->pagesTabWidget->currentIndex();
}

bool CVardelTabs::OnInitDialog() {
    // 1. The browser.
    m_settings.programDirectory = m_options.programDirectory;
    if (FindBrowser(registryPath(), m_settings.browserPath) != 0)
        m_settings.browserPath.clear();

    // 2-3. The notify window, hidden.
    m_notifyWindow = std::make_unique<CNotifyWindow>(
        NotifyWindowContext{
            m_alertStore,
            m_settings,
            *m_statusTab,
            [this](const std::string& serverName) { OpenServerPage(m_settings, serverName); },
            {},
            {},
        },
        this);
    // "Define..." of an unclassified trap opens the Trap Definitions dialog.
    m_notifyWindow->setDefineHandler([this](const std::string&, const std::string&) {
        if (!m_ended)
            m_configTab->OnTrapDefinitions();
    });
    m_arrival = std::make_unique<AlertArrival>(
        AlertArrivalContext{m_alertStore, m_servers, m_settings, *m_statusTab, *m_notifyWindow, *this});

    // 4. File paths.
    m_settings.iniPath = m_settings.programDirectory + "rlaweb.ini";
    m_settings.logPath = m_settings.programDirectory + "VDLog.txt";
    m_settings.userName.clear();
    m_settings.password.clear();
    // Saves killed mid-write leave temporary files; none lasts an hour.
    for (const std::string& saved : {m_settings.iniPath, registryPath()})
        profile::removeLeftoverTemporaries(saved, std::chrono::hours(1));

    // 5. Registry.
    ReadRegistrySettings(registryPath(), m_settings);
    m_quiet->applySettings(m_settings);

    // 6. The management server's list.
    if (exchange().RunStartupExchange() != 0)
        return false;

    // 7. The trap listener thread.
    if (m_options.startTrapListener)
        startTrapListener();

    // 8. The console's identity.
    registerHostIdentity();

    // 9-10.
    ReadPollingSettings(m_settings.iniPath, m_settings);
    m_alertStore.programDir = m_settings.programDirectory;

    // 11. This console's client section.
    registerConsole();

    // 12. The server list.
    if (LoadServerList(m_settings.iniPath, m_settings.clientSection, m_servers) == -1)
        msgbox::show(this, LoadString(IDS_SERVER_LIST_FILL), "OnInitDialog");
    for (const auto& server : m_servers)
        m_loadedServerNames.insert(server->name);

    // 13. The polling session.
    snmpInit();
    int status = 0;
    auto session = std::make_unique<Snmp>(status, 0);
    if (status != 0)
        msgbox::show(this, LoadString(IDS_SNMP_POLL_INIT), "OnAddEvent");
    m_pollSession = std::make_unique<SnmpPollSession>(std::move(session));
    loadV3Credentials();
    m_echo = std::make_unique<ThreadedEchoProbe>();
    m_pollCycle = std::make_unique<PollCycle>(PollCycleContext{
        m_servers, m_settings, *m_statusTab, *m_pollSession, *m_echo,
        [this](const std::string& serverName, const std::string& state, int source) {
            return raiseStateAlert(serverName, state, source);
        },
        [this](std::function<void()> work) { QTimer::singleShot(0, this, std::move(work)); }});
    // A server whose poll result is being settled takes its traps after it.
    m_arrival->setDelivery([this](std::unique_ptr<AlertRecord> record) {
        if (!m_pollCycle) {
            m_arrival->OnTrapAlert(std::move(record));
            return;
        }
        const std::string address = record->agentAddress;
        auto held = std::make_shared<std::unique_ptr<AlertRecord>>(std::move(record));
        m_pollCycle->whenSettled(address, [this, held] { m_arrival->OnTrapAlert(std::move(*held)); });
    });

    // 14. The trap definitions' enterprise list.
    const std::string trapIndex = m_settings.programDirectory + "VDTrap.ini";
    if (_FillListFromIni(trapIndex, m_enterpriseList, "EnterpriseList") != 0) {
        std::string text = LoadString(IDS_ENTERPRISE_LIST);
        if (profile::getInt(trapIndex, "Header", "TotalNum", 0) < 0)
            text +=
                "\n" + FormatString(IDS_ENTERPRISE_COUNT_BAD,
                                    {trapIndex, profile::getString(trapIndex, "Header", "TotalNum", "", 30)});
        msgbox::show(this, text, "OnInitDialog");
    }

    // 15. Timers.
    armTimers();
    startAttention();

    // 16. The pages.
    m_configTab->OnInitDialog();

    // 17-18.
    m_settings.lastPollTime = FormatNow();
    m_ui->pagesTabWidget->setCurrentIndex(m_servers.empty() ? kConfigurationTab : kServerStatusTab);
    // The traps that came while start-up asked something meet the whole list now.
    m_startupDone = true;
    m_trapSliceTimer.start(0);
    restoreWindowState();
    return true;
}

void CVardelTabs::startTrapListener() {
    // Both callbacks run on the listener thread and only post to this window,
    // which stops the thread before it is destroyed.
    snmpInit();
    m_trapListener = std::make_unique<TrapListenerThread>(
        m_settings.programDirectory,
        [this](std::unique_ptr<AlertRecord> record) {
            bool wake = false;
            const bool taken = m_trapHandoff.push(std::move(record), wake);
            if (wake)
                QCoreApplication::postEvent(this, new QEvent(kEventTrapAlert));
            return taken;
        },
        [this] { QCoreApplication::postEvent(this, new QEvent(kEventTrapListenerFailed)); },
        m_options.trapPort);
    m_trapListener->setReceptions(m_settings.receiveStandardTraps == 1,
                                  m_settings.showUnclassifiedTraps == 1);
    m_trapListener->setLossNotifier([this](std::uint64_t lost) {
        if (m_trapsLost.fetch_add(lost) == 0)
            QCoreApplication::postEvent(this, new QEvent(kEventTrapsLost));
    });
    m_trapListener->setRefusalNotifier([this](const std::vector<UsmRefusals>& refused) {
        std::lock_guard<std::mutex> lock(m_refusalsMutex);
        const bool first = m_refusals.empty();
        m_refusals.insert(m_refusals.end(), refused.begin(), refused.end());
        if (first)
            QCoreApplication::postEvent(this, new QEvent(kEventTrapsRefused));
    });
    m_trapListener->start();
}

void CVardelTabs::loadV3Credentials() {
    std::string reason;
    if (LoadV3Credentials(m_settings.programDirectory, m_servers, reason) != 0) {
        m_v3FileUnreadable = true;
        const std::string path = m_settings.programDirectory + kV3CredentialsFile;
        std::fputs(("vardel: cannot read " + path + ": " + reason + "\n").c_str(), stderr);
        msgbox::show(this, FormatString(IDS_V3_FILE_UNREADABLE, {path, reason}),
                     LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok, msgbox::Icon::Warning);
        return;
    }
    for (const auto& server : m_servers)
        if (server->v3.configured()) {
            if (!v3ConsoleEngine().empty())
                ApplyV3Credentials(m_servers, m_consoleEngineId);
            return;
        }
}

std::string CVardelTabs::v3ConsoleEngine() {
    if (!m_consoleEngineId.empty())
        return m_consoleEngineId;
    std::string reason;
    m_consoleEngineId = ConsoleEngineId(m_settings.programDirectory, reason);
    if (m_consoleEngineId.empty() || snmpv3::enable(m_consoleEngineId) != 0) {
        m_consoleEngineId.clear();
        msgbox::show(QApplication::activeWindow(), FormatString(IDS_V3_ENGINE_ID_FAILED, {reason}),
                     LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok, msgbox::Icon::Warning);
    }
    return m_consoleEngineId;
}

// The senders whose traps were refused since the last report: one log block
// and one line on standard error each.
void CVardelTabs::reportRefusedSenders() {
    std::vector<UsmRefusals> refused;
    {
        std::lock_guard<std::mutex> lock(m_refusalsMutex);
        refused.swap(m_refusals);
    }
    const std::string now = FormatNow();
    auto report = [&](const std::string& what) {
        AppendRefusalLog(m_settings.logPath, now, what);
        std::fputs(("vardel: traps refused: " + what + "\n").c_str(), stderr);
    };
    for (const UsmRefusals& r : refused) {
        std::string what = std::to_string(r.total()) + " SNMPv3 from " + r.sender + " (";
        const std::pair<std::uint64_t, const char*> kinds[] = {
            {r.unknownUserNames, "unknown user"},     {r.unknownEngineIds, "unknown engine ID"},
            {r.wrongDigests, "wrong digest"},         {r.notInTimeWindows, "not in time window"},
            {r.decryptionErrors, "decryption error"}, {r.unsupportedLevels, "unsupported security level"}};
        bool first = true;
        for (const auto& [count, kind] : kinds)
            if (count != 0) {
                what += (first ? "" : ", ") + std::to_string(count) + " " + kind;
                first = false;
            }
        report(what + ")");
    }
    if (m_arrival)
        for (const auto& [sender, count] : m_arrival->takeDroppedBySender())
            report(std::to_string(count) + " SNMPv1/v2c from " + sender +
                   " (not the server's community, or the server takes SNMPv3 only)");
    std::fflush(stderr);
}

void CVardelTabs::OnDefinitionsChanged() {
    if (m_trapListener)
        m_trapListener->refreshRegistration();
    m_enterpriseList.clear();
    _FillListFromIni(m_settings.programDirectory + "VDTrap.ini", m_enterpriseList, "EnterpriseList");
}

// WM_USER+1000 for the records queued by the trap thread, in arrival order,
// in slices of about kTrapSlice run by a zero timer: between them the event
// loop turns (its other timers too), so the windows answer during a burst.
// The notify window lays out and raises only the last alert of a slice.
void CVardelTabs::takeTrapAlerts() {
    constexpr auto kTrapSlice = std::chrono::milliseconds(5);
    // A box of the start-up turns the event loop before the server list is
    // loaded: its traps wait in the handoff rather than being taken as unmanaged.
    if (!m_startupDone)
        return;
    m_trapHandoff.take(m_trapBacklog);
    if (!m_arrival) {
        m_trapHandoff.handled(m_trapBacklog.size());
        m_trapBacklog.clear(); // shut down: the records are dropped
        return;
    }
    if (m_trapBacklog.empty())
        return;
    m_notifyWindow->deferDisplay(true);
    m_trapHandoff.handled(
        m_arrival->OnTrapAlerts(m_trapBacklog, std::chrono::steady_clock::now() + kTrapSlice));
    if (m_arrival->hasDropped() && !m_refusalReportTimer.isActive())
        m_refusalReportTimer.start(1000);
    m_notifyWindow->deferDisplay(false);
    if (!m_trapBacklog.empty())
        m_trapSliceTimer.start(0);
}

void CVardelTabs::registerHostIdentity() {
    const HostLibrary& host = m_options.host;
    if (host.initHostInfo() != 0) {
        msgbox::show(this, LoadString(IDS_WINSOCK_INIT), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    // Each answer goes into the settings and [CLIENTS]; failureText 0 keeps a
    // failure silent.
    const auto record = [this](int (*call)(char*), std::string& field, const char* key, int failureText) {
        char buffer[kHostBuffer] = {};
        if (call(buffer) != 0) {
            if (failureText)
                msgbox::show(this, LoadString(failureText), "OnInitDialog");
            return;
        }
        field = buffer;
        if (!profile::writeString(m_settings.iniPath, "CLIENTS", key, field) && failureText)
            msgbox::show(this, LoadString(IDS_INI_WRITE), "OnInitDialog");
    };
    record(host.getHostName, m_settings.hostName, "Hostname", IDS_HOSTNAME_ERROR);
    record(host.getIpAddress, m_settings.hostIpAddress, "IPAddres", IDS_CLIENT_IP_ERROR);
    record(host.getIpxAddressForNWTrapDestination, m_settings.hostIpxAddress, "IPXAddres", 0);
}

void CVardelTabs::registerConsole() {
    const std::string section =
        profile::getString(m_settings.iniPath, "CLIENTS", m_settings.hostName, "", 512);
    if (!section.empty()) {
        m_settings.clientSection = section;
        return;
    }
    const int n = profile::getInt(m_settings.iniPath, "CLIENTS", "NumClients", 0) + 1;
    profile::writeString(m_settings.iniPath, "CLIENTS", "NumClients", std::to_string(n));
    m_settings.clientSection = "CLIENT" + std::to_string(n);
    profile::writeString(m_settings.iniPath, "CLIENTS", m_settings.hostName, m_settings.clientSection);
    if (n > 1)
        msgbox::show(this, LoadString(IDS_NEW_CONSOLE), m_options.programName);
}

void CVardelTabs::armTimers() {
    m_firstPollTimer.start(2000);
    const long long period = static_cast<long long>(m_settings.pollTime) * 60000;
    if (period <= 0 || period > INT_MAX) {
        DebugTrace("SetTimer failed");
        return;
    }
    m_pollTimer.start(static_cast<int>(period));
}

void CVardelTabs::onFirstPollTimer() {
    m_firstPollTimer.stop();
    if (m_pollCycle)
        m_pollCycle->OnFirstPollTimer();
}

void CVardelTabs::onPollTimer() {
    // Re-armed with the poll time then in force.
    const long long period = static_cast<long long>(m_settings.pollTime) * 60000;
    if (period > 0 && period <= INT_MAX)
        m_pollTimer.start(static_cast<int>(period));
    if (m_pollCycle)
        m_pollCycle->OnPollTimer(FormatNow());
}

// The session first, so that no answer arrives, then the probe runner, which
// waits for a probe under way, then the cycle they both call back.
void CVardelTabs::stopPolling() {
    m_pollSession.reset();
    m_echo.reset();
    m_pollCycle.reset();
}

// The status-area icon and the desktop notifications, beside the notify window.
void CVardelTabs::startAttention() {
    m_alertStore.onStored = [this](const AlertRecord& alert) { onAlertStored(alert); };
    m_alertStore.noticeOf = [this](const AlertRecord& alert) {
        return m_quiet->noticeOf(alert, std::time(nullptr));
    };
    if (!m_options.trayStatus)
        return;
    m_tray = std::make_unique<TrayStatus>(
        TrayActions{
            [this] { ShowAlerts(); }, [this] { ShowConsole(); },
            [this] {
                ShowConsole();
                OnCancel();
            },
            [this](SnoozePeriod period) { SnoozeAll(QuietPolicy::SnoozeEnd(period, std::time(nullptr))); }},
        QDBusConnection::sessionBus());
    m_tray->show(SummarizeAttention(m_alertStore, m_servers));
    m_tray->start();
    m_attentionTimer.start();
}

void CVardelTabs::refreshAttention() {
    if (m_tray)
        m_tray->show(SummarizeAttention(m_alertStore, m_servers));
}

// The notifications client is made for the first alert that finds the option
// on, so that a console without it never reaches for a session bus.
void CVardelTabs::onAlertStored(const AlertRecord& alert) {
    if (m_settings.desktopNotifications != 1) {
        if (m_notifier)
            m_notifier->setEnabled(false);
        return;
    }
    if (!(alert.notice & kNoticeDesktop))
        return; // snoozed, flapping or in quiet hours
    if (!m_notifier) {
        m_notifier = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus());
        connect(m_notifier.get(), &DesktopNotifier::showRequested, this, &CVardelTabs::ShowAlerts);
        connect(m_notifier.get(), &DesktopNotifier::acknowledgeRequested, this,
                &CVardelTabs::acknowledgeAlerts);
    }
    m_notifier->setEnabled(true);
    m_notifier->notify(alert);
}

void CVardelTabs::acknowledgeAlerts(const QList<quint64>& alertIds) {
    if (m_ended)
        return;
    const std::string user = CurrentUserName();
    for (quint64 id : alertIds)
        AcknowledgeAlert(m_alertStore, *m_statusTab, m_settings.logPath, id, user);
    if (m_notifyWindow)
        m_notifyWindow->ShowAcknowledgement();
    refreshAttention();
}

int CVardelTabs::raiseStateAlert(const std::string& serverName, const std::string& state, int source) {
    const std::time_t now = std::time(nullptr);
    const bool startsFlapping = m_quiet->recordChange(serverName, now);
    const int sequence = m_arrival->RaiseStateAlert(serverName, state, source);
    if (startsFlapping) {
        auto flapping = std::make_unique<AlertRecord>();
        flapping->dateTime = FormatLocalTime(now);
        flapping->serverName = fitField(serverName, alert_width::kServerName);
        flapping->trapKey = kFlappingKey;
        flapping->severity = kSeverityWarning;
        flapping->description = LoadString(IDS_FLAPPING_DESCRIPTION);
        const FlappingLimits& limits = m_quiet->flappingLimits();
        flapping->alertText = FormatString(
            IDS_FLAPPING_TEXT, {std::to_string(limits.changes + 1), std::to_string(limits.minutes)});
        flapping->helpFile = m_settings.programDirectory;
        m_arrival->RaiseConsoleAlert(std::move(flapping));
    }
    if (startsFlapping || m_quiet->flapping(serverName, now))
        onQuietChanged();
    return sequence;
}

void CVardelTabs::SnoozeAll(std::time_t until) {
    for (const auto& server : m_servers)
        m_quiet->snooze(server->name, until);
    onQuietChanged();
}

void CVardelTabs::onQuietChanged() {
    if (m_ended)
        return;
    m_statusTab->RefreshAttention();
    const std::time_t now = std::time(nullptr);
    const std::time_t next = m_quiet->nextEnd(now);
    if (next == 0) {
        m_quietEndTimer.stop();
        return;
    }
    // A second past the end, so that the end has come when the timer runs.
    const long long ms = (static_cast<long long>(next - now) + 1) * 1000;
    m_quietEndTimer.start(static_cast<int>(std::min<long long>(ms, 24LL * 3600 * 1000)));
}

void CVardelTabs::ShowAlerts() {
    if (!m_notifyWindow || m_alertStore.count < 1 || m_ended)
        return;
    // Alerts that came quietly may be all there is: show the newest.
    const int shown = m_notifyWindow->currentIndex();
    if (shown < 1 || shown > m_alertStore.count || !m_alertStore.findBySequence(shown))
        m_notifyWindow->ShowAlert(m_alertStore.count);
    else
        m_notifyWindow->ShowOnTop();
}

void CVardelTabs::ShowConsole() {
    if (m_ended)
        return;
    if (isMaximized())
        showMaximized();
    else
        showNormal();
    raise();
    activateWindow();
}

void CVardelTabs::ShowConsoleFor(const std::string& activationToken) {
    // The Wayland platform takes the token from here for its activation.
    if (!activationToken.empty() && QGuiApplication::platformName().startsWith("wayland"))
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(activationToken));
    ShowConsole();
}

namespace {

QList<QVariant> columnTwips(const CMSFlexGrid& grid) {
    QList<QVariant> widths;
    for (long c = 0; c < grid.GetCols(); ++c)
        widths.append(QVariant::fromValue<qlonglong>(grid.GetColWidth(c)));
    return widths;
}

void applyColumnTwips(CMSFlexGrid& grid, const QList<QVariant>& widths) {
    for (long c = 0; c < grid.GetCols() && c < widths.size(); ++c)
        if (const long twips = long(widths[c].toLongLong()); twips > 0)
            grid.SetColWidth(c, twips);
}

} // namespace

void CVardelTabs::saveWindowState() const {
    if (m_options.windowStatePath.empty())
        return;
    QSettings state(QString::fromStdString(m_options.windowStatePath), QSettings::IniFormat);
    state.setValue("MainWindow/Geometry", saveGeometry());
    state.setValue("ConfigurationGrid/Widths", columnTwips(m_configTab->grid()));
    state.setValue("ServerStatusGrid/Widths", columnTwips(m_statusTab->grid()));
    state.setValue("AlertsPage/Header", m_alertsPage->header().saveState());
    state.sync();
}

void CVardelTabs::restoreWindowState() {
    if (m_options.windowStatePath.empty())
        return;
    const QSettings state(QString::fromStdString(m_options.windowStatePath), QSettings::IniFormat);
    restoreGeometry(state.value("MainWindow/Geometry").toByteArray());
    applyColumnTwips(m_configTab->grid(), state.value("ConfigurationGrid/Widths").toList());
    applyColumnTwips(m_statusTab->grid(), state.value("ServerStatusGrid/Widths").toList());
    const QByteArray header = state.value("AlertsPage/Header").toByteArray();
    if (!header.isEmpty())
        m_alertsPage->header().restoreState(header);
    m_alertsPage->view().setColumnHidden(AlertListModel::kCountCol, !m_alertsPage->model().filter().grouped);
}

ManagementExchange CVardelTabs::exchange() {
    return ManagementExchange(m_settings, this, m_options.programName, m_options.promptTickMs);
}

void CVardelTabs::OnOK() {
    if (m_settings.readOnly == 1) {
        Shutdown();
        return;
    }
    bool writeBack = false;
    if (!m_settings.managementServerName.empty()) {
        const int answer = exchange().AskWriteBack();
        if (answer == msgbox::IDCANCEL)
            return;
        writeBack = answer == msgbox::IDYES;
    }
    // Servers in the file that this console never had: saving would drop them.
    if (!confirmServersNotLoaded())
        return;
    SaveRegistrySettings(registryPath(), m_settings);
    SaveConsoleIni(m_settings, m_servers);
    if (!m_v3FileUnreadable) {
        AdoptLearntEngines(m_servers);
        std::string reason;
        if (SaveV3Credentials(m_settings.programDirectory, m_servers, reason) != 0)
            msgbox::show(this,
                         FormatString(IDS_V3_FILE_NOT_WRITTEN,
                                      {m_settings.programDirectory + kV3CredentialsFile, reason}),
                         LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok, msgbox::Icon::Warning);
    }
    exchange().NotifyManagementServer(m_settings.startupServerName, ManagementExchange::Notice::end);
    if (writeBack && exchange().WriteBackServerList() == ManagementExchange::WriteBack::windowNotCreated)
        return;
    Shutdown();
}

bool CVardelTabs::confirmServersNotLoaded() {
    const std::vector<std::string> missing =
        ServersNotLoaded(m_settings.iniPath, m_servers, m_loadedServerNames);
    if (missing.empty())
        return true;
    constexpr std::size_t kNamesShown = 20;
    std::string names;
    for (std::size_t i = 0; i < missing.size() && i < kNamesShown; ++i)
        names += (i ? ", " : "") + missing[i];
    if (missing.size() > kNamesShown)
        names += ", ...";
    return msgbox::show(this, FormatString(IDS_SERVERS_NOT_LOADED, {m_settings.iniPath, names}),
                        LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::YesNo, msgbox::Icon::Warning,
                        /*defaultButton: No*/ 1) == msgbox::IDYES;
}

void CVardelTabs::OnCancel() {
    const auto answer = msgbox::show(this, LoadString(IDS_CANCEL_QUESTION), LoadString(IDS_PRODUCT_TITLE),
                                     msgbox::Buttons::YesNo, msgbox::Icon::Warning);
    if (answer != msgbox::IDYES)
        return;
    // The end notice answers the start notice, which only full access sends.
    if (m_settings.readOnly == 0)
        exchange().NotifyManagementServer(m_settings.startupServerName, ManagementExchange::Notice::end);
    Shutdown();
}

void CVardelTabs::OnHelp() {
    help::openHelpContents(this, m_settings.programDirectory + "Vardel.hlp");
}

void CVardelTabs::reject() {
    OnCancel();
}

void CVardelTabs::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (m_ended || m_configurationBusy)
        return;
    OnCancel();
}

void CVardelTabs::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool restored = !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized));
    if (restored)
        ShowAlerts();
}

bool CVardelTabs::event(QEvent* event) {
    if (event->type() == kEventTrapAlert) {
        // Handled by the slice timer, which the event loop runs among its other timers.
        if (!m_trapSliceTimer.isActive())
            m_trapSliceTimer.start(0);
        return true;
    }
    if (event->type() == kEventTrapsRefused) {
        // Once per burst: the listener reports when its socket went quiet.
        reportRefusedSenders();
        return true;
    }
    if (event->type() == kEventTrapsLost) {
        const std::uint64_t lost = m_trapsLost.exchange(0);
        if (m_arrival)
            m_arrival->OnTrapsLost(lost);
        return true;
    }
    if (event->type() == kEventTrapListenerFailed) {
        msgbox::show(QApplication::activeWindow(),
                     "Could not register with Winsnmp-- Will not be able to receive Traps.",
                     LoadString(IDS_PRODUCT_TITLE));
        return true;
    }
    return QDialog::event(event);
}

// A trap's proof of life: the poll cycle's handlers and the status grid.
void CVardelTabs::hostReachable(const std::string& address) {
    if (m_pollCycle)
        m_pollCycle->OnHostReachable(address);
}

void CVardelTabs::agentAnswered(const std::string& address) {
    if (m_pollCycle)
        m_pollCycle->OnAgentAnswered(address);
}

void CVardelTabs::showSnmpStatus(const std::string& serverName, const std::string& status) {
    m_statusTab->SetSnmpStatusCell(serverName, status);
}

void CVardelTabs::Shutdown() {
    saveWindowState();
    m_firstPollTimer.stop();
    m_pollTimer.stop();
    m_pollSession.reset();
    m_arrival.reset();
    m_attentionTimer.stop();
    m_quietEndTimer.stop();
    m_alertStore.onStored = nullptr;
    m_alertStore.noticeOf = nullptr;
    m_tray.reset();
    m_notifier.reset();
    // The notify window may be inside one of its own boxes or dialogs, which
    // run on while this window ends: it is hidden now and freed with this window.
    if (m_notifyWindow)
        m_notifyWindow->hide();
    m_servers.clear();
    m_ended = true;
    hide();
    // A probe under way is waited for with the window already gone.
    stopPolling();
    emit ended();
}
