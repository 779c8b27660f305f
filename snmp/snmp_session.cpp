// Sessions on Net-SNMP's single-session API: the request, retry and
// time-out engine.

#include "snmp/snmp_internal.h"
#include "snmp/snmp_ipx.h"
#include "snmp/snmp_session_impl.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

using namespace snmp_detail;

namespace {

constexpr std::uint16_t kAgentPort = 161;

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
