// Runs in a network namespace of its own; each case gets a private program
// directory for its ipx.ini.

#include "platform/ipx/ipx.h"
#include "tests/support/private_program_dir.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <unistd.h>

namespace {

constexpr char kTwoAdapters[] = "[Adapters]\r\n"
                                "0=0000000A:000000000001 127.0.0.1\r\n"
                                "1=0000000B:000000000002 127.0.0.2\r\n"
                                "[Routes]\r\n"
                                "Default=127.0.0.9\r\n";

ipx::Address address(const char* text, std::uint16_t socket) {
    ipx::Address a = *ipx::parseAddress(text);
    a.socket = socket;
    return a;
}

ipx::sockaddr_ipx toSockaddr(const ipx::Address& a) {
    ipx::sockaddr_ipx sa{};
    sa.sa_family = ipx::kAddressFamily;
    std::memcpy(sa.sa_netnum, a.network, 4);
    std::memcpy(sa.sa_nodenum, a.node, 6);
    sa.sa_socket = htons(a.socket);
    return sa;
}

const sockaddr* asSockaddr(const ipx::sockaddr_ipx& sa) {
    return reinterpret_cast<const sockaddr*>(&sa);
}

bool readable(int fd, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv{0, ms * 1000};
    return select(fd + 1, &set, nullptr, nullptr, &tv) == 1;
}

TEST(IpxCodec, HeaderFieldsStandWhereTheWireHasThem) {
    ipx::Header h;
    h.packetType = 4;
    h.transportControl = 2;
    h.destination = address("01020304:A1A2A3A4A5A6", 0x0456);
    h.source = address("05060708:B1B2B3B4B5B6", 0x4001);
    const auto bytes = ipx::encode(h, "ab", 2);
    const std::uint8_t expected[] = {0xFF, 0xFF, 0x00, 32,   2,    4,    1,    2,    3,   4,  0xA1,
                                     0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0x04, 0x56, 5,    6,   7,  8,
                                     0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0x40, 0x01, 'a', 'b'};
    ASSERT_EQ(std::vector<std::uint8_t>(std::begin(expected), std::end(expected)), bytes);

    ipx::Header back;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(ipx::Decode::Ok, ipx::decode(bytes.data(), bytes.size(), back, data, size));
    EXPECT_EQ(h.destination, back.destination);
    EXPECT_EQ(h.source, back.source);
    EXPECT_EQ(4, back.packetType);
    EXPECT_EQ(32, back.length);
    EXPECT_EQ(2u, size);
    EXPECT_EQ(0, std::memcmp(data, "ab", 2));
    EXPECT_TRUE(ipx::encode(h, nullptr, ipx::kMaxData + 1).empty());
}

TEST(IpxCodec, BadDatagramsAreRefused) {
    ipx::Header h;
    std::vector<std::uint8_t> good = ipx::encode(h, "xyz", 3);
    ipx::Header out;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(ipx::Decode::Short, ipx::decode(good.data(), 29, out, data, size));
    auto longer = good;
    longer.push_back(0);
    EXPECT_EQ(ipx::Decode::BadLength, ipx::decode(longer.data(), longer.size(), out, data, size));
    auto checksum = good;
    checksum[1] = 0;
    EXPECT_EQ(ipx::Decode::BadChecksum, ipx::decode(checksum.data(), checksum.size(), out, data, size));
    std::vector<std::uint8_t> huge(ipx::kMaxPacket + 1, 0xFF);
    EXPECT_EQ(ipx::Decode::Oversized, ipx::decode(huge.data(), huge.size(), out, data, size));
}

TEST(IpxConfig, RoutesChooseNodeThenNetworkThenDefault) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("ipx.ini"), std::string(kTwoAdapters) +
                                                    "00000020:000000000007=127.0.0.7\r\n"
                                                    "00000020=127.0.0.8\r\n"
                                                    "00000030=not-an-address\r\n");
    const ipx::Config c = ipx::Config::load(dir.file("ipx.ini"));
    ASSERT_EQ(2u, c.adapters.size());
    EXPECT_EQ("127.0.0.2", c.adapters[1].udpAddress);
    EXPECT_EQ("127.0.0.7", c.routeTo(address("00000020:000000000007", 1)));
    EXPECT_EQ("127.0.0.8", c.routeTo(address("00000020:000000000008", 1)));
    EXPECT_EQ("127.0.0.9", c.routeTo(address("00000030:000000000007", 1)));
    EXPECT_EQ("127.0.0.9", c.routeTo(address("00000020:FFFFFFFFFFFF", 1)));
    EXPECT_EQ("127.0.0.2", c.routeTo(address("0000000B:000000000002", 1)));
}

TEST(IpxSockets, NoFileOrNoAdapterMeansNoIpx) {
    testsupport::PrivateProgramDirectory dir;
    ASSERT_TRUE(dir.ok());
    errno = 0;
    EXPECT_EQ(-1, ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX));
    EXPECT_EQ(EAFNOSUPPORT, errno);
    dir.write("ipx.ini", "[Adapters]\r\n0=0000000A:000000000001\r\n[Routes]\r\nDefault=127.0.0.9\r\n");
    errno = 0;
    EXPECT_EQ(-1, ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX));
    EXPECT_EQ(EAFNOSUPPORT, errno);
}

