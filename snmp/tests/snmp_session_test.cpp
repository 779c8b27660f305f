// Sessions against real Net-SNMP peers on loopback: requests to snmpd and
// notifications from snmptrap / snmpinform.

#include "snmp/snmp.h"
#include "snmp/snmp_internal.h"
#include "snmp/snmp_qt.h"
#include "snmp/tests/snmp_peers.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <thread>

namespace {

std::string tempDir() {
    char pattern[] = "/tmp/vardel-snmp-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? std::string(made) + "/" : std::string("/tmp/");
}

class SnmpEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(snmpInit(), 0); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SnmpEnvironment);

const char* const kSysDescr = "1.3.6.1.2.1.1.1.0";
const char* const kSysContact = "1.3.6.1.2.1.1.4.0";

} // namespace

TEST(SnmpSession, OpensOnAnyPortAndRefusesAPortInUse) {
    int status = -99;
    Snmp first(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    EXPECT_NE(first.localPort(), 0);
    EXPECT_GE(first.socketDescriptor(), 0);
    int second = -99;
    Snmp clash(second, first.localPort());
    EXPECT_EQ(second, kSnmpTransportInUse);
    if (geteuid() == 0) { // SO_RCVBUFFORCE is allowed; the kernel reports twice the size asked
        EXPECT_GE(snmp_internal::receiveBufferSize(first), 8 * 1024 * 1024);
    }
}

TEST(SnmpSession, RefusesMalformedRequestsAndLosesUndeliverableOnes) {
    int status = -99;
    Snmp session(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    CTarget ipx(IpxAddress("00000001-00A0C9123456"));
    ipx.set_retry(1);
    ipx.set_timeout(1);
    EXPECT_EQ(session.get(pdu, ipx), kSnmpTimeout); // no IPX transport: every attempt is lost
    EXPECT_EQ(session.get(pdu, CTarget(IpAddress("not an address"))), kSnmpInvalidTarget);
    Pdu bad;
    bad += Vb(Oid("not.an.oid"));
    EXPECT_EQ(session.get(bad, CTarget(IpAddress("127.0.0.1"))), kSnmpInvalidOid);
    Pdu empty;
    EXPECT_EQ(session.get(empty, CTarget(IpAddress("127.0.0.1"))), kSnmpInvalidPdu);
}

class SnmpAgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        int status = -99;
        m_session = std::make_unique<Snmp>(status, 0);
        ASSERT_EQ(status, kSnmpSuccess);
        ASSERT_TRUE(m_agent.ready(*m_session)) << "snmpd did not answer";
    }
    CTarget target(const char* community = "public") const {
        CTarget t(m_agent.address());
        t.set_readcommunity(community);
        t.set_writecommunity(community);
        t.set_retry(1);
        t.set_timeout(100);
        return t;
    }

    std::string m_dir = tempDir();
    peers::Agent m_agent{m_dir};
    std::unique_ptr<Snmp> m_session;
};

TEST_F(SnmpAgentTest, SynchronousGetAnswersAndReportsErrorStatus) {
    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    pdu += Vb(Oid("1.3.6.1.2.1.1.2.0"));
    ASSERT_EQ(m_session->get(pdu, target()), kSnmpSuccess);
    ASSERT_EQ(pdu.get_vb_count(), 2);
    Vb descr, objectId;
    pdu.get_vb(descr, 0);
    pdu.get_vb(objectId, 1);
    EXPECT_EQ(descr.get_printable_oid(), kSysDescr);
    EXPECT_EQ(descr.get_syntax(), sNMP_SYNTAX_OCTETS);
    EXPECT_FALSE(descr.get_printable_value().empty());
    EXPECT_EQ(objectId.get_syntax(), sNMP_SYNTAX_OID);

    // SNMPv1: an instance that does not exist is an error status (noSuchName).
    Pdu missing;
    missing += Vb(Oid("1.3.6.1.2.1.1.2"));
    EXPECT_EQ(m_session->get(missing, target()), 2);
}

