// Sessions on Net-SNMP's single-session API.

// Net-SNMP names its own callback type snmp_callback; keep that name for ours.
#define snmp_callback netsnmp_snmp_callback
#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpUDPDomain.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#undef snmp_callback

#include "request_deadlines.h"
#include "snmp.h"
#include "snmp_internal.h"
#include "snmp_ipx.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <linux/sock_diag.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr int kReceiveBuffer = 8 * 1024 * 1024;
constexpr std::uint16_t kAgentPort = 161;

const std::uint32_t kSysUpTime0[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const std::uint32_t kSnmpTrapOid0[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const std::uint32_t kSnmpTrapEnterprise0[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 3, 0};
const std::uint32_t kSnmpTraps[] = {1, 3, 6, 1, 6, 3, 1, 1, 5};

std::atomic<bool> g_initialised{false};

// Session creation and release touch Net-SNMP's global session bookkeeping.
std::mutex& sessionMutex() {
    static std::mutex m;
    return m;
}

bool sameOid(const netsnmp_variable_list* v, const std::uint32_t* ids, std::size_t count) {
    if (v->name == nullptr || v->name_length != count)
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (v->name[i] != ids[i])
            return false;
    return true;
}

Oid oidFrom(const oid* ids, std::size_t count) {
    std::vector<std::uint32_t> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = static_cast<std::uint32_t>(ids[i]);
    return Oid(v.data(), v.size());
}

Vb vbFrom(const netsnmp_variable_list* v) {
    Vb vb(v->name != nullptr ? oidFrom(v->name, v->name_length) : Oid());
    const bool hasValue = v->val.string != nullptr && v->val_len > 0;
    switch (v->type) {
    case ASN_INTEGER:
        if (hasValue && v->val_len >= sizeof(long))
            vb.set_value(static_cast<std::int32_t>(*v->val.integer));
        else
            vb.set_raw(v->type, nullptr, 0);
        break;
    case ASN_OCTET_STR:
        vb.set_value(OctetStr(hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0));
        break;
    case ASN_OPAQUE:
        vb.set_opaque(OctetStr(hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0));
        break;
    case ASN_OBJECT_ID:
        vb.set_value(hasValue ? oidFrom(v->val.objid, v->val_len / sizeof(oid)) : Oid());
        break;
    case ASN_IPADDRESS:
        if (hasValue && v->val_len == 4) {
            std::uint32_t a;
            std::memcpy(&a, v->val.string, 4);
            vb.set_value(IpAddress::fromNetworkOrder(a));
        } else {
            vb.set_raw(v->type, hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0);
        }
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        if (hasValue && v->val_len >= sizeof(long))
            vb.set_unsigned(static_cast<std::uint32_t>(*v->val.integer), static_cast<SnmpSyntax>(v->type));
        else
            vb.set_raw(v->type, nullptr, 0);
        break;
    case ASN_COUNTER64:
        if (hasValue && v->val_len >= sizeof(counter64))
            vb.set_counter64((static_cast<std::uint64_t>(v->val.counter64->high) << 32) |
                             (v->val.counter64->low & 0xFFFFFFFFu));
        else
            vb.set_raw(v->type, nullptr, 0);
        break;
    case ASN_NULL:
        vb.set_null();
        break;
    default:
        vb.set_raw(v->type, hasValue ? v->val.string : nullptr, hasValue ? v->val_len : 0);
        break;
    }
    return vb;
}

bool senderOf(const netsnmp_pdu* pdu, std::uint32_t& ip, std::uint16_t& port) {
    if (pdu->transport_data == nullptr || pdu->transport_data_length != sizeof(netsnmp_indexed_addr_pair))
        return false;
    const auto* pair = static_cast<const netsnmp_indexed_addr_pair*>(pdu->transport_data);
    if (pair->remote_addr.sin.sin_family != AF_INET)
        return false;
    ip = pair->remote_addr.sin.sin_addr.s_addr;
    port = ntohs(pair->remote_addr.sin.sin_port);
    return true;
}

// Fills out from a received notification: identifier and enterprise as RFC
// 3584 maps them, the bindings less sysUpTime.0 and snmpTrapOID.0.
bool notificationFrom(const netsnmp_pdu* pdu, Pdu& out) {
    out.set_type(pdu->command);
    if (pdu->command == SNMP_MSG_TRAP) {
        Oid enterprise =
            pdu->enterprise != nullptr ? oidFrom(pdu->enterprise, pdu->enterprise_length) : Oid();
        Oid id;
        if (pdu->trap_type == SNMP_TRAP_ENTERPRISESPECIFIC) {
            id = enterprise;
            id += 0u;
            id += static_cast<std::uint32_t>(pdu->specific_type);
        } else {
            id = Oid(kSnmpTraps, std::size(kSnmpTraps));
            id += static_cast<std::uint32_t>(pdu->trap_type + 1);
        }
        out.set_notify_id(id);
        out.set_notify_enterprise(enterprise);
        out.set_notify_timestamp(static_cast<std::uint32_t>(pdu->time));
        for (const netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable)
            out += vbFrom(v);
        return true;
    }
    const netsnmp_variable_list* upTime = pdu->variables;
    if (upTime == nullptr || !sameOid(upTime, kSysUpTime0, std::size(kSysUpTime0)))
        return false;
    const netsnmp_variable_list* trapOid = upTime->next_variable;
    if (trapOid == nullptr || !sameOid(trapOid, kSnmpTrapOid0, std::size(kSnmpTrapOid0)) ||
        trapOid->type != ASN_OBJECT_ID || trapOid->val.objid == nullptr || trapOid->val_len < sizeof(oid))
        return false;
    Oid id = oidFrom(trapOid->val.objid, trapOid->val_len / sizeof(oid));
    out.set_notify_id(id);
    if (upTime->type == ASN_TIMETICKS && upTime->val.integer != nullptr && upTime->val_len >= sizeof(long))
        out.set_notify_timestamp(static_cast<std::uint32_t>(*upTime->val.integer));
    bool haveEnterprise = false;
    for (const netsnmp_variable_list* v = trapOid->next_variable; v != nullptr; v = v->next_variable) {
        if (!haveEnterprise && sameOid(v, kSnmpTrapEnterprise0, std::size(kSnmpTrapEnterprise0)) &&
            v->type == ASN_OBJECT_ID && v->val.objid != nullptr) {
            out.set_notify_enterprise(oidFrom(v->val.objid, v->val_len / sizeof(oid)));
            haveEnterprise = true;
        }
        out += vbFrom(v);
    }
    if (!haveEnterprise) {
        Oid enterprise = id;
        enterprise.trim();
        if (enterprise.len() > 0 && enterprise[enterprise.len() - 1] == 0)
            enterprise.trim();
        out.set_notify_enterprise(enterprise);
    }
    return true;
}

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

} // namespace

int snmpInit() {
    static const int result = [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_V3, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PRINT_NUMERIC_OIDS, 1);
        // Net-SNMP would otherwise write a line to standard error for every
        // malformed datagram that anyone sends to the port.
        netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
        // No MIB directory and an empty module list: nothing is parsed.
        netsnmp_set_mib_directory("");
        static char noMibs[] = "mibs :";
        netsnmp_config_remember(noMibs);
        init_snmp("vardel");
        snmp_ipx::registerDomain();
        g_initialised = true;
        return 0;
    }();
    return result;
}

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
        ~Request() {
            if (message != nullptr)
                snmp_free_pdu(message);
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
    DatagramQueue queue;
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

    int open(std::uint16_t localPort);
    void openIpx(std::uint16_t socket);
    void readIpx();
    void useQueue();
    void receiveLoop();
    int drainQueue(int max);
    int runQueued();
    std::uint64_t dropped() const;
    static int queueRecv(netsnmp_transport* t, void* buf, int size, void** opaque, int* olength);
    ~Impl();

    static int onMessage(int op, netsnmp_session* session, int reqid, netsnmp_pdu* pdu, void* magic);
    static int takeAnswer(netsnmp_session* session, netsnmp_pdu* pdu, int parsed);
    bool live(const snmp_detail::RequestDeadlines::Entry& entry) const;
    void handleNotification(netsnmp_pdu* pdu, bool overIpx);
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

int Snmp::Impl::open(std::uint16_t localPort) {
    if (!g_initialised)
        return kSnmpResourceUnavailable;
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0)
        return kSnmpResourceUnavailable;

    netsnmp_ep ep{};
    ep.a.sin.sin_family = AF_INET;
    ep.a.sin.sin_addr.s_addr = htonl(INADDR_ANY);
    ep.a.sin.sin_port = htons(localPort);

    std::lock_guard<std::mutex> lock(sessionMutex());
    netsnmp_transport* transport = netsnmp_udp_transport(&ep, 1);
    if (transport == nullptr) {
        // Tell a port in use or denied from other failures with a plain bind of the same address.
        int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int result = kSnmpTransportFailed;
        if (probe >= 0) {
            if (bind(probe, reinterpret_cast<const sockaddr*>(&ep.a.sin), sizeof ep.a.sin) != 0) {
                if (errno == EADDRINUSE)
                    result = kSnmpTransportInUse;
                else if (errno == EACCES)
                    result = kSnmpTransportAccessDenied;
            }
            close(probe);
        }
        return result;
    }
    int big = kReceiveBuffer;
    if (setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);

    netsnmp_session session;
    snmp_sess_init(&session);
    session.retries = 0;
    session.timeout = 1000000;
    session.callback = &Impl::onMessage;
    session.callback_magic = this;
    session.flags |= SNMP_FLAGS_DONT_PROBE;
    sessp = snmp_sess_add(&session, transport, nullptr, &Impl::takeAnswer);
    if (sessp == nullptr)
        return kSnmpTransportFailed;
    fd = transport->sock;
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        port = ntohs(bound.sin_port);
    netsnmp_large_fd_set_init(&fdset, fd + 1);
    fdsetReady = true;
    return kSnmpSuccess;
}

