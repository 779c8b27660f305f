#include "vardel/polling/server_status_tab.h"

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "ui_server_list.h"
#include "ui_server_status.h"
#include "vardel/alerts/quiet_policy.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/program_env.h"
#include "vardel/store/server_list_edits.h"

#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>
#include <cstdlib>
#include <ctime>

namespace {

constexpr long kNameCol = 0;
constexpr long kAlertsCol = 1;
constexpr long kSnmpCol = 2;
constexpr long kPollCol = 3;
constexpr long kAttentionCol = 4;
constexpr short kCountAlignment = 1;
constexpr long kAttentionWidth = 4200;

} // namespace

CServerStatusTab::CServerStatusTab(ServerStatusContext context, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::CServerStatusTab>()), m_ctx(std::move(context)) {
    m_ui->setupUi(this);
    CMSFlexGrid& g = grid();
    g.SetRows(2);
    g.SetCols(4);
    // Page initialisation: the column widths.
    g.SetColWidth(kNameCol, 2200);
    g.SetColWidth(kAlertsCol, 1600);
    g.SetColWidth(kSnmpCol, 2000);
    g.SetColWidth(kPollCol, 2000);
    // Sorted by a click on a column's header, widened by dragging its edge;
    // the first widths fit the headers.
    g.SetAllowUserResizing(true);
    const int headers[] = {IDS_SERVER_NAME, IDS_OUTSTANDING_ALERTS, IDS_SNMP_STATUS, IDS_POLLING};
    for (long c = 0; c < 4; ++c)
        g.FitColumnToText(c, LoadString(headers[c]));
    connect(&g, &CMSFlexGrid::fixedRowClicked, this, [this](long col) { grid().SortByColumn(col); });
    connect(m_ui->filterEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { grid().SetFilterText(text.toStdString()); });
    connect(m_ui->problemsOnlyCheckBox, &QCheckBox::toggled, this, &CServerStatusTab::setProblemsOnly);
    g.viewport()->installEventFilter(this);
    connect(m_ui->launchButton, &QPushButton::clicked, this, &CServerStatusTab::OnLaunchButton);
    connect(m_ui->agentsStatusButton, &QPushButton::clicked, this, &CServerStatusTab::OnAgentsStatusButton);
    connect(m_ui->unknownSendersButton, &QPushButton::clicked, this, [this] {
        if (m_openUnknownSenders)
            m_openUnknownSenders();
    });
}

CServerStatusTab::~CServerStatusTab() = default;

CMSFlexGrid& CServerStatusTab::grid() {
    return *m_ui->statusGrid;
}

void CServerStatusTab::OnSetActive() {
    RebuildGrid();
}

void CServerStatusTab::RebuildGrid() {
    CMSFlexGrid& g = grid();
    g.setUpdatesEnabled(false);
    m_gridReady = true;
    m_rows.clear();
    g.Clear();
    g.SetRow(0);
    const int headers[] = {IDS_SERVER_NAME, IDS_OUTSTANDING_ALERTS, IDS_SNMP_STATUS, IDS_POLLING};
    for (long c = 0; c < 4; ++c) {
        g.SetCol(c);
        g.SetText(LoadString(headers[c]));
    }

    const bool haveServers = !m_ctx.servers.empty();
    m_ui->launchButton->setEnabled(!m_ctx.settings.browserPath.empty() &&
                                   !m_ctx.settings.managementServerName.empty() && haveServers);
    m_ui->agentsStatusButton->setEnabled(haveServers);

    const std::string& checking = LoadString(IDS_CHECKING);
    // The rows of the list go in above any left over, in one insertion.
    if (m_ctx.servers.size() > 1)
        g.AddItems(2, static_cast<long>(m_ctx.servers.size()) - 1);
    long r = 1;
    for (const auto& server : m_ctx.servers) {
        g.SetTextMatrix(r, kNameCol, server->name);
        m_rows[server->name].push_back(r);
        g.SetRow(r);
        writeCount(r, server->outstandingAlerts);
        if (server->snmpStatus != "INIT" && server->pollPending != 1)
            SetSnmpStatusCell(server->name, server->snmpStatus);
        else
            writeChecking(r, kSnmpCol, checking);
        if (server->networkStatus != "INIT")
            SetPollStatusCell(server->name, server->networkStatus);
        else
            writeChecking(r, kPollCol, checking);
        ++r;
    }
    // Rows left over from a longer list are empty now.
    for (long row = g.GetRows() - 1; row > 1; --row)
        if (g.GetTextMatrix(row, kNameCol).empty())
            g.RemoveItem(row);
    g.SetCol(1);
    g.SetColSel(0);
    g.SetSort(CMSFlexGrid::flexSortStringNoCaseAscending);
    indexRows();
    RefreshAttention();
    m_notSet.clear();
    for (const auto& server : m_ctx.servers)
        if (server->alertDestination == -1)
            m_notSet.insert(server->name);
    g.RefilterRows();
    if (!m_ctx.settings.lastPollTime.empty())
        m_ui->lastPollTimeLabel->setText(QString::fromStdString(m_ctx.settings.lastPollTime));
    g.setUpdatesEnabled(true);
}

