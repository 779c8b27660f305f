// ICMP echo library on a Linux raw ICMP socket.

#include "tamber/tamber.h"

#include "tamber/tamber_internal.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <new>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

using tamber_internal::Wait;

// The layout shared with callers through the header.
static_assert(sizeof(std::atomic<int>) == sizeof(int) && alignof(std::atomic<int>) == alignof(int));
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(offsetof(pingStruct, addr) == 0 && offsetof(pingStruct, pinged) == 4);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(CIcmpPing, m_bReceiverDone) == 0);
static_assert(offsetof(CIcmpPing, m_bStopReceiver) == 4);
static_assert(offsetof(CIcmpPing, m_pNodes) == 8);
static_assert(offsetof(CIcmpPing, m_nOutstanding) == 16);
static_assert(offsetof(CIcmpPing, m_socket) == 20);
static_assert(offsetof(CIcmpPing, m_nNextNode) == 24);
static_assert(offsetof(CIcmpPing, m_nLastNode) == 28);
static_assert(offsetof(CIcmpPing, m_nRecvOut1) == 32);
static_assert(offsetof(CIcmpPing, m_nRecvOut2) == 36);
static_assert(offsetof(CIcmpPing, m_nDataSize) == 40);
static_assert(offsetof(CIcmpPing, m_pPacket) == 48);
static_assert(offsetof(CIcmpPing, m_packetBuf) == 56);
static_assert(offsetof(CIcmpPing, m_fromAddr) == 184);
static_assert(offsetof(CIcmpPing, m_destAddr) == 200);
static_assert(offsetof(CIcmpPing, m_recvAddr) == 216);
static_assert(sizeof(CIcmpPing) == 232);
#pragma GCC diagnostic pop

long CIcmpPing::nInitializedWinsock = 0;
int CIcmpPing::sm_nIcmpId = 1;
int CIcmpPing::sm_nIcmpSeq = 1;

CritSec s_pingLock;
std::atomic<int> s_bGroupError{0};

namespace {

constexpr int kPacketSize = 128;
constexpr int kIcmpHeaderSize = 8;
constexpr int kMaxAttemptIndex = 5; // attempts are counted 0..5: at most six

// Holds a CritSec for the life of the scope.
class SectionGuard {
public:
    explicit SectionGuard(CritSec& section) : m_section(section) { m_section.Enter(); }
    ~SectionGuard() { m_section.Exit(); }
    SectionGuard(const SectionGuard&) = delete;
    SectionGuard& operator=(const SectionGuard&) = delete;

private:
    CritSec& m_section;
};

// Waits until fd is readable or the wait has passed: 1 readable, 0 passed,
// -1 the wait failed (errno kept in *error). select() as a rule, and
// poll() for a descriptor that select() cannot hold. A signal does not end the
// wait: it goes on for the time that is left.
int waitReadable(int fd, Wait wait, int* error) {
    if (fd < 0) {
        *error = EBADF;
        return -1;
    }
    if (fd < FD_SETSIZE) {
        timeval tv{wait.sec, wait.usec};
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(fd, &readable);
            const int r = select(fd + 1, &readable, nullptr, nullptr, &tv); // Linux leaves the rest in tv
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r < 0) {
                *error = errno;
                return -1;
            }
            return r > 0 ? 1 : 0;
        }
    }
    using clock = std::chrono::steady_clock;
    const auto deadline =
        clock::now() + std::chrono::seconds(wait.sec) + std::chrono::microseconds(wait.usec);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            *error = errno;
            return -1;
        }
        return r > 0 ? 1 : 0;
    }
}

void sleepMs(long ms) {
    if (ms <= 0) {
        return;
    }
    timespec left{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

} // namespace

// ---- CritSec ----------------------------------------------------------------

CritSec::CritSec() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_cs, &attr);
    pthread_mutexattr_destroy(&attr);
}

CritSec::~CritSec() {
    pthread_mutex_destroy(&m_cs);
}

void CritSec::Enter() {
    pthread_mutex_lock(&m_cs);
}

void CritSec::Exit() {
    pthread_mutex_unlock(&m_cs);
}

// ---- construction -----------------------------------------------------------

