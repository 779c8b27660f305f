// A console polls a server that has only an IPX address, through the
// simulated NetWare host and a real snmpd behind it: UP while the agent
// answers; network UP, SNMP DOWN once the agent falls silent while the host
// still answers diagnostics. A trap it sends over IPX becomes an alert with
// its name; its alert destination is set, and its agents queried, over IPX;
// the whole host falling silent brings the network DOWN alert, and its
// return the two UP alerts.

#include "hostlore/hostlore.h"
#include "platform/flexgrid/flexgrid.h"
#include "snmp/snmp.h"
#include "tests/support/fixed_host.h"
#include "tests/support/private_program_dir.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "tools/nwpeer/nwpeer.h"
#include "vardel/alerts/alert_destination.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Drives the agents status path of the Server Status tab: chooses server in
// the chooser, then reads the agents dialog's rows and closes it.
std::vector<std::string> agentRows(CVardelTabs& console, const char* server) {
    std::vector<std::string> rows;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        if (auto* chooser = testsupport::control<QListWidget>(dialog, 1022)) {
            const auto items = chooser->findItems(server, Qt::MatchExactly);
            if (!items.isEmpty())
                chooser->setCurrentItem(items.front());
        } else if (auto* list = testsupport::control<QTreeWidget>(dialog, 1092)) {
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                rows.push_back(list->topLevelItem(i)->text(1).toStdString());
        }
        QTest::mouseClick(testsupport::control<QPushButton>(dialog, 1), Qt::LeftButton);
    });
    driver.start(20);
    console.statusTab()->findChild<QPushButton*>("agentsStatusButton")->click();
    return rows;
}