void CServerStatusTab::setQuietPolicy(QuietPolicy* policy, std::function<void()> changed) {
    m_quiet = policy;
    m_quietChanged = std::move(changed);
    CMSFlexGrid& g = grid();
    g.setContextMenuPolicy(policy ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
    if (!policy)
        return;
    connect(&g, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const int row = grid().indexAt(pos).row();
        if (row < 1)
            return;
        const std::string name = grid().GetTextMatrix(row, kNameCol);
        if (name.empty())
            return;
        std::unique_ptr<QMenu> menu = snoozeMenuFor(name);
        menu->exec(grid().viewport()->mapToGlobal(pos));
    });
}

std::unique_ptr<QMenu> CServerStatusTab::snoozeMenuFor(const std::string& serverName) {
    auto menu = std::make_unique<QMenu>();
    if (!m_quiet)
        return menu;
    QMenu* snooze = menu->addMenu(QString::fromStdString(LoadString(IDS_SNOOZE_SERVER)));
    const auto done = [this] {
        RefreshAttention();
        if (m_quietChanged)
            m_quietChanged();
    };
    for (const auto& choice : {std::pair{IDS_SNOOZE_15_MIN, SnoozePeriod::quarterHour},
                               std::pair{IDS_SNOOZE_1_HOUR, SnoozePeriod::hour},
                               std::pair{IDS_SNOOZE_TOMORROW, SnoozePeriod::untilTomorrow}}) {
        const SnoozePeriod period = choice.second;
        connect(snooze->addAction(QString::fromStdString(LoadString(choice.first))), &QAction::triggered,
                this, [this, serverName, period, done] {
                    const std::time_t now = std::time(nullptr);
                    m_quiet->snooze(serverName, QuietPolicy::SnoozeEnd(period, now));
                    done();
                });
    }
    QAction* wake = menu->addAction(QString::fromStdString(LoadString(IDS_SNOOZE_END)));
    wake->setEnabled(m_quiet->snoozedUntil(serverName, std::time(nullptr)) != 0);
    connect(wake, &QAction::triggered, this, [this, serverName, done] {
        m_quiet->endSnooze(serverName);
        done();
    });
    return menu;
}

void CServerStatusTab::RefreshAttention() {
    if (!m_gridReady || !m_quiet)
        return;
    CMSFlexGrid& g = grid();
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> texts(static_cast<std::size_t>(g.GetRows()));
    bool any = false;
    for (long row = 1; row < g.GetRows(); ++row) {
        const std::string name = g.GetTextMatrix(row, kNameCol);
        texts[static_cast<std::size_t>(row)] =
            name.empty() ? std::string() : m_quiet->attentionText(name, now);
        any = any || !texts[static_cast<std::size_t>(row)].empty();
    }
    if (!any) {
        if (g.GetCols() > kAttentionCol)
            g.SetCols(kAttentionCol);
        return;
    }
    if (g.GetCols() <= kAttentionCol) {
        g.SetCols(kAttentionCol + 1);
        g.SetColWidth(kAttentionCol, kAttentionWidth);
    }
    g.SetTextMatrix(0, kAttentionCol, LoadString(IDS_GRID_ATTENTION));
    for (long row = 1; row < g.GetRows(); ++row)
        g.SetTextMatrix(row, kAttentionCol, texts[static_cast<std::size_t>(row)]);
}

void CServerStatusTab::indexRows() {
    m_rows.clear();
    CMSFlexGrid& g = grid();
    for (long row = 1; row < g.GetRows(); ++row)
        m_rows[g.GetTextMatrix(row, kNameCol)].push_back(row);
}

const std::vector<long>& CServerStatusTab::rowsOf(const std::string& serverName) const {
    static const std::vector<long> none;
    if (!m_gridReady)
        return none;
    auto it = m_rows.find(serverName);
    return it == m_rows.end() ? none : it->second;
}

void CServerStatusTab::writeChecking(long row, long col, const std::string& text) {
    CMSFlexGrid& g = grid();
    g.SetRow(row);
    g.SetCol(col);
    g.SetCellForeColor(kColourChecking);
    g.SetText(text);
}

