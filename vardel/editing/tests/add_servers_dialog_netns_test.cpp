// The Add Servers dialog driven through its widgets, over in-process network
// providers or the machine's own, in a network namespace of its own: names
// resolve through /etc/hosts alone, and a simulated NetWare host answers SAP.

#include "platform/msgbox/msgbox.h"
#include "tests/support/private_program_dir.h"
#include "tests/support/testsupport.h"
#include "tools/nwpeer/nwpeer.h"
#include "vardel/editing/add_servers_dialog.h"
#include "vardel/editing/tests/modal_script.h"
#include "vardel/editing/tests/test_network.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

// The console's IPX adapter (in a private program directory, made before any
// thread) and a NetWare host on loopback whose SAP reports `server`.
class NetWareLan {
public:
    explicit NetWareLan(const std::string& server) {
        m_programDir.write("ipx.ini", "[Adapters]\r\n0=0A0B0C0D:00163E5F0001 127.0.0.1\r\n"
                                      "[Routes]\r\nDefault=127.0.0.2\r\n");
        testsupport::writeFile(m_peerDir.file("peer.ini"),
                               "[Adapters]\r\n0=0A0B0C0D:0000000000FE 127.0.0.2\r\n"
                               "[Routes]\r\nDefault=127.0.0.1\r\n"
                               "[Servers]\r\n" +
                                   server + "\r\n");
        m_peer = std::make_unique<NetWarePeer>(m_peerDir.file("peer.ini"));
        m_started = m_programDir.ok() && m_peer->start(&error);
    }
    bool ok() const { return m_started; }
    std::string error;

private:
    testsupport::PrivateProgramDirectory m_programDir;
    testsupport::TempDir m_peerDir;
    std::unique_ptr<NetWarePeer> m_peer;
    bool m_started = false;
};

class AddServersTest : public ::testing::Test {
protected:
    AddServersTest() { QCoreApplication::setApplicationName("vardel"); }

    QTreeWidget* tree() { return ctl<QTreeWidget>(&dialog, kTree); }
    QStringList chosen() {
        QStringList out;
        auto* list = ctl<QListWidget>(&dialog, kChosen);
        for (int row = 0; row < list->count(); ++row)
            out << list->item(row)->text();
        return out;
    }
    std::vector<std::pair<std::string, int>> servers() {
        std::vector<std::pair<std::string, int>> out;
        for (const auto& s : dialog.servers())
            out.emplace_back(s->name, s->nosCode);
        return out;
    }
    QTreeWidgetItem* topLevel(const QString& text) { return topLevelItem(tree(), text); }
    void expand(QTreeWidgetItem* item) { expandItem(tree(), item); }
    void add(QTreeWidgetItem* parent, const QString& text) { addFromTree(&dialog, parent, text); }
    // Types lines into Add Servers Manually under one operating system.
    void addManually(int nosButton, const QString& lines) {
        ModalScript script;
        script.then([nosButton, lines](QDialog* manual) {
            click(manual, nosButton);
            ctl<QPlainTextEdit>(manual, kServers)->setPlainText(lines);
            click(manual, kOk);
        });
        click(&dialog, kManually);
        EXPECT_TRUE(script.done());
    }

    std::shared_ptr<TestNetwork> microsoft = std::make_shared<TestNetwork>(
        "Microsoft Windows Network",
        std::map<std::string, std::vector<netenum::Resource>>{
            {"", {workgroup("WORKGROUP")}},
            {"WORKGROUP", {server("mail"), server("SERVER12"), server("FS1"), server("SERVER1")}}});
    std::shared_ptr<TestNetwork> netWare = std::make_shared<TestNetwork>(
        "NetWare Network", std::map<std::string, std::vector<netenum::Resource>>{{"", {server("NW1")}}});
    std::shared_ptr<TestNetwork> other = std::make_shared<TestNetwork>(
        "Banyan Vines", std::map<std::string, std::vector<netenum::Resource>>{{"", {server("VINES1")}}});
    ScopedProviders providers{{microsoft, netWare, other}};
    msgbox::ScopedScript boxes;
    CAddServersDlg dialog;
};

