#pragma once
// The trap listener thread: its own SNMP session on UDP port 162, registered
// for the enterprises of VDTrap.ini, turning each notification into a new
// AlertRecord handed to a sink on the listener thread. A second thread of the
// session only copies datagrams off the socket, so that a burst is not lost
// while the listener parses.

#include "alert_record.h"
#include "snmp.h"

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

// What the notification callback reads: the registered enterprises, the same
// with ".19" appended, and where records go.
struct TrapRegistration {
    std::list<std::string> registered;
    std::list<std::string> suffixed;
    TrapSink sink;
    // Identifiers that the ".0." rule cannot key, each with the key it takes
    // ([NotificationKeys] of VDTrap.ini, written by the definitions import).
    std::unordered_map<std::string, std::string> notificationKeys;
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

    // Before start(): where losses are reported, and the receive buffer.
    void setLossNotifier(TrapLossNotifier onLoss) { m_onLoss = std::move(onLoss); }
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
        std::vector<Oid> prefixes;
    };
    // The lists VDTrap.ini gives now; result as ReadKeyList's.
    int readRegistration(Registered& out) const;
    std::shared_ptr<const Registered> currentRegistration() const;
    // The session's callback: notifications whose identifier starts with a
    // registered prefix go on to OnTrapNotification with the current lists.
    static void OnRegisteredNotification(int reason, Snmp* session, Pdu& pdu, SnmpTarget& target, void* data);

    void run();
    int registerSession();
    void setOutcome(int outcome);

    std::string m_programDir;
    TrapFailureNotifier m_onFailure;
    TrapLossNotifier m_onLoss;
    int m_receiveBuffer = kTrapReceiveBuffer;
    std::size_t m_receiveQueue = Snmp::kDefaultReceiveQueue;
    std::uint16_t m_port;
    TrapSink m_sink;
    mutable std::mutex m_registrationMutex;
    std::shared_ptr<const Registered> m_registered; // under m_registrationMutex
    std::unique_ptr<Snmp> m_session;
    std::thread m_thread;
    std::string m_failureReason; // listener thread only

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_outcomeKnown = false;
    int m_outcome = -1;
};
