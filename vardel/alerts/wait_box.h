#pragma once
// Waiting on the network: the wait box (dialog 160), a small modeless notice
// of three lines shown with the wait cursor, and the worker threads that do
// the waiting so that the user-interface thread never does.

#include <QDialog>
#include <QObject>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace Ui {
class CWaitBox;
}

class CWaitBox : public QDialog {
    Q_OBJECT

public:
    // Shows the box at once, centred, with the three lines in controls 1071,
    // 1070 and 1072, and turns the wait cursor on.
    CWaitBox(QWidget* parent, const std::string& first, const std::string& second, const std::string& third);
    ~CWaitBox() override;

    // Turns the wait cursor off and hides the box. The owner deletes it.
    void Close();

private:
    std::unique_ptr<Ui::CWaitBox> m_ui;
    bool m_cursorOn = false;
};

// Runs network work on worker threads, one thread per piece of work (at most
// maxRunning at once, the rest queued), each piece with its own SNMP session.
// What a piece hands back through its Post runs on the thread that made the
// group, in the order handed. wait() keeps that thread's event loop running
// (timers, posted events, painting; user input to the windows open when the
// wait began is dropped, except in windows marked kRespondsWhileWaiting)
// until every piece has returned and all it handed back has run.
// Dynamic property of a window that keeps taking input while the console waits.
inline constexpr char kRespondsWhileWaiting[] = "respondsWhileWaiting";

class WorkerGroup {
public:
    using Post = std::function<void(std::function<void()>)>;
    using Work = std::function<void(const Post& post)>;

    explicit WorkerGroup(int maxRunning = 32);
    ~WorkerGroup(); // waits
    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    void start(Work work);
    void wait();

private:
    void launch(Work work);
    void finished(int id);

    QObject m_receiver;
    int m_maxRunning;
    int m_running = 0;
    int m_unfinished = 0;
    std::deque<Work> m_queued;
    int m_nextId = 0;
    std::map<int, std::thread> m_threads;
    class QEventLoop* m_loop = nullptr;
};
