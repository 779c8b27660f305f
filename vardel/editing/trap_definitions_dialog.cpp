#include "vardel/editing/trap_definitions_dialog.h"

#include "platform/handoff/handoff.h"
#include "platform/msgbox/msgbox.h"
#include "ui_trap_definitions.h"
#include "ui_trap_import_preview.h"
#include "vardel/editing/dialog_manners.h"
#include "vardel/resources/string_table.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QThreadPool>

using editing::toQt;
using editing::toStd;
using namespace definitions;

namespace {

enum EnterpriseColumn { kOidCol, kModuleCol, kFileCol, kCountCol };
enum PreviewColumn { kNameCol, kPreviewModuleCol, kKeyCol, kSeverityCol, kAlertTextCol, kStatusCol };

// The parser's one worker: Net-SNMP's MIB parser is global, so imports run
// one after the other, never beside each other.
QThreadPool& parserWorker() {
    static QThreadPool* const pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

void warn(QWidget* owner, const std::string& text) {
    msgbox::show(owner, text, LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok, msgbox::Icon::Warning);
}

// Each refused file with the parser's messages and the modules it lacks,
// then what was left out of the files imported.
std::string problemsText(const std::vector<FileOutcome>& files) {
    std::string text;
    auto line = [&text](const std::string& l) { text += (text.empty() ? "" : "\n") + l; };
    for (const FileOutcome& f : files) {
        if (!f.imported) {
            std::string refused = FormatString(IDS_TRAPDEF_FILE_REFUSED, {f.path, f.error});
            if (!f.missingModules.empty()) {
                std::string modules;
                for (const std::string& m : f.missingModules)
                    modules += (modules.empty() ? "" : ", ") + m;
                refused += ". " + FormatString(IDS_TRAPDEF_MISSING_MODULES, {modules});
            }
            line(refused);
        }
        for (const std::string& note : f.notes)
            line(f.path + ": " + note);
    }
    return text;
}

// The severity column edits its keyword through a list of the four.
class SeverityDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
        auto* box = new QComboBox(parent);
        for (Severity s : {Severity::Critical, Severity::Warning, Severity::Normal, Severity::Informational})
            box->addItem(QString::fromLatin1(SeverityKeyword(s)));
        return box;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* box = static_cast<QComboBox*>(editor);
        box->setCurrentIndex(std::max(0, box->findText(index.data().toString())));
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        model->setData(index, static_cast<QComboBox*>(editor)->currentText());
    }
};

} // namespace

CTrapDefinitionsDlg::CTrapDefinitionsDlg(QWidget* parent, TrapDefinitionsContext context)
    : QDialog(parent), m_ui(std::make_unique<Ui::CTrapDefinitionsDlg>()), m_ctx(std::move(context)) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    auto* menu = new QMenu(this);
    menu->addAction(m_ui->importFilesAction);
    menu->addAction(m_ui->importFolderAction);
    m_ui->importMibButton->setMenu(menu);
    QHeaderView* header = m_ui->enterpriseTable->horizontalHeader();
    header->resizeSection(kOidCol, 220);
    header->resizeSection(kModuleCol, 190);
    header->resizeSection(kFileCol, 160);

    connect(m_ui->importFilesAction, &QAction::triggered, this, &CTrapDefinitionsDlg::OnImportMibFiles);
    connect(m_ui->importFolderAction, &QAction::triggered, this, &CTrapDefinitionsDlg::OnImportMibFolder);
    connect(m_ui->importSnmpttButton, &QPushButton::clicked, this, &CTrapDefinitionsDlg::OnImportSnmptt);
    connect(m_ui->removeButton, &QPushButton::clicked, this, &CTrapDefinitionsDlg::OnRemove);
    connect(m_ui->cancelImportButton, &QPushButton::clicked, this, &CTrapDefinitionsDlg::OnCancelImport);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &CTrapDefinitionsDlg::reject);
    connect(m_ui->enterpriseTable, &QTableWidget::itemSelectionChanged, this,
            [this] { setImporting(importRunning()); });
    if (m_ctx.readOnly)
        m_ui->statusLabel->setText(toQt(LoadString(IDS_TRAPDEF_READ_ONLY)));
    loadEnterprises();
}

