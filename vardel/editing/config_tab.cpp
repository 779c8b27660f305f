#include "vardel/editing/config_tab.h"

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "ui_about.h"
#include "ui_config_tab.h"
#include "vardel/alerts/alert_destination.h"
#include "vardel/editing/add_servers_dialog.h"
#include "vardel/editing/advanced_options_dialog.h"
#include "vardel/editing/dialog_manners.h"
#include "vardel/editing/server_dialogs.h"
#include "vardel/editing/trap_definitions_dialog.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/server_list_edits.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <functional>
#include <new>
#include <unordered_map>

namespace {

enum Column : long { kNameCol = 0, kNosCol, kIpCol, kIpxCol, kCommunityCol, kAlertDestinationCol, kColumns };
constexpr long kColumnTwips[kColumns] = {1600, 800, 1700, 2100, 1600, 1250};
constexpr int kColumnHeaders[kColumns] = {IDS_SERVER_NAME, IDS_NOS,       IDS_IP_ADDRESS,
                                          IDS_IPX_ADDRESS, IDS_COMMUNITY, IDS_ALERT_DESTINATION};
// Reset reads a row's name into a buffer of this many characters.
constexpr std::size_t kNameBuffer = 511;

// Icon 161: a server tower with a red alert light.
QPixmap headerIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(0, 64, 160));
    p.drawRoundedRect(8, 2, 16, 28, 3, 3);
    p.setBrush(QColor(200, 200, 200));
    for (int y : {7, 12, 17})
        p.drawRect(11, y, 10, 3);
    p.setBrush(QColor(210, 0, 0));
    p.drawEllipse(13, 23, 6, 5);
    return pixmap;
}

} // namespace

// The wait cursor and the busy flag of one add, edit or reset pass.
class CConfigTab::BusyScope {
public:
    explicit BusyScope(CConfigTab& tab) : m_tab(tab) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_tab.m_busy = true;
        if (m_tab.m_ctx.setBusy)
            m_tab.m_ctx.setBusy(true);
    }
    ~BusyScope() {
        m_tab.m_busy = false;
        if (m_tab.m_ctx.setBusy)
            m_tab.m_ctx.setBusy(false);
        QApplication::restoreOverrideCursor();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    CConfigTab& m_tab;
};

CConfigTab::CConfigTab(ConfigTabContext context, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::CConfigTab>()), m_ctx(std::move(context)) {
    m_ui->setupUi(this);
    CMSFlexGrid& g = grid();
    g.SetRows(2);
    g.SetCols(kColumns);
    g.SetSelectionMode(CMSFlexGrid::flexSelectionByRow);
    connect(m_ui->addServersButton, &QPushButton::clicked, this, &CConfigTab::OnAddServers);
    connect(m_ui->removeServersButton, &QPushButton::clicked, this, &CConfigTab::OnRemoveServers);
    connect(m_ui->editServersButton, &QPushButton::clicked, this, &CConfigTab::OnEditServers);
    connect(m_ui->resetAlertDestinationButton, &QPushButton::clicked, this,
            &CConfigTab::ResetAlertDestinations);
    connect(m_ui->advancedOptionsButton, &QPushButton::clicked, this, &CConfigTab::OnAdvancedOptions);
    connect(m_ui->aboutButton, &QPushButton::clicked, this, &CConfigTab::OnAbout);
    connect(m_ui->trapDefinitionsButton, &QPushButton::clicked, this, &CConfigTab::OnTrapDefinitions);
    connect(m_ui->popUpMinimizedCheckBox, &QCheckBox::toggled, this,
            [this](bool checked) { m_popUpMinimized = checked; });
    installEventFilter(this);
    g.viewport()->installEventFilter(this);
    // Sorted by a click on a column's header and filtered by a text, as shown
    // only: the grid's own order stays that of TrimAndSortGrid.
    g.SetAllowUserResizing(true);
    connect(&g, &CMSFlexGrid::fixedRowClicked, this, [this](long col) { grid().SortByColumn(col); });
    connect(m_ui->filterEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { grid().SetFilterText(text.toStdString()); });
    m_formSize = size();
    for (QObject* child : children())
        if (auto* w = qobject_cast<QWidget*>(child))
            m_formGeometry.emplace_back(w, w->geometry());
}

void CConfigTab::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int dx = std::max(0, width() - m_formSize.width());
    const int dy = std::max(0, height() - m_formSize.height());
    for (const auto& [w, rect] : m_formGeometry) {
        if (w == m_ui->managedServersGroupBox || w == m_ui->serverGrid)
            w->setGeometry(rect.adjusted(0, 0, dx, dy));
        else
            w->setGeometry(rect.translated(0, dy));
    }
    // The filter stays at the top of the group.
    for (const auto& [w, rect] : m_formGeometry)
        if (w == m_ui->filterEdit)
            w->setGeometry(rect);
}

