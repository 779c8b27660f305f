#pragma once
// A small network laboratory for the tamber tests, inside the network
// namespace that scripts/in-netns gives each test: a second namespace joined to
// ours by a veth pair (a remote host that answers or stays silent), capture of
// the ICMP datagrams a namespace receives with a second raw socket, and
// injection of hand-made datagrams (replies with a wrong identifier, another
// source, IP options, other ICMP types).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace netlab {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Our side of the veth pair and the peer's addresses (a range reserved for
// testing; it exists only inside the test's own namespaces).
inline constexpr const char* kLocalAddr = "198.18.0.1";
inline constexpr const char* kPeerAddr = "198.18.0.2";
inline constexpr const char* kSpoofAddr = "198.18.0.3"; // nobody's: only forged as a source
inline constexpr const char* kPeerAddr2 = "198.18.0.4";
inline constexpr const char* kPeerAddr3 = "198.18.0.5";

std::uint32_t addr(const char* dotted); // network byte order

// True when this process runs in a network namespace of its own (as under
// scripts/in-netns), where the tests may change sysctls and interfaces.
bool inPrivateNetns();

// Runs a program (no shell); its exit status, or -1. Output is discarded
// unless `output` is given.
int run(const std::vector<std::string>& argv, std::string* output = nullptr);

// net.ipv4.icmp_echo_ignore_all of the caller's namespace.
bool setEchoIgnoreAll(bool ignore);

// A socket created in the namespace of nsFd (-1: the caller's).
int socketIn(int nsFd, int domain, int type, int protocol);

// The Internet checksum as it goes on the wire (big-endian value).
std::uint16_t inetChecksum(const std::uint8_t* data, std::size_t length);

// One received IPv4 datagram with the time it was read.
struct Packet {
    Bytes bytes;
    Clock::time_point at;

    int headerLength() const { return (bytes[0] & 0x0f) * 4; }
    std::uint32_t src() const; // network byte order
    std::uint32_t dst() const;
    int ttl() const { return bytes[8]; }
    const std::uint8_t* icmp() const { return bytes.data() + headerLength(); }
    int icmpLength() const { return static_cast<int>(bytes.size()) - headerLength(); }
    int type() const { return icmp()[0]; }
    int code() const { return icmp()[1]; }
    int identifier() const { return icmp()[4] << 8 | icmp()[5]; }
    int sequence() const { return icmp()[6] << 8 | icmp()[7]; }
};

// An ICMP message (checksum filled in) with an 8-byte header and data.
Bytes icmpMessage(int type, int code, int identifier, int sequence, const Bytes& data);
// An IPv4 datagram carrying an ICMP message; options (a multiple of 4 bytes) go after the header.
Bytes ipDatagram(std::uint32_t src, std::uint32_t dst, const Bytes& icmp, const Bytes& options = {});
// The echo reply a host would send to a request, with the fields overridable:
// replyTo(r, ReplySpec().shiftIdentifier(1).from(addr("198.18.0.3"))).
struct ReplySpec {
    int type = 0;
    int code = 0;
    int identifierDelta = 0; // added to the request's identifier
    int sequenceDelta = 0;   // added to the request's sequence
    std::uint32_t src = 0;   // 0: the request's destination
    Bytes ipOptions;

    ReplySpec& shiftIdentifier(int delta) {
        identifierDelta = delta;
        return *this;
    }
    ReplySpec& shiftSequence(int delta) {
        sequenceDelta = delta;
        return *this;
    }
    ReplySpec& from(std::uint32_t source) {
        src = source;
        return *this;
    }
    ReplySpec& withOptions(Bytes options) {
        ipOptions = std::move(options);
        return *this;
    }
};
Bytes replyTo(const Packet& request, const ReplySpec& reply = ReplySpec());

// A raw ICMP socket in a namespace collecting every ICMP datagram that the
// namespace receives; optionally answers echo requests with injected datagrams.
class IcmpCapture {
public:
    using Responder = std::function<std::vector<Bytes>(const Packet&)>;

    explicit IcmpCapture(int nsFd = -1);
    ~IcmpCapture();
    IcmpCapture(const IcmpCapture&) = delete;
    IcmpCapture& operator=(const IcmpCapture&) = delete;

    void setResponder(Responder responder);
    // Sends a whole IPv4 datagram from this namespace (IP_HDRINCL).
    void inject(const Bytes& datagram);

    std::vector<Packet> packets() const;
    // Echo requests (type 8), in arrival order; those to `dst` only when given.
    std::vector<Packet> requests(std::uint32_t dst = 0) const;
    // Waits until at least `count` echo requests have arrived.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    void clear();

private:
    void loop();

    int m_socket = -1;
    int m_injector = -1;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Packet> m_packets;
    Responder m_responder;
    bool m_stop = false;
};

// A second namespace joined to ours by the veth pair tb0 (ours, kLocalAddr) and
// tb1 (the peer's: kPeerAddr, kPeerAddr2, kPeerAddr3). A silent peer ignores
// echo requests (net.ipv4.icmp_echo_ignore_all=1 there).
class PeerHost {
public:
    explicit PeerHost(bool silent);
    ~PeerHost();
    PeerHost(const PeerHost&) = delete;
    PeerHost& operator=(const PeerHost&) = delete;

    bool ok() const { return m_ok; }
    int nsFd() const { return m_nsFd; }
    bool setSilent(bool silent);

private:
    int inPeer(const std::string& script);

    pid_t m_pid = -1;
    int m_hold = -1;
    int m_nsFd = -1;
    bool m_ok = false;
};

double seconds(Clock::duration d);

} // namespace netlab
