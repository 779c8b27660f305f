#include "platform/netenum/netenum.h"
#include "platform/netenum/smb_provider.h"
#include "tests/support/samba_peers.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/stat.h>
#include <thread>

using namespace netenum;
namespace samba = testsupport::samba;

namespace {

std::vector<std::string> names(const std::vector<Resource>& list, std::uint32_t displayType) {
    std::vector<std::string> out;
    for (const Resource& r : list) {
        EXPECT_EQ(r.displayType, displayType) << r.remoteName;
        out.push_back(r.remoteName);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// What the enumeration layer lists under (remote, provider), as the browse
// dialog asks: first as a provider's top level, then as a container.
std::vector<std::string> browse(const std::string& remote) {
    NETRESOURCEA start{};
    start.dwDisplayType = RESOURCEDISPLAYTYPE_NETWORK;
    start.dwUsage = RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED;
    start.lpRemoteName = const_cast<char*>(remote.c_str());
    start.lpProvider = const_cast<char*>(remote.c_str());
    HANDLE h = nullptr;
    if (WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &start, &h) != NO_ERROR) {
        start.dwUsage = RESOURCEUSAGE_CONTAINER;
        start.lpProvider = const_cast<char*>(SmbProvider::kName);
        EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &start, &h), NO_ERROR);
    }
    std::vector<char> buffer(200000);
    std::uint32_t count = 0xFFFFFFFF, size = static_cast<std::uint32_t>(buffer.size());
    std::vector<std::string> out;
    if (WNetEnumResourceA(h, &count, buffer.data(), &size) == NO_ERROR) {
        for (std::uint32_t i = 0; i < count; ++i)
            out.push_back(reinterpret_cast<const NETRESOURCEA*>(buffer.data())[i].lpRemoteName);
    }
    WNetCloseEnum(h);
    std::sort(out.begin(), out.end());
    return out;
}

// The IPv4 address name resolves to, or "" when it does not resolve.
std::string resolve(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0)
        return "";
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

} // namespace

TEST(SmbPeers, AThreadStartedAfterJoiningResolvesOneServerOnly) {
    if (const std::string why = samba::join(samba::Lan::smb1); !why.empty())
        GTEST_SKIP() << why;
    std::string first, second;
    std::thread([&] {
        first = resolve(samba::kServer1);
        second = resolve(samba::kServer2);
    }).join();
    EXPECT_EQ(first, "10.77.0.11");
    EXPECT_EQ(second, "");
}

// The provider's cache directory is the test's own, under a home whose user
// configuration would make browsing fail if it were read.
class SmbBrowsing : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir(m_home.file(".smb").c_str(), 0700);
        for (const char* file : {".smb/smb.conf", ".smb/smb.conf.append"})
            testsupport::writeFile(m_home.file(file),
                                   "[global]\n  name resolve order = lmhosts\n"
                                   "  interfaces = 192.0.2.1/24\n  bind interfaces only = yes\n");
        setenv("HOME", m_home.path().c_str(), 1);
        setenv("XDG_CACHE_HOME", m_home.file("cache").c_str(), 1);
    }
    testsupport::TempDir m_home;
};

TEST_F(SmbBrowsing, ListsTheWorkgroupsAndTheirServersWithItsOwnConfiguration) {
    if (const std::string why = samba::join(samba::Lan::smb1); !why.empty())
        GTEST_SKIP() << why;
    netenum::SmbProvider smb;
    std::vector<Resource> found;
    ASSERT_EQ(smb.enumerate("", found), Failure::none);
    EXPECT_EQ(names(found, RESOURCEDISPLAYTYPE_DOMAIN),
              (std::vector<std::string>{samba::kWorkgroup, samba::kWorkgroup2}));
    found.clear();
    ASSERT_EQ(smb.enumerate(samba::kWorkgroup, found), Failure::none);
    EXPECT_EQ(names(found, RESOURCEDISPLAYTYPE_SERVER),
              (std::vector<std::string>{std::string("\\\\") + samba::kServer1,
                                        std::string("\\\\") + samba::kServer2}));
    found.clear();
    EXPECT_NE(smb.enumerate("NOSUCHWG", found), Failure::none);
    EXPECT_TRUE(found.empty());
    struct stat cache {};
    EXPECT_EQ(stat(m_home.file("cache/vardel/smbclient/gencache.tdb").c_str(), &cache), 0);

    // The same through the machine's providers, as the browse dialog walks it.
    const auto machine = providers();
    ASSERT_TRUE(std::any_of(machine.begin(), machine.end(),
                            [](const auto& p) { return p->name() == SmbProvider::kName; }));
    EXPECT_EQ(browse(SmbProvider::kName), (std::vector<std::string>{samba::kWorkgroup, samba::kWorkgroup2}));
    EXPECT_EQ(browse(samba::kWorkgroup2), std::vector<std::string>{std::string("\\\\") + samba::kServer3});
}

TEST_F(SmbBrowsing, ANetworkThatRefusesSmb1IsReportedAsSuch) {
    if (const std::string why = samba::join(samba::Lan::smb2Only); !why.empty())
        GTEST_SKIP() << why;
    netenum::SmbProvider smb;
    std::vector<Resource> found;
    EXPECT_EQ(smb.enumerate("", found), Failure::protocolRefused);
    EXPECT_EQ(smb.enumerate(samba::kRefusingWorkgroup, found), Failure::protocolRefused);
    EXPECT_TRUE(found.empty());
}