TEST_F(AddServersTest, ShowNetworkPutsTheLastProviderOnTopAndEachExpansionEnumeratesAfresh) {
    dialog.show();
    click(&dialog, kShowNetwork);
    ASSERT_EQ(tree()->topLevelItemCount(), 3);
    EXPECT_EQ(tree()->topLevelItem(0)->text(0), "Banyan Vines");
    EXPECT_EQ(tree()->topLevelItem(2)->text(0), "Microsoft Windows Network");
    EXPECT_FALSE(ctl<QPushButton>(&dialog, kShowNetwork)->isEnabled());

    QTreeWidgetItem* network = topLevel("Microsoft Windows Network");
    expand(network);
    ASSERT_EQ(childTexts(network), QStringList{"WORKGROUP"});
    QTreeWidgetItem* group = network->child(0);
    expand(group);
    // Sorted without regard to case, backslashes gone; servers have no expand button.
    EXPECT_EQ(childTexts(group), (QStringList{"FS1", "mail", "SERVER1", "SERVER12"}));
    EXPECT_EQ(group->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(group->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    const int before = microsoft->enumerations;
    selectItem(tree(), network);
    QTest::keyClick(tree(), Qt::Key_Minus);
    EXPECT_EQ(network->childCount(), 0);
    expand(network);
    EXPECT_EQ(childTexts(network), QStringList{"WORKGROUP"});
    EXPECT_EQ(microsoft->enumerations, before + 1);
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST_F(AddServersTest, AddTakesServersOnlyRefusesPrefixesAndTakesTheSystemFromTheProvider) {
    dialog.show();
    click(&dialog, kShowNetwork);
    QTreeWidgetItem* network = topLevel("Microsoft Windows Network");
    click(&dialog, kAdd); // nothing selected
    selectItem(tree(), network);
    click(&dialog, kAdd);
    expand(network);
    selectItem(tree(), network->child(0));
    click(&dialog, kAdd);
    EXPECT_TRUE(chosen().isEmpty());

    QTreeWidgetItem* group = network->child(0);
    expand(group);
    add(group, "SERVER12");
    add(group, "SERVER1"); // "SERVER12" begins with it
    add(group, "mail");
    // A double-click adds too.
    QTreeWidgetItem* fs1 = group->child(0);
    selectItem(tree(), fs1);
    QTest::mouseDClick(tree()->viewport(), Qt::LeftButton, {}, tree()->visualItemRect(fs1).center());
    QTreeWidgetItem* nw = topLevel("NetWare Network");
    expand(nw);
    add(nw, "NW1");
    QTreeWidgetItem* vines = topLevel("Banyan Vines");
    expand(vines);
    add(vines, "VINES1");

    EXPECT_EQ(chosen(), (QStringList{"FS1", "mail", "NW1", "SERVER12", "VINES1"}));
    EXPECT_EQ(servers(), (std::vector<std::pair<std::string, int>>{
                             {"SERVER12", 10}, {"mail", 10}, {"FS1", 10}, {"NW1", 5}, {"VINES1", 0}}));
}

TEST_F(AddServersTest, ManualEntryRefusesSameNamesInOtherCaseRemoveAndCancelDropServers) {
    dialog.show();
    click(&dialog, kShowNetwork);
    QTreeWidgetItem* group = topLevel("Microsoft Windows Network");
    expand(group);
    group = group->child(0);
    expand(group);
    add(group, "SERVER12");
    add(group, "mail");
    // Exact search here: a beginning of a chosen name is a new name.
    addManually(kNetWareManual, "server1\nMail\n\nnw2");
    EXPECT_EQ(chosen(), (QStringList{"mail", "NW2", "SERVER1", "SERVER12"}));
    EXPECT_EQ(servers(), (std::vector<std::pair<std::string, int>>{
                             {"SERVER12", 10}, {"mail", 10}, {"NW2", 5}, {"SERVER1", 5}}));

    auto* list = ctl<QListWidget>(&dialog, kChosen);
    for (int row : {0, 2})
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row)).center());
    click(&dialog, kRemove);
    EXPECT_EQ(chosen(), (QStringList{"NW2", "SERVER12"}));
    EXPECT_EQ(servers(), (std::vector<std::pair<std::string, int>>{{"SERVER12", 10}, {"NW2", 5}}));

    click(&dialog, kCancel);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.takeServers().empty());
}

