#pragma once
// The trap listener thread: its own SNMP session on UDP port 162, registered
// for the enterprises of VDTrap.ini, turning each notification into a new
// AlertRecord handed to a sink on the listener thread. A second thread of the
// session only copies datagrams off the socket, so that a burst is not lost
// while the listener parses.

#include "snmp/snmp.h"
#include "vardel/alerts/alert_record.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Receives each new record on the listener thread (the main window posts it
// to itself as a QEvent::User + 1000 event). False when it could not take the
// record (its queue is full): the trap then counts as lost.
using TrapSink = std::function<bool(std::unique_ptr<AlertRecord>)>;
// Called on the listener thread when registration fails, after the reason went
// to standard error as one line; the thread then ends.
using TrapFailureNotifier = std::function<void()>;
// Called on the listener thread, once per burst, with the number of traps
// lost: dropped by the kernel or the receiving queue before the listener could
// read them, or refused by the sink.
using TrapLossNotifier = std::function<void(std::uint64_t lost)>;

// The receive buffer the listener asks for (net.core.rmem_max caps it for a
// process without CAP_NET_ADMIN).
inline constexpr int kTrapReceiveBuffer = 32 * 1024 * 1024;

// The enterprise of the standard traps: the v1 generic traps 0-5 arrive as
// snmpTraps.1-6 (RFC 3584), SNMPv2-MIB's and IF-MIB's notifications are there.
inline constexpr const char* kSnmpTrapsEnterprise = "1.3.6.1.6.3.1.1.5";
// 1-6 for a standard trap's identifier (coldStart .. egpNeighborLoss), else 0.
int StandardTrapNumber(const Oid& notifyId);

// A switch that one thread sets and another reads; copied by value.
class TrapSwitch {
public:
    TrapSwitch() = default;
    TrapSwitch(const TrapSwitch& other) : m_on(other.on()) {}
    TrapSwitch& operator=(const TrapSwitch& other) {
        set(other.on());
        return *this;
    }
    bool on() const { return m_on.load(std::memory_order_relaxed); }
    void set(bool on) { m_on.store(on, std::memory_order_relaxed); }

private:
    std::atomic<bool> m_on{false};
};

// What the notification callback reads: the registered enterprises, the same
// with ".19" appended, and where records go.
struct TrapRegistration {
    std::list<std::string> registered;
    std::list<std::string> suffixed;
    TrapSink sink;
    // Identifiers that the ".0." rule cannot key, each with the key it takes
    // ([NotificationKeys] of VDTrap.ini, written by the definitions import).
    std::unordered_map<std::string, std::string> notificationKeys;
    // The identifiers taken in through a listed enterprise: those under one of
    // these (all when empty). The session itself takes every notification, so
    // that the lists can be refreshed and the receptions below switched while
    // it runs.
    std::vector<Oid> prefixes;
    // Advanced Options, set from the user-interface thread at any time.
    TrapSwitch receiveStandard;
    TrapSwitch showUnclassified;
    // Where the names of unclassified traps come from: every MIB module of
    // these folders (definitions::NameSearchPath).
    std::vector<std::string> mibFolders;
};

// The key of notifyId when registration lists it among its notification keys
// and that key is one of enterprise's; false otherwise.
bool NotificationKeyOf(const std::string& enterprise, const std::string& notifyId, std::string& trapKey,
                       const TrapRegistration& registration);

// Writes enterprise + "." + the text after the first ".0." of notifyId into
// trapKey. An enterprise listed with ".19" loses that suffix in place; one
// that is not listed, or an identifier without ".0.", gives -1.
int BuildTrapKey(std::string& enterprise, const std::string& notifyId, std::string& trapKey,
                 const TrapRegistration& registration);

// Notification callback of the listener's session; data is the TrapRegistration.
// Handles reason -7 only: fills a new record and hands it to the sink.
void OnTrapNotification(int reason, Snmp* session, Pdu& pdu, SnmpTarget& target, void* data);

class TrapListenerThread {
public:
    // programDir ends with '/'; VDTrap.ini is read from it.
    TrapListenerThread(std::string programDir, TrapSink sink, TrapFailureNotifier onFailure,
                       std::uint16_t port = 162);
    ~TrapListenerThread();
    TrapListenerThread(const TrapListenerThread&) = delete;
    TrapListenerThread& operator=(const TrapListenerThread&) = delete;

    // The two opt-in receptions ("Receive standard traps", "Show unclassified
    // traps"); any thread, at any time, from the next trap on.
    void setReceptions(bool receiveStandard, bool showUnclassified);

    // Before start(): where losses are reported, and the receive buffer.
    void setLossNotifier(TrapLossNotifier onLoss) { m_onLoss = std::move(onLoss); }
    // Before start(): where the SNMPv3 messages refused by sender go, once per
    // burst, on the listener thread.
    void setRefusalNotifier(std::function<void(const std::vector<UsmRefusals>&)> onRefusal) {
        m_onRefusal = std::move(onRefusal);
    }
    void setReceiveBuffer(int bytes) { m_receiveBuffer = bytes; }
    // The most bytes of datagrams that wait in memory for the listener.
    void setReceiveQueue(std::size_t bytes) { m_receiveQueue = bytes; }

    void start();
    // Blocks until registration has succeeded (0) or failed (-1).
    int waitForRegistration();
    // Ends the session's loop, joins the thread and closes the session.
    void stop();
    // The listener's session once registration has succeeded, else nullptr:
    // its socket's figures (tests, benchmarks).
    Snmp* session();
    // Re-reads VDTrap.ini and puts its enterprises and notification keys in
    // place of those registered; any thread. A trap being taken meanwhile
    // goes by the old lists or by the new ones. 0, or the result of reading
    // the enterprise list (the lists are then empty and every trap dropped).
    int refreshRegistration();

private:
    // One set of lists, the enterprises' identifiers with them; replaced
    // whole by refreshRegistration.
    struct Registered {
        TrapRegistration registration;
    };
    // The lists VDTrap.ini gives now; result as ReadKeyList's.
    int readRegistration(Registered& out) const;
    std::shared_ptr<Registered> currentRegistration() const;
    // Makes fresh the registration in force, with the receptions as set.
    void install(std::shared_ptr<Registered> fresh);
    // The session's callback: OnTrapNotification with the lists in force.
    static void OnRegisteredNotification(int reason, Snmp* session, Pdu& pdu, SnmpTarget& target, void* data);

    void run();
    int registerSession();
    void setOutcome(int outcome);

    std::string m_programDir;
    TrapFailureNotifier m_onFailure;
    TrapLossNotifier m_onLoss;
    std::function<void(const std::vector<UsmRefusals>&)> m_onRefusal;
    int m_receiveBuffer = kTrapReceiveBuffer;
    std::size_t m_receiveQueue = Snmp::kDefaultReceiveQueue;
    std::uint16_t m_port;
    TrapSink m_sink;
    mutable std::mutex m_registrationMutex;
    std::shared_ptr<Registered> m_registered; // under m_registrationMutex
    bool m_receiveStandard = false;           // under m_registrationMutex
    bool m_showUnclassified = false;          // under m_registrationMutex
    std::unique_ptr<Snmp> m_session;
    std::thread m_thread;
    std::string m_failureReason; // listener thread only

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_outcomeKnown = false;
    int m_outcome = -1;
};
