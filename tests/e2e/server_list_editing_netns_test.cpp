// The server list built and edited through the console's widgets, from an
// empty program directory: servers typed into Add Servers, one edited, one
// removed, the sheet's OK; a real snmpd on the loopback addresses takes the
// alert-destination SETs and answers the polls.

#include "config_store.h"
#include "config_tab.h"
#include "fixed_host.h"
#include "flexgrid.h"
#include "modal_script.h"
#include "msgbox.h"
#include "server_status_tab.h"
#include "snmpd_peer.h"
#include "testsupport.h"
#include "vardel_tabs.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <tuple>

using testsupport::readFile;

namespace {

enum ConsoleCtl { kAddServers = 1005, kRemoveServers = 1006, kEditServers = 1007, kCommunity = 1053 };

// Each row of a grid, its cells joined by '|'.
std::vector<std::string> rows(CMSFlexGrid& grid) {
    std::vector<std::string> out;
    for (long r = 1; r < grid.GetRows(); ++r) {
        std::string row;
        for (long c = 0; c < grid.GetCols(); ++c)
            row += (c ? "|" : "") + grid.GetTextMatrix(r, c);
        out.push_back(row);
    }
    return out;
}

void showTab(CVardelTabs& console, int index) {
    QTabBar* bar = console.findChild<QTabWidget*>("pagesTabWidget")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    ASSERT_EQ(console.currentTab(), index);
}

void selectRow(CMSFlexGrid& grid, long row) {
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                      grid.visualRect(grid.model()->index(int(row), 0)).center());
}

void typeInto(QWidget* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

TEST(ServerListEditing, TypedServersAddedEditedRemovedAndSaved) {
    testsupport::TempDir dir;
    testsupport::copyProgramData(dir.path());
    // Every loopback address answers; each write of the alert destination is logged.
    std::filesystem::create_directories(dir.file("agent"));
    const std::string script = dir.file("destination.sh");
    testsupport::writeFile(script, "#!/bin/sh\n[ \"$1\" = -s ] && echo \"$2 $4\" >> " +
                                       dir.file("written.log") +
                                       "\n[ \"$1\" = -g ] && printf '%s\\nstring\\n\\n' \"$2\"\nexit 0\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    testsupport::SnmpdPeer agent(dir.file("agent/"), "agentaddress udp:161\nrwcommunity public\n"
                                                     "rwcommunity private\n"
                                                     "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " +
                                                         script + "\n");
    ASSERT_TRUE(agent.ready("127.0.0.1", "public"));
    const auto writes = [&] {
        const std::string log = readFile(dir.file("written.log"));
        return std::count(log.begin(), log.end(), '\n');
    };

    msgbox::ScopedScript boxes;
    StartupOptions options;
    options.programDirectory = dir.path();
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    CVardelTabs console(options);
    ASSERT_TRUE(console.OnInitDialog());
    console.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&console));
    CConfigTab& tab = *console.configTab();
    CMSFlexGrid& grid = tab.grid();
    EXPECT_EQ(console.currentTab(), 0);
    EXPECT_EQ(rows(grid), std::vector<std::string>{"|||||"});

    // Add Servers..., Add Servers Manually..., two names; the one that does
    // not resolve is asked for.
    {
        ModalScript steps;
        steps.then([](QDialog* addServers) {
            QTimer::singleShot(0, addServers, [addServers] {
                click(addServers, kManually);
                click(addServers, kOk);
            });
        });
        steps.then([](QDialog* manual) {
            click(manual, kWindowsNt);
            auto* lines = ctl<QPlainTextEdit>(manual, kServers);
            QTest::keyClicks(lines, "localhost");
            QTest::keyClick(lines, Qt::Key_Return);
            QTest::keyClicks(lines, "nosuch-nt");
            click(manual, kOk);
        });
        steps.then([](QDialog* enterIp) {
            QTest::keyClicks(ctl<QLineEdit>(enterIp, kIp), "127.0.0.2");
            click(enterIp, kOk);
        });
        click(&tab, kAddServers);
        EXPECT_TRUE(steps.done());
        EXPECT_EQ(steps.handled, (std::vector<int>{136, 141, 142}));
    }
    EXPECT_EQ(rows(grid), (std::vector<std::string>{"LOCALHOST|NT|127.0.0.1||public|SET",
                                                    "NOSUCH-NT|NT|127.0.0.2||public|SET"}));
    EXPECT_EQ(writes(), 2);
    const auto polled = [&] {
        return std::all_of(console.servers().begin(), console.servers().end(), [](const auto& s) {
            return s->pollPending == 0 && s->snmpStatus != "INIT" && s->networkStatus != "INIT";
        });
    };
    ASSERT_TRUE(QTest::qWaitFor(polled, 30000));
    showTab(console, 1);
    EXPECT_EQ(rows(console.statusTab()->grid()),
              (std::vector<std::string>{"LOCALHOST|0|UP|UP", "NOSUCH-NT|0|UP|UP"}));

    // Edit NOSUCH-NT: a new address and community.
    showTab(console, 0);
    selectRow(grid, 2);
    {
        ModalScript steps;
        steps.then([](QDialog* edit) {
            typeInto(ctl<QLineEdit>(edit, kIp), "127.0.0.3");
            typeInto(ctl<QLineEdit>(edit, kCommunity), "private");
            click(edit, kOk);
        });
        click(&tab, kEditServers);
        EXPECT_EQ(steps.handled, std::vector<int>{154});
    }
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, "The changes will take effect on the next polling cycle.");
    EXPECT_EQ(rows(grid), (std::vector<std::string>{"LOCALHOST|NT|127.0.0.1||public|SET",
                                                    "NOSUCH-NT|NT|127.0.0.3||private|SET"}));
    EXPECT_EQ(writes(), 3);

    // Remove LOCALHOST.
    selectRow(grid, 1);
    click(&tab, kRemoveServers);
    EXPECT_EQ(rows(grid), std::vector<std::string>{"NOSUCH-NT|NT|127.0.0.3||private|SET"});
    showTab(console, 1);
    EXPECT_EQ(rows(console.statusTab()->grid()), std::vector<std::string>{"NOSUCH-NT|0|UP|UP"});

    // OK: no management server, so no write-back question; the list is saved.
    click(&console, kOk);
    EXPECT_TRUE(console.isEnded());
    EXPECT_EQ(boxes.script.shown.size(), 1u);
    ServerList saved;
    ASSERT_EQ(LoadServerList(dir.file("rlaweb.ini"), console.settings().clientSection, saved), 0);
    ASSERT_EQ(saved.size(), 1u);
    const ManagedServer& s = *saved.front();
    EXPECT_EQ(std::make_tuple(s.name, s.nosCode, s.ipAddress, s.ipxAddress, s.community, s.alertDestination),
              std::make_tuple(std::string("NOSUCH-NT"), std::int32_t{kNosNT}, std::string("127.0.0.3"),
                              std::string(), std::string("private"), 1));
    EXPECT_EQ(readFile(dir.file("rlaweb.ini")).find("LOCALHOST"), std::string::npos)
        << readFile(dir.file("rlaweb.ini"));
}

} // namespace
