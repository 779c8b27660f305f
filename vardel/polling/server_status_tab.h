#pragma once
// The Server Status tab (template 130): one grid row per managed server with
// its outstanding alerts, SNMP status and Polling status; the last poll time;
// the Launch and agents status buttons. The grid is a view of the server list,
// rebuilt whenever the tab is shown.

#include "vardel/alerts/alert_arrival.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/store/config_store.h"
#include "vardel/store/console_settings.h"

#include <QDialog>
#include <QWidget>
#include <cstdint>
#include <ctime>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CMSFlexGrid;
class QMenu;
class QuietPolicy;
namespace Ui {
class CServerStatusTab;
class CServerListDlg;
} // namespace Ui

// Cell colours (Windows colour values).
inline constexpr std::uint32_t kColourUp = 763449;         // RGB(57, 166, 11)
inline constexpr std::uint32_t kColourDown = 210;          // RGB(210, 0, 0)
inline constexpr std::uint32_t kColourChecking = 16711680; // RGB(0, 0, 255)
// Outstanding-alert code that resets a server's count (its record only).
inline constexpr int kAlertCountReset = 500;

struct ServerStatusContext {
    ServerList& servers;
    const ConsoleSettings& settings; // lastPollTime, browserPath, managementServerName
    // Opens a server's management page.
    std::function<void(const std::string& serverName)> openServerPage;
    // Opens the agents dialog of one server (kind "IP" or "IPX"); false when
    // the dialog could not be created.
    std::function<bool(const std::string& name, const std::string& address, const std::string& kind,
                       const std::string& community)>
        openAgentsDialog;
    // When the next poll cycle starts (0: none is due); empty: none.
    std::function<std::time_t()> nextPollTime = {};
};

class CServerStatusTab : public QWidget, public StatusCells, public AlertCounter {
    Q_OBJECT

public:
    explicit CServerStatusTab(ServerStatusContext context, QWidget* parent = nullptr);
    ~CServerStatusTab() override;

    // "Unknown senders...": opens the list of the traps' unknown senders.
    void setUnknownSendersOpener(std::function<void()> open) { m_openUnknownSenders = std::move(open); }

    // Snooze from the grid's context menu, and the column that shows snoozes
    // and flapping servers (there only while one is). changed: told after the
    // menu snoozed or woke a server.
    void setQuietPolicy(QuietPolicy* policy, std::function<void()> changed);
    // Fills the attention column from the policy, adding or removing it.
    void RefreshAttention();
    // The context menu of a server's row: Snooze (15 min, 1 h, Until
    // tomorrow) and End Snooze.
    std::unique_ptr<QMenu> snoozeMenuFor(const std::string& serverName);

    // Page activation: the grid is rebuilt from the server list.
    void OnSetActive();
    void RebuildGrid();

    void MarkAllChecking(const std::string& text) override;
    void MarkServerChecking(const std::string& serverName, const std::string& text) override;
    void SetSnmpStatusCell(const std::string& serverName, const std::string& text) override;
    void SetPollStatusCell(const std::string& serverName, const std::string& text) override;
    void SetLastPollTime(const std::string& text) override;
    // 300 adds one, 400 takes one away (never below 0), 500 resets the record.
    void AdjustAlertCount(const std::string& serverName, int code) override;
    void ResetAlertCounts() override;

    void OnLaunchButton();
    void OnAgentsStatusButton();

    CMSFlexGrid& grid();
    // The tooltip of a grid row: last answer, next poll, last failure.
    std::string rowDetail(long row) const;
    // Until the tab has been shown the cell operations leave the grid alone.
    bool gridReady() const { return m_gridReady; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setProblemsOnly(bool on);
    std::function<void()> m_openUnknownSenders;
    QuietPolicy* m_quiet = nullptr;
    std::function<void()> m_quietChanged;
    const std::vector<long>& rowsOf(const std::string& serverName) const;
    void writeSnmpCell(long row, const std::string& text);
    void writePollCell(long row, const std::string& text);
    void writeChecking(long row, long col, const std::string& text);
    void writeCount(long row, std::int32_t count);
    void indexRows();

    std::unique_ptr<Ui::CServerStatusTab> m_ui;
    ServerStatusContext m_ctx;
    bool m_gridReady = false;
    // Grid rows by their column-0 text; rows change only in RebuildGrid.
    std::unordered_map<std::string, std::vector<long>> m_rows;
    // Servers whose alert destination is NOT SET, as of the last rebuild.
    std::unordered_set<std::string> m_notSet;
};

// The "Server List" chooser (template 159): mode 0 for Launch, 1 for agents status.
class CServerListDlg : public QDialog {
    Q_OBJECT

public:
    CServerListDlg(QWidget* parent, const std::list<std::string>& names, int mode);
    ~CServerListDlg() override;
    // The chosen name; valid after the dialog ended with OK.
    const std::string& selectedServer() const { return m_selected; }

public slots:
    void accept() override;

private:
    std::unique_ptr<Ui::CServerListDlg> m_ui;
    std::string m_selected;
};
