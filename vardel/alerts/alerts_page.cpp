#include "vardel/alerts/alerts_page.h"

#include "platform/msgbox/msgbox.h"
#include "ui_alerts_page.h"
#include "vardel/resources/qt_text.h"
#include "vardel/resources/string_table.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyle>
#include <QTableView>
#include <set>

CAlertsPage::CAlertsPage(AlertsPageContext context, QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::CAlertsPage>()), m_ctx(std::move(context)),
      m_model(new AlertListModel(m_ctx.store, this)) {
    m_ui->setupUi(this);
    QComboBox* severity = m_ui->severityComboBox;
    severity->addItem(toQt(LoadString(IDS_SEVERITY_ANY)), AlertListModel::kAnySeverity);
    for (int code : {int(kSeverityCritical), int(kSeverityWarning), int(kSeverityInformational),
                     int(kSeverityNormal), int(kSeverityUnclassified)})
        severity->addItem(AlertListModel::severityWord(code), code);

    QTableView& v = view();
    v.setModel(m_model);
    // Rows of one fixed height, so that the view needs nothing per row.
    QHeaderView& rows = *v.verticalHeader();
    rows.setMinimumSectionSize(1);
    // As high as a line of text or the severity's colour, as a list's rows are.
    rows.setDefaultSectionSize(std::max(QFontMetrics(v.font()).height(),
                                        v.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &v)) +
                               2);
    rows.setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView& h = header();
    h.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    h.setSortIndicator(AlertListModel::kSequenceCol, Qt::DescendingOrder);
    v.setSortingEnabled(true);
    h.setStretchLastSection(true);
    h.setSectionsMovable(false);
    // First widths fit the headers, the time and the severity words.
    const QFontMetrics metrics(v.font());
    const int pad = 2 * metrics.averageCharWidth() + 16;
    const auto fit = [&](int column, const QString& widest) {
        const int headerWidth = metrics.horizontalAdvance(
            m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        h.resizeSection(column, std::max(headerWidth, metrics.horizontalAdvance(widest)) + pad);
    };
    fit(AlertListModel::kSequenceCol, QStringLiteral("0000000"));
    fit(AlertListModel::kTimeCol, QStringLiteral("September 30, 2026, 23:59:59"));
    fit(AlertListModel::kServerCol, QStringLiteral("MMMMMMMMMMMM"));
    fit(AlertListModel::kSeverityCol, AlertListModel::severityWord(kSeverityInformational) + "MM");
    fit(AlertListModel::kDescriptionCol, QString(20, QLatin1Char('m')));
    fit(AlertListModel::kAlertTextCol, QString(28, QLatin1Char('m')));
    fit(AlertListModel::kAcknowledgedCol, QStringLiteral("operator, Sep 30, 2026"));
    fit(AlertListModel::kCountCol, QStringLiteral("000000"));
    // The count column follows the server, shown with groups only.
    h.moveSection(h.visualIndex(AlertListModel::kCountCol), AlertListModel::kSeverityCol);
    v.setColumnHidden(AlertListModel::kCountCol, true);

    connect(severity, &QComboBox::currentIndexChanged, this, &CAlertsPage::applyFilter);
    connect(m_ui->serverFilterEdit, &QLineEdit::textChanged, this, &CAlertsPage::applyFilter);
    connect(m_ui->textFilterEdit, &QLineEdit::textChanged, this, &CAlertsPage::applyFilter);
    connect(m_ui->groupRepeatsCheckBox, &QCheckBox::toggled, this, &CAlertsPage::applyFilter);
    connect(m_ui->clearButton, &QPushButton::clicked, this, &CAlertsPage::OnClear);
    connect(m_ui->showButton, &QPushButton::clicked, this, &CAlertsPage::OnShow);
    connect(m_ui->launchButton, &QPushButton::clicked, this, &CAlertsPage::OnLaunch);
    connect(m_ui->jumpCriticalButton, &QPushButton::clicked, this, &CAlertsPage::OnJumpToNewestCritical);
    connect(&v, &QAbstractItemView::doubleClicked, this, &CAlertsPage::OnShow);
    connect(v.selectionModel(), &QItemSelectionModel::selectionChanged, this, &CAlertsPage::updateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CAlertsPage::updateButtons);
    connect(m_model, &AlertListModel::rowsChangedTogether, this, &CAlertsPage::updateShownLabel);
    connect(m_model, &AlertListModel::passFinished, this, &CAlertsPage::updateShownLabel);
    connect(m_ui->acknowledgeButton, &QPushButton::clicked, this, &CAlertsPage::OnAcknowledge);
    updateButtons();
    updateShownLabel();
}

CAlertsPage::~CAlertsPage() = default;

QTableView& CAlertsPage::view() {
    return *m_ui->alertsView;
}

