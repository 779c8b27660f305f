// Runs inside a network namespace (NETNS). Each case takes a fresh network,
// mount and host-name namespace of its own, so that it controls the host name,
// /etc/hosts and the interfaces the library sees.

#include "hostlore/hostlore.h"
#include "tests/support/testsupport.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <sched.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kHostName[] = "vardel-console";

// A caller's buffer, pre-filled so that any byte written is visible.
class Buffer {
public:
    Buffer() { m_bytes.fill('#'); }
    char* data() { return m_bytes.data(); }
    std::string text() const { return std::string(m_bytes.data(), strnlen(m_bytes.data(), m_bytes.size())); }
    bool untouched() const {
        for (char c : m_bytes)
            if (c != '#')
                return false;
        return true;
    }
    // True when nothing beyond the text and its terminator was written, and that fits limit.
    bool writtenWithin(std::size_t limit) const {
        const std::size_t used = strnlen(m_bytes.data(), m_bytes.size()) + 1;
        if (used > limit || used > m_bytes.size())
            return false;
        for (std::size_t i = used; i < m_bytes.size(); ++i)
            if (m_bytes[i] != '#')
                return false;
        return true;
    }

private:
    std::array<char, 512> m_bytes;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, unshare(CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWUTS))
            << "needs the network-namespace launcher: " << std::strerror(errno);
        ASSERT_EQ(0, mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) << std::strerror(errno);
        run("ip link set lo up");
        ASSERT_EQ(0, sethostname(kHostName, std::strlen(kHostName)));
        bindFile("nsswitch.conf", "hosts: files\n", "/etc/nsswitch.conf");
        bindFile("host.conf", "multi on\n", "/etc/host.conf");
        setHosts(std::string("127.0.0.1 localhost\n127.0.1.1 ") + kHostName + "\n");
    }

    // The files are mounted over the ones in /etc; they go before the temporary
    // directory does, so that the next case can mount over /etc again.
    void TearDown() override {
        for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it)
            EXPECT_EQ(0, umount2(it->c_str(), MNT_DETACH)) << *it << ": " << std::strerror(errno);
    }

    void setHosts(const std::string& content) { bindFile("hosts", content, "/etc/hosts"); }

    void bindFile(const std::string& name, const std::string& content, const char* target) {
        const std::string source = m_dir.file(name + std::to_string(m_mounts.size()));
        testsupport::writeFile(source, content);
        ASSERT_EQ(0, mount(source.c_str(), target, nullptr, MS_BIND, nullptr))
            << target << ": " << std::strerror(errno);
        m_mounts.push_back(target);
    }

    static void run(const std::string& command) { ASSERT_EQ(0, std::system(command.c_str())) << command; }

    // A veth pair with address on v0; v1 stays without address.
    static void addInterface(const std::string& cidr, bool up = true) {
        run("ip link add v0 type veth peer name v1");
        run("ip addr add " + cidr + " dev v0");
        if (up)
            run("ip link set v1 up && ip link set v0 up");
    }

    testsupport::TempDir m_dir;
    std::vector<std::string> m_mounts;
};

TEST_F(HostTest, HostNameIsTheMachines) {
    Buffer buffer;
    EXPECT_EQ(0, DLLInitHostInfo());
    ASSERT_EQ(0, DLLGetHostName(buffer.data()));
    EXPECT_EQ(kHostName, buffer.text());
    EXPECT_TRUE(buffer.writtenWithin(HOSTLORE_HOST_NAME_SIZE));
}

TEST_F(HostTest, OwnAddressIsNeverLoopback) {
    Buffer buffer;
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddress(buffer.data())) << buffer.text();
    EXPECT_TRUE(buffer.untouched());

    addInterface("192.0.2.7/24");
    ASSERT_EQ(0, DLLGetIpAddress(buffer.data()));
    EXPECT_EQ("192.0.2.7", buffer.text());
    EXPECT_TRUE(buffer.writtenWithin(HOSTLORE_IP_SIZE));
}

TEST_F(HostTest, OwnAddressPrefersTheNamesRealAddress) {
    setHosts(std::string("127.0.1.1 ") + kHostName + "\n198.51.100.20 " + kHostName + "\n");
    addInterface("192.0.2.7/24");
    Buffer buffer;
    ASSERT_EQ(0, DLLGetIpAddress(buffer.data()));
    EXPECT_EQ("198.51.100.20", buffer.text());
}

TEST_F(HostTest, OwnAddressFallsBackWhenTheNameIsUnknown) {
    setHosts("127.0.0.1 localhost\n");
    Buffer buffer;
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddress(buffer.data()));
    EXPECT_TRUE(buffer.untouched());
    addInterface("203.0.113.44/24");
    ASSERT_EQ(0, DLLGetIpAddress(buffer.data()));
    EXPECT_EQ("203.0.113.44", buffer.text());
}

TEST_F(HostTest, OwnAddressIgnoresInterfacesThatAreDown) {
    addInterface("192.0.2.7/24", false);
    Buffer buffer;
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddress(buffer.data())) << buffer.text();
    EXPECT_TRUE(buffer.untouched());
}

