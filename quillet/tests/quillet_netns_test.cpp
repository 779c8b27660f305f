// Runs in a network namespace of its own: the console side (127.0.0.1) reads
// ipx.ini from a private program directory; the simulated host listens on
// 127.0.0.2.

#include "quillet/quillet.h"
#include "quillet/quillet_internal.h"
#include "tests/support/private_program_dir.h"
#include "tools/nwpeer/nwpeer.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>

namespace {

using quillet_internal::Wait;
using quillet_internal::waitFor;

constexpr char kConsoleIni[] = "[Adapters]\r\n"
                               "0=00000010:000000000001 127.0.0.1\r\n"
                               "1=00000010:000000000002 127.0.0.3\r\n"
                               "[Routes]\r\n"
                               "Default=127.0.0.2\r\n";

constexpr char kPeerIni[] = "[Adapters]\r\n"
                            "0=00000010:0000000000FE 127.0.0.2\r\n"
                            "[Routes]\r\n"
                            "00000010:000000000002=127.0.0.3\r\n"
                            "Default=127.0.0.1\r\n"
                            "[Servers]\r\n"
                            "FS1=00000010:00000000ABCD\r\n";

TEST(QuilletWaits, FromTheWaitValue) {
    EXPECT_EQ((Wait{0, 500000}), waitFor(0.5f));
    EXPECT_EQ((Wait{2, 500000}), waitFor(2.5f));
    EXPECT_EQ((Wait{3, 0}), waitFor(10.0f));
    EXPECT_EQ((Wait{3, 0}), waitFor(1000.0f));
    EXPECT_EQ((Wait{3, 250000}), waitFor(7.25f)); // seconds limited, microseconds kept
    EXPECT_EQ((Wait{1, 0}), waitFor(1.0f));
}

class QuilletProbe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.ok());
        m_dir.write("ipx.ini", kConsoleIni);
        testsupport::writeFile(m_peerDir.file("peer.ini"), kPeerIni);
        m_peer = std::make_unique<NetWarePeer>(m_peerDir.file("peer.ini"));
        std::string error;
        ASSERT_TRUE(m_peer->start(&error)) << error;
    }

    static int probe(const char* text, int attempts, float wait) {
        CQuillet q;
        std::string copy(text);
        return q.QuilletByAddr(copy.data(), attempts, wait);
    }

    testsupport::PrivateProgramDirectory m_dir;
    testsupport::TempDir m_peerDir;
    std::unique_ptr<NetWarePeer> m_peer;
};

TEST_F(QuilletProbe, AddressFormsReachTheSameHost) {
    for (const char* text :
         {"00000010-00000000ABCD", "00000010:00000000abcd", "00000010x00000000AbCd trailing"}) {
        ASSERT_EQ(1, probe(text, 3, 1000.0f)) << text;
        const ipx::Header h = m_peer->lastDiagnosticRequest();
        ipx::Address expected = *ipx::parseAddress("00000010:00000000ABCD");
        expected.socket = 0x0456;
        EXPECT_EQ(expected, h.destination) << text;
        EXPECT_EQ(0, h.packetType);
        EXPECT_EQ((std::vector<std::uint8_t>{0, 0}), m_peer->lastDiagnosticData());
    }
    EXPECT_EQ(3, m_peer->diagnosticRequests());
}

TEST_F(QuilletProbe, SilentHostGetsAtMostFiveAttempts) {
    m_peer->setSilent(true);
    EXPECT_EQ(0, probe("00000010-00000000ABCD", 8, 0.1f));
    EXPECT_EQ(5, m_peer->diagnosticRequests());
    EXPECT_EQ(0, probe("00000010-00000000ABCD", 2, 0.1f));
    EXPECT_EQ(7, m_peer->diagnosticRequests());
}

TEST_F(QuilletProbe, AnyDatagramCountsAsTheAnswer) {
    // The host stays silent; a datagram from another node and socket arrives instead.
    m_peer->setSilent(true);
    std::atomic<int> result{-1};
    std::thread prober([&] { result = probe("00000010-00000000ABCD", 1, 2.5f); });
    for (int i = 0; i < 200 && m_peer->diagnosticRequests() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(1, m_peer->diagnosticRequests());
    const ipx::Address prober_address = m_peer->lastDiagnosticRequest().source;

    const int s = ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX);
    ipx::sockaddr_ipx local{};
    local.sa_family = ipx::kAddressFamily;
    local.sa_nodenum[5] = 2; // adapter 1
    ASSERT_EQ(0, ipx::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local));
    ipx::sockaddr_ipx to{};
    to.sa_family = ipx::kAddressFamily;
    std::memcpy(to.sa_netnum, prober_address.network, 4);
    std::memcpy(to.sa_nodenum, prober_address.node, 6);
    to.sa_socket = htons(prober_address.socket);
    EXPECT_EQ(7, ipx::sendto(s, "noise!!", 7, 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    prober.join();
    ipx::close(s);
    EXPECT_EQ(1, result);
    EXPECT_EQ(1, m_peer->diagnosticRequests());
}

TEST_F(QuilletProbe, MalformedInputAndNoIpxGiveZero) {
    for (const char* text : {"00000010-0000ABCD", "0000001G-00000000ABCD", "00000010-00000000ABCZ", ""})
        EXPECT_EQ(0, probe(text, 3, 0.1f)) << text;
    CQuillet q;
    EXPECT_EQ(0, q.QuilletByAddr(nullptr, 3, 0.1f));
    char text[] = "00000010-00000000ABCD";
    EXPECT_EQ(0, q.QuilletByAddr(text, 0, 0.1f));
    EXPECT_EQ(0, m_peer->diagnosticRequests());

    m_dir.write("ipx.ini", "");
    CQuillet none;
    EXPECT_EQ(INVALID_SOCKET, none.m_socket);
    EXPECT_EQ(0, none.QuilletByAddr(text, 3, 0.1f));
}

class Converters : public CQuillet {
public:
    using CQuillet::AtoH;
    using CQuillet::BtoA;
    using CQuillet::HtoA;
};

TEST(QuilletConverters, HexRoundTripIsUpperCase) {
    Converters c;
    char in[] = "00a1fF7e";
    char bytes[4];
    c.AtoH(bytes, in, 4);
    EXPECT_EQ(0, std::memcmp(bytes, "\x00\xA1\xFF\x7E", 4));
    char out[9] = "########";
    c.HtoA(out, bytes, 4);
    EXPECT_STREQ("00A1FF7E", out);
    EXPECT_EQ('\0', c.BtoA(16));
}

TEST(QuilletLibrary, ExportsOnlyTheClass) {
    FILE* pipe = popen("nm -D -C --defined-only --format=posix " QUILLET_LIBRARY, "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        const std::string l(line);
        exported.insert(l.substr(0, l.find('(')));
    }
    ASSERT_EQ(0, pclose(pipe));
    ASSERT_FALSE(exported.empty());
    for (const std::string& name : exported)
        EXPECT_EQ(0u, name.rfind("CQuillet::", 0)) << name;
}

} // namespace
