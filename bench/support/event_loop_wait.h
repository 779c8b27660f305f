#pragma once
// Waiting for a condition in a running event loop, as the console itself runs:
// QTest::qWaitFor sleeps 10 ms between its passes over the events, which holds
// a busy console up for most of the time it measures.

#include <QEventLoop>
#include <QTimer>

// Checks done every 5 ms; true once it holds, false after timeoutMs.
template <typename Done> bool waitInEventLoop(Done done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    bool held = false;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) {
            held = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(5);
    loop.exec();
    return held;
}
