// The alert-destination SET against snmpd, whose pass script makes the
// destination variable writable and records every write.

#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_destination.h"

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tuple>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "alert_destination_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

const std::string kConsoleIp = "10.9.8.7";
const std::string kConsoleIpx = "0000ABCD-00A0C9112233";
const std::string kHostName = "CONSOLE1";

ManagedServer server(const std::string& name, std::int32_t nos, const std::string& ip,
                     const std::string& community, const std::string& ipx = "") {
    ManagedServer s;
    s.name = name;
    s.nosCode = nos;
    s.ipAddress = ip;
    s.ipxAddress = ipx;
    s.community = community;
    s.alertDestination = 0;
    return s;
}

class AlertDestinationTest : public ::testing::Test {
protected:
    AlertDestinationTest() {
        app();
        EXPECT_EQ(snmpInit(), 0);
        const std::string script = dir.file("destination.sh");
        testsupport::writeFile(script,
                               "#!/bin/sh\n"
                               "if [ \"$1\" = -s ]; then echo \"$2 $3 $4\" >> " +
                                   dir.file("written.log") +
                                   "; exit 0; fi\n"
                                   "if [ \"$1\" = -g ] && [ \"$2\" = .1.3.6.1.4.1.32473.2.23.13.3.2.0 ]; "
                                   "then printf '%s\\nstring\\n\\n' \"$2\"; fi\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        agent = std::make_unique<testsupport::SnmpdPeer>(dir.path(), "agentaddress udp:127.0.0.1:161\n"
                                                                     "rocommunity public 127.0.0.1\n"
                                                                     "rwcommunity private 127.0.0.1\n"
                                                                     "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " +
                                                                         script + "\n");
        EXPECT_TRUE(agent->ready("127.0.0.1", "public"));
    }
    std::string written() { return testsupport::readFile(dir.file("written.log")); }

    testsupport::TempDir dir;
    std::unique_ptr<testsupport::SnmpdPeer> agent;
};

TEST_F(AlertDestinationTest, WritesTheConsoleAddressChosenByTheTable) {
    struct Case {
        std::int32_t nos;
        int dhcp;
        std::string expected;
    };
    const std::vector<Case> cases = {{kNosNT, 1, kHostName},
                                     {kNosNT, 0, kConsoleIp},
                                     {kNosNetWare, 1, kConsoleIp},
                                     {kNosSCO, 1, kConsoleIp}};
    std::string log;
    for (const Case& c : cases) {
        ManagedServer s = server("SRV", c.nos, "127.0.0.1", "private");
        SetAlertDestination(s, kConsoleIp, kConsoleIpx, kHostName, c.dhcp);
        EXPECT_EQ(s.alertDestination, 1) << c.expected;
        log += ".1.3.6.1.4.1.32473.2.23.13.3.2.0 string " + c.expected + "\n";
        EXPECT_EQ(written(), log);
    }
    // A NetWare server reached by IPX gets the IPX address text whatever the DHCP switch.
    EXPECT_EQ(AlertDestinationValue(server("N", kNosNetWare, "", "", kConsoleIpx), kConsoleIp, kConsoleIpx,
                                    kHostName, 1),
              kConsoleIpx);
}

TEST_F(AlertDestinationTest, ResetOverSeveralServersMarksEveryFailureNotSetWhileTheConsoleRuns) {
    testsupport::SilentUdpPort silent("127.0.0.2", 161);
    ASSERT_TRUE(silent.bound());
    ManagedServer refused = server("REFUSED", kNosNT, "127.0.0.1", "public");
    ManagedServer mute = server("MUTE", kNosSCO, "127.0.0.2", "private");
    ManagedServer ipxOnly = server("IPXONLY", kNosNetWare, "", "public", "00000002-000000000002");
    ManagedServer good = server("GOOD", kNosNetWare, "127.0.0.1", "private");

    int ticks = 0;
    bool waitCursorThroughout = true;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        const QCursor* cursor = QApplication::overrideCursor();
        waitCursorThroughout = waitCursorThroughout && cursor && cursor->shape() == Qt::WaitCursor;
    });
    timer.start(200);
    std::vector<std::string> appliedOrder;
    SetAlertDestinations({&refused, &mute, &ipxOnly, &good}, kConsoleIp, kConsoleIpx, kHostName, 0,
                         [&](ManagedServer& s) { appliedOrder.push_back(s.name); });
    timer.stop();

    EXPECT_EQ(refused.alertDestination, -1);
    EXPECT_EQ(mute.alertDestination, -1);
    EXPECT_EQ(ipxOnly.alertDestination, -1);
    EXPECT_EQ(good.alertDestination, 1);
    EXPECT_EQ(AlertDestinationReason(mute.alertDestinationStatus), "No answer from the server's agent.");
    ASSERT_EQ(appliedOrder.size(), 4u);
    // The silent agent's 4 attempts, and the IPX target's that cannot be sent,
    // outlast the SETs that were answered.
    EXPECT_THAT(std::vector<std::string>(appliedOrder.begin() + 2, appliedOrder.end()),
                testing::UnorderedElementsAre("MUTE", "IPXONLY"));
    EXPECT_EQ(silent.received(), 4);
    EXPECT_EQ(written(), ".1.3.6.1.4.1.32473.2.23.13.3.2.0 string " + kConsoleIp + "\n");
    EXPECT_GT(ticks, 0);
    EXPECT_TRUE(waitCursorThroughout);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Each NOT SET keeps its reason, also said on standard error. SNMPv1 agents