// A second Net-SNMP session on the IPX transport; none (IPX requests are then
// lost attempts) when the machine has no IPX or the socket is taken.
void Snmp::Impl::openIpx(std::uint16_t socket) {
    std::lock_guard<std::mutex> lock(sessionMutex());
    netsnmp_transport* transport = snmp_ipx::openLocal(socket);
    if (transport == nullptr)
        return;
    netsnmp_session session;
    snmp_sess_init(&session);
    session.retries = 0;
    session.timeout = 1000000;
    session.callback = &Impl::onMessage;
    session.callback_magic = this;
    session.flags |= SNMP_FLAGS_DONT_PROBE;
    session.sndMsgMaxSize = snmp_ipx::kMaxMessage;
    session.rcvMsgMaxSize = snmp_ipx::kMaxMessage;
    // The same room as the UDP socket for a whole cycle's answers.
    int big = kReceiveBuffer;
    if (setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    ipxSessp = snmp_sess_add(&session, transport, nullptr, &Impl::takeAnswer);
    if (ipxSessp != nullptr)
        ipxFd = transport->sock;
}

void Snmp::Impl::readIpx() {
    netsnmp_large_fd_set set;
    netsnmp_large_fd_set_init(&set, ipxFd + 1);
    NETSNMP_LARGE_FD_SET(ipxFd, &set);
    snmp_sess_read2(ipxSessp, &set);
    netsnmp_large_fd_set_cleanup(&set);
    sendRetries();
    dispatch();
}

Snmp::Impl::~Impl() {
    closing = true;
    if (receiver.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(receiverStopFd, &one, sizeof one);
        receiver.join();
    }
    if (readyFd >= 0)
        close(readyFd);
    if (receiverStopFd >= 0)
        close(receiverStopFd);
    retries.clear();
    deadlines.clear();
    if (sessp != nullptr || ipxSessp != nullptr) {
        std::lock_guard<std::mutex> lock(sessionMutex());
        if (sessp != nullptr)
            snmp_sess_close(sessp);
        if (ipxSessp != nullptr)
            snmp_sess_close(ipxSessp);
    }
    requests.clear();
    if (fdsetReady)
        netsnmp_large_fd_set_cleanup(&fdset);
    if (wakeFd >= 0)
        close(wakeFd);
}

int Snmp::Impl::onMessage(int op, netsnmp_session* session, int, netsnmp_pdu* pdu, void* magic) {
    auto* self = static_cast<Impl*>(magic);
    if (op != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr || self->closing)
        return 1;
    const bool overIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
    if (pdu->command == SNMP_MSG_TRAP || pdu->command == SNMP_MSG_TRAP2 || pdu->command == SNMP_MSG_INFORM)
        self->handleNotification(pdu, overIpx);
    return 1;
}

void Snmp::Impl::handleNotification(netsnmp_pdu* pdu, bool overIpx) {
    if (pdu->version != SNMP_VERSION_1 && pdu->version != SNMP_VERSION_2c)
        return;
    if (pdu->command == SNMP_MSG_INFORM) {
        // Every receiver acknowledges an inform, whether it keeps it or not.
        netsnmp_pdu* reply = snmp_clone_pdu(pdu);
        if (reply != nullptr) {
            reply->command = SNMP_MSG_RESPONSE;
            reply->errstat = 0;
            reply->errindex = 0;
            if (snmp_sess_send(overIpx ? ipxSessp : sessp, reply) == 0)
                snmp_free_pdu(reply);
        }
    }
    std::uint32_t ip = 0;
    std::uint16_t fromPort = 0;
    unsigned char ipx[10] = {};
    if (!registered)
        return;
    if (overIpx ? !snmp_ipx::peerOf(pdu->transport_data, static_cast<int>(pdu->transport_data_length), ipx,
                                    fromPort)
                : !senderOf(pdu, ip, fromPort))
        return;
    Pdu notification;
    if (!notificationFrom(pdu, notification))
        return;
    Oid id;
    notification.get_notify_id(id);
    if (notifyIds.size() > 0) {
        bool wanted = false;
        for (const Oid& prefix : notifyIds.items())
            if (id.startsWith(prefix)) {
                wanted = true;
                break;
            }
        if (!wanted)
            return;
    }
    if (notifyTargets.size() > 0) {
        bool known = false;
        for (const auto& target : notifyTargets.items()) {
            GenAddress address;
            if (target->get_address(address) != kSnmpSuccess)
                continue;
            const Address::addr_type type = address.get_type();
            const bool match =
                overIpx ? (type == Address::type_ipx || type == Address::type_ipxsock) &&
                              std::memcmp(address.ipx(), ipx, sizeof ipx) == 0
                        : (type == Address::type_ip || type == Address::type_udp) && address.ipv4() == ip;
            if (match) {
                known = true;
                break;
            }
        }
        if (!known)
            return;
    }
    OctetStr community(pdu->community, pdu->community_len);
    // An IPX sender is named in the servers' own form, NNNNNNNN-HHHHHHHHHHHH.
    char ipxText[22];
    std::snprintf(ipxText, sizeof ipxText, "%02X%02X%02X%02X-%02X%02X%02X%02X%02X%02X", ipx[0], ipx[1],
                  ipx[2], ipx[3], ipx[4], ipx[5], ipx[6], ipx[7], ipx[8], ipx[9]);
    auto target = overIpx ? std::make_unique<CTarget>(IpxAddress(ipxText), community, community)
                          : std::make_unique<CTarget>(IpAddress::fromNetworkOrder(ip), community, community);
    target->set_version(pdu->version == SNMP_VERSION_2c ? version2c : version1);
    events.push_back(
        Event{kSnmpNotification, notifyCallback, notifyData, std::move(notification), std::move(target)});
}

// Net-SNMP's hook after parsing a message: a response is the answer to one
// of the session's own requests or to none, and is taken here (0 tells
// Net-SNMP to drop the message); everything else goes on to onMessage.
int Snmp::Impl::takeAnswer(netsnmp_session* session, netsnmp_pdu* pdu, int parsed) {
    auto* self = static_cast<Impl*>(session->callback_magic);
    if (parsed != SNMP_ERR_NOERROR || pdu == nullptr || pdu->command != SNMP_MSG_RESPONSE)
        return 1;
    if (self->closing)
        return 0;
    auto it = self->requests.find(pdu->reqid);
    if (it == self->requests.end())
        return 0;
    // v1 and v2c answers are matched by request id alone: one from another
    // address is not the target's, and the request goes on waiting.
    const bool overIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    unsigned char ipx[10];
    const Request& pending = *it->second;
    const bool fromPeer =
        pending.overIpx
            ? overIpx &&
                  snmp_ipx::peerOf(pdu->transport_data, static_cast<int>(pdu->transport_data_length), ipx,
                                   port) &&
                  std::memcmp(ipx, pending.peerIpx, sizeof ipx) == 0 && port == pending.peerPort
            : !overIpx && senderOf(pdu, ip, port) && ip == pending.peerIp && port == pending.peerPort;
    if (!fromPeer)
        return 0;
    Pdu answer;
    answer.set_type(pdu->command);
    answer.set_error(static_cast<int>(pdu->errstat), static_cast<int>(pdu->errindex));
    for (const netsnmp_variable_list* v = pdu->variables; v != nullptr; v = v->next_variable)
        answer += vbFrom(v);
    std::unique_ptr<Request> request = std::move(it->second);
    self->requests.erase(it);
    self->complete(std::move(request), kSnmpAsyncResponse, &answer);
    return 0;
}

bool Snmp::Impl::live(const snmp_detail::RequestDeadlines::Entry& entry) const {
    const auto it = requests.find(entry.requestId);
    return it != requests.end() && it->second->attempt == entry.attempt;
}

void Snmp::Impl::complete(std::unique_ptr<Request> request, int reason, Pdu* answer) {
    if (request->sync != nullptr) {
        SyncResult& r = *request->sync;
        r.done = true;
        if (reason == kSnmpAsyncResponse) {
            r.status = answer->get_error_status() != 0 ? answer->get_error_status() : kSnmpSuccess;
            if (r.pdu != nullptr) {
                r.pdu->clear_vbs();
                for (const Vb& vb : answer->vbs())
                    *r.pdu += vb;
                r.pdu->set_error(answer->get_error_status(), answer->get_error_index());
                r.pdu->set_type(answer->get_type());
            }
        } else {
            r.status = reason;
        }
        return;
    }
    events.push_back(Event{reason, request->callback, request->data,
                           answer != nullptr ? std::move(*answer) : Pdu(), std::move(request->target)});
}

// Sends one attempt as a datagram that Net-SNMP encodes but keeps no record
// of (as its own asynchronous send does, less the record). 0 when sent,
// SNMPERR_BAD_SENDTO when the datagram did not leave, else the encoding
// error.
int Snmp::Impl::send(Request& request) {
    void* via = request.overIpx ? ipxSessp : sessp;
    netsnmp_session* session = snmp_sess_session(via);
    netsnmp_transport* transport = snmp_sess_transport(via);
    if (session == nullptr || transport == nullptr)
        return SNMPERR_BAD_SESSION;
    session->s_snmp_errno = 0;
    size_t size = 2048;
    size_t offset = 0;
    auto* buffer = static_cast<u_char*>(std::malloc(size));
    if (buffer == nullptr)
        return SNMPERR_MALLOC;
    u_char* packet = nullptr;
    size_t length = 0;
    int built;
    if (netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE)) {
        built = snmp_build(&buffer, &size, &offset, session, request.message);
        packet = buffer + size - offset;
        length = offset;
    } else {
        length = size;
        built = snmp_build(&buffer, &length, &offset, session, request.message);
        packet = buffer;
    }
    int error = 0;
    if (built < 0)
        error = session->s_snmp_errno != 0 ? session->s_snmp_errno : SNMPERR_BAD_ASN1_BUILD;
    else if ((session->sndMsgMaxSize != 0 && length > session->sndMsgMaxSize) ||
             (transport->msgMaxSize != 0 && length > transport->msgMaxSize))
        error = SNMPERR_TOO_LONG;
    else if (netsnmp_transport_send(transport, packet, static_cast<int>(length),
                                    &request.message->transport_data,
                                    &request.message->transport_data_length) < 0)
        error = SNMPERR_BAD_SENDTO;
    std::free(buffer);
    return error;
}

