#include "sound.h"

#include <QApplication>
#include <canberra.h>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// After a failure of the sound service it is left alone for a while, so that a
// burst of alerts on a machine without sound does not pay for a failed attempt each.
constexpr auto kRetryDelay = std::chrono::seconds(3);
// Bound on one synchronous play, in case the service never reports its end.
constexpr auto kLongestSound = std::chrono::minutes(10);

// One libcanberra context for the process, opened on first use. Calls into
// libcanberra are made under m_contextMutex, one sound at a time; libcanberra
// reports the end of a sound on a thread of its own, which takes only
// m_pendingMutex.
class Player {
public:
    ~Player() {
        if (m_context)
            ca_context_destroy(m_context);
    }

    bool playFile(const std::string& path) {
        std::lock_guard contextLock(m_contextMutex);
        ca_context* context = open();
        if (!context)
            return false;
        ca_proplist* props = nullptr;
        if (ca_proplist_create(&props) != CA_SUCCESS)
            return false;
        ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, path.c_str());
        ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
        const uint32_t id = ++m_lastId;
        {
            std::lock_guard lock(m_pendingMutex);
            m_pending[id] = Pending{};
        }
        const int rc = ca_context_play_full(context, id, props, &Player::finished, this);
        ca_proplist_destroy(props);
        bool ok = false;
        if (rc == CA_SUCCESS) {
            std::unique_lock lock(m_pendingMutex);
            if (m_done.wait_for(lock, kLongestSound, [&] { return m_pending[id].finished; })) {
                ok = m_pending[id].error == CA_SUCCESS;
            } else {
                lock.unlock(); // the cancellation is reported through the callback
                ca_context_cancel(context, id);
            }
        }
        {
            std::lock_guard lock(m_pendingMutex);
            m_pending.erase(id);
        }
        if (rc != CA_SUCCESS && rc != CA_ERROR_CORRUPT) // a bad file says nothing about the service
            fail();
        return ok;
    }

    bool bell() {
        std::lock_guard contextLock(m_contextMutex);
        ca_context* context = open();
        if (!context)
            return false;
        const int rc = ca_context_play(context, 0, CA_PROP_EVENT_ID, "bell-window-system",
                                       CA_PROP_EVENT_DESCRIPTION, "Bell", nullptr);
        if (rc != CA_SUCCESS) {
            fail();
            return false;
        }
        return true;
    }

private:
    struct Pending {
        bool finished = false;
        int error = CA_SUCCESS;
    };

    static void finished(ca_context*, uint32_t id, int error, void* userdata) {
        auto* self = static_cast<Player*>(userdata);
        std::lock_guard lock(self->m_pendingMutex);
        const auto it = self->m_pending.find(id);
        if (it == self->m_pending.end())
            return;
        it->second.finished = true;
        it->second.error = error;
        self->m_done.notify_all();
    }

    // With m_contextMutex held.
    ca_context* open() {
        if (m_context)
            return m_context;
        if (Clock::now() < m_retryAfter)
            return nullptr;
        ca_context* context = nullptr;
        if (ca_context_create(&context) != CA_SUCCESS) {
            fail();
            return nullptr;
        }
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Vardel", CA_PROP_APPLICATION_ID, "vardel",
                                nullptr);
        if (ca_context_open(context) != CA_SUCCESS) {
            ca_context_destroy(context);
            fail();
            return nullptr;
        }
        m_context = context;
        return m_context;
    }

    // With m_contextMutex held: drops the context, so that a later call opens a
    // fresh one, and holds off for kRetryDelay.
    void fail() {
        m_retryAfter = Clock::now() + kRetryDelay;
        if (m_context) {
            ca_context_destroy(m_context);
            m_context = nullptr;
        }
    }

    std::mutex m_contextMutex;
    ca_context* m_context = nullptr;
    Clock::time_point m_retryAfter{};
    uint32_t m_lastId = 0;

    std::mutex m_pendingMutex;
    std::condition_variable m_done;
    std::map<uint32_t, Pending> m_pending;
};

Player& player() {
    static Player instance;
    return instance;
}

bool isReadableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), R_OK) == 0;
}

} // namespace

bool playFileSync(const std::string& path) {
    if (!isReadableFile(path))
        return false;
    return player().playFile(path);
}

void beep() {
    if (player().bell())
        return;
    // QApplication::beep needs a running QApplication.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}

} // namespace sound
