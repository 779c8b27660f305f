// GetListOfResources over in-process providers.

#include "platform/msgbox/msgbox.h"
#include "vardel/editing/add_servers.h"
#include "vardel/editing/tests/test_network.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> names(const std::list<ResourceEntry>& list) {
    std::vector<std::string> out;
    for (const ResourceEntry& entry : list)
        out.push_back(entry.name);
    return out;
}

class ResourcesTest : public ::testing::Test {
protected:
    std::shared_ptr<TestNetwork> microsoft = std::make_shared<TestNetwork>(
        "Microsoft Windows Network", std::map<std::string, std::vector<netenum::Resource>>{
                                         {"", {workgroup("WORKGROUP"), workgroup("SALES")}},
                                         {"WORKGROUP", {server("FS1"), server("MAIL")}},
                                         {"EMPTY", {}}});
    std::shared_ptr<TestNetwork> netWare = std::make_shared<TestNetwork>(
        "NetWare Network", std::map<std::string, std::vector<netenum::Resource>>{{"", {}}});
    ScopedProviders providers{{microsoft, netWare}};
    msgbox::ScopedScript boxes;
};

TEST_F(ResourcesTest, ProvidersThenAProviderByItsNameThenAContainerOfIt) {
    std::list<ResourceEntry> list;
    ASSERT_EQ(GetListOfResources(list, nullptr, nullptr), 1);
    EXPECT_EQ(names(list), (std::vector<std::string>{"Microsoft Windows Network", "NetWare Network"}));

    list.clear();
    ASSERT_EQ(GetListOfResources(list, "Microsoft Windows Network", ""), 1);
    EXPECT_EQ(names(list), (std::vector<std::string>{"WORKGROUP", "SALES"}));

    // Not a provider's name: the second attempt takes it as a container.
    list = {{"kept", 0}};
    ASSERT_EQ(GetListOfResources(list, "WORKGROUP", "Microsoft Windows Network"), 1);
    EXPECT_EQ(names(list), (std::vector<std::string>{"kept", "\\\\FS1", "\\\\MAIL"}));
    EXPECT_EQ(list.back().displayType, netenum::RESOURCEDISPLAYTYPE_SERVER);
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST_F(ResourcesTest, FailuresAreSilentAndSayWhy) {
    std::list<ResourceEntry> list;
    netenum::Failure failure = netenum::Failure::none;
    EXPECT_EQ(GetListOfResources(list, "NOSUCH", "Microsoft Windows Network", &failure), -1);
    EXPECT_EQ(failure, netenum::Failure::noSuchContainer);
    EXPECT_EQ(GetListOfResources(list, "WORKGROUP", "No Such Network", &failure), -1);
    // An empty container is a failure too.
    EXPECT_EQ(GetListOfResources(list, "EMPTY", "Microsoft Windows Network"), -1);
    EXPECT_EQ(GetListOfResources(list, "NetWare Network", ""), -1);

    microsoft->failure = netenum::Failure::protocolRefused;
    EXPECT_EQ(GetListOfResources(list, "Microsoft Windows Network", "", &failure), -1);
    EXPECT_EQ(failure, netenum::Failure::protocolRefused);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(boxes.script.shown.empty());
}

} // namespace
