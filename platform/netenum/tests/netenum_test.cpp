#include "platform/netenum/netenum.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace netenum;

namespace {

// A provider whose network is a fixed table: container -> resources.
class TableProvider : public Provider {
public:
    TableProvider(std::string name, std::vector<Resource> top, Failure failure = Failure::none)
        : m_name(std::move(name)), m_top(std::move(top)), m_failure(failure) {}
    std::string name() const override { return m_name; }
    Failure enumerate(const std::string& container, std::vector<Resource>& out) override {
        ++calls;
        lastContainer = container;
        if (m_failure != Failure::none)
            return m_failure;
        out = m_top;
        return Failure::none;
    }
    std::atomic<int> calls{0};
    std::string lastContainer;

private:
    std::string m_name;
    std::vector<Resource> m_top;
    Failure m_failure;
};

Resource server(const std::string& name) {
    return {"\\\\" + name, "", RESOURCEDISPLAYTYPE_SERVER};
}

NETRESOURCEA start(const char* remote, const char* provider) {
    NETRESOURCEA r{};
    r.dwScope = RESOURCE_GLOBALNET;
    r.dwDisplayType = RESOURCEDISPLAYTYPE_NETWORK;
    r.dwUsage = RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED;
    r.lpRemoteName = const_cast<char*>(remote);
    r.lpProvider = const_cast<char*>(provider);
    return r;
}

struct Buffer {
    alignas(NETRESOURCEA) char bytes[4096];
    const NETRESOURCEA* entries() const { return reinterpret_cast<const NETRESOURCEA*>(bytes); }
    bool inside(const char* p, std::uint32_t size) const { return p >= bytes && p < bytes + size; }
};

class NetEnum : public ::testing::Test {
protected:
    void TearDown() override { setProviders({}); }
};

} // namespace

TEST_F(NetEnum, TopLevelListsEachProviderInOrderPackedIntoTheBuffer) {
    auto a = std::make_shared<TableProvider>("Alpha Network", std::vector<Resource>{});
    auto b = std::make_shared<TableProvider>("Beta Network", std::vector<Resource>{});
    setProviders({a, b});
    HANDLE h = nullptr;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, &h), NO_ERROR);
    Buffer buf;
    std::uint32_t count = 0xFFFFFFFF, size = sizeof buf.bytes;
    ASSERT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), NO_ERROR);
    ASSERT_EQ(count, 2u);
    const char* arrayEnd = buf.bytes + 2 * sizeof(NETRESOURCEA);
    const char* names[] = {"Alpha Network", "Beta Network"};
    for (int i = 0; i < 2; ++i) {
        const NETRESOURCEA& r = buf.entries()[i];
        EXPECT_EQ(r.lpRemoteName, nullptr);
        EXPECT_EQ(r.lpLocalName, nullptr);
        EXPECT_STREQ(r.lpProvider, names[i]);
        EXPECT_TRUE(buf.inside(r.lpProvider, size) && r.lpProvider >= arrayEnd);
        EXPECT_EQ(r.dwDisplayType, RESOURCEDISPLAYTYPE_NETWORK);
        EXPECT_EQ(r.dwUsage, RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED);
        EXPECT_EQ(r.dwScope, RESOURCE_GLOBALNET);
    }
    EXPECT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(a->calls + b->calls, 0) << "listing the providers asks none of them";
    EXPECT_EQ(WNetCloseEnum(h), NO_ERROR);
    EXPECT_EQ(WNetCloseEnum(h), ERROR_INVALID_HANDLE);

    setProviders({});
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, nullptr, &h), ERROR_NO_NETWORK);
}

