#include "vardel/store/server_list_edits.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

std::unique_ptr<ManagedServer> server(const std::string& name, const std::string& ip = "10.0.0.1") {
    auto s = std::make_unique<ManagedServer>();
    s->name = name;
    s->ipAddress = ip;
    return s;
}

std::vector<std::string> names(const ServerList& servers) {
    std::vector<std::string> out;
    for (const auto& s : servers)
        out.push_back(s->name);
    return out;
}

TEST(ServerListEdits, AddRefusesOnlyTheSameNameInTheSameCase) {
    ServerList list;
    auto a = server("ALPHA");
    ASSERT_EQ(AddServerIfNew(list, a), 0);
    EXPECT_EQ(a, nullptr);

    auto same = server("ALPHA", "10.0.0.9");
    EXPECT_EQ(AddServerIfNew(list, same), -1);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(list.front()->ipAddress, "10.0.0.1");

    // A batch refuses as the single call does, names earlier in the batch included.
    std::list<std::unique_ptr<ManagedServer>> fresh;
    for (const char* n : {"ALPHA", "alpha", "BETA", "BETA"})
        fresh.push_back(server(n));
    const std::vector<ManagedServer*> added = AddServersIfNew(list, fresh);
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[1]->name, "BETA");
    EXPECT_EQ(std::count(fresh.begin(), fresh.end(), nullptr), 2);
    EXPECT_EQ(names(list), (std::vector<std::string>{"ALPHA", "alpha", "BETA"}));
    EXPECT_EQ(FindServer(list, "alpha"), std::next(list.begin())->get());
    EXPECT_EQ(FindServer(list, "Alpha"), nullptr);
}

TEST(ServerListEdits, RemoveTakesTheExactNameOnly) {
    ServerList list;
    for (const char* n : {"A", "a", "B", "C", "D"}) {
        auto s = server(n);
        AddServerIfNew(list, s);
    }
    RemoveServer(list, "a");
    RemoveServer(list, "E");
    EXPECT_EQ(names(list), (std::vector<std::string>{"A", "B", "C", "D"}));
    RemoveServers(list, {"D", "b", "B", ""});
    EXPECT_EQ(names(list), (std::vector<std::string>{"A", "C"}));
}

TEST(ServerListEdits, UpdateClearsPollPendingOnlyWhenAnAddressChanges) {
    ServerList list;
    auto s = server("SRV", "10.0.0.1");
    s->ipxAddress = "0000ABCD-000000000001";
    s->nosText = "NT";
    s->nosCode = kNosNT;
    AddServerIfNew(list, s);
    ManagedServer& srv = *list.front();

    srv.pollPending = 1;
    EXPECT_EQ(UpdateServer(list, "SRV", "NT", "10.0.0.1", "0000ABCD-000000000001", "private"), &srv);
    EXPECT_EQ(srv.pollPending, 1);
    EXPECT_EQ(srv.community, "private");

    EXPECT_EQ(UpdateServer(list, "SRV", "NT", "10.0.0.2", "0000ABCD-000000000001", "private"), &srv);
    EXPECT_EQ(srv.pollPending, 0);

    srv.pollPending = 1;
    UpdateServer(list, "SRV", "SCO", "10.0.0.2", "0000ABCD-000000000002", "public");
    EXPECT_EQ(srv.pollPending, 0);
    EXPECT_EQ(srv.nosCode, kNosSCO);

    // A text that names no known system is stored, the code kept.
    UpdateServer(list, "SRV", "Windows", "10.0.0.2", "", "public");
    EXPECT_EQ(srv.nosText, "Windows");
    EXPECT_EQ(srv.nosCode, kNosSCO);

    EXPECT_EQ(UpdateServer(list, "srv", "NT", "", "", "public"), nullptr);
}

} // namespace
