// Runs in a network namespace of its own; the console's ipx.ini lives in a
// private program directory, the simulated NetWare host listens on 127.0.0.2.

#include "hostlore/hostlore.h"
#include "tests/support/private_program_dir.h"
#include "tools/nwpeer/nwpeer.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>

namespace {

constexpr char kConsoleIni[] = "[Adapters]\r\n"
                               "0=0A0B0C0D:00163E5F0001 127.0.0.1\r\n"
                               "1=000000F2:00163E5F00F2 127.0.0.3\r\n"
                               "[Routes]\r\n"
                               "Default=127.0.0.2\r\n";

constexpr char kPeerIni[] = "[Adapters]\r\n"
                            "0=0A0B0C0D:0000000000FE 127.0.0.2\r\n"
                            "[Routes]\r\n"
                            "Default=127.0.0.1\r\n"
                            "[Servers]\r\n"
                            "FS1=D5533216:000000000001\r\n"
                            "ACCOUNTING=D5533217:00000000beef\r\n";

class IpxHost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.ok());
        m_dir.write("ipx.ini", kConsoleIni);
        m_buffer.fill('#');
    }
    std::string text() const {
        return std::string(m_buffer.data(), strnlen(m_buffer.data(), m_buffer.size()));
    }
    bool untouched() const {
        return std::all_of(m_buffer.begin(), m_buffer.end(), [](char c) { return c == '#'; });
    }

    testsupport::PrivateProgramDirectory m_dir;
    std::array<char, 512> m_buffer;
};

TEST_F(IpxHost, LocalAddressIsAdapterZeroInBothForms) {
    ASSERT_EQ(HOSTLORE_OK, DLLGetIpxAddress(m_buffer.data()));
    EXPECT_EQ("0A0B0C0D.00163E5F0001", text());
    EXPECT_EQ('#', m_buffer[HOSTLORE_IPX_SIZE]);
    ASSERT_EQ(HOSTLORE_OK, DLLGetIpxAddressForNWTrapDestination(m_buffer.data()));
    EXPECT_EQ("0A0B0C0D:00163E5F0001", text());
}

TEST_F(IpxHost, SapFindsTheServerByName) {
    testsupport::TempDir peerDir;
    testsupport::writeFile(peerDir.file("peer.ini"), kPeerIni);
    NetWarePeer peer(peerDir.file("peer.ini"));
    std::string error;
    ASSERT_TRUE(peer.start(&error)) << error;

    ASSERT_EQ(HOSTLORE_OK, DLLGetServerIPXAddress("accounting", m_buffer.data()));
    EXPECT_EQ("D5533217-00000000BEEF", text());
    ASSERT_EQ(HOSTLORE_OK, DLLGetServerIPXAddress("FS1", m_buffer.data()));
    EXPECT_EQ("D5533216-000000000001", text());

    m_buffer.fill('#');
    EXPECT_EQ(HOSTLORE_OK, DLLGetServerIPXAddress("NOSUCH", m_buffer.data()));
    EXPECT_TRUE(untouched());
    peer.setSilent(true);
    EXPECT_EQ(HOSTLORE_OK, DLLGetServerIPXAddress("FS1", m_buffer.data()));
    EXPECT_TRUE(untouched());
    EXPECT_GE(peer.sapQueries(), 6);
}

} // namespace