TEST(IpxServerRoad, PolledSetQueriedAndWatchedOverIpx) {
    testsupport::PrivateProgramDirectory programDir;
    ASSERT_TRUE(programDir.ok());
    programDir.write("ipx.ini", "[Adapters]\r\n0=00000010:000000000001 127.0.0.1\r\n"
                                "[Routes]\r\n00000020=127.0.0.7\r\n");
    testsupport::TempDir dir;
    testsupport::copyProgramData(dir.path());
    writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nnovell=1\r\n"
                                      "[novell]\r\nNOS=NetWare\r\nIP=\r\nIPX=00000020-000000000007\r\n"
                                      "SNMP_COMMUNITY=public\r\n"
                                      "[VDINFO]\r\nRETRY=1\r\nTIMEOUT=30\r\nPOLLTIME=60\r\n");
    writeFile(dir.file("peer.ini"), "[Adapters]\r\n0=00000020:000000000007 127.0.0.7\r\n"
                                    "[Routes]\r\n00000010=127.0.0.1\r\n"
                                    "[Servers]\r\nNOVELL=00000020:000000000007\r\n"
                                    "[Snmp]\r\nAgent=127.0.0.1:161\r\nTrapRelay=1162\r\n"
                                    "TrapTo=00000010:000000000001\r\n");
    std::filesystem::create_directories(dir.file("agent"));
    // The alert-destination variable, writable through a pass script that records each write.
    const std::string script = dir.file("destination.sh");
    writeFile(script, "#!/bin/sh\n[ \"$1\" = -s ] && echo \"$2 $3 $4\" >> " + dir.file("written.log") +
                          "\n[ \"$1\" = -g ] && printf '%s\\nstring\\n\\n' \"$2\"\nexit 0\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    testsupport::SnmpdPeer agent(dir.file("agent/"), "agentaddress udp:127.0.0.1:161\nrwcommunity public\n"
                                                     "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " +
                                                         script + "\n");
    ASSERT_TRUE(agent.ready("127.0.0.1:161", "public"));
    NetWarePeer peer(dir.file("peer.ini"));
    std::string error;
    ASSERT_TRUE(peer.start(&error)) << error;
    snmpInit();

    StartupOptions options;
    options.programDirectory = dir.path();
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    options.host.getIpxAddressForNWTrapDestination = DLLGetIpxAddressForNWTrapDestination;
    CVardelTabs console(options);
    console.OnInitDialog();
    EXPECT_EQ(console.settings().hostIpxAddress, "00000010:000000000001");
    ManagedServer& server = *FindServerByName(console.servers(), "novell");
    const auto settled = [&] {
        return server.pollPending == 0 && server.snmpStatus != "INIT" && server.networkStatus != "INIT";
    };
    ASSERT_TRUE(QTest::qWaitFor(settled, 30000));
    EXPECT_EQ(server.snmpStatus, "UP");
    EXPECT_EQ(server.networkStatus, "UP");
    EXPECT_EQ(console.statusTab()->grid().GetTextMatrix(1, 2), "UP");
    EXPECT_GT(peer.snmpRequests(), 0);

    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);
    ASSERT_EQ(
        0, testsupport::runProcess({"snmptrap", "-v", "1", "-c", "public", "-m", "", "127.0.0.7:1162",
                                    "1.3.6.1.4.1.9999", "127.0.0.7", "6", "1001", "0", "1.3.6.1.4.1.9999.1.1",
                                    "s", "cpu", "1.3.6.1.4.1.9999.1.2", "s", "fan3"}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return readFile(dir.file("VDLog.txt")).find("Fan failure") != std::string::npos; }, 10000));
    EXPECT_NE(readFile(dir.file("VDLog.txt")).find("Server Name:novell\r\nDescription:Fan failure"),
              std::string::npos)
        << readFile(dir.file("VDLog.txt"));

    peer.setAgentSilent(true);
    console.pollTimer().start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.snmpStatus == "DOWN" && settled(); }, 30000));
    EXPECT_EQ(server.networkStatus, "UP");
    EXPECT_GT(peer.diagnosticRequests(), 0);
    const std::string log = readFile(dir.file("VDLog.txt"));
    EXPECT_NE(log.find("Server Name:novell"), std::string::npos) << log;
    EXPECT_NE(log.find("The SNMP agent on the server is not responding"), std::string::npos) << log;

    peer.setAgentSilent(false);
    console.pollTimer().start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.snmpStatus == "UP" && settled(); }, 30000));

    // The IPX row of the value table: the console's colon-form IPX address, whatever DHCP says.
    const ConsoleSettings& s = console.settings();
    SetAlertDestination(server, s.hostIpAddress, s.hostIpxAddress, s.hostName, 1);
    EXPECT_EQ(server.alertDestination, 1);
    EXPECT_EQ(readFile(dir.file("written.log")),
              ".1.3.6.1.4.1.32473.2.23.13.3.2.0 string 00000010:000000000001\n");

    const int before = peer.snmpRequests();
    EXPECT_EQ(agentRows(console, "novell"), (std::vector<std::string>{"OK", "OK", "OK"}));
    EXPECT_GE(peer.snmpRequests(), before + 3);

    // The whole host falls silent: the network DOWN alert, SNMP DOWN without a second one.
    const std::size_t logBefore = readFile(dir.file("VDLog.txt")).size();
    peer.setSilent(true);
    console.pollTimer().start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.networkStatus == "DOWN" && settled(); }, 60000));
    EXPECT_EQ(server.snmpStatus, "DOWN");
    const std::string silence = readFile(dir.file("VDLog.txt")).substr(logBefore);
    EXPECT_NE(silence.find("The server does not answer on the network"), std::string::npos) << silence;
    EXPECT_EQ(silence.find("The SNMP agent on the server is not responding"), std::string::npos) << silence;

    // Back again: the agent's UP alert, then the host's.
    peer.setSilent(false);
    console.pollTimer().start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.networkStatus == "UP" && settled(); }, 30000));
    const std::string back = readFile(dir.file("VDLog.txt")).substr(logBefore + silence.size());
    const std::size_t agentUp = back.find("The SNMP agent on the server is responding again");
    ASSERT_NE(agentUp, std::string::npos) << back;
    EXPECT_NE(back.find("The server answers on the network again", agentUp), std::string::npos) << back;
}

} // namespace
