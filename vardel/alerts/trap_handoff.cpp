#include "vardel/alerts/trap_handoff.h"

bool TrapHandoff::push(std::unique_ptr<AlertRecord> record, bool& wake) {
    wake = false;
    // Only this thread adds, so the count cannot pass the limit meanwhile.
    if (m_waiting.load() >= m_limit)
        return false;
    m_waiting.fetch_add(1);
    std::lock_guard lock(m_mutex);
    wake = m_queue.empty();
    m_queue.push_back(std::move(record));
    return true;
}

void TrapHandoff::take(std::deque<std::unique_ptr<AlertRecord>>& out) {
    std::lock_guard lock(m_mutex);
    if (out.empty()) {
        out.swap(m_queue);
        return;
    }
    for (auto& record : m_queue)
        out.push_back(std::move(record));
    m_queue.clear();
}

void TrapHandoff::handled(std::size_t count) {
    m_waiting.fetch_sub(count);
}