// answer noSuchName for a missing object and for a refused write alike.
TEST_F(AlertDestinationTest, NotSetKeepsTheAgentsReason) {
    testsupport::TempDir stockDir, badDir;
    testsupport::SnmpdPeer stock(stockDir.path(), "agentaddress udp:127.0.0.3:161\nrwcommunity private\n");
    const std::string script = badDir.file("wrong_type.sh");
    testsupport::writeFile(script, "#!/bin/sh\nif [ \"$1\" = -s ]; then echo wrong-type; fi\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    testsupport::SnmpdPeer wrongType(badDir.path(), "agentaddress udp:127.0.0.4:161\nrwcommunity private\n"
                                                    "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " +
                                                        script + "\n");
    ASSERT_TRUE(stock.ready("127.0.0.3", "private"));
    ASSERT_TRUE(wrongType.ready("127.0.0.4", "private"));

    const std::string noSuchObject =
        "The server's agent has no such object, or does not let this community write it (noSuchName).";
    const std::tuple<ManagedServer, int, std::string> cases[] = {
        {server("STOCK", kNosNT, "127.0.0.3", "private"), 2, noSuchObject},
        {server("READONLY", kNosNT, "127.0.0.1", "public"), 2, noSuchObject},
        {server("BADVALUE", kNosNT, "127.0.0.4", "private"), 3,
         "The server's agent refused the SET with error status 3."},
        {server("GOOD", kNosNT, "127.0.0.1", "private"), 0, ""},
    };
    std::vector<ManagedServer> servers;
    std::vector<ManagedServer*> pointers;
    for (const auto& c : cases)
        servers.push_back(std::get<0>(c));
    for (ManagedServer& s : servers)
        pointers.push_back(&s);
    testing::internal::CaptureStderr();
    SetAlertDestinations(pointers, kConsoleIp, kConsoleIpx, kHostName, 0);
    const std::string said = testing::internal::GetCapturedStderr();
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const auto& [s, status, reason] = cases[i];
        EXPECT_EQ(servers[i].alertDestinationStatus, status) << s.name;
        EXPECT_EQ(AlertDestinationReason(servers[i].alertDestinationStatus), reason) << s.name;
        EXPECT_EQ(said.find("NOT SET on " + s.name + ": " + reason + "\n") != std::string::npos, status != 0)
            << said;
    }
}

} // namespace

namespace {

TEST(AlertDestinationValue, AServerReachedByIpv6GetsTheConsolesAddressTowardsIt) {
    ASSERT_EQ(testsupport::runProcess({"ip", "-6", "addr", "add", "fd00:24::1/64", "dev", "lo", "nodad"}), 0);
    ManagedServer v6 = server("V6", kNosSCO, "", "public");
    v6.ip6Address = "fd00:24::9"; // on lo's prefix: the route's source is lo's address
    EXPECT_EQ(AlertDestinationValue(v6, kConsoleIp, kConsoleIpx, kHostName, 1), "fd00:24::1");
    v6.ip6Address = "::1";
    EXPECT_EQ(AlertDestinationValue(v6, kConsoleIp, kConsoleIpx, kHostName, 0), "::1");
    v6.ip6Address = "2001:db8::1"; // no route: nothing to give it
    EXPECT_EQ(AlertDestinationValue(v6, kConsoleIp, kConsoleIpx, kHostName, 0), "");
    // The DHCP rule holds for IPv6 too; beside an IPv4 address, IPv4 wins.
    v6.nosCode = kNosNT;
    EXPECT_EQ(AlertDestinationValue(v6, kConsoleIp, kConsoleIpx, kHostName, 1), kHostName);
    ManagedServer both = server("BOTH", kNosSCO, "127.0.0.1", "public");
    both.ip6Address = "::1";
    EXPECT_EQ(AlertDestinationValue(both, kConsoleIp, kConsoleIpx, kHostName, 0), kConsoleIp);
}

} // namespace
