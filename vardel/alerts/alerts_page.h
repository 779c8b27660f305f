#pragma once
// The Alerts page (form 330), third page of the main window: every
// outstanding alert as a row, sorted by any column, filtered by severity,
// server and text as they are typed, repeats grouped on request; Clear, Show,
// Launch and Jump to newest critical for the rows selected.

#include "vardel/alerts/alert_arrival.h"
#include "vardel/alerts/alert_list_model.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/store/console_settings.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QHeaderView;
class QTableView;
namespace Ui {
class CAlertsPage;
}

struct AlertsPageContext {
    AlertStore& store;
    const ConsoleSettings& settings; // managementServerName, browserPath
    AlertCounter& counter;
    // Shows alert n in the notify window.
    std::function<void(int sequence)> showAlert;
    // Opens a server's management page.
    std::function<void(const std::string& serverName)> openServerPage;
    // The alert the notify window shows (nullptr: none), and what it does
    // once alerts left the store under it: shows that alert again, or the
    // one now at its old number, or hides when the store is empty.
    std::function<const AlertRecord*()> alertOnDisplay = {};
    std::function<void(const AlertRecord* stillShown)> afterClear = {};
    // After alerts were acknowledged here: the notify window's line follows.
    std::function<void()> afterAcknowledge = {};
    // The user acknowledgements are made for.
    std::string userName = {};
};

class CAlertsPage : public QWidget {
    Q_OBJECT

public:
    explicit CAlertsPage(AlertsPageContext context, QWidget* parent = nullptr);
    ~CAlertsPage() override;

    AlertListModel& model() { return *m_model; }
    QTableView& view();
    QHeaderView& header();

    // The alerts of the selected rows, in row order (a group's members oldest first).
    std::vector<const AlertRecord*> selectedAlerts() const;

    // Clear Alert of the notify window for each selected alert: removed from
    // the store and from its server's count.
    void OnClear();
    // The notify window's Acknowledge for each selected alert not acknowledged
    // yet, oldest first: its log block, its server's count.
    void OnAcknowledge();
    void OnShow();
    void OnLaunch();
    void OnJumpToNewestCritical();

private:
    void applyFilter();
    void updateButtons();
    void updateShownLabel();

    std::unique_ptr<Ui::CAlertsPage> m_ui;
    AlertsPageContext m_ctx;
    AlertListModel* m_model;
};
