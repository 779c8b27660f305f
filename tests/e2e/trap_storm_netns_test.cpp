// A console in its own network namespace under a storm of traps: the notify
// window answers while the burst is being handled.

#include "tests/e2e/trap_sender.h"
#include "tests/support/fixed_host.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/shell/vardel_tabs.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// One managed server, SRV2 at 127.0.0.2, and the definition of its trap.
StartupOptions consoleIn(const testsupport::TempDir& dir) {
    testsupport::writeFile(dir.file("VDTrap.ini"),
                           "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd.ini\r\n");
    testsupport::writeFile(dir.file("vd.ini"),
                           "[1.3.6.1.4.1.9999.1001]\r\nAlarmString=Fan %1 failed\r\nSeverity=CRITICAL\r\n");
    testsupport::writeFile(dir.file("rlaweb.ini"),
                           "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSRV2=1\r\n"
                           "[SRV2]\r\nNOS=NT\r\nIP=127.0.0.2\r\nSNMP_COMMUNITY=public\r\n");
    StartupOptions options;
    options.programDirectory = dir.path();
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    return options;
}

} // namespace

TEST(TrapStorm, NotifyWindowAnswersAClickDuringABurst) {
    testsupport::TempDir dir;
    CVardelTabs console(consoleIn(dir));
    console.OnInitDialog();
    SilentAnnouncer silent;
    console.alertStore().setAnnouncer(&silent);
    ASSERT_NE(console.trapListener(), nullptr);
    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);

    // The burst arrives while this thread is away from the event loop, so it
    // all waits for the window at once.
    constexpr int kTraps = 20000;
    ASSERT_EQ(sendFromServer(kTraps), kTraps);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    auto* clearAlert = testsupport::control<QPushButton>(console.notifyWindow(), 1);
    ASSERT_NE(clearAlert, nullptr);
    int countAtClick = -1;
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (countAtClick < 0 && console.alertStore().count > 0) {
            countAtClick = console.alertStore().count;
            QTest::mouseClick(clearAlert, Qt::LeftButton);
        }
    });
    clicker.start(1);
    // What a loaded machine drops before the console reads it is counted, and
    // not what this test is about.
    const auto received = [&] {
        Snmp* session = console.trapListener()->session();
        return kTraps - static_cast<int>(session ? session->droppedDatagrams() : 0);
    };
    QEventLoop loop;
    QTimer watch;
    int seen = -1;
    auto lastProgress = std::chrono::steady_clock::now();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (console.alertStore().count != seen) {
            seen = console.alertStore().count;
            lastProgress = std::chrono::steady_clock::now();
        }
        if ((countAtClick >= 0 && seen == received() - 1) ||
            std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(10))
            loop.quit();
    });
    watch.start(20);
    loop.exec();

    EXPECT_GT(countAtClick, 0);
    EXPECT_LT(countAtClick, received() / 2) << "the click waited for the burst";
    EXPECT_EQ(console.alertStore().count, received() - 1);
    EXPECT_EQ(console.servers().front()->outstandingAlerts, received() - 1);
}

// While this thread stays away from the event loop, the records of a burst
// wait for it up to the queue's limit; the rest are lost, counted and logged.
TEST(TrapStorm, RecordsBeyondTheQueueLimitAreLostAndLoggedWithTheirCount) {
    testsupport::TempDir dir;
    StartupOptions options = consoleIn(dir);
    options.trapQueueLimit = 20;
    CVardelTabs console(options);
    console.OnInitDialog();
    SilentAnnouncer silent;
    console.alertStore().setAnnouncer(&silent);
    ASSERT_NE(console.trapListener(), nullptr);
    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);
    Snmp* session = console.trapListener()->session();

    // 60 traps fit the socket's buffer many times over: the kernel drops none.
    ASSERT_EQ(sendFromServer(60), 60);
    for (int i = 0; i < 3000 && session->droppedDatagrams() < 40; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(session->droppedDatagrams(), 40u);

    // Reported once per burst: in one block, or a few if the sender paused.
    const auto loggedLost = [&] {
        const std::string log = testsupport::readFile(dir.file("VDLog.txt"));
        int lost = 0;
        for (std::size_t at = log.find("\r\nTraps Lost:"); at != std::string::npos;
             at = log.find("\r\nTraps Lost:", at + 1))
            lost += std::atoi(log.c_str() + at + 13);
        return lost;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return loggedLost() >= 40; }, 20000));
    EXPECT_EQ(loggedLost(), 40);
    EXPECT_EQ(console.alertStore().count, 20);
    EXPECT_EQ(console.servers().front()->outstandingAlerts, 20);
}
