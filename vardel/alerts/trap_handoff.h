#pragma once
// The records on their way from the trap listener thread to the
// user-interface thread: at most a limit of them wait, so that a storm the
// user-interface thread cannot keep up with costs traps, not all memory.

#include "vardel/alerts/alert_record.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

// Records waiting at most: at about 30,000 handled per second, three seconds
// of backlog (some 60 MB).
inline constexpr std::size_t kTrapHandoffLimit = 100000;

class TrapHandoff {
public:
    explicit TrapHandoff(std::size_t limit = kTrapHandoffLimit) : m_limit(limit) {}

    // Listener thread: queues the record, false (the record deleted) when
    // `limit` records wait already. wake: nothing waited before (the
    // receiving side must be woken).
    bool push(std::unique_ptr<AlertRecord> record, bool& wake);
    // User-interface thread: moves what is queued to the end of out. The
    // records still count against the limit until handled() says so.
    void take(std::deque<std::unique_ptr<AlertRecord>>& out);
    void handled(std::size_t count);
    std::size_t waiting() const { return m_waiting.load(); }

private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_waiting{0};
    std::mutex m_mutex;
    std::deque<std::unique_ptr<AlertRecord>> m_queue;
};
