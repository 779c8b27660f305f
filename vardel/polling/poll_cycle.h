#pragma once
// The poll cycle: one asynchronous GET per managed server, the two verdicts
// kept per server (does its agent answer, does its host answer an echo), and
// the state-change alerts raised when a verdict changes. Free of widgets and
// threads: the status grid, the SNMP session and the echo probe come in
// through the small interfaces below.
//
// An echo probe takes seconds; it runs elsewhere and its result comes back
// later. So that each server's states, alerts and cells follow one another
// exactly as if the probe had been waited for, a server is "settling" from
// the moment its agent's silence arrives until that handling has ended:
// whatever else concerns it meanwhile (a new cycle, a trap) waits and runs
// right after, in arrival order. Silences are handled one at a time.

#include "snmp/snmp.h"
#include "vardel/store/config_store.h"
#include "vardel/store/console_settings.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The Server Status tab's cells as the poll cycle writes them.
class StatusCells {
public:
    virtual ~StatusCells() = default;
    virtual void MarkAllChecking(const std::string& text) = 0;
    // The one server's SNMP Status and Polling cells, as MarkAllChecking does.
    virtual void MarkServerChecking(const std::string& serverName, const std::string& text) = 0;
    virtual void SetSnmpStatusCell(const std::string& serverName, const std::string& text) = 0;
    virtual void SetPollStatusCell(const std::string& serverName, const std::string& text) = 0;
    virtual void SetLastPollTime(const std::string& text) = 0;
};

// The polling SNMP session.
class PollSession {
public:
    virtual ~PollSession() = default;
    // One asynchronous GET; done runs later on this thread with the callback
    // reason (-6 answered, -5 timed out). The result of the call itself is the
    // layer's.
    virtual int get(const Pdu& pdu, const SnmpTarget& target, std::function<void(int reason)> done) = 0;
};

// Echo probes of a host, one at a time.
class EchoProbe {
public:
    virtual ~EchoProbe() = default;
    // Probes the host at address (an IPX address when ipx) and calls done
    // later on this thread with 0 (it answered) or -1.
    virtual void probe(const std::string& address, bool ipx, std::function<void(int result)> done) = 0;
};

using StateAlertRaiser =
    std::function<int(const std::string& serverName, const std::string& state, int source)>;

struct PollCycleContext {
    ServerList& servers;
    ConsoleSettings& settings; // retry, timeout, lastPollTime
    StatusCells& cells;
    PollSession& session;
    EchoProbe& echo;
    // RaiseStateAlert and what follows it (count, show, log).
    StateAlertRaiser raiseStateAlert;
    // Runs work once the events already waiting have been handled; empty: a
    // cycle issues all its requests in one go.
    std::function<void(std::function<void()> work)> later = {};
};

// The identifier every poll asks for.
inline constexpr const char* kPollOid = "1.3.6.1.2.1.1.2";

class PollCycle {
public:
    explicit PollCycle(PollCycleContext context) : m_ctx(std::move(context)) {}

    // Timer 500: the first cycle.
    void OnFirstPollTimer();
    // Timer 998 (its re-arming is the caller's): the label and lastPollTime get
    // now, every server's cells "Checking....", then a cycle.
    void OnPollTimer(const std::string& now);

    int PollAllServers();
    // The one server of that name, unless its request is outstanding.
    void PollServer(const std::string& serverName);
    void OnPollResponse(int reason, const std::string& address);

    // The four result handlers, by the server's address text.
    int OnAgentAnswered(const std::string& address);   // WM_USER+1500
    int OnAgentSilent(const std::string& address);     // WM_USER+2000
    int OnHostReachable(const std::string& address);   // WM_USER+2500
    int OnHostUnreachable(const std::string& address); // WM_USER+3000
    // The agent answered but refused the SNMPv3 request (snmpIsRefusal):
    // DOWN, its host reachable, the refusal kept in the server.
    int OnAgentRefused(const std::string& address, int refusal);

    // Probes the server's host and hands the verdict to OnHostReachable or
    // OnHostUnreachable; then runs `then`.
    void PingServer(const std::string& serverName, std::function<void()> then);

    // Runs work now, or, while the server with this address is settling, right
    // after it has settled.
    void whenSettled(const std::string& address, std::function<void()> work);
    bool isSettling(const std::string& serverName) const { return m_held.count(serverName) != 0; }

    // The list's owner calls this after editing the server list (adding,
    // removing or changing a server's name or addresses).
    void OnServerListChanged() { m_indexed = false; }

private:
    struct Silence {
        std::string name;
        std::string address;
    };
    void issue(ManagedServer& server, const Pdu& pdu);
    void issueFrom(const std::shared_ptr<std::vector<std::string>>& names, std::size_t first);
    void startSilence(const Silence& silence);
    void finishSilence(const Silence& silence, const std::string& oldSnmpStatus);
    void hold(const std::string& serverName, std::function<void()> work);
    // The list's look-ups (first match in list order; addresses without regard
    // to case, names exactly) through an index, so that a cycle over many
    // servers does not walk the list for every result.
    ManagedServer* serverAt(const std::string& address);
    ManagedServer* serverNamed(const std::string& name);
    void reindex();

    PollCycleContext m_ctx;
    bool m_probing = false;
    std::deque<Silence> m_silences;
    // Settling servers and the work waiting for each.
    std::map<std::string, std::deque<std::function<void()>>> m_held;
    bool m_indexed = false;
    std::size_t m_indexedSize = 0;
    std::unordered_map<std::string, ManagedServer*> m_byAddress; // lower-case address
    std::unordered_map<std::string, ManagedServer*> m_byName;
};
