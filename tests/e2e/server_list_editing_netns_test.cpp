// The server list built and edited through the console's widgets, from an
// empty program directory, with a real snmpd taking the alert-destination
// SETs and answering the polls. Built twice: in a network namespace of its
// own, servers typed into Add Servers, one edited, one removed, the sheet's
// OK; on the Samba peers' LAN (ON_SAMBA_LAN), a server found by browsing.

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/samba_peers.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/editing/config_tab.h"
#include "vardel/editing/tests/modal_script.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/config_store.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sched.h>
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

// The alert-destination variable, writable through a pass script that logs
// each write; the agent's configuration lines.
std::string agentConfig(const testsupport::TempDir& dir, const std::string& endpoints) {
    std::filesystem::create_directories(dir.file("agent"));
    const std::string script = dir.file("destination.sh");
    testsupport::writeFile(script, "#!/bin/sh\n[ \"$1\" = -s ] && echo \"$2 $4\" >> " +
                                       dir.file("written.log") +
                                       "\n[ \"$1\" = -g ] && printf '%s\\nstring\\n\\n' \"$2\"\nexit 0\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return "agentaddress " + endpoints + "\nrwcommunity public\nrwcommunity private\n" +
           "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " + script + "\n";
}

long writes(const testsupport::TempDir& dir) {
    const std::string log = readFile(dir.file("written.log"));
    return std::count(log.begin(), log.end(), '\n');
}

bool polled(CVardelTabs& console) {
    return std::all_of(console.servers().begin(), console.servers().end(), [](const auto& s) {
        return s->pollPending == 0 && s->snmpStatus != "INIT" && s->networkStatus != "INIT";
    });
}

// The whole console, started from the program directory dir with no servers,
// shown on its Configuration tab.
std::unique_ptr<CVardelTabs> startConsole(const testsupport::TempDir& dir, const char* hostIp,
                                          bool trapListener) {
    StartupOptions options;
    options.programDirectory = dir.path();
    fixedhost::ip = hostIp;
    options.host = fixedhost::library();
    options.startTrapListener = trapListener;
    auto console = std::make_unique<CVardelTabs>(options);
    EXPECT_TRUE(console->OnInitDialog());
    console->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(console.get()));
    EXPECT_EQ(console->currentTab(), 0);
    EXPECT_EQ(rows(console->configTab()->grid()), std::vector<std::string>{"|||||"});
    return console;
}

#ifndef ON_SAMBA_LAN

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
    testsupport::SnmpdPeer agent(dir.file("agent/"), agentConfig(dir, "udp:161"));
    ASSERT_TRUE(agent.ready("127.0.0.1", "public"));
    msgbox::ScopedScript boxes;
    const auto consolePtr = startConsole(dir, "127.0.0.1", true);
    CVardelTabs& console = *consolePtr;
    CConfigTab& tab = *console.configTab();
    CMSFlexGrid& grid = tab.grid();

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
    EXPECT_EQ(writes(dir), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return polled(console); }, 30000));
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
    EXPECT_EQ(writes(dir), 3);

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

#else

// VSRV1 of workgroup VARDELWG, found by browsing the Microsoft network; its
// agent runs in its own namespace on the LAN.
TEST(ServerListBrowsing, ServerFoundByBrowsingIsListedSetAndPolled) {
    namespace samba = testsupport::samba;
    if (const std::string why = samba::join(samba::Lan::smb1); !why.empty())
        GTEST_SKIP() << why;
    testsupport::TempDir dir;
    testsupport::copyProgramData(dir.path());
    std::optional<testsupport::SnmpdPeer> agent;
    {
        const std::string peers = std::getenv("VARDEL_SAMBA_PEERS");
        const std::string host = "/run/netns/vardel-" + peers.substr(0, peers.find(':')) + "-s1";
        const int lan = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int vsrv1 = open(host.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_TRUE(lan >= 0 && vsrv1 >= 0) << host;
        ASSERT_EQ(setns(vsrv1, CLONE_NEWNET), 0);
        agent.emplace(dir.file("agent/"), agentConfig(dir, "udp:10.77.0.11:161"));
        ASSERT_EQ(setns(lan, CLONE_NEWNET), 0);
        close(lan);
        close(vsrv1);
    }
    ASSERT_TRUE(agent->ready("10.77.0.11", "public"));
    msgbox::ScopedScript boxes;
    // Other cases share the LAN's namespace: no trap listener on its port 162.
    const auto consolePtr = startConsole(dir, "10.77.0.1", false);
    CVardelTabs& console = *consolePtr;

    ModalScript steps;
    steps.then([](QDialog* addServers) {
        QTimer::singleShot(0, addServers, [addServers] {
            auto* tree = ctl<QTreeWidget>(addServers, kTree);
            click(addServers, kShowNetwork);
            // Whatever the tree holds, OK closes the dialog; the grid tells.
            if (QTreeWidgetItem* network = topLevelItem(tree, "Microsoft Windows Network")) {
                expandItem(tree, network);
                for (int i = 0; i < network->childCount(); ++i)
                    if (network->child(i)->text(0) == samba::kWorkgroup) {
                        expandItem(tree, network->child(i));
                        addFromTree(addServers, network->child(i), samba::kServer1);
                    }
            }
            click(addServers, kOk);
        });
    });
    click(console.configTab(), kAddServers);
    EXPECT_TRUE(steps.done());
    EXPECT_EQ(steps.handled, std::vector<int>{136});
    EXPECT_EQ(rows(console.configTab()->grid()), std::vector<std::string>{"VSRV1|NT|10.77.0.11||public|SET"});
    EXPECT_EQ(writes(dir), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return polled(console); }, 30000));
    showTab(console, 1);
    EXPECT_EQ(rows(console.statusTab()->grid()), std::vector<std::string>{"VSRV1|0|UP|UP"});
    EXPECT_TRUE(boxes.script.shown.empty());
}

#endif

} // namespace
