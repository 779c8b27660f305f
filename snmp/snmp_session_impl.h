#pragma once
// The session's state shared by the files of the layer: the request engine
// (snmp_session.cpp), the in-memory receiver (snmp_receiver.cpp) and the
// conversions to and from Net-SNMP (snmp_convert.cpp). Not part of the
// interface that the console uses.

// Net-SNMP names its own callback type snmp_callback; keep that name for ours.
#define snmp_callback netsnmp_snmp_callback
#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpUDPDomain.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#undef snmp_callback

#include "snmp/request_deadlines.h"
#include "snmp/snmp.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace snmp_detail {

// The notification's sender as Net-SNMP's transport saw it (network byte order).
bool senderOf(const netsnmp_pdu* pdu, std::uint32_t& ip, std::uint16_t& port);
// The same for a message that came through the IPv6 socket.
bool sender6Of(const netsnmp_pdu* pdu, unsigned char (&ip)[16], std::uint16_t& port);
// A Pdu of a received TRAP, TRAP2 or INFORM; false for anything else.
bool notificationFrom(const netsnmp_pdu* pdu, Pdu& out);
Vb vbFrom(const netsnmp_variable_list* v);
// Adds one binding to a request; a get carries no values.
int addBinding(netsnmp_pdu* message, const Vb& vb, bool withValue);

// SNMPv3 (snmp_usm.cpp). Net-SNMP's USM state is global: once v3 is on, every
// build and parse holds this lock (it holds nothing while v3 is off).
std::unique_lock<std::recursive_mutex> usmLock();
// A request discovered the engine of the agent at peerOctets:port (the
// address's 4 or 16 octets in network order).
void learnEngine(const std::string& peerOctets, std::uint16_t port, const std::string& engineId);
std::string knownEngine(const std::string& peerOctets, std::uint16_t port);
// The usmStats counters now.
UsmRefusals countersNow();
// Sets a v3 message's security and context engine (snmp_inbound.cpp).
void setEngine(netsnmp_pdu* message, const std::string& engineId);
// Session creation and release touch Net-SNMP's global session bookkeeping
// (snmp_transports.cpp).
std::mutex& sessionMutex();

// Datagrams copied off a socket, packed in chunks: each is a header and its
// bytes. One thread appends, the session's driving thread takes whole chunks.
// What waits is bounded: a datagram that would take it past the limit is
// dropped and counted.
class DatagramQueue {
public:
    struct Header {
        std::uint32_t length;
        std::uint32_t fromIp; // network order
        std::uint32_t toIp;   // network order
        std::int32_t ifIndex;
        std::uint16_t fromPort; // host order
    };
    static constexpr std::size_t kChunkBytes = 256 * 1024;

    void setLimit(std::size_t bytes) { m_limit = bytes; }
    // Datagrams appended and dropped for want of room, so far.
    std::uint64_t appended() const { return m_appended.load(std::memory_order_relaxed); }
    std::uint64_t overflowed() const { return m_overflowed.load(std::memory_order_relaxed); }

    // Appends under the lock; true when the queue was empty before.
    template <typename Each> bool append(int count, Each each) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool wasEmpty = m_chunks.empty();
        std::uint64_t dropped = 0;
        for (int i = 0; i < count; ++i) {
            Header h{};
            const unsigned char* data = nullptr;
            each(i, h, data);
            if (m_bytes + sizeof h + h.length > m_limit) {
                ++dropped;
                continue;
            }
            m_bytes += sizeof h + h.length;
            if (m_chunks.empty() || m_chunks.back().size() >= kChunkBytes) {
                m_chunks.emplace_back();
                m_chunks.back().swap(m_spare);
                m_chunks.back().reserve(kChunkBytes + 2048);
            }
            std::vector<unsigned char>& chunk = m_chunks.back();
            const std::size_t at = chunk.size();
            chunk.resize(at + sizeof h + h.length);
            std::memcpy(chunk.data() + at, &h, sizeof h);
            if (h.length > 0)
                std::memcpy(chunk.data() + at + sizeof h, data, h.length);
        }
        m_overflowed.fetch_add(dropped, std::memory_order_relaxed);
        m_appended.fetch_add(static_cast<std::uint64_t>(count) - dropped, std::memory_order_relaxed);
        return wasEmpty && !m_chunks.empty();
    }
    // Moves the oldest chunk into out; false when nothing waits. What out
    // held (read to its end) is kept to hold later datagrams.
    bool take(std::vector<unsigned char>& out) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_chunks.empty())
            return false;
        out.clear();
        out.swap(m_chunks.front());
        m_bytes -= out.size();
        if (m_chunks.front().capacity() > m_spare.capacity())
            m_spare.swap(m_chunks.front());
        m_chunks.pop_front();
        return true;
    }

private:
    std::mutex m_mutex;
    std::deque<std::vector<unsigned char>> m_chunks;
    std::vector<unsigned char> m_spare;
    std::size_t m_bytes = 0; // in m_chunks
    std::size_t m_limit = SIZE_MAX;
    std::atomic<std::uint64_t> m_appended{0};
    std::atomic<std::uint64_t> m_overflowed{0};
};

} // namespace snmp_detail