CTrapDefinitionsDlg::~CTrapDefinitionsDlg() {
    if (std::shared_ptr<TrapImportJob> job = m_job) {
        job->cancel = true;
        std::unique_lock<std::mutex> lock(job->mutex);
        job->finished.wait(lock, [&job] { return job->done; });
    }
}

void CTrapDefinitionsDlg::loadEnterprises() {
    QTableWidget* table = m_ui->enterpriseTable;
    const std::vector<Enterprise> listed = ListEnterprises(m_ctx.programDir);
    table->setRowCount(static_cast<int>(listed.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        const Enterprise& e = listed[static_cast<std::size_t>(row)];
        table->setItem(row, kOidCol, new QTableWidgetItem(toQt(e.oid)));
        table->setItem(row, kModuleCol, new QTableWidgetItem(toQt(e.module)));
        table->setItem(row, kFileCol, new QTableWidgetItem(toQt(e.file)));
        auto* count = new QTableWidgetItem(QString::number(e.definitions));
        count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        table->setItem(row, kCountCol, count);
    }
    if (table->rowCount() > 0)
        table->selectRow(0);
    setImporting(importRunning());
}

// Import and Remove need a console that may change definitions, no import
// under way and, for Remove, a chosen enterprise.
void CTrapDefinitionsDlg::setImporting(bool importing) {
    const bool changeable = !m_ctx.readOnly && !importing;
    m_ui->importMibButton->setEnabled(changeable);
    m_ui->importSnmpttButton->setEnabled(changeable);
    m_ui->removeButton->setEnabled(changeable && !m_ui->enterpriseTable->selectedItems().isEmpty());
    m_ui->closeButton->setEnabled(!importing);
    m_ui->importProgressBar->setVisible(importing);
    m_ui->cancelImportButton->setVisible(importing);
    m_ui->cancelImportButton->setEnabled(importing);
}

bool CTrapDefinitionsDlg::programDirWritable() {
    const WriteResult check = WriteDefinitions({}, WriteOptions{m_ctx.programDir, false, true});
    if (!check.ok)
        warn(this, FormatString(IDS_TRAPDEF_WRITE_FAILED, {check.error}));
    return check.ok;
}

void CTrapDefinitionsDlg::OnImportMibFiles() {
    if (m_ctx.readOnly || importRunning() || !programDirWritable())
        return;
    std::vector<std::string> files;
    if (m_ctx.chooseMibFiles) {
        files = m_ctx.chooseMibFiles(this);
    } else {
        for (const QString& f :
             QFileDialog::getOpenFileNames(this, toQt(LoadString(IDS_TRAPDEF_CHOOSE_MIBS))))
            files.push_back(toStd(f));
    }
    startImport(std::move(files), false);
}

void CTrapDefinitionsDlg::OnImportMibFolder() {
    if (m_ctx.readOnly || importRunning() || !programDirWritable())
        return;
    const std::string folder =
        m_ctx.chooseMibFolder
            ? m_ctx.chooseMibFolder(this)
            : toStd(QFileDialog::getExistingDirectory(this, toQt(LoadString(IDS_TRAPDEF_CHOOSE_FOLDER))));
    if (!folder.empty())
        startImport(FilesInFolder(folder), false);
}

void CTrapDefinitionsDlg::OnImportSnmptt() {
    if (m_ctx.readOnly || importRunning() || !programDirWritable())
        return;
    std::vector<std::string> files;
    if (m_ctx.chooseSnmpttFiles) {
        files = m_ctx.chooseSnmpttFiles(this);
    } else {
        for (const QString& f :
             QFileDialog::getOpenFileNames(this, toQt(LoadString(IDS_TRAPDEF_CHOOSE_SNMPTT))))
            files.push_back(toStd(f));
    }
    startImport(std::move(files), true);
}

void CTrapDefinitionsDlg::startImport(std::vector<std::string> files, bool snmptt) {
    if (importRunning() || files.empty())
        return;
    auto job = std::make_shared<TrapImportJob>();
    m_job = job;
    setImporting(true);
    m_ui->importProgressBar->setRange(0, static_cast<int>(files.size()));
    m_ui->importProgressBar->setValue(0);
    m_ui->statusLabel->clear();

    // The worker posts to this dialog, whose destructor waits until it is done.
    Progress progress = [this, job](int done, int total, const std::string& file) {
        handoff::post(this, [this, done, total, f = toQt(file)] { onProgress(done, total, f); });
        return !job->cancel.load();
    };
    ScanOptions options;
    options.programDir = m_ctx.programDir;
    options.baseModuleDir = m_ctx.baseModuleDir;
    options.progress = progress;
    options.cancel = &job->cancel;
    parserWorker().start(handoff::task([this, job, files = std::move(files), snmptt, options, progress] {
        ScanResult result;
        if (!snmptt) {
            result = ScanMibFiles(files, options);
        } else {
            for (std::size_t i = 0; i < files.size(); ++i) {
                if (job->cancel) {
                    result.cancelled = true;
                    break;
                }
                ScanResult one = ScanSnmpttConf(files[i]);
                std::move(one.notifications.begin(), one.notifications.end(),
                          std::back_inserter(result.notifications));
                std::move(one.files.begin(), one.files.end(), std::back_inserter(result.files));
                progress(static_cast<int>(i + 1), static_cast<int>(files.size()), files[i]);
            }
            result.cancelled = result.cancelled || job->cancel;
        }
        job->result = std::move(result);
        handoff::post(this, [this] { onImportFinished(); });
        std::lock_guard<std::mutex> lock(job->mutex);
        job->done = true;
        job->finished.notify_all();
    }));
}

void CTrapDefinitionsDlg::onProgress(int done, int total, const QString& file) {
    if (!importRunning())
        return;
    m_ui->importProgressBar->setValue(done);
    m_ui->statusLabel->setText(
        toQt(FormatString(IDS_TRAPDEF_PROGRESS,
                          {toStd(QFileInfo(file).fileName()), std::to_string(done), std::to_string(total)})));
}

void CTrapDefinitionsDlg::OnCancelImport() {
    if (m_job)
        m_job->cancel = true;
}

void CTrapDefinitionsDlg::reject() {
    // Escape while files are read cancels the reading; the dialog stays.
    if (importRunning()) {
        OnCancelImport();
        return;
    }
    QDialog::reject();
}

void CTrapDefinitionsDlg::onImportFinished() {
    const std::shared_ptr<TrapImportJob> job = std::move(m_job);
    if (!job)
        return;
    ScanResult result = std::move(job->result);
    setImporting(false);
    m_ui->statusLabel->clear();
    if (result.cancelled || job->cancel) {
        m_ui->statusLabel->setText(toQt(LoadString(IDS_TRAPDEF_CANCELLED)));
        return;
    }
    if (result.notifications.empty()) {
        const std::string problems = problemsText(result.files);
        warn(this, (problems.empty() ? "" : problems + "\n\n") + LoadString(IDS_TRAPDEF_NOTHING_FOUND));
        return;
    }
    previewAndWrite(std::move(result.notifications), result.files);
}

bool CTrapDefinitionsDlg::previewAndWrite(std::vector<Notification> found,
                                          const std::vector<FileOutcome>& files) {
    const WriteResult plan = WriteDefinitions(found, WriteOptions{m_ctx.programDir, false, true});
    if (!plan.ok) {
        warn(this, FormatString(IDS_TRAPDEF_WRITE_FAILED, {plan.error}));
        return false;
    }
    CTrapImportPreviewDlg preview(this, std::move(found), plan.definitions, files);
    const bool accepted = m_ctx.runPreview ? m_ctx.runPreview(preview) : preview.exec() == QDialog::Accepted;
    if (!accepted)
        return false;
    const WriteResult written = WriteDefinitions(
        preview.notifications(), WriteOptions{m_ctx.programDir, preview.replaceExisting(), false});
    if (!written.ok) {
        warn(this, FormatString(IDS_TRAPDEF_WRITE_FAILED, {written.error}));
        return false;
    }
    loadEnterprises();
    if (m_ctx.definitionsChanged)
        m_ctx.definitionsChanged();
    return true;
}

void CTrapDefinitionsDlg::OnRemove() {
    QTableWidget* table = m_ui->enterpriseTable;
    const int row = table->currentRow();
    if (m_ctx.readOnly || importRunning() || row < 0 || table->selectedItems().isEmpty())
        return;
    const std::string oid = toStd(table->item(row, kOidCol)->text());
    const std::string file = toStd(table->item(row, kFileCol)->text());
    if (msgbox::show(this, FormatString(IDS_TRAPDEF_REMOVE_QUESTION, {oid, file}),
                     LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::YesNo, msgbox::Icon::Question,
                     1) != msgbox::IDYES)
        return;
    std::string error;
    if (!RemoveEnterprise(m_ctx.programDir, oid, true, &error))
        warn(this, FormatString(IDS_TRAPDEF_REMOVE_FAILED,
                                {oid, "cannot write " + m_ctx.programDir + "VDTrap.ini"}));
    else if (!error.empty())
        warn(this, FormatString(IDS_TRAPDEF_REMOVE_FAILED, {oid, error}));
    loadEnterprises();
    if (m_ctx.definitionsChanged)
        m_ctx.definitionsChanged();
}

CTrapImportPreviewDlg::CTrapImportPreviewDlg(QWidget* parent, std::vector<Notification> notifications,
                                             const std::vector<WrittenDefinition>& actions,
                                             const std::vector<FileOutcome>& files)
    : QDialog(parent), m_ui(std::make_unique<Ui::CTrapImportPreviewDlg>()),
      m_notifications(std::move(notifications)) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    int imported = 0;
    for (const FileOutcome& f : files)
        imported += f.imported ? 1 : 0;
    m_ui->summaryLabel->setText(toQt(
        FormatString(IDS_TRAPDEF_PREVIEW_SUMMARY, {std::to_string(m_notifications.size()),
                                                   std::to_string(imported), std::to_string(files.size())})));
    const std::string problems = problemsText(files);
    m_ui->problemsEdit->setPlainText(toQt(problems));
    m_ui->problemsLabel->setEnabled(!problems.empty());
    m_ui->problemsEdit->setEnabled(!problems.empty());

    QTableWidget* table = m_ui->notificationTable;
    table->setItemDelegateForColumn(kSeverityCol, new SeverityDelegate(table));
    QHeaderView* header = table->horizontalHeader();
    for (auto [col, width] : {std::pair{kNameCol, 170},
                              {kPreviewModuleCol, 110},
                              {kKeyCol, 200},
                              {kSeverityCol, 100},
                              {kAlertTextCol, 160}})
        header->resizeSection(col, width);
    table->setRowCount(static_cast<int>(m_notifications.size()));
    bool anyKept = false;
    for (int row = 0; row < table->rowCount(); ++row) {
        const Notification& n = m_notifications[static_cast<std::size_t>(row)];
        const auto action = static_cast<std::size_t>(row) < actions.size()
                                ? actions[static_cast<std::size_t>(row)].action
                                : WrittenDefinition::Action::Written;
        auto fixed = [](const std::string& text) {
            auto* item = new QTableWidgetItem(toQt(text));
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            return item;
        };
        table->setItem(row, kNameCol, fixed(n.name));
        table->setItem(row, kPreviewModuleCol, fixed(n.module));
        table->setItem(row, kKeyCol, fixed(n.trapKey));
        table->setItem(row, kSeverityCol,
                       new QTableWidgetItem(QString::fromLatin1(SeverityKeyword(n.severity))));
        table->setItem(row, kAlertTextCol, new QTableWidgetItem(toQt(n.alertText)));
        const int status = action == WrittenDefinition::Action::Duplicate ? IDS_TRAPDEF_STATUS_DUPLICATE
                           : action == WrittenDefinition::Action::Written ? IDS_TRAPDEF_STATUS_NEW
                                                                          : IDS_TRAPDEF_STATUS_EXISTS;
        table->setItem(row, kStatusCol, fixed(LoadString(status)));
        anyKept = anyKept || action == WrittenDefinition::Action::Kept;
    }
    m_ui->replaceCheckBox->setEnabled(anyKept);
    connect(m_ui->writeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CTrapImportPreviewDlg::~CTrapImportPreviewDlg() = default;

std::vector<Notification> CTrapImportPreviewDlg::notifications() const {
    std::vector<Notification> edited = m_notifications;
    const QTableWidget* table = m_ui->notificationTable;
    for (int row = 0; row < table->rowCount() && row < static_cast<int>(edited.size()); ++row) {
        Notification& n = edited[static_cast<std::size_t>(row)];
        Severity severity = n.severity;
        if (SeverityFromWord(toStd(table->item(row, kSeverityCol)->text()), severity))
            n.severity = severity;
        n.alertText = toStd(table->item(row, kAlertTextCol)->text());
    }
    return edited;
}

bool CTrapImportPreviewDlg::replaceExisting() const {
    return m_ui->replaceCheckBox->isEnabled() && m_ui->replaceCheckBox->isChecked();
}
