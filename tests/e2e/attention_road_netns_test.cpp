// A console with desktop notifications on, a real dunst on a private session
// bus, and traps from a managed server in the test's own network namespace.

#include "platform/flexgrid/flexgrid.h"
#include "tests/e2e/trap_sender.h"
#include "tests/support/fixed_host.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/attention/desktop_notifier.h"
#include "vardel/attention/tests/bus_peers.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/program_env.h"

#include <QFile>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

namespace {

int dunstCount(const char* which) {
    return runTool("dunstctl", {"count", which}).trimmed().toInt();
}

class AttentionRoad : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::writeFile(dir.file("VDTrap.ini"),
                               "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd.ini\r\n");
        testsupport::writeFile(
            dir.file("vd.ini"),
            "[1.3.6.1.4.1.9999.1001]\r\nAlarmString=Fan %1 failed\r\nSeverity=CRITICAL\r\n");
        testsupport::writeFile(dir.file("rlaweb.ini"),
                               "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSRV2=1\r\n"
                               "[SRV2]\r\nNOS=NT\r\nIP=127.0.0.2\r\nSNMP_COMMUNITY=public\r\n");
        testsupport::writeFile(
            dir.file("vardel.reg"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n"
            "\"DesktopNotifications\"=\"1\"\r\n\r\n");
        // dunst's context menu (dunstctl context) asks this "dmenu", which
        // chooses the Acknowledge action.
        testsupport::writeFile(dir.file("choose-acknowledge"), "#!/bin/sh\nexec grep -m1 Acknowledge\n");
        QFile::setPermissions(QString::fromStdString(dir.file("choose-acknowledge")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        testsupport::writeFile(dir.file("dunstrc"), "[global]\n    monitor = 0\n    idle_threshold = 0\n"
                                                    "    dmenu = " +
                                                        dir.file("choose-acknowledge") +
                                                        "\n[urgency_critical]\n    timeout = 0\n");
        options.programDirectory = dir.path();
        fixedhost::ip = "127.0.0.1";
        options.host = fixedhost::library();
    }

    // Sends n traps and waits until the console has stored them all.
    bool deliver(CVardelTabs& console, int n) {
        const int expected = console.alertStore().count + n;
        return sendFromServer(n) == n &&
               waitUntil([&] { return console.alertStore().count == expected; }, 60000);
    }

    int loggedBlocks() const {
        return testsupport::readFile(dir.file("VDLog.txt")).size() == 0
                   ? 0
                   : static_cast<int>(QString::fromStdString(testsupport::readFile(dir.file("VDLog.txt")))
                                          .count("\nSeverity:"));
    }

    testsupport::TempDir dir;
    StartupOptions options;
    SilentAnnouncer silent;
    BusDaemon dunst{
        "dunst", {"-config", QString::fromStdString(dir.file("dunstrc"))}, "org.freedesktop.Notifications"};
};

} // namespace

// A critical trap is shown by dunst; "Show" chosen there brings up the notify
// window; dunst killed in a burst and started again loses no alert, and the
// burst is a handful of notifications.
TEST_F(AttentionRoad, TrapsReachTheDesktopAndSurviveTheDaemon) {
    ASSERT_TRUE(dunst.start());
    CVardelTabs console(options);
    console.OnInitDialog();
    console.alertStore().setAnnouncer(&silent);
    ASSERT_NE(console.trapListener(), nullptr);
    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);

    ASSERT_TRUE(deliver(console, 1));
    ASSERT_TRUE(waitUntil([] { return dunstCount("displayed") == 1; }));
    ASSERT_NE(console.desktopNotifier(), nullptr);
    console.notifyWindow()->hide();
    runTool("dunstctl", {"action", "0"});
    EXPECT_TRUE(waitUntil([&] { return console.notifyWindow()->isVisible(); }));

    runTool("dunstctl", {"close-all"});
    ASSERT_TRUE(waitUntil([&] { return console.desktopNotifier()->idle(); }));
    const std::uint32_t callsBefore = console.desktopNotifier()->callsMade();
    for (int chunk = 0; chunk < 10; ++chunk) {
        if (chunk == 3) {
            ASSERT_TRUE(dunst.stop());
        }
        if (chunk == 6) {
            ASSERT_TRUE(dunst.start());
        }
        ASSERT_TRUE(deliver(console, 50)) << "chunk " << chunk;
    }
    ASSERT_TRUE(waitUntil([&] { return console.desktopNotifier()->idle(); }));
    EXPECT_EQ(console.alertStore().count, 501);
    EXPECT_EQ(loggedBlocks(), 501);
    EXPECT_EQ(console.servers().front()->outstandingAlerts, 501);
    EXPECT_GE(dunstCount("displayed") + dunstCount("waiting"), 1);
    EXPECT_LE(dunstCount("displayed") + dunstCount("waiting") + dunstCount("history"), 5);
    EXPECT_LE(console.desktopNotifier()->callsMade() - callsBefore, 20u);
}

