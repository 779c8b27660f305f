// The Configuration tab driven through its widgets, with the scripted message
// boxes; the alert-destination SETs go to a real snmpd in the test's namespace.

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/editing/config_tab.h"
#include "vardel/resources/string_table.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

enum Ctl {
    kOk = 1,
    kCancel = 2,
    kAddServers = 1005,
    kRemoveServers = 1006,
    kEditServers = 1007,
    kPopUpMinimized = 1008,
    kAdvancedOptions = 1009,
    kGrid = 1011,
    kIp = 1024,
    kManagementServer = 1025,
    kReset = 1050,
    kReadOnly = 1059,
    kSsl = 1094,
};

// Acts on each modal dialog as it opens, one action per dialog, in turn.
class ModalDriver {
public:
    using Action = std::function<void(QDialog*)>;
    explicit ModalDriver(std::vector<Action> actions) : m_actions(std::move(actions)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog != m_last && m_next < m_actions.size()) {
                m_last = dialog;
                m_actions[m_next++](dialog);
            }
        });
        m_timer.start(10);
    }
    std::size_t handled() const { return m_next; }

private:
    std::vector<Action> m_actions;
    std::size_t m_next = 0;
    QPointer<QDialog> m_last;
    QTimer m_timer;
};

void clickButton(QWidget* root, int id) {
    auto* button = testsupport::control<QAbstractButton>(root, id);
    ASSERT_NE(button, nullptr) << "control " << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

std::unique_ptr<ManagedServer> server(const std::string& name, const std::string& ip,
                                      std::int32_t nos = kNosNT, std::int32_t destination = -1,
                                      const std::string& community = "private") {
    auto s = std::make_unique<ManagedServer>();
    s->name = name;
    s->nosCode = nos;
    s->nosText = NosTextFromCode(nos) ? NosTextFromCode(nos) : "";
    s->ipAddress = ip;
    s->community = community;
    s->alertDestination = destination;
    return s;
}

class ConfigTabTest : public ::testing::Test {
protected:
    ConfigTabTest() {
        settings.hostName = "CONSOLE1";
        settings.hostIpAddress = "10.9.8.7";
    }

    CConfigTab& open() {
        tab = std::make_unique<CConfigTab>(ConfigTabContext{
            servers,
            settings,
            &okButton,
            &cancelButton,
            [this](bool busy) { busyCalls.push_back(busy); },
            [this](const std::string& name) {
                polled.push_back(name);
                busyWhilePolling = tab->isBusy() && !okButton.isEnabled() && !cancelButton.isEnabled() &&
                                   QApplication::overrideCursor() &&
                                   QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            },
            [this] { ++listChanges; },
            [this](QWidget*, bool& created) {
                created = dialogCreated;
                return std::move(toAdd);
            },
            {},
        });
        tab->OnInitDialog();
        tab->show();
        QApplication::processEvents();
        return *tab;
    }

    // Snmpd on port 161 of every loopback address: community private may
    // write the alert destination (each write is logged), public may not.
    void startAgent() {
        ASSERT_EQ(snmpInit(), 0);
        const std::string script = dir.file("destination.sh");
        testsupport::writeFile(script,
                               "#!/bin/sh\n"
                               "if [ \"$1\" = -s ]; then echo \"$2 $4\" >> " +
                                   dir.file("written.log") +
                                   "; exit 0; fi\n"
                                   "if [ \"$1\" = -g ]; then printf '%s\\nstring\\n\\n' \"$2\"; fi\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        agent = std::make_unique<testsupport::SnmpdPeer>(dir.path(), "agentaddress udp:161\n"
                                                                     "rocommunity public\n"
                                                                     "rwcommunity private\n"
                                                                     "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " +
                                                                         script + "\n");
        ASSERT_TRUE(agent->ready("127.0.0.1", "public"));
    }
    int writes() {
        const std::string log = testsupport::readFile(dir.file("written.log"));
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }

    CMSFlexGrid& grid() { return tab->grid(); }
    std::vector<std::string> column(long col) {
        std::vector<std::string> out;
        for (long r = 1; r < grid().GetRows(); ++r)
            out.push_back(grid().GetTextMatrix(r, col));
        return out;
    }
    // Click on row `from`, shift-click on row `to`.
    void selectRows(long from, long to) {
        QWidget* viewport = grid().viewport();
        const auto at = [&](long row) {
            return grid().visualRect(grid().model()->index(int(row), 0)).center();
        };
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at(from));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, at(to));
    }
    bool enabled(int id) { return testsupport::findControl(tab.get(), id)->isEnabled(); }
    std::uint32_t colour(long row, long col) {
        grid().SetRow(row);
        grid().SetCol(col);
        return grid().GetCellForeColor();
    }
    std::string toolTip(long row, long col) {
        grid().SetRow(row);
        grid().SetCol(col);
        return grid().GetCellToolTip();
    }

    msgbox::ScopedScript boxes;
    testsupport::TempDir dir;
    std::unique_ptr<testsupport::SnmpdPeer> agent;
    ServerList servers;
    ConsoleSettings settings;
    QPushButton okButton;
    QPushButton cancelButton;
    std::unique_ptr<CConfigTab> tab;
    NewServers toAdd;
    bool dialogCreated = true;
    std::vector<bool> busyCalls;
    std::vector<std::string> polled;
    bool busyWhilePolling = false;
    int listChanges = 0;
};

