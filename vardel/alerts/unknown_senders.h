#pragma once
// Traps from addresses that are not in the server list ("Show unclassified
// traps"): counted per sender, never shown as alerts.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

struct UnknownSender {
    std::string address;
    std::uint64_t count = 0;
    std::string lastTrap;   // the notification's name, else its trap key
    std::string lastTime;   // date and time text of the last one
    std::uint64_t seen = 0; // order of the last trap among all senders
};

class UnknownSenders {
public:
    // Senders kept; a new one beyond them replaces the one heard from least recently.
    static constexpr std::size_t kMostSenders = 1000;

    void count(const std::string& address, const std::string& trap, const std::string& time);
    // First heard first.
    const std::vector<UnknownSender>& senders() const { return m_senders; }
    // A sender that became a managed server.
    void forget(const std::string& address);
    // Told after every change (a shown list refreshes).
    std::function<void()> changed;

private:
    std::vector<UnknownSender> m_senders;
    std::unordered_map<std::string, std::size_t> m_index; // address -> position
    std::uint64_t m_seen = 0;
};
