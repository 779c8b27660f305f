// SNMPv3 against real Net-SNMP peers on loopback: requests to an snmpd with
// USM users, v3 traps and informs from snmptrap / snmpinform.

#include "snmp/snmp.h"
#include "snmp/tests/snmp_peers.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>

namespace {

std::string tempDir() {
    char pattern[] = "/tmp/vardel-snmpv3-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? std::string(made) + "/" : std::string("/tmp/");
}

// The console's engine, fixed for the whole program.
const std::string& consoleEngine() {
    static const std::string id = snmpv3::generateEngineId();
    return id;
}

class SnmpEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(snmpInit(), 0);
        ASSERT_EQ(snmpv3::enable(consoleEngine()), 0);
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SnmpEnvironment);

const char* const kSysObjectId = "1.3.6.1.2.1.1.2.0";
const char* const kSysContact = "1.3.6.1.2.1.1.4.0";
const char* const kAgentEngine = "800007e58077656e676c6531"; // fixed in the agent's configuration

// snmpd on loopback with a user of each kind.
class V3Agent {
public:
    explicit V3Agent(const std::string& dir) : m_port(peers::freePort()) {
        const std::string conf = dir + "snmpd.conf";
        std::ofstream(conf) << "agentaddress udp:127.0.0.1:" << m_port << ",udp6:[::1]:" << m_port << "\n"
                            << "exactEngineID 0x" << kAgentEngine << "\n"
                            << "createUser alice SHA-256 alicepass123 AES alicepriv123\n"
                            << "createUser bob SHA-512 bobpass12345 AES-256 bobpriv12345\n"
                            << "createUser carol SHA carolpass123\n"
                            << "rwuser alice priv\nrwuser bob priv\nrouser carol auth\n";
        setenv("SNMP_PERSISTENT_DIR", dir.c_str(), 1);
        m_pid = testsupport::spawnProcess(
            {"snmpd", "-f", "-Lo", "-C", "-c", conf, "-M", dir, "-m", "", "-I", "-smux"}, dir + "snmpd.log");
        unsetenv("SNMP_PERSISTENT_DIR");
    }
    ~V3Agent() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    std::uint16_t port() const { return m_port; }

private:
    std::uint16_t m_port;
    pid_t m_pid = -1;
};

} // namespace

class SnmpV3AgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        int status = -99;
        m_session = std::make_unique<Snmp>(status, 0);
        ASSERT_EQ(status, kSnmpSuccess);
        // The agent is up once it answers (a report is an answer too).
        CTarget probe = target("nobody", snmpv3::kNoAuthNoPriv);
        probe.set_retry(0);
        probe.set_timeout(20);
        for (int i = 0; i < 100; ++i) {
            Pdu pdu;
            pdu += Vb(Oid(kSysObjectId));
            if (m_session->get(pdu, probe) != kSnmpTimeout)
                break;
        }
    }
    CTarget target(const std::string& user, int level) const {
        CTarget t(UdpAddress(IpAddress("127.0.0.1"), m_agent.port()));
        t.set_version(version3);
        t.set_security(user, level);
        t.set_retry(1);
        t.set_timeout(100);
        return t;
    }
    int get(const CTarget& t) {
        Pdu pdu;
        pdu += Vb(Oid(kSysObjectId));
        return m_session->get(pdu, t);
    }
    void masterKeys(const std::string& user, int level, int auth, const std::string& authPass, int priv,
                    const std::string& privPass) {
        snmpv3::setMasterKeys("127.0.0.1", m_agent.port(), user, level, auth,
                              snmpv3::passwordToKey(auth, authPass), priv,
                              snmpv3::passwordToKey(auth, privPass));
    }

    std::string m_dir = tempDir();
    V3Agent m_agent{m_dir};
    std::unique_ptr<Snmp> m_session;
};

