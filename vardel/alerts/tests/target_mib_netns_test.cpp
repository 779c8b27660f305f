// The alert destination on stock snmpd agents, which lack the private object:
// the console's rows of the standard target tables, over SNMPv2c and SNMPv3,
// proved by the agent's own authenticationFailure traps reaching a listener
// on the console's port 162.

#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_destination.h"
#include "vardel/alerts/target_mib.h"
#include "vardel/store/snmpv3_store.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "target_mib_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

const char* const kAuthenticationFailure = "1.3.6.1.6.3.1.1.5.5";
const char* const kAgentEngineHex = "800007e5807264633334313301";

struct Trap {
    std::string sender, id, security; // security: the community, or the v3 user
    int version = -1;
};

// The console's trap port: every notification that reaches it.
class Listener {
public:
    Listener() {
        int status = -1;
        m_session = std::make_unique<Snmp>(status, 162);
        EXPECT_EQ(status, kSnmpSuccess);
        EXPECT_EQ(m_session->notify_register(OidCollection(), TargetCollection(), &Listener::received, this),
                  0);
        m_thread = std::thread([this] { m_session->run(); });
    }
    ~Listener() {
        m_session->stop();
        m_thread.join();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(15), [&] { return m_traps.size() >= count; });
    }
    std::vector<Trap> traps() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_traps;
    }

private:
    static void received(int reason, Snmp*, Pdu& pdu, SnmpTarget& target, void* data) {
        if (reason != kSnmpNotification)
            return;
        auto* self = static_cast<Listener*>(data);
        Trap t;
        GenAddress address;
        target.get_address(address);
        t.sender = address.get_printable();
        Oid id;
        pdu.get_notify_id(id);
        t.id = id.get_printable();
        t.version = target.get_version();
        const OctetStr& community = target.readCommunity();
        t.security = t.version == version3
                         ? target.securityName()
                         : std::string(reinterpret_cast<const char*>(community.data()), community.len());
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_traps.push_back(t);
        self->m_changed.notify_all();
    }

    std::unique_ptr<Snmp> m_session;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Trap> m_traps;
};

ManagedServer server(const std::string& ip, const std::string& community) {
    ManagedServer s;
    s.name = "STOCK";
    s.nosCode = kNosNT;
    s.ipAddress = ip;
    s.community = community;
    s.alertDestination = 0;
    return s;
}

// A request with a community the agent does not know: its authenticationFailure trap.
void provokeTrap(const std::string& agent) {
    testsupport::runProcess(
        {"snmpget", "-v2c", "-c", "guessed", "-r", "0", "-t", "0.3", "-m", "", agent, "1.3.6.1.2.1.1.3.0"});
}

// The agent's snmpTargetAddrTAddress column, a line per row.
std::string addressColumn(const testsupport::TempDir& dir, const std::string& agent) {
    const std::string out = dir.file("walk.txt");
    std::remove(out.c_str());
    const pid_t pid = testsupport::spawnProcess({"snmpwalk", "-v2c", "-c", "private", "-On", "-m", "", agent,
                                                 std::string(kSnmpTargetAddrEntry) + ".3"},
                                                out);
    waitpid(pid, nullptr, 0);
    const std::string text = testsupport::readFile(out);
    return text.substr(std::min(text.find(".1.3.6"), text.size())); // past the tool's own notices
}

class TargetMibTest : public ::testing::Test {
protected:
    TargetMibTest() {
        app();
        EXPECT_EQ(snmpInit(), 0);
    }
    testsupport::TempDir dir;
};