TEST_F(NetEnum, ContainerIsListedOnceAtTheFirstEnumerationAndContinuesOverCalls) {
    auto p = std::make_shared<TableProvider>(
        "Table",
        std::vector<Resource>{server("ONE"), server("TWO"), server("THREE"), server("FOUR"), server("FIVE")});
    setProviders({p});
    // The provider's own name as remote name: its top level.
    NETRESOURCEA top = start("Table", "Table");
    HANDLE h = nullptr;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &top, &h), NO_ERROR);
    EXPECT_EQ(p->calls, 0);

    // Too small for even one entry: the size one entry needs.
    Buffer buf;
    std::uint32_t count = 0xFFFFFFFF, size = sizeof(NETRESOURCEA) + 3;
    ASSERT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), ERROR_MORE_DATA);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(size, sizeof(NETRESOURCEA) + sizeof("\\\\ONE") + 1 + sizeof("Table"));
    EXPECT_EQ(p->calls, 1);
    EXPECT_EQ(p->lastContainer, "");

    // Room for two short entries per call, then a count limit of one.
    const std::uint32_t two = 2 * size + 8;
    std::vector<std::string> seen;
    for (std::uint32_t limit : {0xFFFFFFFFu, 0xFFFFFFFFu, 1u}) {
        count = limit;
        size = two;
        ASSERT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), NO_ERROR);
        for (std::uint32_t i = 0; i < count; ++i) {
            const NETRESOURCEA& r = buf.entries()[i];
            EXPECT_TRUE(buf.inside(r.lpRemoteName, two) && r.lpRemoteName >= buf.bytes + count * sizeof r);
            EXPECT_STREQ(r.lpProvider, "Table");
            EXPECT_STREQ(r.lpComment, "");
            EXPECT_EQ(r.dwDisplayType, RESOURCEDISPLAYTYPE_SERVER);
            seen.push_back(r.lpRemoteName);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"\\\\ONE", "\\\\TWO", "\\\\THREE", "\\\\FOUR", "\\\\FIVE"}));
    count = 1;
    EXPECT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(p->calls, 1);
    WNetCloseEnum(h);

    // A container by its remote name reaches the provider as such.
    NETRESOURCEA group = start("WORKGROUP", "Table");
    group.dwUsage = RESOURCEUSAGE_CONTAINER;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &group, &h), NO_ERROR);
    count = 1;
    size = sizeof buf.bytes;
    EXPECT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), NO_ERROR);
    EXPECT_EQ(p->lastContainer, "WORKGROUP");
    WNetCloseEnum(h);
}

TEST_F(NetEnum, UnknownProviderIsRefusedAtOpen) {
    setProviders({std::make_shared<TableProvider>("Table", std::vector<Resource>{})});
    // A container name taken as a provider name, as the first attempt of a
    // browse below the top level does.
    NETRESOURCEA r = start("WORKGROUP", "WORKGROUP");
    HANDLE h = reinterpret_cast<HANDLE>(1);
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &r, &h), ERROR_BAD_PROVIDER);
    EXPECT_EQ(h, nullptr);
    r.lpProvider = nullptr;
    EXPECT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &r, &h), ERROR_BAD_PROVIDER);
}

TEST_F(NetEnum, EmptyContainerEndsAtOnce) {
    setProviders({std::make_shared<TableProvider>("Table", std::vector<Resource>{})});
    NETRESOURCEA r = start("Table", "Table");
    HANDLE h = nullptr;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &r, &h), NO_ERROR);
    Buffer buf;
    std::uint32_t count = 0xFFFFFFFF, size = sizeof buf.bytes;
    EXPECT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(count, 0u);
    WNetCloseEnum(h);
}

TEST_F(NetEnum, ProviderFailureIsAnExtendedErrorOfTheCallingThread) {
    setProviders(
        {std::make_shared<TableProvider>("Good", std::vector<Resource>{server("A")}),
         std::make_shared<TableProvider>("Refusing", std::vector<Resource>{}, Failure::protocolRefused)});
    NETRESOURCEA r = start("Refusing", "Refusing");
    HANDLE h = nullptr;
    ASSERT_EQ(WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, &r, &h), NO_ERROR);
    Buffer buf;
    std::uint32_t count = 0xFFFFFFFF, size = sizeof buf.bytes;
    EXPECT_EQ(WNetEnumResourceA(h, &count, buf.bytes, &size), ERROR_EXTENDED_ERROR);
    WNetCloseEnum(h);

    Failure failure = Failure::none;
    std::string provider;
    EXPECT_EQ(WNetGetLastErrorA(&failure, &provider), NO_ERROR);
    EXPECT_EQ(failure, Failure::protocolRefused);
    EXPECT_EQ(provider, "Refusing");

    std::thread other([&] { WNetGetLastErrorA(&failure, &provider); });
    other.join();
    EXPECT_EQ(failure, Failure::none);
    EXPECT_EQ(provider, "");
}
