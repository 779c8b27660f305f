#include "wait_box.h"

#include "ui_wait_box.h"

#include <QApplication>
#include <QEventLoop>
#include <QScreen>

namespace {

QString toQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

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
            QMetaObject::invokeMethod(&m_receiver, std::move(apply), Qt::QueuedConnection);
        };
        work(post);
        // Queued behind everything the work handed back.
        QMetaObject::invokeMethod(
            &m_receiver, [this, id] { finished(id); }, Qt::QueuedConnection);
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

void WorkerGroup::wait() {
    if (m_unfinished > 0) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_loop = nullptr;
    }
}