// "Acknowledge" chosen in dunst's menu acknowledges the alert in the console:
// it stays stored, leaves the server's count, and the log says who did it.
TEST_F(AttentionRoad, AcknowledgeThroughTheDaemon) {
    ASSERT_TRUE(dunst.start());
    CVardelTabs console(options);
    console.OnInitDialog();
    console.alertStore().setAnnouncer(&silent);
    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);
    ASSERT_TRUE(deliver(console, 1));
    ASSERT_TRUE(waitUntil([] { return dunstCount("displayed") == 1; }));
    ASSERT_TRUE(waitUntil([&] { return console.desktopNotifier()->idle(); }));
    EXPECT_EQ(console.servers().front()->outstandingAlerts, 1);

    runTool("dunstctl", {"context"});
    const AlertRecord* alert = console.alertStore().findBySequence(1);
    ASSERT_TRUE(waitUntil([&] { return alert->acknowledged; }));
    EXPECT_EQ(alert->acknowledgedBy, CurrentUserName());
    EXPECT_EQ(console.alertStore().count, 1);
    EXPECT_EQ(console.alertStore().outstandingCount(), 0);
    EXPECT_EQ(console.servers().front()->outstandingAlerts, 0);
    const std::string log = testsupport::readFile(dir.file("VDLog.txt"));
    EXPECT_NE(log.find("\r\nAcknowledged By:" + CurrentUserName() + "\r\nAlert Date:" + alert->dateTime +
                       "\r\nServer Name:SRV2\r\nAlarm String:" + alert->alertText + "\r\n"),
              std::string::npos)
        << log;
}

// A server snoozed from the Server Status tab: its trap is stored, counted and
// logged, but neither pops up nor notifies; the grid says until when.
TEST_F(AttentionRoad, SnoozedServersTrapIsLoggedAndNotShown) {
    ASSERT_TRUE(dunst.start());
    CVardelTabs console(options);
    console.OnInitDialog();
    console.alertStore().setAnnouncer(&silent);
    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);
    CServerStatusTab& tab = *console.statusTab();
    ASSERT_TRUE(tab.gridReady());
    EXPECT_EQ(tab.grid().GetCols(), 4);
    std::unique_ptr<QMenu> menu = tab.snoozeMenuFor("SRV2");
    QMenu* snooze = menu->actions().at(0)->menu();
    ASSERT_NE(snooze, nullptr);
    snooze->actions().at(1)->trigger(); // 1 h
    ASSERT_EQ(tab.grid().GetCols(), 5);
    EXPECT_EQ(tab.grid().GetTextMatrix(0, 4), "Attention");
    EXPECT_EQ(tab.grid().GetTextMatrix(1, 4).rfind("Snoozed until ", 0), 0u)
        << tab.grid().GetTextMatrix(1, 4);

    ASSERT_TRUE(deliver(console, 1));
    EXPECT_EQ(loggedBlocks(), 1);
    EXPECT_EQ(console.servers().front()->outstandingAlerts, 1);
    EXPECT_EQ(console.alertStore().alerts.front()->notice, kNoticeNone);
    QTest::qWait(300);
    EXPECT_FALSE(console.notifyWindow()->isVisible());
    EXPECT_EQ(console.desktopNotifier(), nullptr) << "nothing was sent";
    EXPECT_EQ(dunstCount("displayed") + dunstCount("waiting") + dunstCount("history"), 0);

    // Woken: the next trap pops up and notifies.
    menu = tab.snoozeMenuFor("SRV2");
    menu->actions().at(1)->trigger(); // End Snooze
    EXPECT_EQ(tab.grid().GetCols(), 4);
    ASSERT_TRUE(deliver(console, 1));
    EXPECT_TRUE(waitUntil([&] { return console.notifyWindow()->isVisible(); }));
    EXPECT_TRUE(waitUntil([] { return dunstCount("displayed") == 1; }));
    EXPECT_EQ(console.notifyWindow()->currentIndex(), 2);
}
