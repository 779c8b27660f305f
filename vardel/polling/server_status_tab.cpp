#include "vardel/polling/server_status_tab.h"

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "ui_server_list.h"
#include "ui_server_status.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/server_list_edits.h"

#include <cstdlib>

namespace {

constexpr long kNameCol = 0;
constexpr long kAlertsCol = 1;
constexpr long kSnmpCol = 2;
constexpr long kPollCol = 3;
constexpr short kCountAlignment = 1;

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
    if (!m_ctx.settings.lastPollTime.empty())
        m_ui->lastPollTimeLabel->setText(QString::fromStdString(m_ctx.settings.lastPollTime));
    g.setUpdatesEnabled(true);
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
    if (!server->ipAddress.empty()) {
        opened = m_ctx.openAgentsDialog &&
                 m_ctx.openAgentsDialog(server->name, server->ipAddress, "IP", server->community);
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
