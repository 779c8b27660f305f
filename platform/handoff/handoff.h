#pragma once
// Running a function on the thread of a QObject from any other thread,
// through the object's event queue.
//
// The queue runs the function after everything its poster did before the
// post, but the locking that gives this order is inside Qt, which a
// ThreadSanitizer build does not instrument. A Task says so to the
// sanitizer: it releases where it is stored and acquires there before it
// runs or goes, so that the function's captures, and what the poster wrote
// before posting, are seen in order.

#include <QMetaObject>
#include <QObject>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define VARDEL_HANDOFF_ANNOTATED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VARDEL_HANDOFF_ANNOTATED 1
#endif
#endif

#ifdef VARDEL_HANDOFF_ANNOTATED
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace handoff {

// A function to be run by another thread, handed over by a queue whose
// ordering the sanitizer cannot see (Qt's event queue, QThreadPool's).
template <class F> class Task {
public:
    explicit Task(F f) : m_f(std::move(f)) { published(); }
    Task(const Task& other) : m_f(other.m_f) { published(); }
    Task(Task&& other) noexcept(std::is_nothrow_move_constructible_v<F>) : m_f(std::move(other.m_f)) {
        published();
    }
    Task& operator=(const Task&) = delete;
    Task& operator=(Task&&) = delete;
    ~Task() { taken(); }

    void operator()() {
        taken();
        m_f();
    }

private:
    void published() {
#ifdef VARDEL_HANDOFF_ANNOTATED
        __tsan_release(this);
#endif
    }
    void taken() {
#ifdef VARDEL_HANDOFF_ANNOTATED
        __tsan_acquire(this);
#endif
    }

    F m_f;
};

template <class F> Task<std::decay_t<F>> task(F&& f) {
    return Task<std::decay_t<F>>(std::forward<F>(f));
}

// Runs f on receiver's thread, from its event loop; dropped unrun if the
// receiver is destroyed first.
template <class F> void post(QObject* receiver, F&& f) {
    QMetaObject::invokeMethod(receiver, task(std::forward<F>(f)), Qt::QueuedConnection);
}

} // namespace handoff