CIcmpPing::CIcmpPing(int dataSize, int ttl)
    : m_bReceiverDone(0), m_bStopReceiver(0), m_pNodes(nullptr), m_nOutstanding(0), m_socket(INVALID_SOCKET),
      m_nNextNode(0), m_nLastNode(-1), m_nRecvOut1(0), m_nRecvOut2(0), m_nDataSize(0),
      m_pPacket(m_packetBuf), m_packetBuf{}, m_fromAddr{}, m_destAddr{}, m_recvAddr{} {
    initSingle(dataSize, ttl);
}

CIcmpPing::CIcmpPing() : CIcmpPing(32, 128) {}

CIcmpPing::CIcmpPing(pingStruct* targets, int lastNode, int dataSize)
    : m_bReceiverDone(0), m_bStopReceiver(0), m_pNodes(nullptr), m_nOutstanding(0), m_socket(INVALID_SOCKET),
      m_nNextNode(0), m_nLastNode(-1), m_nRecvOut1(0), m_nRecvOut2(0), m_nDataSize(0),
      m_pPacket(m_packetBuf), m_packetBuf{}, m_fromAddr{}, m_destAddr{}, m_recvAddr{} {
    const int count = lastNode >= 0 ? lastNode + 1 : 0;
    m_pNodes = new (std::nothrow) pingStruct[count > 0 ? count : 1];
    if (m_pNodes != nullptr) {
        for (int i = 0; i < count; ++i) {
            m_pNodes[i].addr = targets != nullptr ? targets[i].addr : 0;
            m_pNodes[i].pinged = 0;
        }
        m_nLastNode = lastNode;
    }
    initSingle(dataSize, 128);
}

void CIcmpPing::initSingle(int dataSize, int ttl) {
    m_nDataSize = dataSize;
    InitWinsock();
    std::memset(&m_destAddr, 0, sizeof m_destAddr);
    m_destAddr.sin_family = AF_INET;
    m_destAddr.sin_port = 0;
    m_destAddr.sin_addr.s_addr = 0;
    m_socket = icmp_open();
    if (m_socket != INVALID_SOCKET) {
        setTTL(m_socket, ttl);
        int nonBlocking = 1;
        if (ioctl(m_socket, FIONBIO, &nonBlocking) != 0) {
            TraceSocketError(errno);
        }
    }
}

CIcmpPing::~CIcmpPing() {
    delete[] m_pNodes;
    if (m_socket != INVALID_SOCKET) {
        icmp_close(m_socket);
    }
    DeInitWinsock();
}

CIcmpPing& CIcmpPing::operator=(const CIcmpPing& other) {
    if (this == &other)
        return *this;
    m_bReceiverDone.store(other.m_bReceiverDone.load());
    m_bStopReceiver.store(other.m_bStopReceiver.load());
    m_pNodes = other.m_pNodes;
    m_nOutstanding.store(other.m_nOutstanding.load());
    m_socket = other.m_socket;
    m_nNextNode = other.m_nNextNode;
    m_nLastNode = other.m_nLastNode;
    m_nRecvOut1 = other.m_nRecvOut1;
    m_nRecvOut2 = other.m_nRecvOut2;
    m_nDataSize = other.m_nDataSize;
    m_pPacket = other.m_pPacket;
    std::memmove(m_packetBuf, other.m_packetBuf, sizeof m_packetBuf);
    m_fromAddr = other.m_fromAddr;
    m_destAddr = other.m_destAddr;
    m_recvAddr = other.m_recvAddr;
    return *this;
}

void CIcmpPing::InitWinsock() {
    // WSAStartup(2.0) would run here when the count is 0: POSIX sockets need no start-up.
    std::atomic_ref<long>(nInitializedWinsock).fetch_add(1);
}

void CIcmpPing::DeInitWinsock() {
    std::atomic_ref<long>(nInitializedWinsock).fetch_sub(1);
}

int CIcmpPing::IsValidSocket() {
    return m_socket != INVALID_SOCKET ? 1 : 0;
}

// ---- socket primitives ------------------------------------------------------