int Snmp::Impl::attempt(std::unique_ptr<Request> request) {
    // A request Net-SNMP cannot even build is refused; one that could not be
    // sent (no route, no transport for its address) is a lost attempt.
    if (request->deliverable) {
        const int error = send(*request);
        if (error != 0 && error != SNMPERR_BAD_SENDTO)
            return kSnmpError;
    }
    request->attempt = ++attemptsMade;
    deadlines.add(Clock::now(), request->timeoutUs, request->requestId, request->attempt);
    const long id = request->requestId;
    requests[id] = std::move(request);
    return kSnmpSuccess;
}

void Snmp::Impl::expireDue() {
    deadlines.takeDue(Clock::now(), [&](const snmp_detail::RequestDeadlines::Entry& entry) {
        if (!live(entry))
            return;
        auto it = requests.find(entry.requestId);
        std::unique_ptr<Request> request = std::move(it->second);
        requests.erase(it);
        if (--request->attemptsLeft > 0)
            retries.push_back(std::move(request));
        else
            complete(std::move(request), kSnmpTimeout, nullptr);
    });
}

void Snmp::Impl::sendRetries() {
    if (!retries.empty() && scheduleHook)
        scheduleHook();
    while (!retries.empty()) {
        std::unique_ptr<Request> request = std::move(retries.front());
        retries.pop_front();
        SyncResult* sync = request->sync;
        snmp_callback callback = request->callback;
        void* data = request->data;
        std::unique_ptr<SnmpTarget> target = request->target->clone();
        if (attempt(std::move(request)) != kSnmpSuccess) {
            // The request could not go out again: it ends as timed out.
            auto failed = std::make_unique<Request>();
            failed->sync = sync;
            failed->callback = callback;
            failed->data = data;
            failed->target = std::move(target);
            complete(std::move(failed), kSnmpTimeout, nullptr);
        }
    }
}