TEST_F(HostTest, LookupGivesTheFirstAddressListed) {
    setHosts("127.0.0.1 localhost\n192.0.2.10 twice\n192.0.2.20 twice\n"
             "192.0.2.20 reversed\n192.0.2.10 reversed\n");
    Buffer buffer;
    ASSERT_EQ(0, DLLGetIpAddressFromHostname("localhost", buffer.data()));
    EXPECT_EQ("127.0.0.1", buffer.text());
    EXPECT_TRUE(buffer.writtenWithin(HOSTLORE_IP_SIZE));
    ASSERT_EQ(0, DLLGetIpAddressFromHostname("twice", buffer.data()));
    EXPECT_EQ("192.0.2.10", buffer.text());
    ASSERT_EQ(0, DLLGetIpAddressFromHostname("reversed", buffer.data()));
    EXPECT_EQ("192.0.2.20", buffer.text());
    ASSERT_EQ(0, DLLGetIpAddressFromHostname("255.255.255.255", buffer.data()));
    EXPECT_EQ("255.255.255.255", buffer.text());
    EXPECT_TRUE(buffer.writtenWithin(HOSTLORE_IP_SIZE));
}

// Both addresses reachable, the second on the local subnet: an address sort
// (RFC 6724's longest matching prefix) would put it first.
TEST_F(HostTest, FirstListedAddressWinsOverAnAddressSort) {
    addInterface("192.0.2.7/24");
    run("ip route add default via 192.0.2.1 dev v0");
    setHosts(std::string("10.9.9.9 ") + kHostName + " far\n192.0.2.77 " + kHostName + " far\n");
    Buffer buffer;
    ASSERT_EQ(0, DLLGetIpAddressFromHostname("far", buffer.data()));
    EXPECT_EQ("10.9.9.9", buffer.text());
    ASSERT_EQ(0, DLLGetIpAddress(buffer.data()));
    EXPECT_EQ("10.9.9.9", buffer.text());
}

TEST_F(HostTest, UnresolvableNamesLeaveTheBufferAlone) {
    Buffer buffer;
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddressFromHostname("no-such-host.invalid", buffer.data()));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddressFromHostname("", buffer.data()));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddressFromHostname(nullptr, buffer.data()));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddressFromHostname("localhost", nullptr));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddress(nullptr));
    EXPECT_EQ(-1, DLLGetHostName(nullptr));
    EXPECT_TRUE(buffer.untouched());
}

TEST_F(HostTest, NoIpxOnThisMachine) {
    Buffer buffer;
    EXPECT_EQ(HOSTLORE_IPX_FAILED, DLLGetIpxAddress(buffer.data()));
    EXPECT_EQ(HOSTLORE_IPX_FAILED, DLLGetIpxAddressForNWTrapDestination(buffer.data()));
    EXPECT_EQ(HOSTLORE_IPX_FAILED, DLLGetServerIPXAddress("FS1", buffer.data()));
    EXPECT_TRUE(buffer.untouched());
}

TEST_F(HostTest, Ipv6LookupIsTheFirstAaaaAndNeverAnA) {
    setHosts("127.0.0.1 localhost\n::1 localhost\n192.0.2.10 both\nFD00:0:0::20 both\nfd00::30 both\n"
             "fd00::40 v6only\n");
    Buffer buffer;
    ASSERT_EQ(0, DLLGetIp6AddressFromHostname("both", buffer.data()));
    EXPECT_EQ("fd00::20", buffer.text()); // canonical
    EXPECT_TRUE(buffer.writtenWithin(HOSTLORE_IP6_SIZE));
    ASSERT_EQ(0, DLLGetIp6AddressFromHostname("v6only", buffer.data()));
    EXPECT_EQ("fd00::40", buffer.text());
    // The IPv4 look-up of a name with AAAA records only finds nothing, as before.
    Buffer untouched;
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIpAddressFromHostname("v6only", untouched.data()));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIp6AddressFromHostname("no-such-host.invalid", untouched.data()));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIp6AddressFromHostname(nullptr, untouched.data()));
    EXPECT_TRUE(untouched.untouched());
}

TEST_F(HostTest, Ipv6AddressTowardsAPeerIsTheRoutesSource) {
    run("ip -6 addr add fd00:9::5/64 dev lo nodad");
    Buffer buffer;
    ASSERT_EQ(0, DLLGetIp6AddressTowards("::1", buffer.data()));
    EXPECT_EQ("::1", buffer.text());
    ASSERT_EQ(0, DLLGetIp6AddressTowards("fd00:9::5", buffer.data()));
    EXPECT_EQ("fd00:9::5", buffer.text());
    EXPECT_TRUE(buffer.writtenWithin(HOSTLORE_IP6_SIZE));
    Buffer untouched;
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIp6AddressTowards("2001:db8::1", untouched.data())); // no route
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIp6AddressTowards("192.0.2.1", untouched.data()));
    EXPECT_EQ(HOSTLORE_NO_ADDRESS, DLLGetIp6AddressTowards(nullptr, untouched.data()));
    EXPECT_TRUE(untouched.untouched());
}

TEST(HostloreLibrary, ExportsExactlyTheSevenFunctionsAndTheIpv6Pair) {
    FILE* pipe = popen("nm -D --defined-only --format=posix " HOSTLORE_LIBRARY, "r");
    ASSERT_NE(nullptr, pipe);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        exported.insert(name);
    }
    ASSERT_EQ(0, pclose(pipe));
    const std::set<std::string> expected{"DLLInitHostInfo",        "DLLGetHostName",
                                         "DLLGetIpAddress",        "DLLGetIpAddressFromHostname",
                                         "DLLGetIpxAddress",       "DLLGetIpxAddressForNWTrapDestination",
                                         "DLLGetServerIPXAddress", "DLLGetIp6AddressFromHostname",
                                         "DLLGetIp6AddressTowards"};
    EXPECT_EQ(expected, exported);
}

} // namespace