SOCKET CIcmpPing::icmp_open() {
    // Close-on-exec, so that programs the console starts do not inherit a raw socket.
    const SOCKET s = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (s < 0) {
        TraceSocketError(errno);
        return INVALID_SOCKET;
    }
    // The kernel hands a raw ICMP socket every ICMP datagram of the host, the
    // host's own echo requests included: on loopback each request would reach
    // the socket before its reply and use up an attempt. Echo requests are
    // never what a ping waits for; the kernel's filter keeps them out.
    constexpr int kIcmpFilter = 1;                 // ICMP_FILTER of <linux/icmp.h>
    const std::uint32_t notEchoRequests = 1u << 8; // bit per ICMP type to drop
    setsockopt(s, SOL_RAW, kIcmpFilter, &notEchoRequests, sizeof notEchoRequests);
    return s;
}

int CIcmpPing::icmp_close(SOCKET s) {
    const int r = close(s);
    if (r != 0) {
        TraceSocketError(errno);
    }
    return r;
}

int CIcmpPing::setTTL(SOCKET s, int ttl) {
    const int r = setsockopt(s, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    if (r != 0) {
        TraceSocketError(errno);
    }
    return r;
}

unsigned short CIcmpPing::checkSum(unsigned short* buffer, int length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
    std::uint32_t sum = 0;
    while (length > 1) {
        std::uint16_t word;
        std::memcpy(&word, bytes, 2);
        sum += word;
        bytes += 2;
        length -= 2;
    }
    if (length == 1) {
        const unsigned char last[2] = {bytes[0], 0};
        std::uint16_t word;
        std::memcpy(&word, last, 2);
        sum += word;
    }
    sum = (sum & 0xffff) + (sum >> 16);
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<unsigned short>(~sum);
}

void CIcmpPing::TraceSocketError(int /*error*/) {}

namespace {

// An echo request's header (its checksum zero) and zeroed data: nothing that
// the buffer received earlier (the host's other ICMP traffic) goes out again.
void writeEchoRequest(unsigned char* p, unsigned char type, int identifier, int sequence, int dataSize) {
    p[0] = type;
    p[1] = 0;
    p[2] = 0;
    p[3] = 0;
    p[4] = static_cast<unsigned char>(identifier >> 8);
    p[5] = static_cast<unsigned char>(identifier);
    p[6] = static_cast<unsigned char>(sequence >> 8);
    p[7] = static_cast<unsigned char>(sequence);
    std::memset(p + kIcmpHeaderSize, 0, static_cast<std::size_t>(dataSize));
}

} // namespace

int CIcmpPing::icmp_sendto(SOCKET s, sockaddr_in* dest, int identifier, int sequence, int dataSize) {
    if (dataSize < 0 || dataSize > kPacketSize - kIcmpHeaderSize) {
        TraceSocketError(EMSGSIZE);
        return -1;
    }
    m_pPacket = m_packetBuf;
    unsigned char* p = m_pPacket;
    writeEchoRequest(p, 8, identifier, sequence, dataSize);
    const int length = kIcmpHeaderSize + dataSize;
    const unsigned short sum = checkSum(reinterpret_cast<unsigned short*>(p), length);
    std::memcpy(p + 2, &sum, 2);
    const ssize_t sent = sendto(s, p, static_cast<std::size_t>(length), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(dest), sizeof *dest);
    if (sent < 0) {
        TraceSocketError(errno);
        return -1;
    }
    return static_cast<int>(sent);
}

int CIcmpPing::icmp_recvfrom(SOCKET s, int* /*out1*/, int* /*out2*/, sockaddr_in* /*from*/,
                             int expectedIdentifier) {
    socklen_t fromLength = sizeof m_fromAddr;
    const ssize_t n =
        recvfrom(s, m_packetBuf, kPacketSize, 0, reinterpret_cast<sockaddr*>(&m_fromAddr), &fromLength);
    if (n < 0) {
        TraceSocketError(errno);
        return -1;
    }
    const auto d = tamber_internal::readDatagram(m_packetBuf, n);
    if (!d.valid || d.type != 0) {
        return -3;
    }
    if (expectedIdentifier != 0 && d.identifier != expectedIdentifier) {
        return -2;
    }
    if (d.identifier - 1 == d.sequence) {
        return static_cast<int>(n);
    }
    return -2;
}

int CIcmpPing::icmp_recvfromOne(SOCKET s, sockaddr_in* /*from*/) {
    // The receiving thread of a sweep reads into its own buffer: m_packetBuf is
    // the sending thread's, which builds every request in it meanwhile.
    unsigned char datagram[kPacketSize];
    socklen_t fromLength = sizeof m_fromAddr;
    const ssize_t n =
        recvfrom(s, datagram, kPacketSize, 0, reinterpret_cast<sockaddr*>(&m_fromAddr), &fromLength);
    if (n < 0) {
        TraceSocketError(errno);
        return -1;
    }
    const auto d = tamber_internal::readDatagram(datagram, n);
    if (!d.valid || d.type != 0) {
        return 0;
    }
    if (d.identifier - 1 != d.sequence) {
        return static_cast<int>(n);
    }
    const int index = d.sequence;
    if (m_pNodes != nullptr && index <= m_nLastNode && m_pNodes[index].addr == m_fromAddr.sin_addr.s_addr) {
        m_pNodes[index].pinged = 1;
    }
    return static_cast<int>(n);
}

// ---- single ping ------------------------------------------------------------

int CIcmpPing::nextEchoNumber() {
    if (sm_nIcmpId > 32000) {
        sm_nIcmpId = 1;
        ++sm_nIcmpSeq;
    } else {
        ++sm_nIcmpId;
        if (sm_nIcmpId > 32000) {
            sm_nIcmpSeq = 1;
        } else {
            ++sm_nIcmpSeq;
        }
    }
    return sm_nIcmpId;
}

namespace {

// One ping's attempts on socket s: send() puts an echo request on the wire
// (false on a socket error); receive() reads what came: its length when it is
// our reply, 0 when it is not, -1 on a socket error. The reply's length, 0
// after a socket error, -2 when no reply came within the attempts (a failed
// wait goes to trace()).
template <class Send, class Receive, class Trace>
int echoAttempts(Trace trace, SOCKET s, int retries, long timeoutMs, Send send, Receive receive) {
    if (retries < 0) {
        retries = 0;
    }
    Wait wait = tamber_internal::firstWait(timeoutMs);
    const long s0 = wait.sec;
    int attempt = 0;
    while (attempt <= kMaxAttemptIndex) {
        if (!send()) {
            return 0;
        }
        int error = 0;
        const int ready = waitReadable(s, wait, &error);
        if (ready < 0) {
            trace(error);
            return -2;
        }
        if (ready == 0) {
            ++attempt;
            wait = tamber_internal::nextWait(wait, s0);
        } else {
            const int length = receive();
            if (length < 0) {
                return 0;
            }
            if (length > 0) {
                return length;
            }
            ++attempt; // not our reply: the wait stays as it is
        }
        if (attempt > retries) {
            break;
        }
    }
    return -2;
}

} // namespace

int CIcmpPing::Tamber(int retries, long timeoutMs, const char* /*hostText*/) {
    const int n = nextEchoNumber();
    return echoAttempts([this](int error) { TraceSocketError(error); }, m_socket, retries, timeoutMs,
                        [&] { return icmp_sendto(m_socket, &m_destAddr, n + 1, n, m_nDataSize) >= 0; },
                        [&] {
                            const int length =
                                icmp_recvfrom(m_socket, &m_nRecvOut1, &m_nRecvOut2, &m_recvAddr, n + 1);
                            return length == -1 ? -1 : (length > 0 ? length : 0); // below -1: not our reply
                        });
}

int CIcmpPing::pingLocked(int retries, long timeoutMs) {
    SectionGuard hold(s_pingLock);
    return Tamber(retries, timeoutMs, nullptr) > 0 ? 1 : 0;
}

int CIcmpPing::TamberByAddr(const char* dottedAddress, int retries, long timeoutMs) {
    try {
        if (m_socket == INVALID_SOCKET || dottedAddress == nullptr) {
            return 0;
        }
        const in_addr_t address = inet_addr(dottedAddress);
        if (address == INADDR_NONE) {
            return 0;
        }
        m_destAddr.sin_family = AF_INET;
        m_destAddr.sin_addr.s_addr = address;
        return pingLocked(retries, timeoutMs);
    } catch (...) {
        return 0;
    }
}

int CIcmpPing::TamberByHexAddr(const std::uint32_t* address, int retries, long timeoutMs) {
    try {
        if (m_socket == INVALID_SOCKET || address == nullptr) {
            return 0;
        }
        m_destAddr.sin_family = AF_INET;
        m_destAddr.sin_addr.s_addr = *address;
        return pingLocked(retries, timeoutMs);
    } catch (...) {
        return 0;
    }
}

int CIcmpPing::TamberByName(const char* /*ignored*/, const char* hostName, int retries, long timeoutMs) {
    try {
        if (m_socket == INVALID_SOCKET || hostName == nullptr) {
            return 0;
        }
        // gethostbyname, in its re-entrant form, with a buffer on the stack (no
        // allocation of ours; an entry that does not fit counts as not found).
        hostent entry{};
        hostent* found = nullptr;
        int lookupError = 0;
        char scratch[16384];
        const int r = gethostbyname_r(hostName, &entry, scratch, sizeof scratch, &found, &lookupError);
        if (r != 0 || found == nullptr || found->h_addrtype != AF_INET || found->h_addr_list[0] == nullptr) {
            return 0;
        }
        in_addr_t address = 0;
        const std::size_t length = found->h_length > 0 ? static_cast<std::size_t>(found->h_length) : 0;
        std::memcpy(&address, found->h_addr_list[0], length < sizeof address ? length : sizeof address);
        m_destAddr.sin_family = AF_INET;
        m_destAddr.sin_addr.s_addr = address;
        return pingLocked(retries, timeoutMs);
    } catch (...) {
        return 0;
    }
}

// The single-ping step over ICMPv6 on socket s: the reply's length on
// success, 0 on a socket error, -2 when no matching reply came.
int CIcmpPing::Tamber6(SOCKET s, const sockaddr_in6& dest, int retries, long timeoutMs) {
    if (m_nDataSize < 0 || m_nDataSize > kPacketSize - kIcmpHeaderSize) {
        return 0;
    }
    const int n = nextEchoNumber();
    const int identifier = n + 1;
    const auto send = [&] {
        // The kernel fills in the checksum of a raw ICMPv6 socket.
        unsigned char* p = m_packetBuf;
        writeEchoRequest(p, 128, identifier, n, m_nDataSize);
        const std::size_t length = std::size_t{kIcmpHeaderSize} + static_cast<std::size_t>(m_nDataSize);
        if (sendto(s, p, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) < 0) {
            TraceSocketError(errno);
            return false;
        }
        return true;
    };
    const auto receive = [&] {
        sockaddr_in6 from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            recvfrom(s, m_packetBuf, kPacketSize, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            TraceSocketError(errno);
            return -1;
        }
        // A raw ICMPv6 socket hands over the ICMP message alone, no IP header.
        const unsigned char* r = m_packetBuf;
        const bool ours = got >= kIcmpHeaderSize && r[0] == 129 && (r[4] << 8 | r[5]) == identifier &&
                          (r[6] << 8 | r[7]) == n &&
                          std::memcmp(&from.sin6_addr, &dest.sin6_addr, sizeof dest.sin6_addr) == 0;
        return ours ? static_cast<int>(got) : 0;
    };
    return echoAttempts([this](int error) { TraceSocketError(error); }, s, retries, timeoutMs, send, receive);
}

int CIcmpPing::TamberByAddr6(const char* address, int retries, long timeoutMs) {
    try {
        sockaddr_in6 dest{};
        dest.sin6_family = AF_INET6;
        if (address == nullptr || inet_pton(AF_INET6, address, &dest.sin6_addr) != 1) {
            return 0;
        }
        const SOCKET s = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMPV6);
        if (s < 0) {
            TraceSocketError(errno);
            return 0;
        }
        // Echo replies only: neighbour discovery and the like never use up an attempt.
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
        setsockopt(s, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        int hops = 128;
        socklen_t hopsLength = sizeof hops;
        if (m_socket != INVALID_SOCKET) {
            getsockopt(m_socket, IPPROTO_IP, IP_TTL, &hops, &hopsLength);
        }
        setsockopt(s, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops);
        int r = 0;
        {
            SectionGuard hold(s_pingLock);
            r = Tamber6(s, dest, retries, timeoutMs);
        }
        close(s);
        return r > 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int CIcmpPing::TamberTraceRoute(const char* dottedAddress, int retries, long timeoutMs) {
    try {
        if (m_socket == INVALID_SOCKET || dottedAddress == nullptr) {
            return -1;
        }
        m_destAddr.sin_family = AF_INET;
        m_destAddr.sin_addr.s_addr = inet_addr(dottedAddress);
        // Linux refuses a TTL of 0 (EINVAL): the first step then goes out with
        // the TTL the socket had.
        setTTL(m_socket, 0);
        for (int hop = 0; hop <= 255; ++hop) {
            const int r = Tamber(retries, timeoutMs, dottedAddress);
            if (r == -3) {
                setTTL(m_socket, hop + 1);
                continue;
            }
            if (r == -2 || r == -1) {
                return -1;
            }
            return hop;
        }
        return -1;
    } catch (...) {
        return -1;
    }
}

// ---- group ping -------------------------------------------------------------

int CIcmpPing::icmp_sendOne(const std::uint32_t* target, int identifier, int sequence) {
    if (target == nullptr) {
        return 0;
    }
    m_destAddr.sin_family = AF_INET;
    m_destAddr.sin_addr.s_addr = *target;
    m_pPacket = m_packetBuf;
    const int sent = icmp_sendto(m_socket, &m_destAddr, identifier, sequence, m_nDataSize);
    return sent < 0 ? 0 : sent;
}

int CIcmpPing::icmp_recvOne() {
    int error = 0;
    const int ready = waitReadable(m_socket, Wait{1, 0}, &error);
    if (ready == 0) {
        return -1;
    }
    if (ready < 0) {
        TraceSocketError(error);
        return -2;
    }
    const int length = icmp_recvfromOne(m_socket, &m_recvAddr);
    return length == -1 ? -3 : length;
}

void* CIcmpPing::GroupReceiveThread(void* object) {
    auto* self = static_cast<CIcmpPing*>(object);
    try {
        s_bGroupError = 0;
        while (self->m_bStopReceiver.load() == 0) {
            if (self->icmp_recvOne() > 0) {
                self->m_nOutstanding.fetch_sub(1);
            } else {
                self->m_nOutstanding.store(0);
            }
        }
        self->m_bReceiverDone = 1;
    } catch (...) {
        s_bGroupError = 1;
    }
    return nullptr;
}

int CIcmpPing::beginGroupPing(int lastNode, int window, int delayMs) {
    if (m_socket == INVALID_SOCKET || m_pNodes == nullptr) {
        return -1;
    }
    // A window below 1 would never let a request out.
    if (window < 1) {
        window = 1;
    }
    s_bGroupError = 0;
    m_bStopReceiver = 0;
    m_bReceiverDone = 0;
    m_nLastNode = lastNode;

    // The receiving thread takes no signals meant for the application.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t receiver;
    const int started = pthread_create(&receiver, nullptr, &CIcmpPing::GroupReceiveThread, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (started != 0) {
        return -1;
    }

    int result = 1;
    m_nNextNode = 0;
    m_nOutstanding = 0;
    while (m_nNextNode <= lastNode && m_bReceiverDone.load() == 0) {
        if (m_nOutstanding.load() < window) {
            icmp_sendOne(&m_pNodes[m_nNextNode].addr, m_nNextNode + 1, m_nNextNode);
            sleepMs(delayMs);
            ++m_nNextNode;
            m_nOutstanding.fetch_add(1);
        } else {
            sched_yield(); // the window is full: test again at once, without sleeping
        }
        if (s_bGroupError.load() != 0) {
            m_bReceiverDone = 1;
            result = -1;
            break;
        }
    }
    if (result == 1) {
        sleepMs(500); // late replies
    }
    // Told to stop, the receiver ends within its current 1-second wait. The
    // receiver is stopped and joined on an error too, so that it never
    // outlives the call on this object.
    m_bStopReceiver = 1;
    while (m_bReceiverDone.load() == 0) {
        if (s_bGroupError.load() != 0) {
            result = -1;
            break;
        }
        sleepMs(10);
    }
    pthread_join(receiver, nullptr);
    return result;
}

void CIcmpPing::copyPingedNodes(pingStruct* nodes, int lastNode) {
    if (m_socket == INVALID_SOCKET || nodes == nullptr || m_pNodes == nullptr) {
        return;
    }
    for (int i = 0; i <= lastNode; ++i) {
        nodes[i].pinged = m_pNodes[i].pinged;
    }
}
