#include "vardel/alerts/wait_box.h"

#include "platform/handoff/handoff.h"
#include "ui_wait_box.h"
#include "vardel/resources/qt_text.h"

#include <QApplication>
#include <QEventLoop>
#include <QScreen>
#include <QSet>

namespace {} // namespace

CWaitBox::CWaitBox(QWidget* parent, const std::string& first, const std::string& second,
                   const std::string& third)
    : QDialog(parent), m_ui(std::make_unique<Ui::CWaitBox>()) {
    m_ui->setupUi(this);
    // A caption without a system menu: no close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_cursorOn = true;
    m_ui->firstLineLabel->setText(toQt(first));
    m_ui->secondLineLabel->setText(toQt(second));
    m_ui->thirdLineLabel->setText(toQt(third));
    QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

CWaitBox::~CWaitBox() {
    if (m_cursorOn)
        QApplication::restoreOverrideCursor();
}

void CWaitBox::Close() {
    if (m_cursorOn) {
        QApplication::restoreOverrideCursor();
        m_cursorOn = false;
    }
    done(QDialog::Accepted);
}

WorkerGroup::WorkerGroup(int maxRunning) : m_maxRunning(maxRunning < 1 ? 1 : maxRunning) {}

WorkerGroup::~WorkerGroup() {
    wait();
}

void WorkerGroup::start(Work work) {
    ++m_unfinished;
    if (m_running < m_maxRunning)
        launch(std::move(work));
    else
        m_queued.push_back(std::move(work));
}

void WorkerGroup::launch(Work work) {
    ++m_running;
    const int id = m_nextId++;
    m_threads[id] = std::thread([this, id, work = std::move(work)] {
        const Post post = [this](std::function<void()> apply) {
            handoff::post(&m_receiver, std::move(apply));
        };
        work(post);
        // Queued behind everything the work handed back.
        handoff::post(&m_receiver, [this, id] { finished(id); });
    });
}

void WorkerGroup::finished(int id) {
    // The thread has nothing left to do but return.
    auto it = m_threads.find(id);
    it->second.join();
    m_threads.erase(it);
    --m_running;
    --m_unfinished;
    if (!m_queued.empty()) {
        Work next = std::move(m_queued.front());
        m_queued.pop_front();
        launch(std::move(next));
    }
    if (m_unfinished == 0 && m_loop)
        m_loop->quit();
}

namespace {

// Holds back user input from the windows that were open when a wait began,
// as a blocking call would; windows marked kRespondsWhileWaiting (the notify
// window) and windows opened meanwhile (their boxes) keep working.
class InputBlocker : public QObject {
public:
    InputBlocker() {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && !window->property(kRespondsWhileWaiting).toBool())
                m_blocked.insert(window);
        qApp->installEventFilter(this);
    }
    ~InputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!receiver->isWidgetType() || !isUserInput(event))
            return false;
        return m_blocked.contains(static_cast<QWidget*>(receiver)->window());
    }

private:
    static bool isUserInput(QEvent* event) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        case QEvent::Close:
            return event->spontaneous();
        default:
            return false;
        }
    }

    QSet<QWidget*> m_blocked;
};

} // namespace

void WorkerGroup::wait() {
    if (m_unfinished > 0) {
        InputBlocker blocker;
        QEventLoop loop;
        m_loop = &loop;
        loop.exec();
        m_loop = nullptr;
    }
}