TEST_F(SnmpV3AgentTest, EachLevelAnswersAndEachRefusalHasItsReason) {
    std::string engine;
    ASSERT_TRUE(snmpv3::fromHex(kAgentEngine, engine));

    // Master keys: the engine is discovered and the user localized for it.
    masterKeys("alice", snmpv3::kAuthPriv, snmpv3::kAuthSha256, "alicepass123", snmpv3::kPrivAes,
               "alicepriv123");
    EXPECT_EQ(get(target("alice", snmpv3::kAuthPriv)), kSnmpSuccess);
    EXPECT_EQ(snmpv3::learntEngineId("127.0.0.1", m_agent.port()), engine);
    // The same agent over IPv6 is a peer of its own, its engine learnt by that address.
    snmpv3::setMasterKeys("::1", m_agent.port(), "alice", snmpv3::kAuthPriv, snmpv3::kAuthSha256,
                          snmpv3::passwordToKey(snmpv3::kAuthSha256, "alicepass123"), snmpv3::kPrivAes,
                          snmpv3::passwordToKey(snmpv3::kAuthSha256, "alicepriv123"));
    CTarget alice6(UdpAddress(IpAddress("::1"), m_agent.port()));
    alice6.set_version(version3);
    alice6.set_security("alice", snmpv3::kAuthPriv);
    alice6.set_retry(1);
    alice6.set_timeout(100);
    EXPECT_EQ(get(alice6), kSnmpSuccess);
    EXPECT_EQ(snmpv3::learntEngineId("::1", m_agent.port()), engine);

    // Localized keys given outright, with a longer privacy key.
    const std::string bobKu = snmpv3::passwordToKey(snmpv3::kAuthSha512, "bobpass12345");
    const std::string bobPriv = snmpv3::passwordToKey(snmpv3::kAuthSha512, "bobpriv12345");
    ASSERT_EQ(
        snmpv3::addUser("bob", engine, snmpv3::kAuthPriv, snmpv3::kAuthSha512,
                        snmpv3::localizeAuthKey(snmpv3::kAuthSha512, bobKu, engine), snmpv3::kPrivAes256,
                        snmpv3::localizePrivKey(snmpv3::kAuthSha512, snmpv3::kPrivAes256, bobPriv, engine)),
        0);
    CTarget bob = target("bob", snmpv3::kAuthPriv);
    bob.set_engine_id(engine);
    EXPECT_EQ(get(bob), kSnmpSuccess);

    const std::string carolKu = snmpv3::passwordToKey(snmpv3::kAuthSha, "carolpass123");
    ASSERT_EQ(snmpv3::addUser("carol", engine, snmpv3::kAuthNoPriv, snmpv3::kAuthSha,
                              snmpv3::localizeAuthKey(snmpv3::kAuthSha, carolKu, engine), snmpv3::kPrivNone,
                              ""),
              0);
    EXPECT_EQ(get(target("carol", snmpv3::kAuthNoPriv)), kSnmpSuccess);

    // A wrong authentication pass phrase: the agent reports a wrong digest.
    const std::string wrongKu = snmpv3::passwordToKey(snmpv3::kAuthSha, "notcarols12");
    ASSERT_EQ(snmpv3::addUser("carol", engine, snmpv3::kAuthNoPriv, snmpv3::kAuthSha,
                              snmpv3::localizeAuthKey(snmpv3::kAuthSha, wrongKu, engine), snmpv3::kPrivNone,
                              ""),
              0);
    EXPECT_EQ(get(target("carol", snmpv3::kAuthNoPriv)), kSnmpUsmWrongDigest);

    // A user the agent does not have.
    ASSERT_EQ(snmpv3::addUser("zed", engine, snmpv3::kAuthNoPriv, snmpv3::kAuthSha,
                              snmpv3::localizeAuthKey(snmpv3::kAuthSha, carolKu, engine), snmpv3::kPrivNone,
                              ""),
              0);
    EXPECT_EQ(get(target("zed", snmpv3::kAuthNoPriv)), kSnmpUsmUnknownUser);

    // A SET over v3, read back.
    Vb contact{Oid(kSysContact)};
    contact.set_value("ops@example.org");
    Pdu set;
    set += contact;
    ASSERT_EQ(m_session->set(set, target("alice", snmpv3::kAuthPriv)), kSnmpSuccess);
    Pdu back;
    back += Vb(Oid(kSysContact));
    ASSERT_EQ(m_session->get(back, target("alice", snmpv3::kAuthPriv)), kSnmpSuccess);
    Vb value;
    back.get_vb(value, 0);
    EXPECT_EQ(value.get_printable_value(), "ops@example.org");
}

TEST(SnmpV3Keys, PassPhrasesBelowEightCharactersAreRefusedAndHexRoundTrips) {
    EXPECT_TRUE(snmpv3::passwordToKey(snmpv3::kAuthSha256, "short").empty());
    EXPECT_EQ(snmpv3::passwordToKey(snmpv3::kAuthSha256, "longenough").size(), 32u);
    std::string octets;
    ASSERT_TRUE(snmpv3::fromHex("0x80:00:1F", octets));
    EXPECT_EQ(snmpv3::toHex(octets), "80001F");
    EXPECT_FALSE(snmpv3::fromHex("80G0", octets));
    EXPECT_EQ(snmpv3::localEngineId(), consoleEngine());
}