void CServerStatusTab::writeCount(long row, std::int32_t count) {
    CMSFlexGrid& g = grid();
    g.SetRow(row);
    g.SetCol(kAlertsCol);
    g.SetCellAlignment(kCountAlignment);
    g.SetText(std::to_string(count));
}

void CServerStatusTab::writeSnmpCell(long row, const std::string& text) {
    CMSFlexGrid& g = grid();
    g.SetRow(row);
    g.SetCol(kSnmpCol);
    if (text == LoadString(IDS_DOWN))
        g.SetCellForeColor(kColourDown);
    else if (text == LoadString(IDS_UP))
        g.SetCellForeColor(kColourUp);
    // An agent that answered but refused the SNMPv3 credentials.
    const ManagedServer* server =
        text == LoadString(IDS_DOWN) ? FindServer(m_ctx.servers, g.GetTextMatrix(row, kNameCol)) : nullptr;
    if (server != nullptr && server->snmpRefusal != 0)
        g.SetText(text + " " + LoadString(IDS_V3_AUTH_MARK));
    else
        g.SetText(text);
}

void CServerStatusTab::writePollCell(long row, const std::string& text) {
    CMSFlexGrid& g = grid();
    g.SetRow(row);
    g.SetCol(kPollCol);
    if (text == LoadString(IDS_UP)) {
        g.SetCellForeColor(kColourUp);
        g.SetText(text);
    } else if (text == LoadString(IDS_DOWN)) {
        g.SetCellForeColor(kColourDown);
        g.SetText(text);
    } else {
        g.SetCellForeColor(kColourChecking);
        g.SetText(LoadString(IDS_CHECKING));
    }
}

void CServerStatusTab::MarkAllChecking(const std::string& text) {
    if (!m_gridReady)
        return;
    CMSFlexGrid& g = grid();
    for (long row = 1; row < g.GetRows(); ++row) {
        if (g.GetTextMatrix(row, kAlertsCol).empty())
            break;
        writeChecking(row, kSnmpCol, text);
        writeChecking(row, kPollCol, text);
    }
}

void CServerStatusTab::MarkServerChecking(const std::string& serverName, const std::string& text) {
    for (long row : rowsOf(serverName)) {
        if (grid().GetTextMatrix(row, kAlertsCol).empty())
            continue;
        writeChecking(row, kSnmpCol, text);
        writeChecking(row, kPollCol, text);
    }
}

void CServerStatusTab::SetSnmpStatusCell(const std::string& serverName, const std::string& text) {
    for (long row : rowsOf(serverName))
        writeSnmpCell(row, text);
}

void CServerStatusTab::SetPollStatusCell(const std::string& serverName, const std::string& text) {
    for (long row : rowsOf(serverName))
        writePollCell(row, text);
}

void CServerStatusTab::SetLastPollTime(const std::string& text) {
    m_ui->lastPollTimeLabel->setText(QString::fromStdString(text));
}

void CServerStatusTab::AdjustAlertCount(const std::string& serverName, int code) {
    for (long row : rowsOf(serverName)) {
        std::int32_t v = std::atoi(grid().GetTextMatrix(row, kAlertsCol).c_str());
        if (code == kAlertCountAdd)
            v += 1;
        else if (code == kAlertCountRemove && v != 0)
            v -= 1;
        writeCount(row, v);
    }
    ManagedServer* server = FindServerByName(m_ctx.servers, serverName);
    if (server == nullptr)
        return;
    if (code == kAlertCountAdd)
        server->outstandingAlerts += 1;
    else if (code == kAlertCountRemove && server->outstandingAlerts != 0)
        server->outstandingAlerts -= 1;
    else if (code == kAlertCountReset)
        server->outstandingAlerts = 0;
}

void CServerStatusTab::ResetAlertCounts() {
    if (!m_gridReady) {
        for (auto& server : m_ctx.servers)
            server->outstandingAlerts = 0;
        return;
    }
    CMSFlexGrid& g = grid();
    if (g.GetRows() < 2)
        return;
    for (long row = 1; row < g.GetRows(); ++row) {
        writeCount(row, 0);
        if (ManagedServer* server = FindServerByName(m_ctx.servers, g.GetTextMatrix(row, kNameCol)))
            server->outstandingAlerts = 0;
    }
}