void Snmp::Impl::dispatch() {
    while (!events.empty()) {
        Event event = std::move(events.front());
        events.pop_front();
        if (event.callback != nullptr)
            event.callback(event.reason, owner, event.pdu, *event.target, event.data);
    }
}

bool Snmp::Impl::waitReadable(int timeoutMs) {
    pollfd p[2] = {{fd, POLLIN, 0}, {ipxFd, POLLIN, 0}};
    int n = poll(p, ipxFd >= 0 ? 2 : 1, timeoutMs);
    return n > 0 && ((p[0].revents | p[1].revents) & POLLIN) != 0;
}

// ---- In-memory receiving

namespace {
// The session whose queue the transport's receive reads; set around each
// read on the driving thread.
thread_local Snmp::Impl* t_reading = nullptr;
// Net-SNMP's UDP receive, which the queue's receive replaces.
std::atomic<int (*)(netsnmp_transport*, void*, int, void**, int*)> g_socketRecv{nullptr};

constexpr int kBatch = 32;
constexpr std::size_t kSlot = 65536; // the largest UDP payload fits
} // namespace

void Snmp::Impl::useQueue() {
    if (queued || sessp == nullptr)
        return;
    netsnmp_transport* transport = snmp_sess_transport(sessp);
    if (transport == nullptr)
        return;
    g_socketRecv = transport->f_recv;
    transport->f_recv = &Impl::queueRecv;
    queued = true;
}