TEST_F(ConfigTabTest, EmptyListShowsOneBlankRowWithOnlyAddAndAdvancedEnabled) {
    open();
    EXPECT_EQ(grid().GetRows(), 2);
    EXPECT_EQ(column(0), std::vector<std::string>{""});
    EXPECT_EQ(grid().GetTextMatrix(0, 3), "IPX  Address");
    EXPECT_FALSE(enabled(kReset));
    EXPECT_FALSE(enabled(kRemoveServers));
    EXPECT_FALSE(enabled(kEditServers));
    EXPECT_TRUE(enabled(kAddServers));
    EXPECT_TRUE(enabled(kAdvancedOptions));
    EXPECT_TRUE(enabled(kGrid));
    auto* popUp = testsupport::control<QCheckBox>(tab.get(), kPopUpMinimized);
    EXPECT_FALSE(popUp->isVisible() || popUp->isEnabled());
    EXPECT_TRUE(testsupport::control<QLabel>(tab.get(), kReadOnly)->text().isEmpty());

    // Nothing is offered by the dialog: the list stays empty, the tab as it was.
    clickButton(tab.get(), kAddServers);
    EXPECT_EQ(column(0), std::vector<std::string>{""});
    EXPECT_FALSE(enabled(kRemoveServers));
    EXPECT_TRUE(okButton.isEnabled() && cancelButton.isEnabled());
    EXPECT_EQ(busyCalls, (std::vector<bool>{true, false}));

    dialogCreated = false;
    clickButton(tab.get(), kAddServers);
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, "Error allocating memory.");
    EXPECT_EQ(boxes.script.shown[0].icon, msgbox::Icon::Error);
}

TEST_F(ConfigTabTest, ReadOnlyShowsItAndKeepsTheTabDisabled) {
    settings.readOnly = 1;
    for (bool withServer : {true, false}) {
        servers.clear();
        if (withServer)
            servers.push_back(server("SRV", "10.0.0.1"));
        open();
        EXPECT_EQ(testsupport::control<QLabel>(tab.get(), kReadOnly)->text(), "READ ONLY");
        for (int id : {kReset, kRemoveServers, kEditServers, kAdvancedOptions, kAddServers, kGrid})
            EXPECT_FALSE(enabled(id)) << id << " with server " << withServer;
        EXPECT_TRUE(okButton.isEnabled() && cancelButton.isEnabled());
    }
}

