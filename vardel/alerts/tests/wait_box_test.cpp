// Waiting on workers keeps the event loop running and the notify window usable.

#include "vardel/alerts/wait_box.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "wait_box_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

TEST(WorkerGroup, InputReachesOnlyTheWindowsThatRespondWhileWaiting) {
    app();
    QPushButton mainWindow("main"), notifyWindow("notify");
    notifyWindow.setProperty(kRespondsWhileWaiting, true);
    mainWindow.show();
    notifyWindow.show();
    int mainClicks = 0, notifyClicks = 0;
    QObject::connect(&mainWindow, &QPushButton::clicked, [&] { ++mainClicks; });
    QObject::connect(&notifyWindow, &QPushButton::clicked, [&] { ++notifyClicks; });

    std::atomic<bool> release{false};
    bool applied = false;
    WorkerGroup workers;
    workers.start([&](const WorkerGroup::Post& post) {
        for (int i = 0; i < 500 && !release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        post([&] { applied = true; });
    });
    QTimer::singleShot(50, [&] {
        QTest::mouseClick(&mainWindow, Qt::LeftButton);
        QTest::mouseClick(&notifyWindow, Qt::LeftButton);
        release = true;
    });
    workers.wait();

    EXPECT_TRUE(applied);
    EXPECT_EQ(mainClicks, 0);
    EXPECT_EQ(notifyClicks, 1);
}

} // namespace