// The transport's receive: the next datagram of the queue, with the addresses
// Net-SNMP's own UDP receive would give it (the answer to an inform leaves
// from the address it came to).
int Snmp::Impl::queueRecv(netsnmp_transport* t, void* buf, int size, void** opaque, int* olength) {
    Impl* self = t_reading;
    if (self == nullptr) {
        // A read of the socket itself (not from drainQueue).
        auto socketRecv = g_socketRecv.load();
        return socketRecv != nullptr ? socketRecv(t, buf, size, opaque, olength) : -1;
    }
    if (self->readPos + sizeof(DatagramQueue::Header) > self->reading.size())
        return -1;
    DatagramQueue::Header h;
    std::memcpy(&h, self->reading.data() + self->readPos, sizeof h);
    const unsigned char* data = self->reading.data() + self->readPos + sizeof h;
    self->readPos += sizeof h + h.length;
    auto* pair = static_cast<netsnmp_indexed_addr_pair*>(std::calloc(1, sizeof(netsnmp_indexed_addr_pair)));
    if (pair == nullptr)
        return -1;
    pair->remote_addr.sin.sin_family = AF_INET;
    pair->remote_addr.sin.sin_addr.s_addr = h.fromIp;
    pair->remote_addr.sin.sin_port = htons(h.fromPort);
    pair->local_addr.sin.sin_family = AF_INET;
    pair->local_addr.sin.sin_addr.s_addr = h.toIp;
    pair->if_index = h.ifIndex;
    *opaque = pair;
    *olength = sizeof(netsnmp_indexed_addr_pair);
    const int length = std::min(static_cast<int>(h.length), size);
    if (length > 0)
        std::memcpy(buf, data, static_cast<std::size_t>(length));
    return length;
}

// Parses up to max queued datagrams; returns how many.
int Snmp::Impl::drainQueue(int max) {
    int handled = 0;
    while (handled < max) {
        if (readPos >= reading.size()) {
            reading.clear();
            readPos = 0;
            if (!queue.take(reading))
                break;
        }
        const std::size_t before = readPos;
        NETSNMP_LARGE_FD_ZERO(&fdset);
        NETSNMP_LARGE_FD_SET(fd, &fdset);
        t_reading = this;
        snmp_sess_read2(sessp, &fdset);
        t_reading = nullptr;
        if (readPos == before) {
            // Not read (cannot happen with a datagram transport): skip it.
            DatagramQueue::Header h;
            std::memcpy(&h, reading.data() + readPos, sizeof h);
            readPos += sizeof h + h.length;
        }
        ++handled;
        sendRetries();
        dispatch();
    }
    return handled;
}

void Snmp::Impl::receiveLoop() {
    std::vector<unsigned char> slots(kBatch * kSlot);
    std::vector<mmsghdr> messages(kBatch);
    std::vector<iovec> iov(kBatch);
    std::vector<sockaddr_in> from(kBatch);
    constexpr std::size_t kControl = CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(std::uint32_t));
    std::vector<unsigned char> control(kBatch * kControl);
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {slots.data() + i * kSlot, kSlot};
        messages[i].msg_hdr.msg_iov = &iov[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    for (;;) {
        if (receiverPaused.load()) {
            pollfd p{receiverStopFd, POLLIN, 0};
            if (poll(&p, 1, 10) > 0)
                return;
            continue;
        }
        pollfd p[2] = {{fd, POLLIN, 0}, {receiverStopFd, POLLIN, 0}};
        if (poll(p, 2, 100) < 0 && errno != EINTR)
            return;
        if ((p[1].revents & POLLIN) != 0)
            return;
        while (!receiverPaused.load()) {
            for (int i = 0; i < kBatch; ++i) {
                messages[i].msg_hdr.msg_name = &from[i];
                messages[i].msg_hdr.msg_namelen = sizeof from[i];
                messages[i].msg_hdr.msg_control = control.data() + i * kControl;
                messages[i].msg_hdr.msg_controllen = kControl;
                messages[i].msg_hdr.msg_flags = 0;
            }
            const int n = recvmmsg(fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                break;
            }
            const bool wasEmpty =
                queue.append(n, [&](int i, DatagramQueue::Header& h, const unsigned char*& data) {
                    msghdr& m = messages[i].msg_hdr;
                    h.length = messages[i].msg_len;
                    h.fromIp = from[i].sin_addr.s_addr;
                    h.fromPort = ntohs(from[i].sin_port);
                    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
                        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                            in_pktinfo info;
                            std::memcpy(&info, CMSG_DATA(c), sizeof info);
                            h.toIp = info.ipi_addr.s_addr;
                            h.ifIndex = info.ipi_ifindex;
                        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                            std::uint32_t drops;
                            std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                            if (drops > overflowSeen.load(std::memory_order_relaxed))
                                overflowSeen.store(drops, std::memory_order_relaxed);
                        }
                    }
                    data = slots.data() + static_cast<std::size_t>(i) * kSlot;
                });
            if (wasEmpty) {
                std::uint64_t one = 1;
                [[maybe_unused]] ssize_t w = write(readyFd, &one, sizeof one);
            }
        }
    }
}

