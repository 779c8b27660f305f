#pragma once
// ICMP echo library: does a host answer an ICMP echo request?
//
// Echo requests go out over a raw ICMP socket (AF_INET, SOCK_RAW, IPPROTO_ICMP;
// the process needs CAP_NET_RAW) that is non-blocking, with a select() wait
// before every receive. The single-host ping makes a bounded number of attempts
// with a growing wait; the group ping sweeps a list of addresses with one
// sending and one receiving thread and marks the ones that answered.
//
// The classes are exported with C++ linkage, and their field layout is part of
// the interface: callers allocate CIcmpPing objects themselves and construct
// them through the exported constructors. No member throws to its caller; no
// member produces error text.

#include <atomic>
#include <cstdint>
#include <netinet/in.h>
#include <pthread.h>

#define TAMBER_API __attribute__((visibility("default")))
#define TAMBER_LOCAL __attribute__((visibility("hidden")))

// The Windows Sockets names of the interface, on POSIX sockets.
typedef int SOCKET;
#ifndef INVALID_SOCKET
#define INVALID_SOCKET (-1)
#endif

// A process-wide lock: one recursive mutex, the stand-in for a Win32
// CRITICAL_SECTION (which the owning thread may enter again).
class TAMBER_API CritSec {
public:
    CritSec();
    ~CritSec();
    // Plain member-wise copy: the target then holds a
    // copy of the source's mutex state. Never assign a section that is held.
    CritSec& operator=(const CritSec&) = default;
    CritSec(const CritSec&) = delete;

    void Enter();
    void Exit();

    pthread_mutex_t m_cs;
};

// One group-ping target; callers pass arrays of it (two 4-byte fields, in this order).
struct pingStruct {
    std::uint32_t addr;  // IPv4 address as stored in an in_addr (network byte order)
    std::int32_t pinged; // 1 when an echo reply from addr was seen during the group ping, else 0
};
static_assert(sizeof(pingStruct) == 8);

class TamberTestPeer;

class TAMBER_API CIcmpPing {
public:
    // Single-host object: data bytes per request (at most 120) and the time-to-live.
    CIcmpPing(int dataSize, int ttl = 128);
    // The default-argument form, exported in its own right: data size 32, TTL 128.
    CIcmpPing();
    // Group object: copies the addresses of targets[0..lastNode] (marks cleared); TTL 128.
    CIcmpPing(pingStruct* targets, int lastNode, int dataSize);
    ~CIcmpPing();
    // Plain member-wise copy: the target then shares the
    // source's socket and target array (and both destructors release them), and
    // loses its own. Kept for the interface; the console never copies.
    CIcmpPing& operator=(const CIcmpPing& other);
    CIcmpPing(const CIcmpPing&) = delete;

    // Count users of the sockets layer (POSIX sockets need no start-up).
    static void InitWinsock();
    static void DeInitWinsock();

    // Nonzero when the raw socket is open.
    int IsValidSocket();

    // Single-host ping of a dotted IPv4 text, an in_addr value, or a host name:
    // 1 when an echo reply came, else 0. retries: extra attempts (six attempts
    // at most in all; below 0 counts as 0); timeoutMs: the first wait. These
    // three hold the process-wide s_pingLock, so one single ping runs at a time
    // in the process.
    // Every ICMP datagram the host receives but echo requests reaches the
    // socket, and each one that is not the awaited reply uses up an attempt;
    // datagrams left in the socket by an earlier call are read first: use one
    // object per probe, as the console does.
    int TamberByAddr(const char* dottedAddress, int retries, long timeoutMs);
    // A pointer to a 32-bit in_addr value (an unsigned long on Windows).
    int TamberByHexAddr(const std::uint32_t* address, int retries, long timeoutMs);
    int TamberByName(const char* ignored, const char* hostName, int retries, long timeoutMs);
    // The single-host ping of an IPv6 text (no zone; an IPv4 text gives 0) over
    // a raw ICMPv6 socket of its own, opened and closed by the call: echo
    // request 128, reply 129 from that address with the identifier and
    // sequence sent, the same attempts and waits as TamberByAddr, under the
    // same lock and counter. The hop limit is the object's TTL. 1 when an
    // echo reply came, else 0 (also when the raw socket cannot be opened).
    int TamberByAddr6(const char* address, int retries, long timeoutMs);
    // -1 when the socket is not open or the destination did not answer, else the
    // TTL at which the single-ping step ended.
    int TamberTraceRoute(const char* dottedAddress, int retries, long timeoutMs);