CConfigTab::~CConfigTab() = default;

CMSFlexGrid& CConfigTab::grid() {
    return *m_ui->serverGrid;
}

void CConfigTab::OnInitDialog() {
    CMSFlexGrid& g = grid();
    g.setUpdatesEnabled(false);
    for (long c = 0; c < kColumns; ++c) {
        g.SetColWidth(c, kColumnTwips[c]);
        g.SetTextMatrix(0, c, LoadString(kColumnHeaders[c]));
        g.FitColumnToText(c, LoadString(kColumnHeaders[c]));
    }
    std::vector<const ManagedServer*> listed;
    listed.reserve(m_ctx.servers.size());
    for (const auto& server : m_ctx.servers)
        listed.push_back(server.get());
    insertServerRows(listed);
    TrimAndSortGrid();
    g.setUpdatesEnabled(true);

    // Read-only keeps the tab disabled even with an empty list: OK saves nothing then.
    if (m_ctx.settings.readOnly == 1) {
        m_ui->resetAlertDestinationButton->setEnabled(false);
        m_ui->removeServersButton->setEnabled(false);
        m_ui->editServersButton->setEnabled(false);
        m_ui->advancedOptionsButton->setEnabled(false);
        m_ui->addServersButton->setEnabled(false);
        g.setEnabled(false);
        m_ui->readOnlyLabel->setText(editing::toQt(LoadString(IDS_READ_ONLY)));
    } else if (m_ctx.servers.empty()) {
        EnableEditButtons(false);
    }
}

void CConfigTab::InsertServerRow(const ManagedServer& server) {
    insertServerRows({&server});
}

// The blank last row takes the first server; every other server gets a row of
// its own inserted before the last row, in order. The current row ends on the
// row inserted last.
void CConfigTab::insertServerRows(const std::vector<const ManagedServer*>& servers) {
    if (servers.empty())
        return;
    CMSFlexGrid& g = grid();
    const long last = g.GetRows() - 1;
    const bool blankLast = g.GetTextMatrix(last, kNameCol).empty();
    const long count = static_cast<long>(servers.size()) - (blankLast ? 1 : 0);
    g.AddItems(last, count);
    std::size_t next = blankLast ? 1 : 0;
    for (long row = last; row < last + count; ++row)
        fillRow(row, *servers[next++]);
    if (blankLast)
        fillRow(last + count, *servers.front());
    g.SetRow(count > 0 ? last + count - 1 : last);
}

void CConfigTab::fillRow(long row, const ManagedServer& server) {
    CMSFlexGrid& g = grid();
    g.SetRow(row);
    g.SetCol(kNameCol);
    g.SetText(server.name);
    g.SetCol(kNosCol);
    if (const char* nos = NosTextFromCode(server.nosCode))
        g.SetText(nos);
    g.SetCol(kIpCol);
    g.SetCellAlignment(CMSFlexGrid::flexAlignLeftCenter);
    // The IPv6 address stands in the column of a server without an IPv4
    // address; beside one, it is the cell's tooltip.
    g.SetText(ServerIpAddress(server));
    g.SetCellToolTip(server.ipAddress.empty() ? std::string() : server.ip6Address);
    g.SetCol(kIpxCol);
    g.SetCellAlignment(CMSFlexGrid::flexAlignLeftCenter);
    g.SetText(server.ipxAddress);
    g.SetCol(kCommunityCol);
    g.SetText(server.community);
    g.SetCol(kAlertDestinationCol);
    // Why NOT SET, when this run tried.
    g.SetCellToolTip(server.alertDestination == -1 ? AlertDestinationReason(server.alertDestinationStatus)
                                                   : std::string());
    if (server.alertDestination == -1) {
        g.SetCellForeColor(kColourNotSet);
        g.SetText(LoadString(IDS_NOT_SET));
    } else if (server.alertDestination == 1) {
        g.SetCellForeColor(kColourSet);
        g.SetText(LoadString(IDS_SET));
    }
}

void CConfigTab::DeleteServerRow(const std::string& name) {
    CMSFlexGrid& g = grid();
    if (g.GetRows() == 2) {
        for (long c = 0; c < kColumns; ++c)
            g.SetTextMatrix(1, c, std::string());
        return;
    }
    g.SetCol(kNameCol);
    for (long r = 1; r < g.GetRows(); ++r) {
        if (g.GetTextMatrix(r, kNameCol) == name) {
            g.RemoveItem(r);
            return;
        }
    }
}

