// SNMP over IPX against a real snmpd behind the simulated NetWare host, in a
// network namespace of the test's own.

#include "snmp/snmp.h"
#include "tests/support/private_program_dir.h"
#include "tests/support/snmpd_peer.h"
#include "tools/nwpeer/nwpeer.h"

#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>

namespace {

constexpr char kServer[] = "00000020-000000000007";

class SnmpOverIpx : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_programDir.ok());
        m_programDir.write("ipx.ini", "[Adapters]\r\n0=00000010:000000000001 127.0.0.1\r\n"
                                      "[Routes]\r\n00000020=127.0.0.7\r\n");
        testsupport::writeFile(m_dir.file("peer.ini"), "[Adapters]\r\n0=00000020:000000000007 127.0.0.7\r\n"
                                                       "[Routes]\r\n00000010=127.0.0.1\r\n"
                                                       "[Servers]\r\nFS1=00000020:000000000007\r\n"
                                                       "[Snmp]\r\nAgent=127.0.0.1:161\r\nTrapRelay=1162\r\n"
                                                       "TrapTo=00000010:000000000001\r\n");
        ASSERT_EQ(snmpInit(), 0);
        m_peer = std::make_unique<NetWarePeer>(m_dir.file("peer.ini"));
        std::string error;
        ASSERT_TRUE(m_peer->start(&error)) << error;
    }

    // Drives session until done, for at most 10 s.
    static void drive(Snmp& session, const bool& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < end) {
            pollfd p[2] = {{session.socketDescriptor(), POLLIN, 0},
                           {session.ipxSocketDescriptor(), POLLIN, 0}};
            const int ms = session.nextTimeoutMs();
            poll(p, 2, ms < 0 || ms > 100 ? 100 : ms);
            session.processReadable();
            session.processTimeouts();
        }
    }

    testsupport::PrivateProgramDirectory m_programDir;
    testsupport::TempDir m_dir;
    std::unique_ptr<NetWarePeer> m_peer;
};

struct Outcome {
    bool done = false;
    int reason = 0;
    std::string value;
};

void onAnswer(int reason, Snmp*, Pdu& pdu, SnmpTarget&, void* data) {
    auto* outcome = static_cast<Outcome*>(data);
    outcome->done = true;
    outcome->reason = reason;
    Vb vb;
    if (pdu.get_vb(vb, 0))
        outcome->value = vb.get_printable_value();
}

TEST_F(SnmpOverIpx, GetSetAndAsynchronousGetReachTheAgent) {
    testsupport::SnmpdPeer agent(m_dir.path(), "agentaddress udp:127.0.0.1:161\n"
                                               "rocommunity public 127.0.0.1\n"
                                               "rwcommunity private 127.0.0.1\n");
    ASSERT_TRUE(agent.ready("127.0.0.1:161", "public"));
    int status = kSnmpError;
    Snmp session(status);
    ASSERT_EQ(kSnmpSuccess, status);
    ASSERT_GE(session.ipxSocketDescriptor(), 0);

    CTarget target(IpxAddress(kServer), "public", "private");
    target.set_timeout(100);
    target.set_retry(1);
    Pdu set;
    Vb contact(Oid("1.3.6.1.2.1.1.4.0"));
    contact.set_value("ipx admin");
    set += contact;
    ASSERT_EQ(kSnmpSuccess, session.set(set, target));

    Pdu get;
    get += Vb(Oid("1.3.6.1.2.1.1.4.0"));
    ASSERT_EQ(kSnmpSuccess, session.get(get, target));
    Vb answer;
    ASSERT_TRUE(get.get_vb(answer, 0));
    EXPECT_EQ("ipx admin", answer.get_printable_value());

    Outcome outcome;
    ASSERT_EQ(kSnmpSuccess, session.get(get, target, onAnswer, &outcome));
    drive(session, outcome.done);
    EXPECT_EQ(kSnmpAsyncResponse, outcome.reason);
    EXPECT_EQ("ipx admin", outcome.value);

    // A silent agent: both attempts go out over IPX, then the request times out.
    m_peer->setAgentSilent(true);
    const int before = m_peer->snmpRequests();
    Outcome silent;
    target.set_timeout(20);
    ASSERT_EQ(kSnmpSuccess, session.get(get, target, onAnswer, &silent));
    drive(session, silent.done);
    EXPECT_EQ(kSnmpTimeout, silent.reason);
    EXPECT_EQ(before + 2, m_peer->snmpRequests());
}

TEST_F(SnmpOverIpx, TrapNamesItsSenderInTheServersForm) {
    int status = kSnmpError;
    Snmp listener(status, 0, 0x9010);
    ASSERT_EQ(kSnmpSuccess, status);
    struct Seen {
        bool done = false;
        std::string sender;
        Address::addr_type type = Address::type_invalid;
        std::string id;
    } seen;
    ASSERT_EQ(kSnmpSuccess, listener.notify_register(
                                OidCollection(), TargetCollection(),
                                [](int reason, Snmp*, Pdu& pdu, SnmpTarget& target, void* data) {
                                    auto* s = static_cast<Seen*>(data);
                                    GenAddress address;
                                    target.get_address(address);
                                    Oid id;
                                    pdu.get_notify_id(id);
                                    s->done = reason == kSnmpNotification;
                                    s->sender = address.get_printable();
                                    s->type = address.get_type();
                                    s->id = id.get_printable();
                                },
                                &seen));
    ASSERT_EQ(0, testsupport::runProcess({"snmptrap", "-v2c", "-c", "public", "-m", "", "127.0.0.7:1162", "",
                                          "1.3.6.1.4.1.23.2.99.0.5"}));
    drive(listener, seen.done);
    ASSERT_TRUE(seen.done);
    EXPECT_EQ(kServer, seen.sender);
    EXPECT_EQ(Address::type_ipx, seen.type);
    EXPECT_EQ("1.3.6.1.4.1.23.2.99.0.5", seen.id);
}

} // namespace