TEST_F(SnmpAgentTest, SetWritesAWritableObject) {
    Pdu set;
    Vb vb;
    vb.set_oid(Oid(kSysContact));
    vb.set_value("ops@example.org");
    set += vb;
    ASSERT_EQ(m_session->set(set, target("private")), kSnmpSuccess);

    Pdu get;
    get += Vb(Oid(kSysContact));
    ASSERT_EQ(m_session->get(get, target()), kSnmpSuccess);
    Vb read;
    get.get_vb(read, 0);
    EXPECT_EQ(read.get_printable_value(), "ops@example.org");

    // A read-only community cannot write: an error status or no answer, never success.
    Pdu refused;
    vb.set_value("intruder");
    refused += vb;
    CTarget readOnly = target("public");
    readOnly.set_retry(0);
    readOnly.set_timeout(50);
    EXPECT_NE(m_session->set(refused, readOnly), kSnmpSuccess);
}

namespace {

struct AsyncOutcome {
    int reason = 0;
    std::string value;
    std::string address;
    bool done = false;
};

void onAsync(int reason, Snmp*, Pdu& pdu, SnmpTarget& target, void* data) {
    auto* outcome = static_cast<AsyncOutcome*>(data);
    outcome->reason = reason;
    Vb vb;
    if (pdu.get_vb(vb, 0))
        outcome->value = vb.get_printable_value();
    GenAddress address;
    target.get_address(address);
    outcome->address = address.get_printable();
    outcome->done = true;
}

} // namespace

TEST_F(SnmpAgentTest, AsynchronousGetsShareOneSocketUnderTheQtEventLoop) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    SnmpQtDriver driver(*m_session);
    peers::SilentPort silent;

    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    AsyncOutcome answered, silentOutcome;
    CTarget quiet(UdpAddress(IpAddress("127.0.0.1"), silent.port()));
    quiet.set_retry(2);
    quiet.set_timeout(10);
    ASSERT_EQ(m_session->get(pdu, target(), onAsync, &answered), kSnmpSuccess);
    ASSERT_EQ(m_session->get(pdu, quiet, onAsync, &silentOutcome), kSnmpSuccess);

    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (answered.done && silentOutcome.done)
            loop.quit();
    });
    check.start(10);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_TRUE(answered.done);
    EXPECT_EQ(answered.reason, kSnmpAsyncResponse);
    EXPECT_FALSE(answered.value.empty());
    ASSERT_TRUE(silentOutcome.done);
    EXPECT_EQ(silentOutcome.reason, kSnmpTimeout);
    EXPECT_EQ(silentOutcome.address, "127.0.0.1/" + std::to_string(silent.port()));
    EXPECT_EQ(silent.drain(), 3); // retry 2: three attempts
    EXPECT_EQ(m_session->nextTimeoutMs(), -1);
}

TEST(SnmpSession, NextTimeoutIsTheEarliestOutstandingAttemptWhateverItsTimeout) {
    int status = -99;
    Snmp session(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    peers::SilentPort silent;
    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    CTarget slow(UdpAddress(IpAddress("127.0.0.1"), silent.port()));
    slow.set_retry(0);
    slow.set_timeout(60000); // ten minutes
    CTarget quick = slow;
    quick.set_retry(1);
    quick.set_timeout(5);
    AsyncOutcome slowOutcome, quickOutcome;
    EXPECT_EQ(session.nextTimeoutMs(), -1);
    ASSERT_EQ(session.get(pdu, slow, onAsync, &slowOutcome), kSnmpSuccess);
    ASSERT_EQ(session.get(pdu, quick, onAsync, &quickOutcome), kSnmpSuccess);
    EXPECT_LE(session.nextTimeoutMs(), 50);
    for (int turn = 0; turn < 1000 && !quickOutcome.done; ++turn) {
        poll(nullptr, 0, std::max(session.nextTimeoutMs(), 1));
        session.processTimeouts();
    }
    ASSERT_TRUE(quickOutcome.done);
    EXPECT_EQ(quickOutcome.reason, kSnmpTimeout);
    EXPECT_EQ(silent.drain(), 3); // the slow one once, the quick one twice
    EXPECT_FALSE(slowOutcome.done);
    EXPECT_GT(session.nextTimeoutMs(), 60000);
}

namespace {

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Pdu> pdus;
    std::vector<std::string> senders;
    std::vector<int> versions;
};

void onNotification(int reason, Snmp*, Pdu& pdu, SnmpTarget& target, void* data) {
    if (reason != kSnmpNotification)
        return;
    auto* received = static_cast<Received*>(data);
    GenAddress address;
    target.get_address(address);
    std::lock_guard<std::mutex> lock(received->mutex);
    received->pdus.push_back(pdu);
    received->senders.push_back(address.get_printable());
    received->versions.push_back(target.get_version());
    received->changed.notify_all();
}

} // namespace

class SnmpNotificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        int status = -99;
        m_session = std::make_unique<Snmp>(status, 0);
        ASSERT_EQ(status, kSnmpSuccess);
        OidCollection ids;
        ids += Oid("1.3.6.1.4.1.9999");
        ids += Oid("1.3.6.1.4.1.8888");
        ASSERT_EQ(m_session->notify_register(ids, TargetCollection(), onNotification, &m_received), 0);
        m_thread = std::thread([this] { m_session->run(); });
    }
    void TearDown() override {
        m_session->stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    std::string peer() const { return "127.0.0.1:" + std::to_string(m_session->localPort()); }
    bool waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_received.mutex);
        return m_received.changed.wait_for(lock, std::chrono::seconds(10),
                                           [&] { return m_received.pdus.size() >= count; });
    }

    Received m_received;
    std::unique_ptr<Snmp> m_session;
    std::thread m_thread;
};

TEST_F(SnmpNotificationTest, V1TrapMapsToEnterpriseZeroSpecific) {
    ASSERT_EQ(peers::run({"snmptrap", "-v", "1", "-c", "public", peer(), "1.3.6.1.4.1.9999", "127.0.0.1", "6",
                          "7", "0", "1.3.6.1.4.1.9999.1", "s", "disk full", "1.3.6.1.4.1.9999.2", "i", "42"}),
              0);
    ASSERT_TRUE(waitFor(1));
    Pdu& pdu = m_received.pdus[0];
    Oid id, enterprise;
    pdu.get_notify_id(id);
    pdu.get_notify_enterprise(enterprise);
    EXPECT_EQ(id.get_printable(), "1.3.6.1.4.1.9999.0.7");
    EXPECT_EQ(enterprise.get_printable(), "1.3.6.1.4.1.9999");
    ASSERT_EQ(pdu.get_vb_count(), 2);
    Vb text, number;
    pdu.get_vb(text, 0);
    pdu.get_vb(number, 1);
    EXPECT_EQ(text.get_syntax(), sNMP_SYNTAX_OCTETS);
    EXPECT_EQ(text.get_printable_value(), "disk full");
    EXPECT_EQ(number.get_printable_value(), "42");
    EXPECT_EQ(m_received.senders[0], "127.0.0.1");
    EXPECT_EQ(m_received.versions[0], version1);
}

