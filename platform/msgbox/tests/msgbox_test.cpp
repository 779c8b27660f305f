#include "platform/msgbox/msgbox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(MessageBoxes, ABoxAskedFromAnotherThreadIsShownOnTheInterfaceThread) {
    msgbox::ScopedScript boxes;
    boxes.script.answers = {msgbox::IDNO};
    QThread* uiThread = QThread::currentThread();
    QThread* shownOn = nullptr;
    struct Recorder : msgbox::Backend {
        msgbox::ScriptedBackend* inner;
        QThread** where;
        msgbox::Answer ask(const msgbox::Box& box) override {
            *where = QThread::currentThread();
            return inner->ask(box);
        }
    } recorder;
    recorder.inner = &boxes.script;
    recorder.where = &shownOn;
    msgbox::setBackend(&recorder);

    msgbox::Answer answer = msgbox::IDOK;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = msgbox::show(nullptr, "from the worker", "caption", msgbox::Buttons::YesNo);
        done = true;
    });
    // The interface thread's event loop carries the box.
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
    worker.join();
    msgbox::setBackend(&boxes.script);

    EXPECT_EQ(answer, msgbox::IDNO);
    EXPECT_EQ(shownOn, uiThread);
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, "from the worker");
    EXPECT_EQ(boxes.script.shown[0].buttons, msgbox::Buttons::YesNo);
}

TEST(MessageBoxes, AShortBoxIsWideEnoughForItsWholeCaption) {
    const QString caption = "Orv Corvanta Vardel 5.5";
    int width = 0;
    QTimer::singleShot(0, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            width = box->width();
            box->close();
        }
    });
    msgbox::show(nullptr, "Vardel is already running!!", caption.toStdString());
    QFont bold = QApplication::font();
    bold.setBold(true);
    EXPECT_GE(width, QFontMetrics(bold).horizontalAdvance(caption) + 100);
}