    // Group ping over targets 0..lastNode (at most the constructor's lastNode),
    // at most `window` unanswered requests at a time, delayMs after each send:
    // 1 when every target was sent to and the receiver has stopped; -1 when the
    // socket is not open or a thread failed. A window below 1 counts as 1.
    int beginGroupPing(int lastNode, int window, int delayMs);
    // The receiving thread of a group ping; its argument is the object.
    static void* GroupReceiveThread(void* object);
    // Copies `pinged` of entries 0..lastNode into nodes (addresses untouched);
    // nothing when the socket is not open.
    void copyPingedNodes(pingStruct* nodes, int lastNode);

    // One request to *target (an in_addr value): bytes sent, or 0 on a socket error.
    int icmp_sendOne(const std::uint32_t* target, int identifier, int sequence);
    // Waits up to 1 s for one datagram: -1 nothing arrived, -2 the wait failed,
    // -3 the receive failed, 0 an ICMP message other than an echo reply, else the
    // datagram's length (and the matching target of the sweep is marked).
    int icmp_recvOne();

    static long nInitializedWinsock; // live users counted by InitWinsock (interlocked)
    static int sm_nIcmpId;           // per-process echo counter (1 initially)
    static int sm_nIcmpSeq;          // companion counter, never on the wire (1 initially)

    // Fields, in the order of the shared layout. The group-ping fields shared by the two
    // threads of a sweep are atomics (same size and alignment as int).
    std::atomic<int> m_bReceiverDone;
    std::atomic<int> m_bStopReceiver;
    pingStruct* m_pNodes; // owned copy of the group targets; null for a single-host object
    std::atomic<int> m_nOutstanding;
    SOCKET m_socket;
    int m_nNextNode;
    int m_nLastNode;
    int m_nRecvOut1; // out-parameters handed to the receive routine; never read
    int m_nRecvOut2;
    int m_nDataSize;
    unsigned char* m_pPacket;
    unsigned char m_packetBuf[128];
    sockaddr_in m_fromAddr;
    sockaddr_in m_destAddr;
    sockaddr_in m_recvAddr; // handed to the receive routines; never read

private:
    friend class TamberTestPeer;

    int Tamber(int retries, long timeoutMs, const char* hostText);
    SOCKET icmp_open();
    int icmp_close(SOCKET s);
    int setTTL(SOCKET s, int ttl);
    int icmp_sendto(SOCKET s, sockaddr_in* dest, int identifier, int sequence, int dataSize);
    int icmp_recvfrom(SOCKET s, int* out1, int* out2, sockaddr_in* from, int expectedIdentifier);
    int icmp_recvfromOne(SOCKET s, sockaddr_in* from);
    unsigned short checkSum(unsigned short* buffer, int length);
    void TraceSocketError(int error);

    // Helpers of the implementation, not exported.
    TAMBER_LOCAL void initSingle(int dataSize, int ttl);
    TAMBER_LOCAL int pingLocked(int retries, long timeoutMs);
    TAMBER_LOCAL int nextEchoNumber();
    TAMBER_LOCAL int Tamber6(SOCKET s, const sockaddr_in6& dest, int retries, long timeoutMs);
};

// Serialises the single-ping entry points across all objects of the process.
extern TAMBER_API CritSec s_pingLock;
// 1 when the receiving thread of a group ping failed.
extern TAMBER_API std::atomic<int> s_bGroupError;