TEST_F(SnmpNotificationTest, V2cTrapAndInformCarryTheirIdentifiers) {
    ASSERT_EQ(peers::run({"snmptrap", "-v", "2c", "-c", "public", peer(), "", "1.3.6.1.4.1.9999.0.5",
                          "1.3.6.1.4.1.9999.1", "s", "hello"}),
              0);
    ASSERT_TRUE(waitFor(1));
    // An inform whose enterprise is named by snmpTrapEnterprise.0; snmpinform
    // exits 0 only when it was acknowledged.
    ASSERT_EQ(peers::run({"snmpinform", "-v", "2c", "-c", "public", "-t", "2", "-r", "1", peer(), "",
                          "1.3.6.1.4.1.8888.3.1", "1.3.6.1.6.3.1.1.4.3.0", "o", "1.3.6.1.4.1.8888.3"}),
              0);
    ASSERT_TRUE(waitFor(2));

    Oid id, enterprise;
    m_received.pdus[0].get_notify_id(id);
    m_received.pdus[0].get_notify_enterprise(enterprise);
    EXPECT_EQ(id.get_printable(), "1.3.6.1.4.1.9999.0.5");
    EXPECT_EQ(enterprise.get_printable(), "1.3.6.1.4.1.9999"); // less .5, less the 0
    EXPECT_EQ(m_received.pdus[0].get_vb_count(), 1);           // sysUpTime.0 and snmpTrapOID.0 removed
    EXPECT_EQ(m_received.versions[0], version2c);

    m_received.pdus[1].get_notify_id(id);
    m_received.pdus[1].get_notify_enterprise(enterprise);
    EXPECT_EQ(id.get_printable(), "1.3.6.1.4.1.8888.3.1");
    EXPECT_EQ(enterprise.get_printable(), "1.3.6.1.4.1.8888.3");
}

TEST_F(SnmpNotificationTest, UnregisteredIdentifiersAreFilteredButInformsAnswered) {
    // Generic v1 trap (coldStart: snmpTraps.1) and an unlisted enterprise.
    ASSERT_EQ(peers::run({"snmptrap", "-v", "1", "-c", "public", peer(), "1.3.6.1.4.1.9999", "127.0.0.1", "0",
                          "0", "0"}),
              0);
    ASSERT_EQ(peers::run({"snmpinform", "-v", "2c", "-c", "public", "-t", "2", "-r", "1", peer(), "",
                          "1.3.6.1.4.1.7777.0.1"}),
              0);
    // A listed one afterwards proves the two above were seen and dropped.
    ASSERT_EQ(peers::run({"snmptrap", "-v", "2c", "-c", "public", peer(), "", "1.3.6.1.4.1.9999.0.1"}), 0);
    ASSERT_TRUE(waitFor(1));
    std::lock_guard<std::mutex> lock(m_received.mutex);
    ASSERT_EQ(m_received.pdus.size(), 1u);
    Oid id;
    m_received.pdus[0].get_notify_id(id);
    EXPECT_EQ(id.get_printable(), "1.3.6.1.4.1.9999.0.1");
}

namespace {

// A loopback UDP socket on a port of its own.
int boundSocket(std::uint16_t& port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return fd;
}

// Skips one BER header at p; the offset of its contents.
std::size_t contents(const std::vector<unsigned char>& m, std::size_t p) {
    const unsigned char l = m[p + 1];
    return p + 2 + ((l & 0x80) != 0 ? (l & 0x7F) : 0);
}

} // namespace

TEST(SnmpSession, AnswersCountOnlyFromTheTargetItself) {
    int status = -99;
    Snmp session(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    std::uint16_t agentPort = 0;
    std::uint16_t otherPort = 0;
    const int agent = boundSocket(agentPort);
    const int other = boundSocket(otherPort);

    // The "agent" turns the request into a response: first with error status
    // genErr from another port, then without error from its own.
    std::thread responder([&] {
        pollfd p{agent, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            return;
        std::vector<unsigned char> m(1500);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(agent, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n <= 0)
            return;
        m.resize(static_cast<std::size_t>(n));
        std::size_t q = contents(m, 0); // message
        q = contents(m, q) + m[q + 1];  // version
        q = contents(m, q) + m[q + 1];  // community
        const std::size_t pduTag = q;
        q = contents(m, q);            // the PDU
        q = contents(m, q) + m[q + 1]; // request id
        const std::size_t errorStatus = contents(m, q);
        m[pduTag] = 0xA2;
        m[errorStatus] = 5;
        sendto(other, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m[errorStatus] = 0;
        sendto(agent, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
    });
    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    CTarget target(UdpAddress(IpAddress("127.0.0.1"), agentPort));
    target.set_retry(0);
    target.set_timeout(300);
    EXPECT_EQ(session.get(pdu, target), kSnmpSuccess);
    responder.join();
    close(agent);
    close(other);
}