struct Snmp::Impl {
    struct SyncResult {
        bool done = false;
        int status = kSnmpError;
        Pdu* pdu = nullptr;
    };
    struct Request {
        netsnmp_pdu* message = nullptr; // kept to send again on a retry
        long requestId = 0;
        std::uint64_t attempt = 0; // the number of its latest attempt among the session's
        std::unique_ptr<SnmpTarget> target;
        int attemptsLeft = 1;
        long timeoutUs = 1000000;
        snmp_callback callback = nullptr;
        void* data = nullptr;
        SyncResult* sync = nullptr;
        // The responder an answer must come from (network byte order, port).
        std::uint32_t peerIp = 0;
        std::uint16_t peerPort = 0;
        // Over IPX: the responder's network and node, peerPort its socket.
        bool overIpx = false;
        unsigned char peerIpx[10] = {};
        // False when the session has no transport for the address (IPX on a
        // machine without it).
        bool deliverable = true;
        // Over the IPv6 socket: the responder's address, peerPort its port.
        bool overUdp6 = false;
        unsigned char peerIp6[16] = {};
        // SNMPv3: while the agent's engine is unknown, the attempts are the
        // discovery probe; a report of a time-window miss is retried once.
        bool v3 = false;
        bool discovering = false;
        bool timeRetried = false;
        netsnmp_pdu* probe = nullptr;
        // The responder's address octets, the key of its learnt engine.
        std::string peerOctets() const {
            return overUdp6 ? std::string(reinterpret_cast<const char*>(peerIp6), sizeof peerIp6)
                            : std::string(reinterpret_cast<const char*>(&peerIp), sizeof peerIp);
        }
        ~Request() {
            if (message != nullptr)
                snmp_free_pdu(message);
            if (probe != nullptr)
                snmp_free_pdu(probe);
        }
    };
    struct Event {
        int reason;
        snmp_callback callback;
        void* data;
        Pdu pdu;
        std::unique_ptr<SnmpTarget> target;
    };

    Snmp* owner = nullptr;
    void* sessp = nullptr;
    int fd = -1;
    // The IPX session and its socket, when the machine has IPX.
    void* ipxSessp = nullptr;
    int ipxFd = -1;
    // The IPv6 session and its socket.
    void* udp6Sessp = nullptr;
    int udp6Fd = -1;
    int udp6Status = kSnmpUnsupported;
    int wakeFd = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stopRequested{false};
    bool closing = false;
    netsnmp_large_fd_set fdset{};
    bool fdsetReady = false;

    // Every outstanding attempt, by request id: sent, or lost (it could not
    // be sent, and waits out its time-out as a lost datagram would). Net-SNMP
    // keeps none of them: its list of outstanding requests is walked whole on
    // every look at it.
    using Clock = std::chrono::steady_clock;
    std::unordered_map<long, std::unique_ptr<Request>> requests;
    mutable snmp_detail::RequestDeadlines deadlines;
    std::uint64_t attemptsMade = 0;
    std::deque<std::unique_ptr<Request>> retries;
    std::deque<Event> events;

    bool registered = false;
    OidCollection notifyIds;
    TargetCollection notifyTargets;
    snmp_callback notifyCallback = nullptr;
    void* notifyData = nullptr;
    std::function<void()> scheduleHook;

    // In-memory receiving: the queue, the datagram being parsed, the thread
    // that fills the queue and what it learnt of the kernel's drops.
    bool queued = false;
    snmp_detail::DatagramQueue queue;
    std::vector<unsigned char> reading;
    std::size_t readPos = 0;
    int readyFd = -1; // readable while datagrams wait in the queue
    int receiverStopFd = -1;
    std::thread receiver;
    std::atomic<bool> receiverPaused{false};
    std::atomic<std::uint32_t> overflowSeen{0};
    // Notifications the session's user could not take (countLost).
    std::atomic<std::uint64_t> lostByUser{0};
    std::function<void(std::uint64_t)> lossHook;
    std::uint64_t lossReported = 0;
    // SNMPv3 messages refused on their way in, by sender, until reported.
    std::map<std::uint32_t, UsmRefusals> refused;
    std::function<void(const std::vector<UsmRefusals>&)> refusalHook;
    void reportRefusals();

    int open(std::uint16_t localPort);
    void openIpx(std::uint16_t socket);
    void readIpx();
    void openUdp6(std::uint16_t localPort);
    void readUdp6();
    void useQueue();
    void receiveLoop();
    int drainQueue(int max);
    int runQueued();
    std::uint64_t dropped() const;
    static int queueRecv(netsnmp_transport* t, void* buf, int size, void** opaque, int* olength);
    ~Impl();

    static int onMessage(int op, netsnmp_session* session, int reqid, netsnmp_pdu* pdu, void* magic);
    static int takeAnswer(netsnmp_session* session, netsnmp_pdu* pdu, int parsed);
    // A v3 report or an answer that could not be read: the request it concerns.
    void takeReport(netsnmp_pdu* pdu, int parsed, bool overIpx, bool overUdp6);
    bool live(const snmp_detail::RequestDeadlines::Entry& entry) const;
    void handleNotification(netsnmp_pdu* pdu, bool overIpx, bool overUdp6 = false);
    void complete(std::unique_ptr<Request> request, int reason, Pdu* answer);
    // Sends one attempt, or counts it lost; 0 unless the request itself is unusable.
    // Either way the attempt is outstanding until answered or due.
    int attempt(std::unique_ptr<Request> request);
    int send(Request& request);
    void expireDue();
    void sendRetries();
    void dispatch();
    bool waitReadable(int timeoutMs);
};