// Datagrams lost on the way in. The kernel's count of those it dropped on the
// socket is what the last datagram carried, or the socket's own figure when
// it is larger (drops at the end of a burst reach no later datagram); to it
// come the queue's overflow and what the user could not take.
std::uint64_t Snmp::Impl::dropped() const {
    std::uint64_t n = overflowSeen.load(std::memory_order_relaxed);
    std::uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &length) == 0 &&
        length > SK_MEMINFO_DROPS * sizeof(std::uint32_t))
        n = std::max<std::uint64_t>(n, info[SK_MEMINFO_DROPS]);
    return n + queue.overflowed() + lostByUser.load(std::memory_order_relaxed);
}

// ---- Snmp

Snmp::Snmp(int& status, std::uint16_t port, std::uint16_t ipxSocket) : m_impl(std::make_unique<Impl>()) {
    m_impl->owner = this;
    status = m_impl->open(port);
    if (status == kSnmpSuccess)
        m_impl->openIpx(ipxSocket);
}

Snmp::~Snmp() = default;

int Snmp::notify_register(const OidCollection& ids, const TargetCollection& targets, snmp_callback callback,
                          const void* data) {
    if (m_impl->sessp == nullptr)
        return kSnmpError;
    if (callback == nullptr)
        return kSnmpInvalidCallback;
    m_impl->notifyIds = ids;
    m_impl->notifyTargets = targets;
    m_impl->notifyCallback = callback;
    m_impl->notifyData = const_cast<void*>(data);
    m_impl->registered = true;
    return kSnmpSuccess;
}

void Snmp::notify_unregister() {
    m_impl->registered = false;
}

int Snmp::get(const Pdu& pdu, const SnmpTarget& target, snmp_callback callback, void* data) {
    if (callback == nullptr)
        return kSnmpInvalidCallback;
    Pdu copy = pdu;
    return request(SNMP_MSG_GET, &copy, target, callback, data, false);
}

int Snmp::get(Pdu& pdu, const SnmpTarget& target) {
    return request(SNMP_MSG_GET, &pdu, target, nullptr, nullptr, true);
}

int Snmp::set(Pdu& pdu, const SnmpTarget& target) {
    return request(SNMP_MSG_SET, &pdu, target, nullptr, nullptr, true);
}

namespace {

// Adds one binding to a request; a get carries no values.
int addBinding(netsnmp_pdu* message, const Vb& vb, bool withValue) {
    const Oid& name = vb.oid();
    if (!name.valid() || name.len() > MAX_OID_LEN)
        return kSnmpInvalidOid;
    std::vector<oid> ids(name.ids().begin(), name.ids().end());
    if (!withValue) {
        snmp_add_null_var(message, ids.data(), ids.size());
        return kSnmpSuccess;
    }
    netsnmp_variable_list* added = nullptr;
    switch (vb.get_syntax()) {
    case sNMP_SYNTAX_INT: {
        std::int32_t i = 0;
        vb.get_value(i);
        long value = i;
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_INTEGER, &value, sizeof value);
        break;
    }
    case sNMP_SYNTAX_OCTETS:
    case sNMP_SYNTAX_OPAQUE: {
        OctetStr octets;
        vb.get_value(octets);
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), static_cast<u_char>(vb.get_syntax()),
                                      octets.data(), octets.len());
        break;
    }
    case sNMP_SYNTAX_OID: {
        Oid value;
        vb.get_value(value);
        std::vector<oid> v(value.ids().begin(), value.ids().end());
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_OBJECT_ID, v.data(),
                                      v.size() * sizeof(oid));
        break;
    }
    case sNMP_SYNTAX_IPADDR: {
        IpAddress ip(vb.get_printable_value());
        std::uint32_t a = ip.ipv4();
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_IPADDRESS, &a, sizeof a);
        break;
    }
    case sNMP_SYNTAX_CNTR32:
    case sNMP_SYNTAX_GAUGE32:
    case sNMP_SYNTAX_TIMETICKS:
    case sNMP_SYNTAX_UINT32: {
        std::uint32_t u = 0;
        vb.get_value(u);
        unsigned long value = u;
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), static_cast<u_char>(vb.get_syntax()),
                                      &value, sizeof value);
        break;
    }
    case sNMP_SYNTAX_CNTR64: {
        std::uint64_t u = 0;
        vb.get_value(u);
        counter64 value{u >> 32, u & 0xFFFFFFFFu};
        added = snmp_pdu_add_variable(message, ids.data(), ids.size(), ASN_COUNTER64, &value, sizeof value);
        break;
    }
    case sNMP_SYNTAX_NULL:
        added = snmp_add_null_var(message, ids.data(), ids.size());
        break;
    default:
        return kSnmpInvalid;
    }
    return added != nullptr ? kSnmpSuccess : kSnmpInvalid;
}

} // namespace