TEST_F(ConfigTabTest, RowsAreSortedIgnoringCaseWithTheirCells) {
    servers.push_back(server("beta", "10.0.0.2", kNosNT, 1));
    servers.push_back(server("Bravo", "", kNosNone, 0));
    servers.back()->ipxAddress = "0000ABCD-000000000001";
    servers.push_back(server("alpha", "10.0.0.1", kNosNetWare, -1));
    open();
    EXPECT_EQ(column(0), (std::vector<std::string>{"alpha", "beta", "Bravo"}));
    EXPECT_EQ(column(1), (std::vector<std::string>{"NetWare", "NT", ""}));
    EXPECT_EQ(column(3), (std::vector<std::string>{"", "", "0000ABCD-000000000001"}));
    EXPECT_EQ(column(5), (std::vector<std::string>{"NOT SET", "SET", ""}));
    EXPECT_EQ(colour(1, 5), kColourNotSet);
    EXPECT_EQ(colour(2, 5), kColourSet);
    EXPECT_TRUE(enabled(kRemoveServers));
}

TEST_F(ConfigTabTest, RemovesABlockSelectedEitherWay) {
    for (const auto& [from, to] : std::vector<std::pair<long, long>>{{1, 3}, {3, 1}}) {
        servers.clear();
        for (const char* name : {"A", "B", "C"})
            servers.push_back(server(name, "10.0.0.1"));
        open();
        selectRows(from, to);
        clickButton(tab.get(), kRemoveServers);
        EXPECT_TRUE(servers.empty());
        EXPECT_EQ(grid().GetRows(), 2);
        EXPECT_EQ(column(5), std::vector<std::string>{""});
        EXPECT_FALSE(enabled(kRemoveServers));
        EXPECT_TRUE(enabled(kAddServers));
    }

    // Two of three, selected upwards from the bottom.
    for (const char* name : {"A", "B", "C"})
        servers.push_back(server(name, "10.0.0.1"));
    open();
    selectRows(3, 2);
    clickButton(tab.get(), kRemoveServers);
    EXPECT_EQ(column(0), std::vector<std::string>{"A"});
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers.front()->name, "A");
    EXPECT_TRUE(enabled(kRemoveServers));
    EXPECT_GT(listChanges, 0);
}

