// IPv6 through the layer, in a network namespace of the test's own whose lo
// carries ::1 and a unique local address: requests to snmpd listening on
// udp6, and notifications from snmptrap / snmpinform sent over udp6.

#include "snmp/snmp.h"
#include "snmp/tests/snmp_peers.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

constexpr const char* kUla = "fd00:5:6::1";
const char* const kSysDescr = "1.3.6.1.2.1.1.1.0";

std::string tempDir() {
    char pattern[] = "/tmp/vardel-snmp6-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made != nullptr ? std::string(made) + "/" : std::string("/tmp/");
}

class Ip6Environment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(snmpInit(), 0);
        ASSERT_EQ(peers::run({"ip", "-6", "addr", "add", std::string(kUla) + "/128", "dev", "lo", "nodad"}),
                  0)
            << "needs the network-namespace launcher";
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new Ip6Environment);

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> senders;
    std::vector<std::string> ids;
};

void onNotification(int reason, Snmp*, Pdu& pdu, SnmpTarget& target, void* data) {
    if (reason != kSnmpNotification)
        return;
    auto* received = static_cast<Received*>(data);
    GenAddress address;
    target.get_address(address);
    Oid id;
    pdu.get_notify_id(id);
    std::lock_guard<std::mutex> lock(received->mutex);
    received->senders.push_back(address.get_printable());
    received->ids.push_back(id.get_printable());
    received->changed.notify_all();
}

} // namespace

TEST(SnmpIp6, AddressesOfBothFamilies) {
    IpAddress ip6("FD00:0005:0006:0:0:0:0:0001");
    ASSERT_TRUE(ip6.valid());
    EXPECT_TRUE(ip6.isIpv6());
    EXPECT_EQ(ip6.get_type(), Address::type_ip);
    EXPECT_EQ(ip6.get_printable(), kUla); // canonical form
    EXPECT_EQ(ip6.ipv4(), 0u);
    EXPECT_EQ(ip6.ipv6()[15], 1);
    EXPECT_FALSE(IpAddress("fd00::1%lo").valid()); // no zones
    EXPECT_FALSE(IpAddress("fd00:::1").valid());

    UdpAddress udp("::1/1161");
    ASSERT_TRUE(udp.valid());
    EXPECT_TRUE(udp.isIpv6());
    EXPECT_EQ(udp.port(), 1161);
    EXPECT_EQ(udp.get_printable(), "::1/1161");
    EXPECT_EQ(UdpAddress(IpAddress("::1"), 162).get_printable(), "::1/162");
    EXPECT_TRUE(GenAddress("::1").isIpv6());
    // IPv4 and IPX texts keep their meaning.
    EXPECT_FALSE(IpAddress("10.1.2.3").isIpv6());
    EXPECT_EQ(GenAddress("00000010:000000000001").get_type(), Address::type_ipx);
    IpAddress back = IpAddress("10.1.2.3");
    EXPECT_EQ(UdpAddress(back, 161).get_printable(), "10.1.2.3/161");
}

TEST(SnmpIp6, GetsReachAnAgentOnUdp6AndOnlyItsAnswersCount) {
    const std::string dir = tempDir();
    const std::uint16_t port = peers::freePort();
    const std::string p = std::to_string(port);
    testsupport::SnmpdPeer agent(dir, "agentaddress udp6:[::1]:" + p + ",udp6:[" + kUla + "]:" + p +
                                          "\nrocommunity6 public default\n");
    ASSERT_TRUE(agent.ready("udp6:[::1]:" + p, "public")) << "snmpd did not answer on udp6";
    int status = -99;
    Snmp session(status, 0);
    ASSERT_EQ(status, kSnmpSuccess);
    ASSERT_EQ(session.ip6Status(), kSnmpSuccess);
    EXPECT_GE(session.ip6SocketDescriptor(), 0);
    for (const char* host : {"::1", kUla}) {
        Pdu pdu;
        pdu += Vb(Oid(kSysDescr));
        CTarget target(UdpAddress(IpAddress(host), port));
        target.set_retry(1);
        target.set_timeout(100);
        ASSERT_EQ(session.get(pdu, target), kSnmpSuccess) << host;
        ASSERT_EQ(pdu.get_vb_count(), 1);
        Vb vb;
        pdu.get_vb(vb, 0);
        EXPECT_FALSE(vb.get_printable_value().empty());
    }
    // Nothing listens on IPv4 or on another IPv6 address of the host.
    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    CTarget v4(UdpAddress(IpAddress("127.0.0.1"), port));
    v4.set_retry(0);
    v4.set_timeout(30);
    EXPECT_EQ(session.get(pdu, v4), kSnmpTimeout);
}