namespace {

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> users;
    std::vector<UsmRefusals> refusals;
};

void onNotification(int reason, Snmp*, Pdu& pdu, SnmpTarget& target, void* data) {
    if (reason != kSnmpNotification || target.get_version() != version3)
        return;
    auto* received = static_cast<Received*>(data);
    std::lock_guard<std::mutex> lock(received->mutex);
    received->users.push_back(target.securityName() + (pdu.get_type() == 0xA6 ? " inform" : " trap"));
    received->changed.notify_all();
}

} // namespace

TEST(SnmpV3Notifications, TrapsOfTheSendersEngineAndInformsOfOursAreTakenOthersCounted) {
    int status = -99;
    Snmp session(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    Received received;
    ASSERT_EQ(session.notify_register(OidCollection(), TargetCollection(), onNotification, &received), 0);
    session.setRefusalHook([&](const std::vector<UsmRefusals>& list) {
        std::lock_guard<std::mutex> lock(received.mutex);
        received.refusals.insert(received.refusals.end(), list.begin(), list.end());
        received.changed.notify_all();
    });
    ASSERT_EQ(session.receiveInBackground(1 << 20), 0);
    std::thread loop([&] { session.run(); });
    const std::string peer = "127.0.0.1:" + std::to_string(session.localPort());
    // The senders keep their state in a folder of the test's own.
    const std::string state = tempDir();
    setenv("SNMP_PERSISTENT_DIR", state.c_str(), 1);

    // The sender's engine for its traps, ours for its informs.
    const std::string senderHex = "800007e5804142434445";
    std::string sender;
    ASSERT_TRUE(snmpv3::fromHex(senderHex, sender));
    const std::string ku = snmpv3::passwordToKey(snmpv3::kAuthSha256, "trappass123");
    const std::string kp = snmpv3::passwordToKey(snmpv3::kAuthSha256, "trappriv123");
    for (const std::string& engine : {sender, consoleEngine()})
        ASSERT_EQ(snmpv3::addUser("trapper", engine, snmpv3::kAuthPriv, snmpv3::kAuthSha256,
                                  snmpv3::localizeAuthKey(snmpv3::kAuthSha256, ku, engine), snmpv3::kPrivAes,
                                  snmpv3::localizePrivKey(snmpv3::kAuthSha256, snmpv3::kPrivAes, kp, engine)),
                  0);
    const std::vector<std::string> v3 = {"-v", "3",           "-l", "authPriv",    "-u", "trapper",
                                         "-a", "SHA-256",     "-A", "trappass123", "-x", "AES",
                                         "-X", "trappriv123", "-r", "1",           "-t", "2"};
    auto send = [&](const std::string& tool, std::vector<std::string> extra) {
        std::vector<std::string> args = {tool, "-m", ""};
        args.insert(args.end(), v3.begin(), v3.end());
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {peer, "0", "1.3.6.1.4.1.9999.0.1001"});
        return peers::run(args);
    };
    ASSERT_EQ(send("snmptrap", {"-e", "0x" + senderHex}), 0);
    EXPECT_EQ(send("snmpinform", {}), 0); // answered, so snmpinform succeeds
    // A trap of another engine, and one with a wrong key: refused and counted.
    send("snmptrap", {"-e", "0x800007e5809999999999"});
    std::vector<std::string> wrong = {"snmptrap",     "-m",      "",
                                      "-v",           "3",       "-l",
                                      "authNoPriv",   "-u",      "trapper",
                                      "-a",           "SHA-256", "-A",
                                      "wrongpass123", "-e",      "0x" + senderHex,
                                      peer,           "0",       "1.3.6.1.4.1.9999.0.1001"};
    peers::run(wrong);

    {
        std::unique_lock<std::mutex> lock(received.mutex);
        received.changed.wait_for(lock, std::chrono::seconds(10), [&] {
            std::uint64_t refused = 0;
            for (const UsmRefusals& r : received.refusals)
                refused += r.total();
            return received.users.size() >= 2 && refused >= 2;
        });
        // The digest that failed is no notification.
        EXPECT_EQ(received.users, (std::vector<std::string>{"trapper trap", "trapper inform"}));
        std::uint64_t unknown = 0, digests = 0;
        for (const UsmRefusals& r : received.refusals) {
            EXPECT_EQ(r.sender, "127.0.0.1");
            unknown += r.unknownUserNames + r.unknownEngineIds;
            digests += r.wrongDigests;
        }
        EXPECT_GE(unknown, 1u);
        EXPECT_EQ(digests, 1u);
    }
    unsetenv("SNMP_PERSISTENT_DIR");
    session.stop();
    loop.join();
}