QHeaderView& CAlertsPage::header() {
    return *m_ui->alertsView->horizontalHeader();
}

void CAlertsPage::applyFilter() {
    AlertListModel::Filter f;
    f.severity = m_ui->severityComboBox->currentData().toInt();
    f.server = toStd(m_ui->serverFilterEdit->text());
    f.text = toStd(m_ui->textFilterEdit->text());
    f.grouped = m_ui->groupRepeatsCheckBox->isChecked();
    view().setColumnHidden(AlertListModel::kCountCol, !f.grouped);
    m_model->setFilter(f);
    updateShownLabel();
}

void CAlertsPage::updateShownLabel() {
    const int id = m_model->filtering() ? IDS_ALERTS_FILTERING : IDS_ALERTS_SHOWN;
    m_ui->shownLabel->setText(
        toQt(FormatString(id, {std::to_string(m_model->alertsShown()), std::to_string(m_ctx.store.count)})));
}

void CAlertsPage::updateButtons() {
    const bool any = view().selectionModel()->hasSelection();
    m_ui->clearButton->setEnabled(any);
    m_ui->acknowledgeButton->setEnabled(any);
    m_ui->showButton->setEnabled(any);
    m_ui->launchButton->setEnabled(any && !m_ctx.settings.managementServerName.empty() &&
                                   !m_ctx.settings.browserPath.empty());
}

std::vector<const AlertRecord*> CAlertsPage::selectedAlerts() const {
    QModelIndexList rows = m_ui->alertsView->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<const AlertRecord*> alerts;
    for (const QModelIndex& row : rows)
        for (const AlertRecord* alert : m_model->alertsAt(row.row()))
            alerts.push_back(alert);
    return alerts;
}

void CAlertsPage::OnClear() {
    const std::vector<const AlertRecord*> chosen = selectedAlerts();
    if (chosen.empty())
        return;
    const AlertRecord* shown = m_ctx.alertOnDisplay ? m_ctx.alertOnDisplay() : nullptr;
    const std::set<const AlertRecord*> leaving(chosen.begin(), chosen.end());
    const bool shownStays = shown && !leaving.count(shown);
    view().selectionModel()->clear();
    // In the store's order, oldest first, as clearing them one by one would;
    // an acknowledged alert was taken off its server's count already.
    for (const std::unique_ptr<AlertRecord>& removed : m_ctx.store.RemoveAlerts(chosen))
        if (!removed->acknowledged)
            m_ctx.counter.AdjustAlertCount(removed->serverName, kAlertCountRemove);
    m_model->flush();
    if (m_ctx.afterClear)
        m_ctx.afterClear(shownStays ? shown : nullptr);
}

void CAlertsPage::OnAcknowledge() {
    std::vector<const AlertRecord*> chosen = selectedAlerts();
    std::sort(chosen.begin(), chosen.end(),
              [](const AlertRecord* a, const AlertRecord* b) { return a->alertId < b->alertId; });
    bool any = false;
    for (const AlertRecord* alert : chosen)
        if (!alert->acknowledged)
            any |= AcknowledgeAlert(m_ctx.store, m_ctx.counter, m_ctx.settings.logPath, alert->alertId,
                                    m_ctx.userName) == 0;
    m_model->flush();
    if (any && m_ctx.afterAcknowledge)
        m_ctx.afterAcknowledge();
}

void CAlertsPage::OnShow() {
    const QModelIndex current = view().currentIndex();
    const AlertRecord* alert = current.isValid() && view().selectionModel()->isRowSelected(current.row())
                                   ? m_model->alertAt(current.row())
                                   : nullptr;
    if (!alert) {
        const std::vector<const AlertRecord*> chosen = selectedAlerts();
        if (chosen.empty())
            return;
        alert = chosen.back();
    }
    if (m_ctx.showAlert)
        m_ctx.showAlert(m_ctx.store.sequenceOf(*alert));
}

// Each server of the selection once, where its alert allows a launch.
void CAlertsPage::OnLaunch() {
    if (m_ctx.settings.managementServerName.empty() || m_ctx.settings.browserPath.empty())
        return;
    std::set<std::string> launched;
    for (const AlertRecord* alert : selectedAlerts())
        if (alert->launchAllowed != 0 && launched.insert(alert->serverName).second && m_ctx.openServerPage)
            m_ctx.openServerPage(alert->serverName);
}

void CAlertsPage::OnJumpToNewestCritical() {
    m_model->flush();
    const int row = m_model->newestCriticalRow();
    if (row < 0) {
        msgbox::show(this, LoadString(IDS_NO_CRITICAL_SHOWN), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    const QModelIndex index = m_model->index(row, AlertListModel::kSequenceCol);
    view().selectionModel()->setCurrentIndex(index,
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view().scrollTo(index, QAbstractItemView::PositionAtCenter);
    view().setFocus(Qt::OtherFocusReason);
}
