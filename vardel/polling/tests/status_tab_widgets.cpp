// The Server Status tab through its widgets: the grid's rebuild and cell
// rules, the alert counts, the two buttons and the chooser's messages.

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/testsupport.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/resources/string_table.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class StatusTabTest : public ::testing::Test {
protected:
    ManagedServer& add(const std::string& name, const std::string& ip = "10.0.0.1",
                       const std::string& ipx = "") {
        auto s = std::make_unique<ManagedServer>();
        s->name = name;
        s->ipAddress = ip;
        s->ipxAddress = ipx;
        servers.push_back(std::move(s));
        return *servers.back();
    }
    std::string cell(long row, long col) { return tab.grid().GetTextMatrix(row, col); }
    std::uint32_t colour(long row, long col) {
        tab.grid().SetRow(row);
        tab.grid().SetCol(col);
        return tab.grid().GetCellForeColor();
    }
    QPushButton* button(int id) { return testsupport::control<QPushButton>(&tab, id); }
    // Runs action while `driver` handles the chooser once it is up.
    void withChooser(const std::function<void()>& action, const std::function<void(QDialog&)>& driver) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            driver(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        action();
    }
    static void choose(QDialog& d, const char* name) {
        auto* list = testsupport::control<QListWidget>(&d, 1022);
        list->setCurrentItem(list->findItems(name, Qt::MatchExactly).front());
        QTest::mouseClick(testsupport::control<QPushButton>(&d, 1), Qt::LeftButton);
    }

    msgbox::ScopedScript boxes;
    ServerList servers;
    ConsoleSettings settings;
    std::vector<std::string> opened;
    bool openerWorks = true;
    CServerStatusTab tab{
        {servers, settings, [this](const std::string& n) { opened.push_back("page " + n); },
         [this](const std::string& n, const std::string& a, const std::string& k, const std::string& c) {
             opened.push_back("agents " + n + " " + a + " " + k + " " + c);
             return openerWorks;
         }}};
};

} // namespace

TEST_F(StatusTabTest, RebuildShowsTheListSortedWithItsColoursAndDropsRemovedServers) {
    add("charlie").snmpStatus = "UP";
    ManagedServer& alpha = add("alpha");
    alpha.snmpStatus = "UP";
    alpha.pollPending = 1; // outstanding: "Checking...." whatever its status
    alpha.networkStatus = "DOWN";
    alpha.outstandingAlerts = 4;
    ManagedServer& bravo = add("Bravo");
    bravo.snmpStatus = "DOWN";
    bravo.networkStatus = "UP";
    settings.lastPollTime = "May 01, 2026, 10:00:00";
    tab.OnSetActive();
    ASSERT_EQ(tab.grid().GetRows(), 4);
    EXPECT_EQ(cell(0, 0), "Server Name");
    EXPECT_EQ(cell(0, 1), "Outstanding Alerts");
    EXPECT_EQ(cell(0, 2), "SNMP Status");
    EXPECT_EQ(cell(0, 3), "Polling");
    EXPECT_EQ(cell(1, 0), "alpha");
    EXPECT_EQ(cell(1, 1), "4");
    EXPECT_EQ(cell(1, 2), "Checking....");
    EXPECT_EQ(colour(1, 2), kColourChecking);
    EXPECT_EQ(cell(1, 3), "DOWN");
    EXPECT_EQ(colour(1, 3), kColourDown);
    EXPECT_EQ(cell(2, 0), "Bravo");
    EXPECT_EQ(colour(2, 2), kColourDown);
    EXPECT_EQ(colour(2, 3), kColourUp);
    EXPECT_EQ(cell(3, 0), "charlie");
    EXPECT_EQ(colour(3, 2), kColourUp);
    EXPECT_EQ(cell(3, 3), "Checking...."); // networkStatus INIT
    EXPECT_EQ(colour(3, 3), kColourChecking);
    EXPECT_EQ(testsupport::control<QLabel>(&tab, 1028)->text(), "May 01, 2026, 10:00:00");
    EXPECT_FALSE(button(1045)->isEnabled()); // no browser, no management server
    EXPECT_TRUE(button(1091)->isEnabled());

    servers.remove_if([](const auto& s) { return s->name == "Bravo"; });
    tab.OnSetActive();
    ASSERT_EQ(tab.grid().GetRows(), 3);
    EXPECT_EQ(cell(1, 0), "alpha");
    EXPECT_EQ(cell(2, 0), "charlie");
    tab.SetSnmpStatusCell("Bravo", "UP"); // a removed server's result touches no row
    EXPECT_EQ(cell(2, 2), "UP");
    EXPECT_EQ(cell(1, 2), "Checking....");

    servers.clear();
    tab.OnSetActive();
    EXPECT_EQ(tab.grid().GetRows(), 2); // row 1 stays, empty
    EXPECT_EQ(cell(1, 0), "");
    EXPECT_FALSE(button(1045)->isEnabled());
    EXPECT_FALSE(button(1091)->isEnabled());
}