void CConfigTab::TrimAndSortGrid() {
    CMSFlexGrid& g = grid();
    g.SetRow(g.GetRows() - 1);
    g.SetCol(kNameCol);
    if (g.GetText().empty() && g.GetRows() > 2)
        g.RemoveItem(g.GetRows() - 1);
    g.SetCol(kNosCol);
    g.SetColSel(kNameCol);
    g.SetSort(CMSFlexGrid::flexSortStringNoCaseAscending);
}

void CConfigTab::EnableControls(bool enable) {
    m_ui->resetAlertDestinationButton->setEnabled(enable);
    m_ui->removeServersButton->setEnabled(enable);
    m_ui->editServersButton->setEnabled(enable);
    m_ui->advancedOptionsButton->setEnabled(enable);
    m_ui->addServersButton->setEnabled(enable);
    m_ui->trapDefinitionsButton->setEnabled(enable);
    grid().setEnabled(enable);
    if (m_ctx.sheetOkButton)
        m_ctx.sheetOkButton->setEnabled(enable);
    if (m_ctx.sheetCancelButton)
        m_ctx.sheetCancelButton->setEnabled(enable);
}

void CConfigTab::EnableEditButtons(bool enable) {
    m_ui->resetAlertDestinationButton->setEnabled(enable);
    m_ui->removeServersButton->setEnabled(enable);
    m_ui->editServersButton->setEnabled(enable);
    m_ui->advancedOptionsButton->setEnabled(true);
    m_ui->addServersButton->setEnabled(true);
    m_ui->trapDefinitionsButton->setEnabled(true);
    grid().setEnabled(true);
    if (m_ctx.sheetOkButton)
        m_ctx.sheetOkButton->setEnabled(true);
    if (m_ctx.sheetCancelButton)
        m_ctx.sheetCancelButton->setEnabled(true);
}

void CConfigTab::OnAddServerAt(const std::string& address) {
    if (m_ctx.settings.readOnly == 1 || m_busy)
        return;
    m_addAt = address;
    OnAddServers();
    m_addAt.clear();
}

void CConfigTab::OnAddServers() {
    NewServers added;
    if (!m_addAt.empty()) {
        bool created = true;
        added = RunAddServersDialogAt(this, created, m_addAt);
        if (!created) {
            noMemory();
            return;
        }
    } else if (m_ctx.runAddServersDialog) {
        bool created = true;
        added = m_ctx.runAddServersDialog(this, created);
        if (!created) {
            noMemory();
            return;
        }
    }
    BusyScope busy(*this);
    EnableControls(false);

    // Every new server is contacted, a name already listed included. The SETs
    // are outstanding together and the servers then added in order: the same
    // outcome as contacting and adding them one after the other.
    std::vector<ManagedServer*> contacted;
    for (const auto& server : added)
        if (server)
            contacted.push_back(server.get());
    if (!contacted.empty())
        setAlertDestinations(contacted, {});

    CMSFlexGrid& g = grid();
    g.setUpdatesEnabled(false);
    const std::vector<ManagedServer*> listed = AddServersIfNew(m_ctx.servers, added);
    insertServerRows({listed.begin(), listed.end()});
    if (!listed.empty() && m_ctx.listChanged)
        m_ctx.listChanged();
    if (m_ctx.pollServer)
        for (const ManagedServer* server : listed)
            m_ctx.pollServer(server->name);

    if (!m_ctx.servers.empty())
        EnableControls(true);
    else
        EnableEditButtons(false);
    TrimAndSortGrid();
    g.setUpdatesEnabled(true);
}

// Row by row, the block goes from its top row down; the last data row of the
// grid is blanked rather than removed. Done here in one change of the grid
// and one pass over the list.
void CConfigTab::OnRemoveServers() {
    CMSFlexGrid& g = grid();
    if (g.isArranged()) {
        removeShownSelection();
        return;
    }
    const long top = std::max(1L, std::min(g.GetRow(), g.GetRowSel()));
    const long bottom = std::min(std::max(g.GetRow(), g.GetRowSel()), g.GetRows() - 1);
    std::vector<std::string> names;
    for (long row = top; row <= bottom; ++row)
        names.push_back(g.GetTextMatrix(row, kNameCol));
    if (!names.empty()) {
        g.setUpdatesEnabled(false);
        if (top == 1 && bottom == g.GetRows() - 1) {
            g.RemoveItems(1, bottom - 1);
            for (long col = 0; col < kColumns; ++col)
                g.SetTextMatrix(1, col, std::string());
        } else {
            g.RemoveItems(top, bottom - top + 1);
        }
        g.setUpdatesEnabled(true);
        RemoveServers(m_ctx.servers, names);
        if (m_ctx.listChanged)
            m_ctx.listChanged();
    }
    EnableEditButtons(!m_ctx.servers.empty());
}