int Snmp::request(int command, Pdu* pdu, const SnmpTarget& target, snmp_callback callback, void* data,
                  bool wait) {
    Impl& d = *m_impl;
    if (d.sessp == nullptr)
        return kSnmpError;
    GenAddress address;
    if (target.get_address(address) != kSnmpSuccess)
        return kSnmpInvalidTarget;
    const bool ipx = address.get_type() == Address::type_ipx || address.get_type() == Address::type_ipxsock;
    if (!ipx && address.get_type() != Address::type_ip && address.get_type() != Address::type_udp)
        return kSnmpInvalidAddress;
    if (target.get_version() != version1 && target.get_version() != version2c)
        return kSnmpUnsupported;
    if (pdu->get_vb_count() == 0)
        return kSnmpInvalidPdu;

    netsnmp_pdu* message = snmp_pdu_create(command);
    if (message == nullptr)
        return kSnmpResourceUnavailable;
    auto request = std::make_unique<Impl::Request>();
    request->message = message;
    // Every attempt of the request carries this id.
    if (message->reqid == 0)
        message->reqid = snmp_get_next_reqid();
    request->requestId = message->reqid;
    message->version = target.get_version() == version2c ? SNMP_VERSION_2c : SNMP_VERSION_1;
    const OctetStr& community = command == SNMP_MSG_SET ? target.writeCommunity() : target.readCommunity();
    message->community = static_cast<u_char*>(std::malloc(community.len() + 1));
    if (message->community == nullptr)
        return kSnmpResourceUnavailable;
    if (community.len() > 0)
        std::memcpy(message->community, community.data(), community.len());
    message->community_len = community.len();
    if (ipx) {
        request->overIpx = true;
        std::memcpy(request->peerIpx, address.ipx(), sizeof request->peerIpx);
        request->peerPort = address.port() != 0 ? address.port() : snmp_ipx::kAgentSocket;
        if (d.ipxSessp == nullptr) {
            // No IPX here: nothing sent reaches the address, every attempt is lost.
            request->deliverable = false;
        } else {
            message->transport_data = snmp_ipx::makePeer(request->peerIpx, request->peerPort);
            if (message->transport_data == nullptr)
                return kSnmpResourceUnavailable;
            message->transport_data_length = snmp_ipx::kPeerSize;
        }
    } else {
        // Net-SNMP sends to the peer in transport_data only when that is a
        // whole address pair; the attempts of the request reuse it.
        auto* pair =
            static_cast<netsnmp_indexed_addr_pair*>(std::calloc(1, sizeof(netsnmp_indexed_addr_pair)));
        if (pair == nullptr)
            return kSnmpResourceUnavailable;
        request->peerIp = address.ipv4();
        request->peerPort = address.port() != 0 ? address.port() : kAgentPort;
        pair->remote_addr.sin.sin_family = AF_INET;
        pair->remote_addr.sin.sin_addr.s_addr = request->peerIp;
        pair->remote_addr.sin.sin_port = htons(request->peerPort);
        message->transport_data = pair;
        message->transport_data_length = sizeof(netsnmp_indexed_addr_pair);
    }
    for (const Vb& vb : pdu->vbs()) {
        int status = addBinding(message, vb, command == SNMP_MSG_SET);
        if (status != kSnmpSuccess)
            return status;
    }

    request->target = target.clone();
    request->attemptsLeft = target.get_retry() + 1;
    unsigned long hundredths = target.get_timeout() == 0 ? 1 : target.get_timeout();
    request->timeoutUs = static_cast<long>(hundredths) * 10000L;
    request->callback = callback;
    request->data = data;
    Impl::SyncResult result;
    result.pdu = pdu;
    if (wait)
        request->sync = &result;

    int status = d.attempt(std::move(request));
    if (status != kSnmpSuccess)
        return status;
    if (!wait) {
        if (d.scheduleHook)
            d.scheduleHook();
        return kSnmpSuccess;
    }
    while (!result.done) {
        int ms = nextTimeoutMs();
        if (d.waitReadable(ms))
            processReadable();
        processTimeouts();
    }
    return result.status;
}

int Snmp::run() {
    Impl& d = *m_impl;
    if (d.sessp == nullptr)
        return -1;
    if (d.receiver.joinable())
        return d.runQueued();
    while (!d.stopRequested.load()) {
        pollfd p[3] = {{d.fd, POLLIN, 0}, {d.wakeFd, POLLIN, 0}, {d.ipxFd, POLLIN, 0}};
        int n = poll(p, d.ipxFd >= 0 ? 3 : 2, nextTimeoutMs());
        if (n < 0 && errno != EINTR)
            return -1;
        if (n > 0 && (p[1].revents & POLLIN) != 0) {
            std::uint64_t drained;
            while (read(d.wakeFd, &drained, sizeof drained) > 0) {
            }
        }
        if (n > 0 && (p[0].revents & POLLERR) != 0) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(d.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        }
        if (n > 0 && (p[0].revents & POLLIN) != 0)
            processReadable();
        if (n > 0 && (p[2].revents & POLLIN) != 0)
            d.readIpx();
        processTimeouts();
    }
    return 0;
}

void Snmp::stop() {
    m_impl->stopRequested = true;
    if (m_impl->wakeFd >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(m_impl->wakeFd, &one, sizeof one);
    }
}

int Snmp::socketDescriptor() const {
    return m_impl->fd;
}

int Snmp::ipxSocketDescriptor() const {
    return m_impl->ipxFd;
}

std::uint16_t Snmp::localPort() const {
    return m_impl->port;
}

void Snmp::processReadable(int max) {
    Impl& d = *m_impl;
    if (d.sessp == nullptr)
        return;
    for (int i = 0; i < max && d.ipxFd >= 0; ++i) {
        pollfd p{d.ipxFd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
            break;
        d.readIpx();
    }
    if (d.receiver.joinable()) {
        d.drainQueue(max);
        return;
    }
    for (int i = 0; i < max; ++i) {
        pollfd p{d.fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
            break;
        NETSNMP_LARGE_FD_ZERO(&d.fdset);
        NETSNMP_LARGE_FD_SET(d.fd, &d.fdset);
        snmp_sess_read2(d.sessp, &d.fdset);
        // Deliver as we go so that a burst does not pile up answers in memory.
        d.sendRetries();
        d.dispatch();
    }
}

void Snmp::processTimeouts() {
    Impl& d = *m_impl;
    if (d.sessp == nullptr)
        return;
    d.expireDue();
    d.sendRetries();
    d.dispatch();
}

int Snmp::nextTimeoutMs() const {
    const Impl& d = *m_impl;
    if (!d.retries.empty())
        return 0;
    const auto due = d.deadlines.earliest([&d](const auto& entry) { return d.live(entry); });
    if (!due)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Impl::Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 0x7FFFFFFF));
}

