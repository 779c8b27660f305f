// "NetWare Network" through the enumeration calls, against the simulated
// NetWare host; each case in a network namespace with a private program
// directory for ipx.ini.

#include "platform/netenum/netenum.h"
#include "tests/support/private_program_dir.h"
#include "tools/nwpeer/nwpeer.h"

#include <gtest/gtest.h>

using namespace netenum;

namespace {

NETRESOURCEA topOf(const char* provider) {
    NETRESOURCEA r{};
    r.dwScope = RESOURCE_GLOBALNET;
    r.dwDisplayType = RESOURCEDISPLAYTYPE_NETWORK;
    r.dwUsage = RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED;
    r.lpRemoteName = const_cast<char*>(provider);
    r.lpProvider = const_cast<char*>(provider);
    return r;
}

// The remote names listed at the provider's top level; the result of the enumeration in *result.
std::vector<std::string> topLevel(std::uint32_t* result) {
    const NETRESOURCEA start = topOf("NetWare Network");
    HANDLE h = nullptr;
    std::vector<std::string> names;
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, start.dwUsage, &start, &h), NO_ERROR);
    static char buffer[200000];
    std::uint32_t count = 0xFFFFFFFF, size = sizeof buffer;
    *result = WNetEnumResourceA(h, &count, buffer, &size);
    for (std::uint32_t i = 0; *result == NO_ERROR && i < count; ++i) {
        const auto& r = reinterpret_cast<const NETRESOURCEA*>(buffer)[i];
        EXPECT_EQ(r.dwDisplayType, RESOURCEDISPLAYTYPE_SERVER);
        EXPECT_STREQ(r.lpProvider, "NetWare Network");
        names.push_back(r.lpRemoteName);
    }
    WNetCloseEnum(h);
    return names;
}

TEST(NetWareNetwork, ListsEachFileServerSapReportsOnce) {
    testsupport::PrivateProgramDirectory dir;
    ASSERT_TRUE(dir.ok());
    dir.write("ipx.ini",
              "[Adapters]\r\n0=00000010:000000000001 127.0.0.1\r\n[Routes]\r\nDefault=127.0.0.2\r\n");
    testsupport::TempDir peerDir;
    // Nine servers: more than one SAP answer holds.
    std::string config =
        "[Adapters]\r\n0=00000010:0000000000FE 127.0.0.2\r\n[Routes]\r\nDefault=127.0.0.1\r\n"
        "[Servers]\r\n";
    std::vector<std::string> expected;
    for (int i = 1; i <= 9; ++i) {
        config += "FS" + std::to_string(i) + "=00000010:00000000000" + std::to_string(i) + "\r\n";
        expected.push_back("\\\\FS" + std::to_string(i));
    }
    testsupport::writeFile(peerDir.file("peer.ini"), config);
    NetWarePeer peer(peerDir.file("peer.ini"));
    std::string error;
    ASSERT_TRUE(peer.start(&error)) << error;

    std::uint32_t result = 0;
    EXPECT_EQ(topLevel(&result), expected);
    EXPECT_EQ(result, NO_ERROR);

    peer.setSilent(true);
    EXPECT_TRUE(topLevel(&result).empty());
    EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
}

TEST(NetWareNetwork, MachineWithoutIpxHasNoNetwork) {
    testsupport::PrivateProgramDirectory dir; // no ipx.ini
    ASSERT_TRUE(dir.ok());
    std::uint32_t result = 0;
    EXPECT_TRUE(topLevel(&result).empty());
    ASSERT_EQ(result, ERROR_EXTENDED_ERROR);
    Failure failure = Failure::none;
    std::string provider;
    WNetGetLastErrorA(&failure, &provider);
    EXPECT_EQ(failure, Failure::noNetwork);
    EXPECT_EQ(provider, "NetWare Network");
}

} // namespace
