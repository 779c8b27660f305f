// A console whose servers carry SNMPv3 users, against a real snmpd with v3
// users in the test's namespace: polled UP over each level, a wrong pass
// phrase shown as a credentials fault, v3 traps and informs classified, a
// refused v3 trap and a v2c trap with the wrong community dropped and
// reported; OK keeps the learnt engine's keys in the credentials file.

#include "platform/flexgrid/flexgrid.h"
#include "snmp/snmp.h"
#include "tests/support/fixed_host.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/snmpv3_store.h"

#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const char* const kEngineHex = "800007e580766172643331";

bool answersV3(const std::string& address) {
    int status = 0;
    Snmp session(status, 0);
    CTarget target{IpAddress(address)};
    target.set_version(version3);
    target.set_security("nobody", snmpv3::kNoAuthNoPriv);
    target.set_retry(0);
    target.set_timeout(20);
    for (int attempt = 0; attempt < 100; ++attempt) {
        Pdu pdu;
        pdu += Vb(Oid("1.3.6.1.2.1.1.1.0"));
        if (session.get(pdu, target) != kSnmpTimeout)
            return true;
    }
    return false;
}

SnmpV3Credentials user(const std::string& name, int level, int auth, int priv, const std::string& authPhrase,
                       const std::string& privPhrase, const std::string& engine, const std::string& console) {
    SnmpV3Credentials c;
    c.user = name;
    c.level = level;
    c.auth = auth;
    c.priv = priv;
    c.engineId = engine;
    EXPECT_TRUE(MakeV3Keys(c, authPhrase, privPhrase, console));
    return c;
}

class V3Road : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::copyProgramData(dir.path());
        std::string ini = "[ServerInfo]\r\nNumServers=4\r\n[SERVERS]\r\n";
        for (const char* name : {"delta", "charlie", "bravo", "alpha"})
            ini += std::string(name) + "=1\r\n";
        for (const auto& [name, ip] :
             std::vector<std::pair<std::string, std::string>>{{"alpha", "127.0.0.2"},
                                                              {"bravo", "127.0.0.3"},
                                                              {"charlie", "127.0.0.4"},
                                                              {"delta", "127.0.0.5"}})
            ini += "[" + name + "]\r\nNOS=NT\r\nIP=" + ip + "\r\nIPX=\r\nSNMP_COMMUNITY=public\r\n";
        ini += "[VDINFO]\r\nRETRY=1\r\nTIMEOUT=50\r\nPOLLTIME=60\r\n";
        writeFile(dir.file("rlaweb.ini"), ini);
        iniBefore = readFile(dir.file("rlaweb.ini"));

        snmpInit();
        std::string reason;
        console = ConsoleEngineId(dir.path(), reason);
        ASSERT_FALSE(console.empty()) << reason;
        ASSERT_TRUE(snmpv3::fromHex(kEngineHex, engine));
        // alpha's engine is left to discovery; bravo's is typed; delta's pass phrase is wrong.
        ServerList servers;
        std::vector<ManagedServer*> s;
        for (const char* name : {"alpha", "bravo", "charlie", "delta"}) {
            servers.push_back(std::make_unique<ManagedServer>());
            servers.back()->name = name;
            s.push_back(servers.back().get());
        }
        s[0]->v3 = user("alice", snmpv3::kAuthPriv, snmpv3::kAuthSha256, snmpv3::kPrivAes, "alicepass123",
                        "alicepriv123", "", console);
        s[1]->v3 = user("bob", snmpv3::kAuthPriv, snmpv3::kAuthSha512, snmpv3::kPrivAes256, "bobpass12345",
                        "bobpriv12345", engine, console);
        s[2]->v3 = user("carol", snmpv3::kAuthNoPriv, snmpv3::kAuthSha, 0, "carolpass123", "", "", console);
        s[3]->v3 = user("alice", snmpv3::kAuthPriv, snmpv3::kAuthSha256, snmpv3::kPrivAes, "notalices123",
                        "alicepriv123", engine, console);
        ASSERT_EQ(SaveV3Credentials(dir.path(), servers, reason), 0) << reason;

        std::filesystem::create_directories(dir.path() + "agent/");
        agent = std::make_unique<testsupport::SnmpdPeer>(
            dir.path() + "agent/",
            std::string(
                "agentaddress udp:127.0.0.2:161,udp:127.0.0.3:161,udp:127.0.0.4:161,udp:127.0.0.5:161\n") +
                "exactEngineID 0x" + kEngineHex + "\n" +
                "createUser alice SHA-256 alicepass123 AES alicepriv123\n"
                "createUser bob SHA-512 bobpass12345 AES-256 bobpriv12345\n"
                "createUser carol SHA carolpass123\n"
                "rwuser alice priv\nrwuser bob priv\nrouser carol auth\nrocommunity public\n");
        ASSERT_TRUE(answersV3("127.0.0.2"));

        StartupOptions options;
        options.programDirectory = dir.path();
        fixedhost::ip = "198.18.0.1";
        options.host = fixedhost::library();
        // The senders keep their state here, not in the machine's /var/lib/snmp.
        setenv("SNMP_PERSISTENT_DIR", dir.path().c_str(), 1);
        tabs = std::make_unique<CVardelTabs>(options);
        tabs->OnInitDialog();
    }

    bool settled() {
        for (const auto& s : tabs->servers())
            if (s->pollPending != 0 || s->snmpStatus == "INIT" || s->networkStatus == "INIT")
                return false;
        return true;
    }
    std::string row(long r) {
        CMSFlexGrid& g = tabs->statusTab()->grid();
        return g.GetTextMatrix(r, 0) + " " + g.GetTextMatrix(r, 2) + " " + g.GetTextMatrix(r, 3);
    }
    int send(const std::vector<std::string>& args) { return testsupport::runProcess(args); }
    std::vector<std::string> v3Trap(const std::string& tool, const std::string& from,
                                    const std::string& pass) {
        std::vector<std::string> a = {tool, "-m",
                                      "",   "--clientaddr=" + from,
                                      "-v", "3",
                                      "-l", "authPriv",
                                      "-u", "alice",
                                      "-a", "SHA-256",
                                      "-A", pass,
                                      "-x", "AES",
                                      "-X", "alicepriv123",
                                      "-r", "1",
                                      "-t", "2"};
        if (tool == "snmptrap")
            a.insert(a.end(), {"-e", std::string("0x") + kEngineHex});
        a.insert(a.end(), {"127.0.0.1:162", "0", "1.3.6.1.4.1.9999.0.1001", "1.3.6.1.4.1.9999.1.1", "s",
                           "cpu", "1.3.6.1.4.1.9999.1.2", "s", "fan3"});
        return a;
    }

    TempDir dir;
    std::string console, engine, iniBefore;
    std::unique_ptr<testsupport::SnmpdPeer> agent;
    std::unique_ptr<CVardelTabs> tabs;
};

} // namespace