void CServerStatusTab::OnLaunchButton() {
    if (m_ctx.servers.empty())
        return;
    std::list<std::string> names;
    CollectServerNamesBySnmpStatus(m_ctx.servers, names, LoadString(IDS_UP));
    if (names.empty()) {
        msgbox::show(this, LoadString(IDS_NOT_LAUNCHED), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    CServerListDlg chooser(this, names, 0);
    if (chooser.exec() != QDialog::Accepted)
        return;
    if (m_ctx.openServerPage)
        m_ctx.openServerPage(chooser.selectedServer());
}

void CServerStatusTab::OnAgentsStatusButton() {
    if (m_ctx.servers.empty())
        return;
    std::list<std::string> names;
    CollectServerNamesBySnmpStatus(m_ctx.servers, names, LoadString(IDS_UP));
    if (names.empty()) {
        msgbox::show(this, LoadString(IDS_MANAGEMENT_ONLY_UP), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    CServerListDlg chooser(this, names, 1);
    if (chooser.exec() != QDialog::Accepted)
        return;
    const ManagedServer* server = FindServerByName(m_ctx.servers, chooser.selectedServer());
    const std::string& title = LoadString(IDS_PRODUCT_TITLE);
    if (server == nullptr) {
        msgbox::show(this, LoadString(IDS_NO_SERVER_INFO), title);
        return;
    }
    bool opened = false;
    if (!ServerIpAddress(*server).empty()) {
        opened = m_ctx.openAgentsDialog &&
                 m_ctx.openAgentsDialog(server->name, ServerIpAddress(*server), "IP", server->community);
    } else if (server->ipxAddress.empty()) {
        msgbox::show(this, LoadString(IDS_NO_ADDRESS), title);
        return;
    } else {
        opened = m_ctx.openAgentsDialog &&
                 m_ctx.openAgentsDialog(server->name, server->ipxAddress, "IPX", server->community);
    }
    if (!opened)
        msgbox::show(this, LoadString(IDS_NO_MEMORY), title, msgbox::Buttons::Ok, msgbox::Icon::Error);
}

CServerListDlg::CServerListDlg(QWidget* parent, const std::list<std::string>& names, int mode)
    : QDialog(parent), m_ui(std::make_unique<Ui::CServerListDlg>()) {
    m_ui->setupUi(this);
    m_ui->explanationLabel->setText(
        QString::fromStdString(LoadString(mode == 0 ? IDS_LAUNCH_ONLY_UP : IDS_MANAGEMENT_ONLY_UP)));
    for (const std::string& name : names)
        m_ui->serverListBox->addItem(QString::fromStdString(name));
    connect(m_ui->okButton, &QPushButton::clicked, this, &CServerListDlg::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &CServerListDlg::reject);
}

CServerListDlg::~CServerListDlg() = default;

void CServerListDlg::accept() {
    const QList<QListWidgetItem*> chosen = m_ui->serverListBox->selectedItems();
    if (chosen.isEmpty()) {
        msgbox::show(this, LoadString(IDS_SELECT_SERVER), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    m_selected = chosen.front()->text().toStdString();
    QDialog::accept();
}

// DOWN either way, NOT SET, or with outstanding alerts.
void CServerStatusTab::setProblemsOnly(bool on) {
    if (!on) {
        grid().SetRowFilter(nullptr);
        return;
    }
    grid().SetRowFilter([this](long row) {
        const CMSFlexGrid& g = grid();
        const std::string& down = LoadString(IDS_DOWN);
        return g.GetTextMatrix(row, kSnmpCol) == down || g.GetTextMatrix(row, kPollCol) == down ||
               std::atoi(g.GetTextMatrix(row, kAlertsCol).c_str()) > 0 ||
               m_notSet.count(g.GetTextMatrix(row, kNameCol)) != 0;
    });
}

std::string CServerStatusTab::rowDetail(long row) const {
    CMSFlexGrid& g = const_cast<CServerStatusTab*>(this)->grid();
    const ManagedServer* server = FindServerByName(m_ctx.servers, g.GetTextMatrix(row, kNameCol));
    if (!server)
        return {};
    std::string detail = server->lastAnswer
                             ? FormatString(IDS_LAST_ANSWER, {FormatLocalTime(server->lastAnswer)})
                             : LoadString(IDS_NO_ANSWER_YET);
    if (const std::time_t next = m_ctx.nextPollTime ? m_ctx.nextPollTime() : 0)
        detail += "\n" + FormatString(IDS_NEXT_POLL, {FormatLocalTime(next)});
    if (!server->lastFailure.empty())
        detail += "\n" + FormatLocalTime(server->lastFailureTime) + ": " + server->lastFailure;
    return detail;
}

// Each row's detail as its tooltip, made when asked for.
bool CServerStatusTab::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && watched == grid().viewport()) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int shown = grid().rowAt(help->pos().y());
        const long row = shown > 0 ? grid().gridRow(shown) : -1;
        const std::string detail = row > 0 ? rowDetail(row) : std::string();
        if (detail.empty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), QString::fromStdString(detail), grid().viewport());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