// A slow provider: it answers once the user-interface thread has turned its
// event loop (a timer) while the enumeration waited.
class SlowNetwork : public TestNetwork {
public:
    using TestNetwork::TestNetwork;
    netenum::Failure enumerate(const std::string& container, std::vector<netenum::Resource>& out) override {
        for (int i = 0; i < 500 && !released; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return released ? TestNetwork::enumerate(container, out) : netenum::Failure::noNetwork;
    }
    std::atomic<bool> released{false};
};

TEST(AddServersWait, EnumerationRunsUnderTheWaitCursorWhileTheEventLoopTurns) {
    auto slow = std::make_shared<SlowNetwork>(
        "Slow Network", std::map<std::string, std::vector<netenum::Resource>>{{"", {server("FAR")}}});
    ScopedProviders providers{{slow}};
    CAddServersDlg dialog;
    dialog.show();
    click(&dialog, kShowNetwork);
    bool waitCursor = false;
    QTimer::singleShot(50, [&] {
        waitCursor =
            QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        slow->released = true;
    });
    auto* tree = ctl<QTreeWidget>(&dialog, kTree);
    expandItem(tree, topLevelItem(tree, "Slow Network"));
    EXPECT_TRUE(waitCursor);
    EXPECT_EQ(childTexts(topLevelItem(tree, "Slow Network")), QStringList{"FAR"});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// OK finds the addresses: localhost resolves; NOVELL is known by SAP only;
// the rest are asked for, and a server the user gives no address is dropped.
TEST(AddServersOk, LooksUpAddressesAndAsksForTheMissingOnes) {
    NetWareLan lan("NOVELL=D5533216:000000000001");
    ASSERT_TRUE(lan.ok()) << lan.error;
    QCoreApplication::setApplicationName("vardel");
    msgbox::ScopedScript boxes;

    ModalScript script;
    script.then([](QDialog* addServers) {
        QTimer::singleShot(0, addServers, [addServers] {
            click(addServers, kManually);
            click(addServers, kManually);
            click(addServers, kOk);
        });
    });
    script.then([](QDialog* manual) {
        click(manual, kWindowsNt);
        ctl<QPlainTextEdit>(manual, kServers)->setPlainText("localhost\nnosuch-nt\nnosuch-nt2");
        click(manual, kOk);
    });
    script.then([](QDialog* manual) {
        click(manual, kNetWareManual);
        ctl<QPlainTextEdit>(manual, kServers)->setPlainText("novell\nnosuch-nw");
        click(manual, kOk);
    });
    // The questions come in list order: last line first.
    script.then([](QDialog* enterIp) { click(enterIp, kCancel); }); // NOSUCH-NT2
    script.then([](QDialog* enterIp) {                              // NOSUCH-NT
        ctl<QLineEdit>(enterIp, kIp)->setText("10.1.1.20");
        click(enterIp, kOk);
    });
    script.then([](QDialog* enterAddress) { // NOSUCH-NW
        ctl<QLineEdit>(enterAddress, kIpx)->setText("D5533216-0000000000AA");
        click(enterAddress, kOk);
    });
    bool created = false;
    const auto servers = RunAddServersDialog(nullptr, created);
    EXPECT_TRUE(created);
    EXPECT_TRUE(script.done());
    EXPECT_EQ(script.handled, (std::vector<int>{136, 141, 141, 142, 142, 153}));

    std::vector<std::tuple<std::string, int, std::string, std::string>> got;
    for (const auto& s : servers)
        got.emplace_back(s->name, s->nosCode, s->ipAddress, s->ipxAddress);
    EXPECT_EQ(got, (std::vector<std::tuple<std::string, int, std::string, std::string>>{
                       {"NOSUCH-NT", 10, "10.1.1.20", ""},
                       {"LOCALHOST", 10, "127.0.0.1", ""},
                       {"NOSUCH-NW", 5, "", "D5533216-0000000000AA"},
                       {"NOVELL", 5, "", "D5533216-000000000001"}}));
    EXPECT_TRUE(boxes.script.shown.empty());
}

// The machine's own providers: a file server that SAP reports is browsed under
// "NetWare Network", taken as NetWare and found by its IPX address; its name
// does not resolve, yet nothing is asked.
TEST(AddServersMachine, BrowsesAFileServerUnderNetWareAndFindsItsIpxAddress) {
    NetWareLan lan("FS1=D5533216:00000000001F");
    ASSERT_TRUE(lan.ok()) << lan.error;
    QCoreApplication::setApplicationName("vardel");
    msgbox::ScopedScript boxes;
    CAddServersDlg dialog;
    ModalScript questions; // answers any question by Cancel
    questions.then([](QDialog* asked) { click(asked, kCancel); });
    dialog.show();
    click(&dialog, kShowNetwork);
    auto* tree = ctl<QTreeWidget>(&dialog, kTree);
    QTreeWidgetItem* microsoft = topLevelItem(tree, "Microsoft Windows Network");
    QTreeWidgetItem* netWare = topLevelItem(tree, "NetWare Network");
    ASSERT_NE(microsoft, nullptr);
    ASSERT_NE(netWare, nullptr);
    // No SMB host here: nothing under it, and no message.
    expandItem(tree, microsoft);
    EXPECT_EQ(microsoft->childCount(), 0);
    expandItem(tree, netWare);
    ASSERT_EQ(childTexts(netWare), QStringList{"FS1"});
    EXPECT_EQ(netWare->child(0)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    addFromTree(&dialog, netWare, "FS1");
    ASSERT_EQ(dialog.servers().size(), 1u);
    EXPECT_EQ(dialog.servers().front()->nosCode, 5);

    click(&dialog, kOk);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(questions.handled.empty());
    ASSERT_EQ(dialog.servers().size(), 1u);
    const ManagedServer& fs1 = *dialog.servers().front();
    EXPECT_EQ(fs1.name, "FS1");
    EXPECT_EQ(fs1.ipxAddress, "D5533216-00000000001F");
    EXPECT_EQ(fs1.ipAddress, "");
    EXPECT_TRUE(boxes.script.shown.empty());
}

// An unknown sender's Add Server...: Add Servers Manually opens at once on its address.
TEST(AddServersAt, OpensTheManualEntryOnTheAddress) {
    msgbox::ScopedScript boxes;
    std::string typed;
    bool manualDone = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->property("driven").toBool())
            return;
        const int id = dialog->property("ctlId").toInt();
        if (id == 141) {
            dialog->setProperty("driven", true);
            typed = ctl<QPlainTextEdit>(dialog, kServers)->toPlainText().toStdString();
            click(dialog, kWindowsNt);
            click(dialog, kOk);
            manualDone = true;
        } else if (id == 136 && manualDone) {
            dialog->setProperty("driven", true);
            QTimer::singleShot(0, dialog, [dialog] { click(dialog, kOk); });
        }
    });
    driver.start(10);
    bool created = false;
    const auto servers = RunAddServersDialogAt(nullptr, created, "127.0.0.3");
    EXPECT_TRUE(created);
    EXPECT_EQ(typed, "127.0.0.3");
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(servers.front()->ipAddress, "127.0.0.3");
    EXPECT_TRUE(boxes.script.shown.empty());
}

} // namespace