TEST(IpxSockets, AdapterOptionsListTheAdaptersInOrder) {
    testsupport::PrivateProgramDirectory dir;
    ASSERT_TRUE(dir.ok());
    dir.write("ipx.ini", kTwoAdapters);
    const int s = ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX);
    ASSERT_GE(s, 0);
    int count = 0;
    socklen_t len = sizeof count;
    ASSERT_EQ(0, ipx::getsockopt(s, ipx::NSPROTO_IPX, ipx::IPX_MAX_ADAPTER_NUM, &count, &len));
    EXPECT_EQ(2, count);
    for (int n = 0; n < 3; ++n) {
        ipx::IPX_ADDRESS_DATA data{};
        data.adapternum = n;
        len = sizeof data;
        const int rc = ipx::getsockopt(s, ipx::NSPROTO_IPX, ipx::IPX_ADDRESS, &data, &len);
        if (n == 2) {
            EXPECT_EQ(-1, rc);
            continue;
        }
        ASSERT_EQ(0, rc);
        EXPECT_EQ(0x0A + n, data.netnum[3]);
        EXPECT_EQ(1 + n, data.nodenum[5]);
    }
    EXPECT_EQ(0, ipx::close(s));
}

class IpxExchange : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.ok());
        m_dir.write("ipx.ini", kTwoAdapters);
        m_a = open(address("0000000A:000000000001", 0x4567));
        m_b = open(address("0000000B:000000000002", 0));
        ASSERT_GE(m_a, 0);
        ASSERT_GE(m_b, 0);
    }
    void TearDown() override {
        ipx::close(m_a);
        ipx::close(m_b);
    }
    static int open(const ipx::Address& at) {
        const int s = ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX);
        const ipx::sockaddr_ipx sa = toSockaddr(at);
        return s >= 0 && ipx::bind(s, asSockaddr(sa), sizeof sa) == 0 ? s : -1;
    }

    testsupport::PrivateProgramDirectory m_dir;
    int m_a = -1;
    int m_b = -1;
};

TEST_F(IpxExchange, DatagramArrivesWithItsSourceAddress) {
    const ipx::sockaddr_ipx to = toSockaddr(address("0000000A:000000000001", 0x4567));
    ASSERT_EQ(5, ipx::sendto(m_b, "hello", 5, 0, asSockaddr(to), 16));
    ASSERT_TRUE(readable(m_a, 2000));
    char buf[16];
    ipx::sockaddr_ipx from{};
    socklen_t len = sizeof from;
    ASSERT_EQ(5, ipx::recvfrom(m_a, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len));
    EXPECT_EQ(0, std::memcmp(buf, "hello", 5));
    EXPECT_EQ(ipx::kAddressFamily, from.sa_family);
    EXPECT_EQ(0x0B, from.sa_netnum[3]);
    EXPECT_EQ(0x02, from.sa_nodenum[5]);
    EXPECT_GE(ntohs(from.sa_socket), 0x4000); // a dynamic socket
    EXPECT_EQ(0u, ipx::droppedDatagrams(m_a));

    // A broadcast needs SO_BROADCAST; it then leaves by the default route.
    const ipx::sockaddr_ipx all = toSockaddr(address("0000000A:FFFFFFFFFFFF", 0x4567));
    errno = 0;
    EXPECT_EQ(-1, ipx::sendto(m_b, "x", 1, 0, asSockaddr(all), sizeof all));
    EXPECT_EQ(EACCES, errno);
    const int one = 1;
    ASSERT_EQ(0, ipx::setsockopt(m_b, SOL_SOCKET, SO_BROADCAST, &one, sizeof one));
    EXPECT_EQ(1, ipx::sendto(m_b, "x", 1, 0, asSockaddr(all), sizeof all));
}

TEST_F(IpxExchange, BadDatagramsAreDroppedAndCounted) {
    const int raw = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(raw, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(0x4567);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    auto send = [&](const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()),
                  ::sendto(raw, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    };
    ipx::Header h;
    h.destination = address("0000000A:000000000001", 0x4567);
    h.source = address("0000000B:000000000002", 0x4001);
    const auto good = ipx::encode(h, "ok", 2);

    auto shortOne = good;
    shortOne.resize(29);
    auto wrongLength = good;
    wrongLength[3] = 31;
    auto oversized = ipx::encode(h, nullptr, 0);
    oversized.resize(ipx::kMaxPacket + 1);
    oversized[2] = (ipx::kMaxPacket + 1) >> 8;
    oversized[3] = (ipx::kMaxPacket + 1) & 0xFF;
    auto otherNode = good;
    otherNode[15] = 0x09;
    auto otherSocket = good;
    otherSocket[17] = 0x68;
    for (const auto& bad : {shortOne, wrongLength, oversized, otherNode, otherSocket})
        send(bad);
    EXPECT_FALSE(readable(m_a, 300));
    EXPECT_EQ(5u, ipx::droppedDatagrams(m_a));

    send(good);
    ASSERT_TRUE(readable(m_a, 2000));
    char buf[8];
    EXPECT_EQ(2, ipx::recvfrom(m_a, buf, sizeof buf, 0, nullptr, nullptr));
    ::close(raw);
}

} // namespace
