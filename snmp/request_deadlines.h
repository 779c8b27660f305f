#pragma once
// When the outstanding attempts of a session's requests time out. Attempts
// with the same time-out fall due in the order they were sent, so each
// time-out value keeps one first-in first-out queue and the earliest deadline
// is the earliest of the queues' fronts: sending, answering and expiring
// cost O(1) each, however many attempts are outstanding. An answered attempt
// leaves its entry behind; entries the caller no longer knows as live are
// dropped as they reach a front.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>

namespace snmp_detail {

class RequestDeadlines {
public:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point due;
        long requestId;
        std::uint64_t attempt; // tells the attempts of one request apart
    };

    // An attempt sent (or lost) now that times out after timeoutUs.
    void add(Clock::time_point now, long timeoutUs, long requestId, std::uint64_t attempt) {
        m_queues[timeoutUs].push_back(Entry{now + std::chrono::microseconds(timeoutUs), requestId, attempt});
    }

    // The earliest deadline of a live entry; live(entry) tells whether its
    // attempt is still outstanding.
    template <typename Live> std::optional<Clock::time_point> earliest(Live live) {
        std::optional<Clock::time_point> first;
        for (auto it = m_queues.begin(); it != m_queues.end();) {
            std::deque<Entry>& queue = it->second;
            while (!queue.empty() && !live(queue.front()))
                queue.pop_front();
            if (queue.empty()) {
                it = m_queues.erase(it);
                continue;
            }
            if (!first || queue.front().due < *first)
                first = queue.front().due;
            ++it;
        }
        return first;
    }

    // Takes every entry due at or before now off its queue and hands it to
    // expire (stale ones included: expire checks them).
    template <typename Expire> void takeDue(Clock::time_point now, Expire expire) {
        for (auto it = m_queues.begin(); it != m_queues.end();) {
            std::deque<Entry>& queue = it->second;
            while (!queue.empty() && queue.front().due <= now) {
                const Entry entry = queue.front();
                queue.pop_front();
                expire(entry);
            }
            it = queue.empty() ? m_queues.erase(it) : std::next(it);
        }
    }

    void clear() { m_queues.clear(); }

private:
    std::map<long, std::deque<Entry>> m_queues; // by time-out in microseconds
};

} // namespace snmp_detail