// The rows of a sorted or filtered grid's block are not one block of the
// grid's own rows: each goes on its own, the last data row blanked rather
// than removed, as the block removal does.
void CConfigTab::removeShownSelection() {
    CMSFlexGrid& g = grid();
    std::vector<long> rows = g.SelectedRows();
    rows.erase(std::remove(rows.begin(), rows.end(), 0L), rows.end());
    std::sort(rows.begin(), rows.end(), std::greater<>());
    std::vector<std::string> names;
    g.setUpdatesEnabled(false);
    for (long row : rows) {
        names.push_back(g.GetTextMatrix(row, kNameCol));
        if (g.GetRows() == 2) {
            for (long col = 0; col < kColumns; ++col)
                g.SetTextMatrix(1, col, std::string());
        } else {
            g.RemoveItem(row);
        }
    }
    g.setUpdatesEnabled(true);
    if (!names.empty()) {
        RemoveServers(m_ctx.servers, names);
        if (m_ctx.listChanged)
            m_ctx.listChanged();
    }
    EnableEditButtons(!m_ctx.servers.empty());
}

void CConfigTab::OnEditServers() {
    CMSFlexGrid& g = grid();
    // The block as shown: in the grid's own order, its rows top to bottom.
    for (long i : g.SelectedRows()) {
        const std::string name = g.GetTextMatrix(i, kNameCol);
        if (name.empty())
            continue;
        // The IP column of an IPv6-only server holds its IPv6 address.
        const ManagedServer* listed = FindServer(m_ctx.servers, name);
        const std::string ip6 = listed != nullptr ? listed->ip6Address : std::string();
        const std::string ip = listed != nullptr && listed->ipAddress.empty() && !ip6.empty()
                                   ? std::string()
                                   : g.GetTextMatrix(i, kIpCol);
        std::unique_ptr<CEditServerInfoDlg> dialog(new (std::nothrow) CEditServerInfoDlg(
            this, name, g.GetTextMatrix(i, kNosCol), ip, g.GetTextMatrix(i, kIpxCol),
            g.GetTextMatrix(i, kCommunityCol)));
        if (!dialog) {
            noMemory();
            return;
        }
        dialog->setIp6Address(ip6);
        if (const ManagedServer* current = FindServer(m_ctx.servers, name))
            dialog->setV3(current->v3, m_ctx.consoleEngineId);
        if (dialog->exec() != QDialog::Accepted)
            return;
        ManagedServer* server =
            UpdateServer(m_ctx.servers, dialog->name(), dialog->nosText(), dialog->ipAddress(),
                         dialog->ipxAddress(), dialog->ip6Address(), dialog->community());
        if (!server)
            continue;
        if (dialog->v3Changed()) {
            server->v3 = dialog->v3();
            server->snmpRefusal = 0;
            if (m_ctx.credentialsChanged)
                m_ctx.credentialsChanged(*server);
        }
        if (m_ctx.listChanged)
            m_ctx.listChanged();
        BusyScope busy(*this);
        EnableControls(false);
        setAlertDestinations({server}, {});
        DeleteServerRow(server->name);
        InsertServerRow(*server);
        TrimAndSortGrid();
        EnableControls(true);
    }
    msgbox::show(this, LoadString(IDS_NEXT_CYCLE), LoadString(IDS_EDIT_SERVERS));
}

void CConfigTab::ResetAlertDestinations() {
    EnableControls(false);
    {
        BusyScope busy(*this);
        CMSFlexGrid& g = grid();
        // Each server's row is rewritten in place as its outcome arrives: its
        // name and NOS stay, so the sort would put it back where it is.
        std::unordered_map<std::string, ManagedServer*> byName; // FindServer: the first wins
        for (const auto& server : m_ctx.servers)
            byName.emplace(server->name, server.get());
        std::vector<ManagedServer*> selected;
        std::unordered_map<const ManagedServer*, long> rowOf;
        for (long i : g.SelectedRows()) {
            std::string name = g.GetTextMatrix(i, kNameCol);
            if (name.size() > kNameBuffer)
                name.resize(kNameBuffer);
            const auto found = byName.find(name);
            ManagedServer* server = found == byName.end() ? nullptr : found->second;
            if (server && rowOf.emplace(server, i).second)
                selected.push_back(server);
        }
        if (!selected.empty()) {
            setAlertDestinations(selected, [this, &rowOf](ManagedServer& server) {
                const long row = rowOf.at(&server);
                if (grid().GetTextMatrix(row, kNameCol) == server.name)
                    fillRow(row, server);
            });
            TrimAndSortGrid();
        }
    }
    EnableControls(true);
}

