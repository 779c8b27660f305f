// Sessions on Net-SNMP's single-session API: the request, retry and
// time-out engine.

#include "snmp/snmp_internal.h"
#include "snmp/snmp_ipx.h"
#include "snmp/snmp_session_impl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <net-snmp/library/snmpUDPIPv6Domain.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

using namespace snmp_detail;

namespace {

constexpr int kReceiveBuffer = 8 * 1024 * 1024;
constexpr std::uint16_t kAgentPort = 161;

std::atomic<bool> g_initialised{false};

// Session creation and release touch Net-SNMP's global session bookkeeping.
std::mutex& sessionMutex() {
    static std::mutex m;
    return m;
}

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

// A datagram session over an opened transport, with the large receive
// buffer and the callbacks every socket of the session shares.
static void* addSession(netsnmp_transport* transport, Snmp::Impl* impl) {
    int big = kReceiveBuffer;
    if (setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    netsnmp_session session;
    snmp_sess_init(&session);
    session.retries = 0;
    session.timeout = 1000000;
    session.callback = &Snmp::Impl::onMessage;
    session.callback_magic = impl;
    session.flags |= SNMP_FLAGS_DONT_PROBE;
    return snmp_sess_add(&session, transport, nullptr, &Snmp::Impl::takeAnswer);
}

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
    sessp = addSession(transport, this);
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

// The IPv6 socket beside the IPv4 one, on the same port: Net-SNMP binds it
// IPv6-only, so both are needed to hear both families.
void Snmp::Impl::openUdp6(std::uint16_t localPort) {
    netsnmp_ep ep{};
    ep.a.sin6.sin6_family = AF_INET6;
    ep.a.sin6.sin6_addr = in6addr_any;
    ep.a.sin6.sin6_port = htons(localPort);
    std::lock_guard<std::mutex> lock(sessionMutex());
    netsnmp_transport* transport = netsnmp_udp6_transport(&ep, 1);
    if (transport == nullptr) {
        // Why, from a plain socket bound the same way.
        int probe = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (probe < 0) {
            udp6Status = errno == EAFNOSUPPORT ? kSnmpUnsupported : kSnmpTransportFailed;
            return;
        }
        const int one = 1;
        setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        udp6Status = kSnmpTransportFailed;
        if (bind(probe, reinterpret_cast<const sockaddr*>(&ep.a.sin6), sizeof ep.a.sin6) != 0) {
            if (errno == EADDRINUSE)
                udp6Status = kSnmpTransportInUse;
            else if (errno == EACCES)
                udp6Status = kSnmpTransportAccessDenied;
            else if (errno == EADDRNOTAVAIL || errno == EAFNOSUPPORT)
                udp6Status = kSnmpUnsupported;
        }
        close(probe);
        return;
    }
    udp6Sessp = addSession(transport, this);
    if (udp6Sessp == nullptr) {
        udp6Status = kSnmpTransportFailed;
        return;
    }
    udp6Fd = transport->sock;
    udp6Status = kSnmpSuccess;
}

void Snmp::Impl::readUdp6() {
    netsnmp_large_fd_set set;
    netsnmp_large_fd_set_init(&set, udp6Fd + 1);
    NETSNMP_LARGE_FD_SET(udp6Fd, &set);
    snmp_sess_read2(udp6Sessp, &set);
    netsnmp_large_fd_set_cleanup(&set);
    sendRetries();
    dispatch();
}

void Snmp::Impl::readIpx() {
    netsnmp_large_fd_set set;
    netsnmp_large_fd_set_init(&set, ipxFd + 1);
    NETSNMP_LARGE_FD_SET(ipxFd, &set);
    {
        auto lock = usmLock();
        snmp_sess_read2(ipxSessp, &set);
    }
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
    if (sessp != nullptr || ipxSessp != nullptr || udp6Sessp != nullptr) {
        std::lock_guard<std::mutex> lock(sessionMutex());
        if (sessp != nullptr)
            snmp_sess_close(sessp);
        if (ipxSessp != nullptr)
            snmp_sess_close(ipxSessp);
        if (udp6Sessp != nullptr)
            snmp_sess_close(udp6Sessp);
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
    // Net-SNMP hands on a v3 message whose digest failed, with the error set:
    // it is no notification.
    if (pdu->version == SNMP_VERSION_3 && session->s_snmp_errno != SNMPERR_SUCCESS)
        return 1;
    const bool overIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
    const bool overUdp6 = self->udp6Sessp != nullptr && session == snmp_sess_session(self->udp6Sessp);
    if (pdu->command == SNMP_MSG_TRAP || pdu->command == SNMP_MSG_TRAP2 || pdu->command == SNMP_MSG_INFORM)
        self->handleNotification(pdu, overIpx, overUdp6);
    return 1;
}

void Snmp::Impl::handleNotification(netsnmp_pdu* pdu, bool overIpx, bool overUdp6) {
    if (pdu->version != SNMP_VERSION_1 && pdu->version != SNMP_VERSION_2c && pdu->version != SNMP_VERSION_3)
        return;
    if (pdu->command == SNMP_MSG_INFORM) {
        // Every receiver acknowledges an inform, whether it keeps it or not.
        netsnmp_pdu* reply = snmp_clone_pdu(pdu);
        if (reply != nullptr) {
            reply->command = SNMP_MSG_RESPONSE;
            reply->errstat = 0;
            reply->errindex = 0;
            if (snmp_sess_send(overIpx ? ipxSessp : overUdp6 ? udp6Sessp : sessp, reply) == 0)
                snmp_free_pdu(reply);
        }
    }
    std::uint32_t ip = 0;
    std::uint16_t fromPort = 0;
    unsigned char ipx[10] = {};
    unsigned char ip6[16] = {};
    if (!registered)
        return;
    if (overUdp6  ? !sender6Of(pdu, ip6, fromPort)
        : overIpx ? !snmp_ipx::peerOf(pdu->transport_data, static_cast<int>(pdu->transport_data_length), ipx,
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
            const bool ipType = type == Address::type_ip || type == Address::type_udp;
            const bool match =
                overUdp6  ? ipType && address.isIpv6() && std::memcmp(address.ipv6(), ip6, sizeof ip6) == 0
                : overIpx ? (type == Address::type_ipx || type == Address::type_ipxsock) &&
                                std::memcmp(address.ipx(), ipx, sizeof ipx) == 0
                          : ipType && !address.isIpv6() && address.ipv4() == ip;
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
    auto target = overUdp6 ? std::make_unique<CTarget>(IpAddress::fromIpv6(ip6), community, community)
                  : overIpx
                      ? std::make_unique<CTarget>(IpxAddress(ipxText), community, community)
                      : std::make_unique<CTarget>(IpAddress::fromNetworkOrder(ip), community, community);
    target->set_version(pdu->version == SNMP_VERSION_3    ? version3
                        : pdu->version == SNMP_VERSION_2c ? version2c
                                                          : version1);
    if (pdu->version == SNMP_VERSION_3) {
        target->set_security(
            std::string(pdu->securityName != nullptr ? pdu->securityName : "", pdu->securityNameLen),
            pdu->securityLevel);
        target->set_engine_id(std::string(reinterpret_cast<const char*>(pdu->securityEngineID),
                                          pdu->securityEngineID != nullptr ? pdu->securityEngineIDLen : 0));
    }
    events.push_back(
        Event{kSnmpNotification, notifyCallback, notifyData, std::move(notification), std::move(target)});
}

// Net-SNMP's hook after parsing a message: a response is the answer to one
// of the session's own requests or to none, and is taken here (0 tells
// Net-SNMP to drop the message); everything else goes on to onMessage.
namespace {

// Whether a message came from the responder a request waits on.
bool fromPeerOf(const Snmp::Impl::Request& pending, netsnmp_pdu* pdu, bool overIpx, bool overUdp6) {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    unsigned char ipx[10];
    unsigned char ip6[16] = {};
    if (pending.overUdp6)
        return overUdp6 && sender6Of(pdu, ip6, port) && std::memcmp(ip6, pending.peerIp6, sizeof ip6) == 0 &&
               port == pending.peerPort;
    if (pending.overIpx)
        return overIpx &&
               snmp_ipx::peerOf(pdu->transport_data, static_cast<int>(pdu->transport_data_length), ipx,
                                port) &&
               std::memcmp(ipx, pending.peerIpx, sizeof ipx) == 0 && port == pending.peerPort;
    return !overIpx && !overUdp6 && senderOf(pdu, ip, port) && ip == pending.peerIp &&
           port == pending.peerPort;
}

// The refusal a usmStats report stands for (RFC 3414 usmStats.N).
int refusalOfReport(const netsnmp_pdu* pdu) {
    static const oid usmStats[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};
    const netsnmp_variable_list* v = pdu->variables;
    if (v == nullptr || v->name_length < 10 || snmp_oid_compare(v->name, 9, usmStats, 9) != 0)
        return kSnmpError;
    switch (v->name[9]) {
    case 1:
        return kSnmpUsmUnsupportedLevel;
    case 2:
        return kSnmpUsmNotInTimeWindow;
    case 3:
        return kSnmpUsmUnknownUser;
    case 4:
        return kSnmpUsmUnknownEngineId;
    case 5:
        return kSnmpUsmWrongDigest;
    case 6:
        return kSnmpUsmDecryptionError;
    default:
        return kSnmpError;
    }
}

// What an answer that Net-SNMP could not read means for its request.
int refusalOfParse(int parsed) {
    switch (parsed) {
    case SNMPERR_USM_DECRYPTIONERROR:
        return kSnmpUsmDecryptionError;
    case SNMPERR_USM_AUTHENTICATIONFAILURE:
        return kSnmpUsmWrongDigest;
    case SNMPERR_USM_UNKNOWNSECURITYNAME:
        return kSnmpUsmUnknownUser;
    default:
        return 0;
    }
}

void setEngine(netsnmp_pdu* message, const std::string& engineId) {
    SNMP_FREE(message->securityEngineID);
    SNMP_FREE(message->contextEngineID);
    message->securityEngineID = static_cast<u_char*>(netsnmp_memdup(engineId.data(), engineId.size()));
    message->securityEngineIDLen = engineId.size();
    message->contextEngineID = static_cast<u_char*>(netsnmp_memdup(engineId.data(), engineId.size()));
    message->contextEngineIDLen = engineId.size();
}

// The v3 header fields of a request of user at level.
bool makeV3(netsnmp_pdu* message, long id, const std::string& user, int level) {
    message->version = SNMP_VERSION_3;
    message->securityModel = SNMP_SEC_MODEL_USM;
    message->securityLevel = level;
    message->securityName = strdup(user.c_str());
    message->securityNameLen = user.size();
    message->contextName = strdup("");
    message->contextNameLen = 0;
    message->reqid = id;
    // A report (of discovery or of a refusal) names the request by message id.
    message->msgid = id;
    message->flags |= UCD_MSG_FLAG_EXPECT_RESPONSE;
    return message->securityName != nullptr && message->contextName != nullptr;
}

} // namespace

void Snmp::Impl::takeReport(netsnmp_pdu* pdu, int parsed, bool overIpx, bool overUdp6) {
    const int refusal = parsed == SNMP_ERR_NOERROR ? refusalOfReport(pdu) : refusalOfParse(parsed);
    if (refusal == 0)
        return;
    auto it = requests.find(pdu->msgid);
    if (it == requests.end() || !it->second->v3 || !fromPeerOf(*it->second, pdu, overIpx, overUdp6))
        return;
    Request& pending = *it->second;
    if (pending.discovering) {
        if (parsed != SNMP_ERR_NOERROR || pdu->securityEngineID == nullptr || pdu->securityEngineIDLen == 0)
            return;
        const std::string engine(reinterpret_cast<const char*>(pdu->securityEngineID),
                                 pdu->securityEngineIDLen);
        learnEngine(pending.peerOctets(), pending.peerPort, engine);
        setEngine(pending.message, engine);
        pending.target->set_engine_id(engine);
        pending.discovering = false;
    } else if (refusal == kSnmpUsmNotInTimeWindow && !pending.timeRetried) {
        // The report brought the agent's clock: once more, in its window.
        pending.timeRetried = true;
    } else {
        std::unique_ptr<Request> request = std::move(it->second);
        requests.erase(it);
        complete(std::move(request), refusal, nullptr);
        return;
    }
    retries.push_back(std::move(it->second));
    requests.erase(it);
}

int Snmp::Impl::takeAnswer(netsnmp_session* session, netsnmp_pdu* pdu, int parsed) {
    auto* self = static_cast<Impl*>(session->callback_magic);
    if (pdu != nullptr && pdu->version == SNMP_VERSION_3 && !self->closing &&
        (parsed != SNMP_ERR_NOERROR || pdu->command == SNMP_MSG_REPORT)) {
        const bool viaIpx = self->ipxSessp != nullptr && session == snmp_sess_session(self->ipxSessp);
        const bool viaUdp6 = self->udp6Sessp != nullptr && session == snmp_sess_session(self->udp6Sessp);
        self->takeReport(pdu, parsed, viaIpx, viaUdp6);
        return parsed == SNMP_ERR_NOERROR ? 0 : 1;
    }
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
    const bool overUdp6 = self->udp6Sessp != nullptr && session == snmp_sess_session(self->udp6Sessp);
    if (!fromPeerOf(*it->second, pdu, overIpx, overUdp6))
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
    void* via = request.overIpx ? ipxSessp : request.overUdp6 ? udp6Sessp : sessp;
    netsnmp_session* session = snmp_sess_session(via);
    netsnmp_transport* transport = snmp_sess_transport(via);
    if (session == nullptr || transport == nullptr)
        return SNMPERR_BAD_SESSION;
    auto lock = usmLock();
    netsnmp_pdu* out = request.discovering ? request.probe : request.message;
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
        built = snmp_build(&buffer, &size, &offset, session, out);
        packet = buffer + size - offset;
        length = offset;
    } else {
        length = size;
        built = snmp_build(&buffer, &length, &offset, session, out);
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
    // poll() passes over the entries of a session without IPX or IPv6 (fd -1).
    pollfd p[3] = {{fd, POLLIN, 0}, {ipxFd, POLLIN, 0}, {udp6Fd, POLLIN, 0}};
    int n = poll(p, 3, timeoutMs);
    return n > 0 && ((p[0].revents | p[1].revents | p[2].revents) & POLLIN) != 0;
}

// ---- Snmp

Snmp::Snmp(int& status, std::uint16_t port, std::uint16_t ipxSocket) : m_impl(std::make_unique<Impl>()) {
    m_impl->owner = this;
    status = m_impl->open(port);
    if (status == kSnmpSuccess)
        m_impl->openUdp6(port);
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
    // A receiver of notifications is the authoritative engine of v3 informs
    // (and answers their discovery), not of v3 traps.
    for (void* via : {m_impl->sessp, m_impl->ipxSessp})
        if (netsnmp_session* s = via != nullptr ? snmp_sess_session(via) : nullptr)
            s->isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
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
    const bool v3 = target.get_version() == version3;
    if (target.get_version() != version1 && target.get_version() != version2c && !(v3 && snmpv3::enabled()))
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
    if (v3) {
        request->v3 = true;
        if (!makeV3(message, request->requestId, target.securityName(), target.securityLevel()))
            return kSnmpResourceUnavailable;
    } else {
        message->version = target.get_version() == version2c ? SNMP_VERSION_2c : SNMP_VERSION_1;
        const OctetStr& community =
            command == SNMP_MSG_SET ? target.writeCommunity() : target.readCommunity();
        message->community = static_cast<u_char*>(std::malloc(community.len() + 1));
        if (message->community == nullptr)
            return kSnmpResourceUnavailable;
        if (community.len() > 0)
            std::memcpy(message->community, community.data(), community.len());
        message->community_len = community.len();
    }
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
    } else if (address.isIpv6()) {
        // The IPv6 transport sends to a bare socket address in transport_data.
        request->overUdp6 = true;
        std::memcpy(request->peerIp6, address.ipv6(), sizeof request->peerIp6);
        request->peerPort = address.port() != 0 ? address.port() : kAgentPort;
        if (d.udp6Sessp == nullptr) {
            request->deliverable = false;
        } else {
            auto* to = static_cast<sockaddr_in6*>(std::calloc(1, sizeof(sockaddr_in6)));
            if (to == nullptr)
                return kSnmpResourceUnavailable;
            to->sin6_family = AF_INET6;
            std::memcpy(to->sin6_addr.s6_addr, request->peerIp6, sizeof request->peerIp6);
            to->sin6_port = htons(request->peerPort);
            message->transport_data = to;
            message->transport_data_length = sizeof(sockaddr_in6);
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
    if (v3) {
        std::string engine = target.engineId();
        if (engine.empty() && !ipx)
            engine = knownEngine(request->peerOctets(), request->peerPort);
        if (!engine.empty()) {
            setEngine(message, engine);
        } else {
            // The agent's engine first: a probe without user or bindings (RFC 3414 4).
            request->discovering = true;
            request->probe = snmp_pdu_create(SNMP_MSG_GET);
            if (request->probe == nullptr ||
                !makeV3(request->probe, request->requestId, "", SNMP_SEC_LEVEL_NOAUTH))
                return kSnmpResourceUnavailable;
        }
    }
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
        pollfd p[4] = {{d.fd, POLLIN, 0}, {d.wakeFd, POLLIN, 0}, {d.ipxFd, POLLIN, 0}, {d.udp6Fd, POLLIN, 0}};
        int n = poll(p, 4, nextTimeoutMs());
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
        if (n > 0 && (p[3].revents & POLLIN) != 0)
            d.readUdp6();
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

int Snmp::ip6SocketDescriptor() const {
    return m_impl->udp6Fd;
}

int Snmp::ip6Status() const {
    return m_impl->udp6Status;
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
    for (int i = 0; i < max && d.udp6Fd >= 0; ++i) {
        pollfd p{d.udp6Fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0)
            break;
        d.readUdp6();
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
        {
            auto lock = usmLock();
            snmp_sess_read2(d.sessp, &d.fdset);
        }
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

void Snmp::setRefusalHook(std::function<void(const std::vector<UsmRefusals>&)> hook) {
    m_impl->refusalHook = std::move(hook);
}

void Snmp::countLost(std::uint64_t count) {
    m_impl->lostByUser.fetch_add(count, std::memory_order_relaxed);
}

// run() of a session that receives in the background: parses what the
// receiving thread queued, and reports drops once the burst is over.
