#pragma once
// What the main window does with a new alert: the WM_USER+1000 handling of a
// trap alert and the follow-up of a state-change alert.

#include "vardel/alerts/alert_record.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/unknown_senders.h"
#include "vardel/store/config_store.h"
#include "vardel/store/console_settings.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>

// Outstanding-alert codes.
inline constexpr int kAlertCountAdd = 300;
inline constexpr int kAlertCountRemove = 400;

// The per-server count of outstanding alerts (the Server Status tab).
class AlertCounter {
public:
    virtual ~AlertCounter() = default;
    // 300 adds one, 400 takes one away (never below 0).
    virtual void AdjustAlertCount(const std::string& serverName, int code) = 0;
    virtual void ResetAlertCounts() = 0;
};

// The counts kept in the servers' outstandingAlerts.
class ServerListAlertCounter : public AlertCounter {
public:
    explicit ServerListAlertCounter(ServerList& servers) : m_servers(servers) {}
    void AdjustAlertCount(const std::string& serverName, int code) override;
    void ResetAlertCounts() override;

private:
    ServerList& m_servers;
};

// Where a new alert is shown and logged (the notify window).
class AlertDisplay {
public:
    virtual ~AlertDisplay() = default;
    virtual int ShowAlert(int sequence) = 0;
    virtual int AppendToLog(const std::string& logPath, int sequence) = 0;
    // A new alert kept from popping up (snooze, quiet hours): the totals
    // follow it, the alert on display stays.
    virtual void ShowAlertQuietly(int /*sequence*/) {}
    // The store is at its ceiling and drops its oldest alerts from memory.
    virtual void ShowCeilingReached(std::int32_t /*ceiling*/) {}
};

// The polling side of a trap's proof of life, called synchronously.
class LivenessHooks {
public:
    virtual ~LivenessHooks() = default;
    // WM_USER+2500: the host at this address answered an echo.
    virtual void hostReachable(const std::string& address) = 0;
    // WM_USER+1500: the agent at this address answered a poll.
    virtual void agentAnswered(const std::string& address) = 0;
    // Shows an SNMP status in the server's SNMP-status and status cells.
    virtual void showSnmpStatus(const std::string& serverName, const std::string& status) = 0;
};

// Acknowledges a stored alert for user: the alert stops counting against its
// server (code 400) and the log gains its acknowledgement block. The store's
// result (0 done, 1 already acknowledged, -1 no such alert).
int AcknowledgeAlert(AlertStore& store, AlertCounter& counter, const std::string& logPath,
                     std::uint64_t alertId, const std::string& user);

struct AlertArrivalContext {
    AlertStore& store;
    ServerList& servers;
    const ConsoleSettings& settings; // playSound, soundFile, logPath
    AlertCounter& counter;
    AlertDisplay& display;
    LivenessHooks& liveness;
};

class AlertArrival {
public:
    // Takes the store's dropped alerts off their servers' counts, and says
    // once in the log and the display that the ceiling was reached.
    explicit AlertArrival(AlertArrivalContext context);
    ~AlertArrival();
    AlertArrival(const AlertArrival&) = delete;
    AlertArrival& operator=(const AlertArrival&) = delete;

    // WM_USER+1000: takes the record posted by the trap thread. A record from
    // an address no managed server has is deleted (with "Show unclassified
    // traps", counted in unknownSenders first), and so is one of a reception
    // that was switched off meanwhile. Returns the alert's sequence, or 0
    // when it was dropped.
    int OnTrapAlert(std::unique_ptr<AlertRecord> record);

    // OnTrapAlert for the records of a burst, oldest first, until the clock
    // reaches `until` (at least one) or `most` were taken; their log blocks
    // are appended together. Returns how many were taken from the front.
    std::size_t OnTrapAlerts(std::deque<std::unique_ptr<AlertRecord>>& records,
                             std::chrono::steady_clock::time_point until,
                             std::size_t most = std::numeric_limits<std::size_t>::max());

    // OnTrapAlerts hands each record to `deliver` instead of OnTrapAlert (which
    // deliver calls, now or later).
    void setDelivery(std::function<void(std::unique_ptr<AlertRecord>)> deliver) {
        m_deliver = std::move(deliver);
    }

    // Datagrams were dropped before the listener could read them: a block in
    // the log and a line on standard error say how many.
    void OnTrapsLost(std::uint64_t lost);

    // A server's change of state found by polling: state "UP" or "DOWN",
    // source 1000 (network) or 2000 (agent). Stores, counts, shows and logs
    // the alert; returns its sequence.
    int RaiseStateAlert(const std::string& serverName, const std::string& state, int source);

    // An alert the console made itself (a flapping server): stored, counted,
    // shown and logged as a state-change alert. Returns its sequence, -1 for null.
    int RaiseConsoleAlert(std::unique_ptr<AlertRecord> record);

    UnknownSenders& unknownSenders() { return m_unknownSenders; }

    // The v1/v2c traps dropped since the last call, by sender address: a
    // community not the server's (with the check on), or a "v3 only" server.
    std::map<std::string, std::uint64_t> takeDroppedBySender();
    bool hasDropped() const { return !m_dropped.empty(); }

private:
    // ShowAlert and AppendToLog, or, for an alert kept from popping up, the
    // totals and its block with its own severity.
    void showAndLog(int sequence);
    bool refusedBySender(const AlertRecord& record, const std::string& serverName);
    std::map<std::string, std::uint64_t> m_dropped;

    void onAlertDropped(const AlertRecord& dropped, bool first);

    AlertArrivalContext m_ctx;
    UnknownSenders m_unknownSenders;
    std::function<void(std::unique_ptr<AlertRecord>)> m_deliver;
};