TEST_F(V3Road, PolledOverV3TrapsTakenRefusalsReportedKeysKept) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 60000));
    EXPECT_EQ(row(1), "alpha UP UP");
    EXPECT_EQ(row(2), "bravo UP UP");
    EXPECT_EQ(row(3), "charlie UP UP");
    // The agent answered but refused: the credentials, not the network.
    EXPECT_EQ(row(4), "delta DOWN AUTH UP");
    EXPECT_EQ(FindServerByName(tabs->servers(), "delta")->snmpRefusal, kSnmpUsmWrongDigest);

    // A v3 trap of the agent's engine and a v3 inform to ours: alerts of alpha.
    ASSERT_EQ(tabs->trapListener()->waitForRegistration(), 0);
    const int before = tabs->alertStore().count;
    ASSERT_EQ(send(v3Trap("snmptrap", "127.0.0.2", "alicepass123")), 0);
    ASSERT_EQ(send(v3Trap("snmpinform", "127.0.0.2", "alicepass123")), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tabs->alertStore().count >= before + 2; }, 10000));
    EXPECT_EQ(FindServerByName(tabs->servers(), "alpha")->outstandingAlerts, 2);

    // A wrong key, and a v2c trap with the wrong community while the check is on: never shown.
    send(v3Trap("snmptrap", "127.0.0.3", "wrongpass123"));
    tabs->settings().checkTrapCommunity = 1;
    const std::vector<std::string> v2c = {"snmptrap",
                                          "-m",
                                          "",
                                          "--clientaddr=127.0.0.4",
                                          "-v",
                                          "2c",
                                          "-c",
                                          "guessed",
                                          "127.0.0.1:162",
                                          "0",
                                          "1.3.6.1.4.1.9999.0.1001"};
    ASSERT_EQ(send(v2c), 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::string log = readFile(dir.file("VDLog.txt"));
            return log.find("Traps Refused:1 SNMPv3 from 127.0.0.3 (1 wrong digest)") != std::string::npos &&
                   log.find("Traps Refused:1 SNMPv1/v2c from 127.0.0.4") != std::string::npos;
        },
        10000));
    EXPECT_EQ(tabs->alertStore().count, before + 2);
    // With the check off, the same trap is charlie's alert.
    tabs->settings().checkTrapCommunity = 0;
    ASSERT_EQ(send(v2c), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tabs->alertStore().count == before + 3; }, 10000));

    // OK: alpha keeps keys localized for the engine it learnt, and no pass phrase is anywhere.
    tabs->OnOK();
    const std::string file = readFile(dir.file(kV3CredentialsFile));
    EXPECT_NE(file.find("[alpha]\nUser=alice\nLevel=authPriv\nAuth=SHA-256\nPriv=AES\nEngineID=" +
                        snmpv3::toHex(engine) + "\n"),
              std::string::npos);
    EXPECT_EQ(file.find("Master"), std::string::npos);
    for (const char* phrase : {"alicepass123", "alicepriv123", "bobpass12345"}) {
        EXPECT_EQ(file.find(phrase), std::string::npos);
        EXPECT_EQ(readFile(dir.file("rlaweb.ini")).find(phrase), std::string::npos);
    }
    struct stat st {};
    ASSERT_EQ(stat(dir.file(kV3CredentialsFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(dir.file("rlaweb.ini")).find("User="), std::string::npos);
    std::string reason;
    EXPECT_EQ(ConsoleEngineId(dir.path(), reason), console);
    unsetenv("SNMP_PERSISTENT_DIR");
}