TEST_F(ConfigTabTest, AddContactsEveryNewServerAndListsOnlyNewNames) {
    startAgent();
    servers.push_back(server("SRVB", "127.0.0.1", kNosNT, -1));
    open();
    toAdd.push_back(server("SRVB", "127.0.0.3", kNosNT, 0)); // listed already
    toAdd.push_back(server("srvb", "127.0.0.2", kNosSCO, 0));
    toAdd.push_back(server("aSrv", "127.0.0.4", kNosNetWare, 0, "public"));
    clickButton(tab.get(), kAddServers);

    EXPECT_EQ(writes(), 2); // SRVB and srvb; aSrv's community may not write
    EXPECT_EQ(polled, (std::vector<std::string>{"srvb", "aSrv"}));
    EXPECT_TRUE(busyWhilePolling);
    EXPECT_EQ(busyCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(listChanges, 1);
    ASSERT_EQ(servers.size(), 3u);
    EXPECT_EQ(servers.front()->ipAddress, "127.0.0.1");
    EXPECT_EQ(column(0), (std::vector<std::string>{"aSrv", "SRVB", "srvb"}));
    EXPECT_EQ(column(2), (std::vector<std::string>{"127.0.0.4", "127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(column(5), (std::vector<std::string>{"NOT SET", "NOT SET", "SET"}));
    EXPECT_TRUE(enabled(kReset) && okButton.isEnabled() && cancelButton.isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ConfigTabTest, EditKeepsEarlierRowsWhenCancelledAndReportsACompletedPass) {
    startAgent();
    servers.push_back(server("ONE", "127.0.0.1"));
    servers.push_back(server("TWO", "127.0.0.1"));
    servers.front()->pollPending = 1;
    open();

    const auto setIp = [](const char* ip) {
        return [ip](QDialog* dialog) {
            auto* edit = testsupport::control<QLineEdit>(dialog, kIp);
            edit->clear();
            QTest::keyClicks(edit, ip);
            clickButton(dialog, kOk);
        };
    };
    {
        ModalDriver driver({setIp("127.0.0.2"), [](QDialog* dialog) { clickButton(dialog, kCancel); }});
        selectRows(1, 2);
        clickButton(tab.get(), kEditServers);
        EXPECT_EQ(driver.handled(), 2u);
    }
    EXPECT_TRUE(boxes.script.shown.empty());
    EXPECT_EQ(servers.front()->ipAddress, "127.0.0.2");
    EXPECT_EQ(servers.front()->pollPending, 0);
    EXPECT_EQ(servers.back()->ipAddress, "127.0.0.1");
    EXPECT_EQ(column(2), (std::vector<std::string>{"127.0.0.2", "127.0.0.1"}));
    EXPECT_EQ(column(5), (std::vector<std::string>{"SET", "NOT SET"}));
    EXPECT_EQ(writes(), 1);

    {
        ModalDriver driver({setIp("127.0.0.3")});
        selectRows(2, 2);
        clickButton(tab.get(), kEditServers);
    }
    EXPECT_EQ(column(2), (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, "The changes will take effect on the next polling cycle.");
    EXPECT_EQ(boxes.script.shown[0].caption, "Edit Servers Information");
    EXPECT_EQ(boxes.script.shown[0].icon, msgbox::Icon::None);
    EXPECT_TRUE(enabled(kEditServers) && okButton.isEnabled());
}

TEST_F(ConfigTabTest, ResetShowsSetAndNotSetPerServer) {
    startAgent();
    servers.push_back(server("WRITABLE", "127.0.0.1", kNosNT, 0));
    servers.push_back(server("READONLY", "127.0.0.2", kNosNT, 0, "public"));
    servers.push_back(server("ZULU", "127.0.0.3", kNosNT, 0));
    open();
    selectRows(2, 1);
    clickButton(tab.get(), kReset);
    EXPECT_EQ(column(0), (std::vector<std::string>{"READONLY", "WRITABLE", "ZULU"}));
    EXPECT_EQ(column(5), (std::vector<std::string>{"NOT SET", "SET", ""}));
    EXPECT_EQ(colour(1, 5), kColourNotSet);
    EXPECT_EQ(colour(2, 5), kColourSet);
    // The reason of NOT SET is the cell's tool tip.
    EXPECT_EQ(toolTip(1, 5), "The server's agent has no such object, or does not let this community write it "
                             "(noSuchName).");
    EXPECT_EQ(toolTip(2, 5), "");
    EXPECT_EQ(writes(), 1);
    EXPECT_EQ(busyCalls, (std::vector<bool>{true, false}));
    EXPECT_TRUE(enabled(kReset) && okButton.isEnabled());
}

TEST_F(ConfigTabTest, AdvancedOptionsValuesComeBackWhicheverButtonClosedIt) {
    settings.managementServerName = "OLD";
    open();
    {
        ModalDriver driver({[](QDialog* dialog) {
            auto* edit = testsupport::control<QLineEdit>(dialog, kManagementServer);
            edit->clear();
            QTest::keyClicks(edit, "corvanta-ms");
            testsupport::control<QCheckBox>(dialog, kSsl)->setChecked(true);
            clickButton(dialog, kOk);
        }});
        clickButton(tab.get(), kAdvancedOptions);
    }
    EXPECT_EQ(settings.managementServerName, "CORVANTA-MS");
    EXPECT_EQ(settings.useSsl, 1);
    {
        ModalDriver driver({[](QDialog* dialog) {
            testsupport::control<QLineEdit>(dialog, kManagementServer)->setText("OTHER");
            clickButton(dialog, kCancel);
        }});
        clickButton(tab.get(), kAdvancedOptions);
    }
    EXPECT_EQ(settings.managementServerName, "CORVANTA-MS");
    EXPECT_EQ(settings.useSsl, 1);
}

} // namespace
