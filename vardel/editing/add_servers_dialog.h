#pragma once
// The Add Servers dialog (136): servers picked from the network tree or typed
// in, with their addresses looked up on OK. The result list belongs to the
// dialog until takeServers(); Cancel leaves it empty.

#include "vardel/store/managed_server.h"

#include <QDialog>
#include <list>
#include <memory>
#include <string>

class QTreeWidgetItem;
namespace Ui {
class CAddServersDlg;
}

class CAddServersDlg : public QDialog {
    Q_OBJECT

public:
    // Image indexes of the tree items: they tell the kinds apart.
    enum Image { kContainerImage = 0, kServerImage = 1, kProviderImage = 2 };

    explicit CAddServersDlg(QWidget* parent = nullptr);
    ~CAddServersDlg() override;

    const std::list<std::unique_ptr<ManagedServer>>& servers() const { return m_servers; }
    std::list<std::unique_ptr<ManagedServer>> takeServers();

    // Opens Add Servers Manually as soon as the dialog runs, with these names
    // typed in.
    void presetManualEntry(const std::string& names);

    // Cancel, Escape and the close box: the result list is emptied.
    void reject() override;

private:
    void OnShowNetwork();
    void OnItemExpanded(QTreeWidgetItem* item);
    void OnItemCollapsed(QTreeWidgetItem* item);
    void OnAdd();
    void OnRemove();
    void OnAddManually();
    void OnOK();

    void insertChosen(const QString& name);
    bool appendServer(const std::string& name, std::int32_t nosCode);

    std::unique_ptr<Ui::CAddServersDlg> m_ui;
    std::list<std::unique_ptr<ManagedServer>> m_servers;
    std::string m_manualPreset;
};

// Creates the dialog (created false when it could not be), runs it and hands
// back its result list.
std::list<std::unique_ptr<ManagedServer>> RunAddServersDialog(QWidget* parent, bool& created);
// The same, with Add Servers Manually opened at once on manualEntry.
std::list<std::unique_ptr<ManagedServer>> RunAddServersDialogAt(QWidget* parent, bool& created,
                                                                const std::string& manualEntry);
