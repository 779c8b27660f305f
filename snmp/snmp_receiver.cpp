// In-memory receiving: a thread copies datagrams off the socket into a
// bounded queue, and the session's transport reads them from there.

#include "snmp/snmp_internal.h"
#include "snmp/snmp_session_impl.h"

#include <arpa/inet.h>
#include <cerrno>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using snmp_detail::DatagramQueue;

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
        {
            auto lock = snmp_detail::usmLock();
            // With v3 on, what the security subsystem refuses is counted against the sender.
            const bool v3 = lock.owns_lock();
            const UsmRefusals was = v3 ? snmp_detail::countersNow() : UsmRefusals{};
            t_reading = this;
            snmp_sess_read2(sessp, &fdset);
            t_reading = nullptr;
            if (v3 && readPos != before) {
                const UsmRefusals now = snmp_detail::countersNow();
                if (now.total() != was.total()) {
                    DatagramQueue::Header h;
                    std::memcpy(&h, reading.data() + before, sizeof h);
                    UsmRefusals& r = refused[h.fromIp];
                    r.unknownEngineIds += now.unknownEngineIds - was.unknownEngineIds;
                    r.unknownUserNames += now.unknownUserNames - was.unknownUserNames;
                    r.wrongDigests += now.wrongDigests - was.wrongDigests;
                    r.notInTimeWindows += now.notInTimeWindows - was.notInTimeWindows;
                    r.decryptionErrors += now.decryptionErrors - was.decryptionErrors;
                    r.unsupportedLevels += now.unsupportedLevels - was.unsupportedLevels;
                }
            }
        }
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
    length = sizeof info;
    if (udp6Fd >= 0 && getsockopt(udp6Fd, SOL_SOCKET, SO_MEMINFO, info, &length) == 0 &&
        length > SK_MEMINFO_DROPS * sizeof(std::uint32_t))
        n += info[SK_MEMINFO_DROPS];
    return n + queue.overflowed() + lostByUser.load(std::memory_order_relaxed);
}

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
        pollfd p[4] = {{readyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}, {ipxFd, POLLIN, 0}, {udp6Fd, POLLIN, 0}};
        int n = poll(p, 4, timeout);
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
        // The IPv6 socket is read here, without the receiving thread.
        for (int i = 0; n > 0 && (p[3].revents & POLLIN) != 0 && i < 1024; ++i) {
            pollfd q{udp6Fd, POLLIN, 0};
            if (poll(&q, 1, 0) <= 0 || (q.revents & POLLIN) == 0)
                break;
            readUdp6();
            ++handled;
        }
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
            reportRefusals();
            lossCheckDue = now - lastDatagram < kQuiet;
            burstStart = now;
        }
    }
    return 0;
}

// The refused v3 messages of the burst, by sender, to the hook; once each.
void Snmp::Impl::reportRefusals() {
    if (refused.empty())
        return;
    std::vector<UsmRefusals> list;
    for (auto& [ip, r] : refused) {
        char text[INET_ADDRSTRLEN] = {};
        in_addr a{};
        a.s_addr = ip;
        inet_ntop(AF_INET, &a, text, sizeof text);
        r.sender = text;
        list.push_back(r);
    }
    refused.clear();
    if (refusalHook)
        refusalHook(list);
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
