#pragma once
// The Trap Definitions dialog (template 300): the enterprises of the index
// VDTrap.ini, the import of MIB files and snmptt.conf files into it through a
// preview (template 301), and the removal of an enterprise. Files are read on
// the parser's worker thread, one import at a time; nothing is written before
// the preview is accepted.

#include "vardel/definitions/definitions.h"

#include <QDialog>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Ui {
class CTrapDefinitionsDlg;
class CTrapImportPreviewDlg;
} // namespace Ui
class CTrapImportPreviewDlg;

struct TrapDefinitionsContext {
    std::string programDir; // trailing '/'
    // A read-only console (access 1 at start-up) lists, and changes nothing.
    bool readOnly = false;
    // The program's own base modules; empty: definitions::BaseModuleDirectory().
    std::string baseModuleDir;
    // Called after definitions were written or removed: the trap listener's
    // lists are refreshed from the index.
    std::function<void()> definitionsChanged;
    // The choices of files; empty functions ask with file dialogs. An empty
    // result is a cancelled choice.
    std::function<std::vector<std::string>(QWidget* parent)> chooseMibFiles;
    std::function<std::string(QWidget* parent)> chooseMibFolder;
    std::function<std::vector<std::string>(QWidget* parent)> chooseSnmpttFiles;
    // Runs the preview modally; empty: exec(). True when it was accepted.
    std::function<bool(CTrapImportPreviewDlg& preview)> runPreview;
};

// What one import found, and how far it is.
struct TrapImportJob {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false; // under mutex
    std::atomic<bool> cancel{false};
    definitions::ScanResult result; // complete once done
};

class CTrapDefinitionsDlg : public QDialog {
    Q_OBJECT

public:
    CTrapDefinitionsDlg(QWidget* parent, TrapDefinitionsContext context);
    // Cancels an import that is still reading and waits for its worker.
    ~CTrapDefinitionsDlg() override;

    // Fills the list from the index.
    void loadEnterprises();
    void OnImportMibFiles();
    void OnImportMibFolder();
    void OnImportSnmptt();
    void OnRemove();
    void OnCancelImport();

    // Reads files on the worker (MIB files, or snmptt.conf files); the
    // preview follows when it ends.
    void startImport(std::vector<std::string> files, bool snmptt);
    bool importRunning() const { return m_job != nullptr; }

public slots:
    void reject() override;

private:
    void onProgress(int done, int total, const QString& file);
    void onImportFinished();
    void setImporting(bool importing);
    // The preview, then the writing; false when nothing was written.
    bool previewAndWrite(std::vector<definitions::Notification> found,
                         const std::vector<definitions::FileOutcome>& files);
    bool programDirWritable();

    std::unique_ptr<Ui::CTrapDefinitionsDlg> m_ui;
    TrapDefinitionsContext m_ctx;
    std::shared_ptr<TrapImportJob> m_job;
};

// The notifications an import found, their keys, severities and alert texts
// editable, and what the writing would do with each; the files refused.
class CTrapImportPreviewDlg : public QDialog {
    Q_OBJECT

public:
    // actions: what the writing does with each notification when nothing
    // is replaced (one per notification).
    CTrapImportPreviewDlg(QWidget* parent, std::vector<definitions::Notification> notifications,
                          const std::vector<definitions::WrittenDefinition>& actions,
                          const std::vector<definitions::FileOutcome>& files);
    ~CTrapImportPreviewDlg() override;

    // The notifications with the severities and alert texts as edited.
    std::vector<definitions::Notification> notifications() const;
    bool replaceExisting() const;

private:
    std::unique_ptr<Ui::CTrapImportPreviewDlg> m_ui;
    std::vector<definitions::Notification> m_notifications;
};