TEST(SnmpIp6, NotificationsOverUdp6NameTheirSenderAndInformsAreAnswered) {
    const std::uint16_t port = peers::freePort();
    int status = -99;
    Snmp session(status, port);
    ASSERT_EQ(status, kSnmpSuccess);
    ASSERT_EQ(session.ip6Status(), kSnmpSuccess);
    Received received;
    OidCollection ids;
    ids += Oid("1.3.6.1.4.1.9999");
    ASSERT_EQ(session.notify_register(ids, TargetCollection(), onNotification, &received), 0);
    std::thread driver([&] { session.run(); });
    const std::string p = std::to_string(port);
    EXPECT_EQ(peers::run({"snmptrap", "-v", "1", "-c", "public", "udp6:[" + std::string(kUla) + "]:" + p,
                          "1.3.6.1.4.1.9999", "0.0.0.0", "6", "7", "0"}),
              0);
    EXPECT_EQ(
        peers::run({"snmptrap", "-v", "2c", "-c", "public", "udp6:[::1]:" + p, "", "1.3.6.1.4.1.9999.0.5"}),
        0);
    // snmpinform exits 0 only when it was acknowledged.
    EXPECT_EQ(peers::run({"snmpinform", "-v", "2c", "-c", "public", "-t", "2", "-r", "1", "udp6:[::1]:" + p,
                          "", "1.3.6.1.4.1.9999.0.6"}),
              0);
    // IPv4 still arrives on its own socket.
    EXPECT_EQ(
        peers::run({"snmptrap", "-v", "2c", "-c", "public", "127.0.0.1:" + p, "", "1.3.6.1.4.1.9999.0.8"}),
        0);
    {
        std::unique_lock<std::mutex> lock(received.mutex);
        received.changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return received.senders.size() >= 4; });
    }
    session.stop();
    driver.join();
    ASSERT_EQ(received.senders.size(), 4u);
    EXPECT_EQ(received.senders[0], kUla); // the transport's source, not the agent-addr field 0.0.0.0
    EXPECT_EQ(received.ids[0], "1.3.6.1.4.1.9999.0.7");
    EXPECT_EQ(received.senders[1], "::1");
    EXPECT_EQ(received.senders[2], "::1");
    EXPECT_EQ(received.ids[2], "1.3.6.1.4.1.9999.0.6");
    EXPECT_EQ(received.senders[3], "127.0.0.1");
}

// Datagrams waiting on both sockets at once are all taken in one turn, and
// the loop still ends when told: no read of a socket already emptied.
TEST(SnmpIp6, ATurnWithBothSocketsReadableEndsWhenStopped) {
    const std::uint16_t port = peers::freePort();
    int status = -99;
    Snmp session(status, port);
    ASSERT_EQ(status, kSnmpSuccess);
    Received received;
    OidCollection ids;
    ids += Oid("1.3.6.1.4.1.9999");
    ASSERT_EQ(session.notify_register(ids, TargetCollection(), onNotification, &received), 0);
    const std::string p = std::to_string(port);
    for (const std::string& to : {"127.0.0.1:" + p, "udp6:[::1]:" + p})
        ASSERT_EQ(peers::run({"snmptrap", "-v", "2c", "-c", "public", to, "", "1.3.6.1.4.1.9999.0.9"}), 0);
    std::promise<void> ended;
    std::thread driver([&] {
        session.run();
        ended.set_value();
    });
    {
        std::unique_lock<std::mutex> lock(received.mutex);
        received.changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return received.senders.size() >= 2; });
    }
    session.stop();
    const bool stopped = ended.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!stopped)
        driver.detach(); // stuck in a read: the test fails without hanging
    else
        driver.join();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(received.senders.size(), 2u);
}

TEST(SnmpIp6, AnIpv6PortInUseLeavesTheIpv4SessionOpen) {
    const std::uint16_t port = peers::freePort();
    const int taken = socket(AF_INET6, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(taken, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_any;
    a.sin6_port = htons(port);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int status = -99;
    Snmp session(status, port);
    EXPECT_EQ(status, kSnmpSuccess);
    EXPECT_EQ(session.ip6Status(), kSnmpTransportInUse);
    EXPECT_EQ(session.ip6SocketDescriptor(), -1);
    // An IPv6 target is then unreachable: its attempts are lost, not refused.
    Pdu pdu;
    pdu += Vb(Oid(kSysDescr));
    CTarget target(IpAddress("::1"));
    target.set_retry(0);
    target.set_timeout(1);
    EXPECT_EQ(session.get(pdu, target), kSnmpTimeout);
    close(taken);
}
