#pragma once
// The Configuration tab (template 129): the managed servers in a grid, and the
// buttons that add, remove and edit servers, reset their alert destinations,
// and open Advanced Options and the About box. Every change goes straight into
// the server list and the settings it is given; nothing is saved here.

#include "vardel/store/config_store.h"
#include "vardel/store/console_settings.h"

#include <QDialog>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

class CMSFlexGrid;
class QAbstractButton;
namespace Ui {
class CConfigTab;
class CAboutDlg;
} // namespace Ui

// Text colours of the Alert Destination column (Windows colour values).
inline constexpr std::uint32_t kColourSet = 763449; // RGB(57, 166, 11)
inline constexpr std::uint32_t kColourNotSet = 210; // RGB(210, 0, 0)

using NewServers = std::list<std::unique_ptr<ManagedServer>>;

struct ConfigTabContext {
    ServerList& servers;
    ConsoleSettings& settings;
    // The sheet's OK and Cancel, enabled and disabled with the tab's controls.
    QAbstractButton* sheetOkButton = nullptr;
    QAbstractButton* sheetCancelButton = nullptr;
    // Raised and lowered around every add, edit and reset pass.
    std::function<void(bool busy)> setBusy;
    // Polls one newly added server at once.
    std::function<void(const std::string& name)> pollServer;
    // Called after every edit of the list (add, remove, update).
    std::function<void()> listChanged;
    // Runs the Add Servers dialog modally with parent; its new servers, none
    // when cancelled. created false: the dialog could not be created.
    std::function<NewServers(QWidget* parent, bool& created)> runAddServersDialog;
    // Sets the alert destination on the servers and calls applied(server) as
    // each outcome is recorded; empty: SetAlertDestinations with the console's
    // addresses, host name and DHCP switch.
    std::function<void(const std::vector<ManagedServer*>& servers,
                       const std::function<void(ManagedServer&)>& applied)>
        setAlertDestinations = {};
    // Called after the Trap Definitions dialog wrote or removed definitions.
    std::function<void()> definitionsChanged = {};
    // The program's own MIB base modules for that dialog; empty: beside the program.
    std::string baseModuleDir = {};
    // The console's SNMPv3 engine ID, made on first use; and the hand-over of
    // a server's edited SNMPv3 user to the SNMP layer.
    std::function<std::string()> consoleEngineId = {};
    std::function<void(ManagedServer&)> credentialsChanged = {};
};

class CConfigTab : public QWidget {
    Q_OBJECT

public:
    explicit CConfigTab(ConfigTabContext context, QWidget* parent = nullptr);
    ~CConfigTab() override;

    void OnInitDialog();

    void InsertServerRow(const ManagedServer& server);
    void DeleteServerRow(const std::string& name);
    void TrimAndSortGrid();
    void EnableControls(bool enable);
    void EnableEditButtons(bool enable);

    void OnAddServers();
    // The add-server path with the manual entry opened on this address (an
    // unknown sender of traps).
    void OnAddServerAt(const std::string& address);
    void OnRemoveServers();
    void OnEditServers();
    void ResetAlertDestinations();
    void OnAdvancedOptions();
    void OnAbout();
    void OnTrapDefinitions();

    bool isBusy() const { return m_busy; }

    // Called after Advanced Options has copied its values into the settings.
    std::function<void()> settingsChanged;
    CMSFlexGrid& grid();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The group and its grid grow with the page; the buttons stay below them.
    void resizeEvent(QResizeEvent* event) override;

private:
    class BusyScope;
    // Writes a server into a row that exists.
    void fillRow(long row, const ManagedServer& server);
    // InsertServerRow for each server in turn, the rows added in one go.
    void insertServerRows(const std::vector<const ManagedServer*>& servers);
    void setAlertDestinations(const std::vector<ManagedServer*>& servers,
                              const std::function<void(ManagedServer&)>& applied);
    void removeShownSelection();
    void noMemory();
    void keepWaitCursor();

    std::unique_ptr<Ui::CConfigTab> m_ui;
    ConfigTabContext m_ctx;
    bool m_busy = false;
    // State of the hidden check box 1008; nothing reads it.
    bool m_popUpMinimized = false;
    std::string m_addAt; // OnAddServerAt's address while its dialog runs
    // The form's own geometry of every child, which a larger page moves or grows.
    std::vector<std::pair<QWidget*, QRect>> m_formGeometry;
    QSize m_formSize;
};

// The About box (template 100).
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::CAboutDlg> m_ui;
};