TEST_F(TargetMibTest, V2cRowsCarryTheAgentsTrapsAndEachConsoleKeepsItsOwn) {
    testsupport::SnmpdPeer agent(dir.path(), "agentaddress udp:127.0.0.2:161,udp6:[::1]:161\n"
                                             "[snmp] clientaddr 127.0.0.2\n"
                                             "rwcommunity private\nrwcommunity6 private\n"
                                             "authtrapenable 1\n");
    ASSERT_TRUE(agent.ready("127.0.0.2", "private"));
    Listener listener;

    // Two consoles on one agent, each with rows of its own.
    ManagedServer s = server("127.0.0.2", "private");
    SetAlertDestination(s, "127.0.0.1", "", "Console-A", 0, true);
    EXPECT_EQ(s.alertDestination, 1);
    EXPECT_EQ(s.alertDestinationStatus, 0);
    ManagedServer other = server("127.0.0.2", "private");
    SetAlertDestination(other, "127.0.0.1", "", "console b", 1, true);
    EXPECT_EQ(other.alertDestination, 1);
    const std::string a = ".118.97.114.100.101.108.45.99.111.110.115.111.108.101.45.97 = Hex-STRING: ";
    const std::string b = ".118.97.114.100.101.108.45.99.111.110.115.111.108.101.45.98 = Hex-STRING: ";
    const std::string column = std::string(".") + kSnmpTargetAddrEntry + ".3";
    EXPECT_EQ(addressColumn(dir, "127.0.0.2"),
              column + a + "7F 00 00 01 00 A2 \n" + column + b + "7F 00 00 01 00 A2 \n");

    provokeTrap("127.0.0.2");
    ASSERT_TRUE(listener.waitFor(2));
    for (const Trap& t : listener.traps()) { // one for each console
        EXPECT_EQ(t.sender, "127.0.0.2");
        EXPECT_EQ(t.id, kAuthenticationFailure);
        EXPECT_EQ(t.version, version2c);
        EXPECT_EQ(t.security, "private");
    }

    // Reset of the first console, through the server's IPv6 address now: its
    // rows replaced by rows for the console's IPv6 address, the other's kept.
    ManagedServer ip6 = server("", "private");
    ip6.ip6Address = "::1";
    SetAlertDestination(ip6, "127.0.0.1", "", "console-a", 0, true);
    EXPECT_EQ(ip6.alertDestination, 1);
    EXPECT_EQ(addressColumn(dir, "127.0.0.2"),
              column + a + "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 \n00 A2 \n" + column + b +
                  "7F 00 00 01 00 A2 \n");
    provokeTrap("127.0.0.2");
    ASSERT_TRUE(listener.waitFor(4));
    const std::vector<Trap> traps = listener.traps();
    ASSERT_EQ(traps.size(), 4u);
    std::vector<std::string> senders = {traps[2].sender, traps[3].sender};
    std::sort(senders.begin(), senders.end());
    EXPECT_EQ(senders, (std::vector<std::string>{"127.0.0.2", "::1"}));

    // A console without an IP address has none to give.
    ManagedServer noAddress = server("127.0.0.2", "private");
    SetAlertDestination(noAddress, "", "", "console-d", 0, true);
    EXPECT_EQ(noAddress.alertDestination, -1);
    EXPECT_EQ(AlertDestinationReason(noAddress.alertDestinationStatus),
              "The console has no IP address to write into the agent's trap destination tables.");
}

TEST_F(TargetMibTest, V3RowsCarryTheUsersTraps) {
    std::string engine, reason;
    ASSERT_TRUE(snmpv3::fromHex(kAgentEngineHex, engine));
    testsupport::SnmpdPeer agent(dir.path(),
                                 std::string("agentaddress udp:127.0.0.3:161\n[snmp] clientaddr 127.0.0.3\n"
                                             "exactEngineID 0x") +
                                     kAgentEngineHex +
                                     "\ncreateUser alice SHA-256 alicepass123 AES alicepriv123\n"
                                     "rwuser alice priv\nrocommunity public\nauthtrapenable 1\n");
    ASSERT_TRUE(agent.ready("127.0.0.3", "public"));
    const std::string console = ConsoleEngineId(dir.path(), reason);
    ASSERT_FALSE(console.empty()) << reason;

    ManagedServer s = server("127.0.0.3", "public");
    s.v3.user = "alice";
    s.v3.level = snmpv3::kAuthPriv;
    s.v3.auth = snmpv3::kAuthSha256;
    s.v3.priv = snmpv3::kPrivAes;
    s.v3.engineId = engine;
    ASSERT_TRUE(MakeV3Keys(s.v3, "alicepass123", "alicepriv123", console));
    ApplyV3Credentials(s, console);
    Listener listener;

    SetAlertDestination(s, "127.0.0.1", "", "console-v3", 0, true);
    EXPECT_EQ(s.alertDestination, 1);
    EXPECT_EQ(s.alertDestinationStatus, 0);
    provokeTrap("127.0.0.3");
    ASSERT_TRUE(listener.waitFor(1));
    const Trap t = listener.traps()[0];
    EXPECT_EQ(t.sender, "127.0.0.3");
    EXPECT_EQ(t.id, kAuthenticationFailure);
    EXPECT_EQ(t.version, version3);
    EXPECT_EQ(t.security, "alice");

    // The same user with the wrong key is refused before any row is touched.
    ManagedServer wrong = s;
    ASSERT_TRUE(MakeV3Keys(wrong.v3, "notalices123", "alicepriv123", console));
    ApplyV3Credentials(wrong, console);
    SetAlertDestination(wrong, "127.0.0.1", "", "console-v3", 0, true);
    EXPECT_EQ(wrong.alertDestinationStatus, kSnmpUsmWrongDigest);
    EXPECT_EQ(AlertDestinationReason(wrong.alertDestinationStatus),
              "The agent refused the SNMPv3 authentication key (wrong digest).");
}

} // namespace