void Snmp::setScheduleHook(std::function<void()> hook) {
    m_impl->scheduleHook = std::move(hook);
}

int Snmp::receiveInBackground(int bufferBytes, std::size_t queueBytes) {
    Impl& d = *m_impl;
    if (d.sessp == nullptr || d.receiver.joinable())
        return kSnmpError;
    d.queue.setLimit(queueBytes);
    if (setsockopt(d.fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0)
        setsockopt(d.fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    const int on = 1;
    setsockopt(d.fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(d.fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    d.readyFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    d.receiverStopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.readyFd < 0 || d.receiverStopFd < 0)
        return kSnmpResourceUnavailable;
    d.useQueue();
    if (!d.queued)
        return kSnmpError;
    // Returns once the thread runs: from here on nothing waits for it to start.
    std::promise<void> running;
    std::future<void> started = running.get_future();
    d.receiver = std::thread([&d, &running] {
        running.set_value();
        d.receiveLoop();
    });
    started.wait();
    return kSnmpSuccess;
}

std::uint64_t Snmp::droppedDatagrams() const {
    return m_impl->dropped();
}

void Snmp::setLossHook(std::function<void(std::uint64_t)> hook) {
    m_impl->lossHook = std::move(hook);
}

void Snmp::countLost(std::uint64_t count) {
    m_impl->lostByUser.fetch_add(count, std::memory_order_relaxed);
}

// run() of a session that receives in the background: parses what the
// receiving thread queued, and reports drops once the burst is over.
int Snmp::Impl::runQueued() {
    using Clock = std::chrono::steady_clock;
    constexpr auto kQuiet = std::chrono::milliseconds(500);
    constexpr auto kLongest = std::chrono::seconds(5);
    bool lossCheckDue = false;
    Clock::time_point lastDatagram;
    Clock::time_point burstStart;
    while (!stopRequested.load()) {
        int timeout = owner->nextTimeoutMs();
        if (lossCheckDue) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(lastDatagram + kQuiet - Clock::now());
            const int ms = static_cast<int>(std::max<long long>(0, left.count()));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        pollfd p[3] = {{readyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}, {ipxFd, POLLIN, 0}};
        int n = poll(p, ipxFd >= 0 ? 3 : 2, timeout);
        if (n < 0 && errno != EINTR)
            return -1;
        std::uint64_t drained;
        if (n > 0 && (p[1].revents & POLLIN) != 0)
            while (read(wakeFd, &drained, sizeof drained) > 0) {
            }
        if (n > 0 && (p[0].revents & POLLIN) != 0)
            while (read(readyFd, &drained, sizeof drained) > 0) {
            }
        if (n > 0 && (p[2].revents & POLLIN) != 0)
            readIpx();
        int handled = 0;
        // In slices, so that time-outs are handled during a long burst.
        for (int got; !stopRequested.load() && (got = drainQueue(1024)) > 0;) {
            handled += got;
            owner->processTimeouts();
            if (got < 1024)
                break;
        }
        owner->processTimeouts();
        const Clock::time_point now = Clock::now();
        if (handled > 0) {
            if (!lossCheckDue)
                burstStart = now;
            lossCheckDue = true;
            lastDatagram = now;
        }
        if (lossCheckDue && (now - lastDatagram >= kQuiet || now - burstStart >= kLongest)) {
            const std::uint64_t total = dropped();
            if (total > lossReported && lossHook)
                lossHook(total - lossReported);
            lossReported = std::max(lossReported, total);
            lossCheckDue = now - lastDatagram < kQuiet;
            burstStart = now;
        }
    }
    return 0;
}

// ---- Internal entry points

struct SnmpAccess {
    static Snmp::Impl& impl(const Snmp& s) { return *s.m_impl; }
};

int snmp_internal::processDatagram(Snmp& session, const unsigned char* data, std::size_t length,
                                   std::uint32_t fromIp, std::uint16_t fromPort) {
    Snmp::Impl& d = SnmpAccess::impl(session);
    if (d.sessp == nullptr || data == nullptr || d.receiver.joinable() || length > kSlot)
        return -1;
    d.useQueue();
    if (!d.queued)
        return -1;
    d.queue.append(1, [&](int, DatagramQueue::Header& h, const unsigned char*& bytes) {
        h.length = static_cast<std::uint32_t>(length);
        h.fromIp = fromIp;
        h.fromPort = fromPort;
        h.toIp = htonl(INADDR_LOOPBACK);
        bytes = data;
    });
    const long before = snmp_get_statistic(STAT_SNMPINASNPARSEERRS) +
                        snmp_get_statistic(STAT_SNMPINBADVERSIONS) +
                        snmp_get_statistic(STAT_SNMPINBADCOMMUNITYNAMES);
    d.drainQueue(1);
    const long after = snmp_get_statistic(STAT_SNMPINASNPARSEERRS) +
                       snmp_get_statistic(STAT_SNMPINBADVERSIONS) +
                       snmp_get_statistic(STAT_SNMPINBADCOMMUNITYNAMES);
    return after == before ? 0 : -1;
}

std::uint64_t snmp_internal::receivedDatagrams(const Snmp& session) {
    const Snmp::Impl& d = SnmpAccess::impl(session);
    return d.queue.appended() + d.queue.overflowed();
}

void snmp_internal::pauseReceiver(Snmp& session, bool paused) {
    SnmpAccess::impl(session).receiverPaused = paused;
}

int snmp_internal::receiveBufferSize(const Snmp& session) {
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(session.socketDescriptor(), SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        return -1;
    return size;
}