TEST_F(StatusTabTest, CellOperationsFollowTheirRules) {
    add("A").outstandingAlerts = 1;
    add("B");
    // Before the tab was shown only the records change.
    tab.AdjustAlertCount("A", kAlertCountAdd);
    EXPECT_EQ(servers.front()->outstandingAlerts, 2);
    EXPECT_EQ(cell(1, 0), "");

    tab.OnSetActive();
    tab.MarkAllChecking("Checking....");
    EXPECT_EQ(cell(2, 2), "Checking....");
    EXPECT_EQ(colour(2, 3), kColourChecking);
    tab.SetPollStatusCell("A", "INIT");
    EXPECT_EQ(cell(1, 3), "Checking....");
    tab.SetPollStatusCell("A", "UP");
    EXPECT_EQ(colour(1, 3), kColourUp);
    tab.SetSnmpStatusCell("B", "DOWN");
    EXPECT_EQ(colour(2, 2), kColourDown);
    tab.SetSnmpStatusCell("B", "odd"); // other texts keep the colour
    EXPECT_EQ(cell(2, 2), "odd");
    EXPECT_EQ(colour(2, 2), kColourDown);

    tab.AdjustAlertCount("B", kAlertCountRemove); // 0 stays 0
    EXPECT_EQ(cell(2, 1), "0");
    EXPECT_EQ(servers.back()->outstandingAlerts, 0);
    tab.AdjustAlertCount("A", kAlertCountAdd);
    EXPECT_EQ(cell(1, 1), "3");
    tab.AdjustAlertCount("A", kAlertCountReset); // the record only
    EXPECT_EQ(cell(1, 1), "3");
    EXPECT_EQ(servers.front()->outstandingAlerts, 0);
    tab.AdjustAlertCount("B", kAlertCountAdd);
    tab.ResetAlertCounts();
    EXPECT_EQ(cell(1, 1), "0");
    EXPECT_EQ(cell(2, 1), "0");
    EXPECT_EQ(servers.back()->outstandingAlerts, 0);
}

TEST_F(StatusTabTest, LaunchNeedsAnUpServerAndOpensTheChosenPage) {
    add("S1");
    tab.OnLaunchButton();
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_NOT_LAUNCHED));
    EXPECT_EQ(boxes.script.shown[0].caption, LoadString(IDS_PRODUCT_TITLE));

    servers.front()->snmpStatus = "UP";
    add("S2").snmpStatus = "UP";
    boxes.script.shown.clear();
    withChooser([&] { tab.OnLaunchButton(); },
                [&](QDialog& d) {
                    EXPECT_EQ(testsupport::control<QLabel>(&d, 1093)->text().toStdString(),
                              LoadString(IDS_LAUNCH_ONLY_UP));
                    // OK with nothing chosen: message 111, the chooser stays.
                    QTest::mouseClick(testsupport::control<QPushButton>(&d, 1), Qt::LeftButton);
                    EXPECT_TRUE(d.isVisible());
                    choose(d, "S2");
                });
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_SELECT_SERVER));
    EXPECT_EQ(opened, (std::vector<std::string>{"page S2"}));
}

TEST_F(StatusTabTest, AgentsStatusOpensTheDialogByAddressKindOrSaysWhy) {
    tab.OnAgentsStatusButton(); // no servers: nothing
    EXPECT_TRUE(boxes.script.shown.empty());
    add("IPSRV", "10.0.0.7").community = "c1";
    tab.OnAgentsStatusButton();
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_MANAGEMENT_ONLY_UP));

    servers.back()->snmpStatus = "UP";
    add("IPXSRV", "", "0000ABCD-00A0C9112233").snmpStatus = "UP";
    add("NOWHERE", "", "").snmpStatus = "UP";
    boxes.script.shown.clear();
    withChooser([&] { tab.OnAgentsStatusButton(); }, [](QDialog& d) { choose(d, "IPSRV"); });
    withChooser([&] { tab.OnAgentsStatusButton(); }, [](QDialog& d) { choose(d, "IPXSRV"); });
    EXPECT_EQ(opened, (std::vector<std::string>{"agents IPSRV 10.0.0.7 IP c1",
                                                "agents IPXSRV 0000ABCD-00A0C9112233 IPX public"}));
    EXPECT_TRUE(boxes.script.shown.empty());

    withChooser([&] { tab.OnAgentsStatusButton(); }, [](QDialog& d) { choose(d, "NOWHERE"); });
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_NO_ADDRESS));

    openerWorks = false;
    withChooser([&] { tab.OnAgentsStatusButton(); }, [](QDialog& d) { choose(d, "IPSRV"); });
    ASSERT_EQ(boxes.script.shown.size(), 2u);
    EXPECT_EQ(boxes.script.shown[1].text, LoadString(IDS_NO_MEMORY));
    EXPECT_EQ(boxes.script.shown[1].icon, msgbox::Icon::Error);
}
