#include "platform/sound/sound.h"

#include "platform/handoff/handoff.h"

#include <QApplication>
#include <atomic>
#include <canberra.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sound {

namespace {

using Clock = std::chrono::steady_clock;

// After a failure of the sound service it is left alone for a while, so that a
// burst of alerts on a machine without sound does not pay for a failed attempt each.
constexpr auto kRetryDelay = std::chrono::seconds(3);
// Bound on one sound, in case the service never reports its end.
constexpr auto kLongestSound = std::chrono::minutes(10);

struct Request {
    bool bell = false;
    std::string file;
    std::string programDirectory;
};

bool isReadableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(path.c_str(), R_OK) == 0;
}

// The sound theme's names for a bare file name: its stem, and for the Windows
// new-mail sound (what an empty sound setting is saved as) the theme's own.
std::vector<std::string> themeNames(const std::string& file) {
    const std::string stem = file.substr(0, file.rfind('.'));
    std::vector<std::string> names;
    if (!stem.empty())
        names.push_back(stem);
    if (stem == "newmail")
        names.push_back("message-new-email");
    return names;
}

// Plays one request at a time on its own thread. libcanberra is called from
// that thread only; it reports the end of a sound on a thread of its own,
// which takes only m_doneMutex.
class Player {
public:
    bool submit(Request request) {
        if (m_busy.exchange(true))
            return false;
        {
            std::lock_guard lock(m_requestMutex);
            m_request = std::move(request);
            if (!m_started) {
                std::thread([this] { run(); }).detach();
                m_started = true;
            }
        }
        m_requestReady.notify_one();
        return true;
    }

    bool busy() const { return m_busy.load(); }

private:
    void run() {
        for (;;) {
            Request request;
            {
                std::unique_lock lock(m_requestMutex);
                m_requestReady.wait(lock, [this] { return m_request.has_value(); });
                request = std::move(*m_request);
                m_request.reset();
            }
            announce(request);
            m_busy.store(false);
        }
    }

    void announce(const Request& request) {
        if (!request.bell && playFile(request.file, request.programDirectory))
            return;
        if (!play(CA_PROP_EVENT_ID, "bell-window-system"))
            desktopBeep();
    }

    bool playFile(const std::string& file, const std::string& programDirectory) {
        if (file.empty())
            return false;
        if (file.find('/') != std::string::npos)
            return isReadableFile(file) && play(CA_PROP_MEDIA_FILENAME, file);
        const std::string local = programDirectory + file;
        if (isReadableFile(local) && play(CA_PROP_MEDIA_FILENAME, local))
            return true;
        for (const std::string& name : themeNames(file))
            if (play(CA_PROP_EVENT_ID, name))
                return true;
        return false;
    }

    // Plays the sound that property names and waits for its end; false when
    // it could not be played.
    bool play(const char* property, const std::string& value) {
        ca_context* context = open();
        if (!context)
            return false;
        ca_proplist* props = nullptr;
        if (ca_proplist_create(&props) != CA_SUCCESS)
            return false;
        ca_proplist_sets(props, property, value.c_str());
        ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
        const uint32_t id = ++m_lastId;
        {
            std::lock_guard lock(m_doneMutex);
            m_playing = id;
            m_finished = false;
            m_error = CA_SUCCESS;
        }
        const int rc = ca_context_play_full(context, id, props, &Player::finished, this);
        ca_proplist_destroy(props);
        if (rc != CA_SUCCESS) {
            // A missing or bad sound says nothing about the service.
            if (rc != CA_ERROR_NOTFOUND && rc != CA_ERROR_CORRUPT && rc != CA_ERROR_NOTSUPPORTED)
                fail();
            return false;
        }
        std::unique_lock lock(m_doneMutex);
        if (!m_done.wait_for(lock, kLongestSound, [this] { return m_finished; })) {
            lock.unlock();
            ca_context_cancel(context, id);
            return false;
        }
        return m_error == CA_SUCCESS;
    }

    static void finished(ca_context*, uint32_t id, int error, void* userdata) {
        auto* self = static_cast<Player*>(userdata);
        std::lock_guard lock(self->m_doneMutex);
        if (id != self->m_playing)
            return;
        self->m_finished = true;
        self->m_error = error;
        self->m_done.notify_all();
    }

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

    // Drops the context, so that a later call opens a fresh one, and holds off
    // for kRetryDelay.
    void fail() {
        m_retryAfter = Clock::now() + kRetryDelay;
        if (m_context) {
            ca_context_destroy(m_context);
            m_context = nullptr;
        }
    }

    // The window system's bell, rung on the user-interface thread.
    static void desktopBeep() {
        QCoreApplication* app = QCoreApplication::instance();
        if (qobject_cast<QApplication*>(app))
            handoff::post(app, [] { QApplication::beep(); });
    }

    std::atomic<bool> m_busy{false};
    std::mutex m_requestMutex;
    std::condition_variable m_requestReady;
    std::optional<Request> m_request;
    bool m_started = false;

    // The playing thread's own.
    ca_context* m_context = nullptr;
    Clock::time_point m_retryAfter{};
    uint32_t m_lastId = 0;

    std::mutex m_doneMutex;
    std::condition_variable m_done;
    uint32_t m_playing = 0;
    bool m_finished = false;
    int m_error = CA_SUCCESS;
};

// Lives as long as the process: its thread may still be sounding at exit.
Player& player() {
    static Player* instance = new Player;
    return *instance;
}

} // namespace

bool announceFile(const std::string& file, const std::string& programDirectory) {
    return player().submit(Request{false, file, programDirectory});
}

bool announceBell() {
    return player().submit(Request{true, {}, {}});
}

bool announcing() {
    return player().busy();
}

} // namespace sound
