// A console polls a server that has only an IPX address, through the
// simulated NetWare host and a real snmpd behind it: UP while the agent
// answers; network UP, SNMP DOWN once the agent falls silent while the host
// still answers diagnostics. A trap it sends over IPX becomes an alert with
// its name.

#include "fixed_host.h"
#include "flexgrid.h"
#include "nwpeer.h"
#include "poll_cycle.h"
#include "private_program_dir.h"
#include "server_status_tab.h"
#include "snmp.h"
#include "snmpd_peer.h"
#include "testsupport.h"
#include "trap_listener.h"
#include "vardel_tabs.h"

#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

TEST(IpxServerRoad, PolledUpThenAgentDownWhileTheHostAnswers) {
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
    testsupport::SnmpdPeer agent(dir.file("agent/"), "agentaddress udp:127.0.0.1:161\nrocommunity public\n");
    ASSERT_TRUE(agent.ready("127.0.0.1:161", "public"));
    NetWarePeer peer(dir.file("peer.ini"));
    std::string error;
    ASSERT_TRUE(peer.start(&error)) << error;
    snmpInit();

    StartupOptions options;
    options.programDirectory = dir.path();
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    CVardelTabs console(options);
    console.OnInitDialog();
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
}

} // namespace