void CConfigTab::OnAdvancedOptions() {
    ConsoleSettings& s = m_ctx.settings;
    AdvancedOptions current;
    current.retry = s.retry;
    current.pollTime = s.pollTime;
    current.managementServerName = s.managementServerName;
    current.soundFile = s.soundFile;
    current.port = s.port;
    current.useSsl = s.useSsl;
    current.useDhcp = s.useDhcp;
    current.playSound = s.playSound;
    current.alertCeiling = s.alertCeiling;
    current.receiveStandardTraps = s.receiveStandardTraps;
    current.showUnclassifiedTraps = s.showUnclassifiedTraps;
    current.desktopNotifications = s.desktopNotifications;
    current.quietHours = s.quietHours;
    current.quietHoursStart = s.quietHoursStart;
    current.quietHoursEnd = s.quietHoursEnd;
    current.flapping = s.flapping;
    current.flappingChanges = s.flappingChanges;
    current.flappingMinutes = s.flappingMinutes;
    current.checkTrapCommunity = s.checkTrapCommunity;
    std::unique_ptr<CAdvancedOptionsDlg> dialog(new (std::nothrow) CAdvancedOptionsDlg(this, current));
    if (!dialog) {
        noMemory();
        return;
    }
    dialog->exec();
    const AdvancedOptions& chosen = dialog->values();
    s.retry = chosen.retry;
    s.pollTime = chosen.pollTime;
    s.managementServerName = chosen.managementServerName;
    s.soundFile = chosen.soundFile;
    s.port = chosen.port;
    s.useSsl = chosen.useSsl == 1 ? 1 : 0;
    s.useDhcp = chosen.useDhcp;
    s.playSound = chosen.playSound;
    s.alertCeiling = chosen.alertCeiling;
    s.receiveStandardTraps = chosen.receiveStandardTraps == 1 ? 1 : 0;
    s.showUnclassifiedTraps = chosen.showUnclassifiedTraps == 1 ? 1 : 0;
    s.desktopNotifications = chosen.desktopNotifications;
    s.quietHours = chosen.quietHours == 1 ? 1 : 0;
    s.quietHoursStart = chosen.quietHoursStart;
    s.quietHoursEnd = chosen.quietHoursEnd;
    s.flapping = chosen.flapping == 1 ? 1 : 0;
    s.flappingChanges = chosen.flappingChanges;
    s.flappingMinutes = chosen.flappingMinutes;
    s.checkTrapCommunity = chosen.checkTrapCommunity == 1 ? 1 : 0;
    if (settingsChanged)
        settingsChanged();
}

// A read-only console lists the definitions; the dialog says why it cannot change them.
void CConfigTab::OnTrapDefinitions() {
    TrapDefinitionsContext context;
    context.programDir = m_ctx.settings.programDirectory;
    context.readOnly = m_ctx.settings.readOnly == 1;
    context.baseModuleDir = m_ctx.baseModuleDir;
    context.definitionsChanged = m_ctx.definitionsChanged;
    std::unique_ptr<CTrapDefinitionsDlg> dialog(new (std::nothrow)
                                                    CTrapDefinitionsDlg(this, std::move(context)));
    if (!dialog) {
        noMemory();
        return;
    }
    dialog->exec();
}

void CConfigTab::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CConfigTab::setAlertDestinations(const std::vector<ManagedServer*>& servers,
                                      const std::function<void(ManagedServer&)>& applied) {
    if (m_ctx.setAlertDestinations) {
        m_ctx.setAlertDestinations(servers, applied);
        return;
    }
    const ConsoleSettings& s = m_ctx.settings;
    SetAlertDestinations(servers, s.hostIpAddress, s.hostIpxAddress, s.hostName, s.useDhcp, applied);
}

void CConfigTab::noMemory() {
    msgbox::show(this, LoadString(IDS_NO_MEMORY), LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok,
                 msgbox::Icon::Error);
}

bool CConfigTab::eventFilter(QObject* watched, QEvent* event) {
    if (m_busy) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
        case QEvent::HoverMove:
            keepWaitCursor();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CConfigTab::keepWaitCursor() {
    const QCursor* cursor = QApplication::overrideCursor();
    if (cursor && cursor->shape() != Qt::WaitCursor)
        QApplication::changeOverrideCursor(Qt::WaitCursor);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::CAboutDlg>()) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    m_ui->iconLabel->setPixmap(headerIcon());
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;
