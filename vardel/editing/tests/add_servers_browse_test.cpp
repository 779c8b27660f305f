// The Add Servers dialog browsing the real Microsoft network of the Samba
// test peers, with the machine's own providers.

#include "platform/msgbox/msgbox.h"
#include "tests/support/samba_peers.h"
#include "vardel/editing/add_servers_dialog.h"
#include "vardel/editing/tests/modal_script.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace samba = testsupport::samba;

namespace {

const QString kMicrosoft = "Microsoft Windows Network";

TEST(AddServersBrowse, ServersOfAWorkgroupAreAddedWithTheirAddressesFoundOrAskedFor) {
    if (const std::string why = samba::join(samba::Lan::smb1); !why.empty())
        GTEST_SKIP() << why;
    QCoreApplication::setApplicationName("vardel");
    msgbox::ScopedScript boxes;
    CAddServersDlg dialog;
    dialog.show();
    auto* tree = ctl<QTreeWidget>(&dialog, kTree);
    click(&dialog, kShowNetwork);
    QTreeWidgetItem* network = topLevelItem(tree, kMicrosoft);
    ASSERT_NE(network, nullptr);
    expandItem(tree, network);
    EXPECT_EQ(childTexts(network), (QStringList{samba::kWorkgroup, samba::kWorkgroup2}));
    ASSERT_EQ(network->childCount(), 2);
    QTreeWidgetItem* group = network->child(0);
    expandItem(tree, group);
    ASSERT_EQ(childTexts(group), (QStringList{samba::kServer1, samba::kServer2}));
    addFromTree(&dialog, group, samba::kServer1);
    addFromTree(&dialog, group, samba::kServer2);

    // VSRV1 resolves; VSRV2 does not and is asked for.
    ModalScript script;
    script.then([](QDialog* enterIp) {
        ctl<QLineEdit>(enterIp, kIp)->setText("10.77.0.12");
        click(enterIp, kOk);
    });
    click(&dialog, kOk);
    EXPECT_EQ(script.handled, std::vector<int>{142});
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    std::vector<std::tuple<std::string, int, std::string>> got;
    for (const auto& s : dialog.takeServers())
        got.emplace_back(s->name, s->nosCode, s->ipAddress);
    EXPECT_EQ(got, (std::vector<std::tuple<std::string, int, std::string>>{
                       {samba::kServer1, 10, "10.77.0.11"}, {samba::kServer2, 10, "10.77.0.12"}}));
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST(AddServersBrowse, ANetworkRefusingSmb1IsSaidSo) {
    if (const std::string why = samba::join(samba::Lan::smb2Only); !why.empty())
        GTEST_SKIP() << why;
    msgbox::ScopedScript boxes;
    CAddServersDlg dialog;
    dialog.show();
    auto* tree = ctl<QTreeWidget>(&dialog, kTree);
    click(&dialog, kShowNetwork);
    QTreeWidgetItem* network = topLevelItem(tree, kMicrosoft);
    ASSERT_NE(network, nullptr);
    expandItem(tree, network);
    EXPECT_EQ(network->childCount(), 0);
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text,
              "The Microsoft Windows Network cannot be browsed: its computers refuse the SMB1 protocol "
              "that network browsing needs. Add the servers with Add Servers Manually.");
    EXPECT_EQ(boxes.script.shown[0].icon, msgbox::Icon::Warning);
}

} // namespace
