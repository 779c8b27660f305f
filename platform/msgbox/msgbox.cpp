#include "platform/msgbox/msgbox.h"

#include "platform/handoff/handoff.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSpacerItem>
#include <QString>
#include <QThread>
#include <QWindow>
#include <condition_variable>
#include <mutex>

namespace msgbox {

namespace {
QtBackend g_qtBackend;
Backend* g_backend = nullptr;

// Room the window manager takes from the caption: icon and title-bar buttons.
constexpr int kCaptionChrome = 140;

bool anyTopmostWindowShown() {
    for (const QWindow* window : QGuiApplication::topLevelWindows())
        if (window->isVisible() && window->flags().testFlag(Qt::WindowStaysOnTopHint))
            return true;
    return false;
}

// Widens the box so that the window manager shows its whole caption.
void fitCaption(QMessageBox& mb, const QString& caption) {
    auto* grid = qobject_cast<QGridLayout*>(mb.layout());
    if (!grid || caption.isEmpty())
        return;
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const int width = QFontMetrics(titleFont).horizontalAdvance(caption) + kCaptionChrome;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0,
                  1, grid->columnCount());
}
} // namespace

Answer show(const Box& box) {
    Backend* backend = g_backend ? g_backend : &g_qtBackend;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return backend->ask(box);
    // Boxes live on the user-interface thread; another thread waits for the answer.
    struct Pending {
        std::mutex mutex;
        std::condition_variable answered;
        bool done = false;
        Answer answer = IDOK;
    } pending;
    Box unowned = box;
    unowned.owner = nullptr;
    handoff::post(app, [&pending, &unowned, backend] {
        const Answer answer = backend->ask(unowned);
        std::lock_guard lock(pending.mutex);
        pending.answer = answer;
        pending.done = true;
        pending.answered.notify_one();
    });
    std::unique_lock lock(pending.mutex);
    pending.answered.wait(lock, [&pending] { return pending.done; });
    return pending.answer;
}

Answer show(QWidget* owner, const std::string& text, const std::string& caption, Buttons buttons, Icon icon,
            int defaultButton) {
    return show(Box{caption, text, buttons, icon, defaultButton, owner});
}

void setBackend(Backend* backend) {
    g_backend = backend;
}

Answer QtBackend::ask(const Box& box) {
    QMessageBox mb(box.owner);
    // A box disables its owner only; other windows keep working. It stays
    // above a topmost window of the program.
    mb.setWindowModality(Qt::WindowModal);
    if (anyTopmostWindowShown())
        mb.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    const QString caption = QString::fromStdString(box.caption);
    mb.setWindowTitle(caption);
    mb.setText(QString::fromStdString(box.text));
    switch (box.icon) {
    case Icon::None:
        mb.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Error:
        mb.setIcon(QMessageBox::Critical);
        break;
    case Icon::Warning:
        mb.setIcon(QMessageBox::Warning);
        break;
    case Icon::Question:
        mb.setIcon(QMessageBox::Question);
        break;
    case Icon::Information:
        mb.setIcon(QMessageBox::Information);
        break;
    }
    struct Choice {
        QMessageBox::StandardButton button;
        Answer answer;
    };
    std::vector<Choice> choices;
    switch (box.buttons) {
    case Buttons::Ok:
        choices = {{QMessageBox::Ok, IDOK}};
        break;
    case Buttons::OkCancel:
        choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case Buttons::YesNo:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
    case Buttons::YesNoCancel:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    }
    QMessageBox::StandardButtons all;
    for (const auto& c : choices)
        all |= c.button;
    mb.setStandardButtons(all);
    const auto index = static_cast<std::size_t>(box.defaultButton);
    if (index < choices.size())
        mb.setDefaultButton(choices[index].button);
    fitCaption(mb, caption); // the layout is final now
    const int result = mb.exec();
    for (const auto& c : choices)
        if (result == c.button)
            return c.answer;
    // Closed without a button: the box's escape answer.
    return box.buttons == Buttons::YesNo ? IDNO : (box.buttons == Buttons::Ok ? IDOK : IDCANCEL);
}

Answer ScriptedBackend::ask(const Box& box) {
    shown.push_back(box);
    if (answers.empty())
        return fallback;
    Answer a = answers.front();
    answers.pop_front();
    return a;
}

ScopedScript::ScopedScript() {
    setBackend(&script);
}

ScopedScript::~ScopedScript() {
    setBackend(nullptr);
}

} // namespace msgbox
