#include "vardel/alerts/unknown_senders.h"

#include <algorithm>

void UnknownSenders::count(const std::string& address, const std::string& trap, const std::string& time) {
    auto it = m_index.find(address);
    if (it == m_index.end()) {
        if (m_senders.size() >= kMostSenders) {
            const auto stale = std::min_element(m_senders.begin(), m_senders.end(),
                                                [](const auto& a, const auto& b) { return a.seen < b.seen; });
            forget(stale->address);
        }
        it = m_index.emplace(address, m_senders.size()).first;
        m_senders.push_back(UnknownSender{address, 0, {}, {}, 0});
    }
    UnknownSender& sender = m_senders[it->second];
    sender.count += 1;
    sender.lastTrap = trap;
    sender.lastTime = time;
    sender.seen = ++m_seen;
    if (changed)
        changed();
}

void UnknownSenders::forget(const std::string& address) {
    const auto it = m_index.find(address);
    if (it == m_index.end())
        return;
    m_senders.erase(m_senders.begin() + static_cast<std::ptrdiff_t>(it->second));
    m_index.clear();
    for (std::size_t i = 0; i < m_senders.size(); ++i)
        m_index.emplace(m_senders[i].address, i);
    if (changed)
        changed();
}
