// Tests of the ICMP echo library. Each test case runs in a network namespace of
// its own (scripts/in-netns); those that need a remote host make a second
// namespace joined by a veth pair (netlab::PeerHost). Requests are checked on
// the wire: a second raw socket in the namespace that receives them captures
// every ICMP datagram, and hand-made replies are injected from there.

#include "tamber/tamber.h"
#include "tamber/tamber_internal.h"
#include "tamber/tests/netlab.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <map>
#include <netinet/icmp6.h>
#include <new>
#include <poll.h>
#include <random>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <type_traits>
#include <unistd.h>

using namespace std::chrono_literals;
using netlab::addr;
using netlab::Bytes;
using netlab::Clock;
using netlab::IcmpCapture;
using netlab::Packet;
using netlab::PeerHost;
using netlab::ReplySpec;
using netlab::seconds;

// Reaches the private members of CIcmpPing (befriended in tamber.h).
class TamberTestPeer {
public:
    // checkSum over a copy of the bytes, its result stored as the header stores it.
    static Bytes checkSum(const Bytes& bytes, int length) {
        CIcmpPing ping;
        alignas(unsigned short) unsigned char buffer[256] = {};
        std::memcpy(buffer, bytes.data(), bytes.size());
        const unsigned short sum = ping.checkSum(reinterpret_cast<unsigned short*>(buffer), length);
        Bytes stored(2);
        std::memcpy(stored.data(), &sum, 2);
        return stored;
    }
};

namespace {

// The counter value n that the next single ping uses (identifier n + 1, sequence n).
int nextCounter() {
    return CIcmpPing::sm_nIcmpId > 32000 ? 1 : CIcmpPing::sm_nIcmpId + 1;
}

// A request as the library lays it out, as it arrived.
void expectRequest(const Packet& p, int identifier, int sequence, int dataSize, int ttl) {
    ASSERT_EQ(p.icmpLength(), 8 + dataSize);
    EXPECT_EQ(p.type(), 8);
    EXPECT_EQ(p.code(), 0);
    EXPECT_EQ(p.identifier(), identifier);
    EXPECT_EQ(p.sequence(), sequence);
    EXPECT_EQ(netlab::inetChecksum(p.icmp(), static_cast<std::size_t>(p.icmpLength())), 0)
        << "the checksum does not verify";
    for (int i = 8; i < p.icmpLength(); ++i) {
        EXPECT_EQ(p.icmp()[i], 0) << "data byte " << i - 8;
    }
    EXPECT_EQ(p.ttl(), ttl);
}

template <typename F> auto timed(F f, double* elapsed) {
    const auto t0 = Clock::now();
    auto r = f();
    *elapsed = seconds(Clock::now() - t0);
    return r;
}

// Lets a capture thread catch up with what the kernel has already delivered
// (and, given a count, first waits for that many requests).
void settle() {
    std::this_thread::sleep_for(150ms);
}
void settle(const IcmpCapture& wire, std::size_t requests) {
    wire.waitForRequests(requests, 3s);
    settle();
}

class Tamber : public ::testing::Test {
protected:
    void SetUp() override {
        if (!netlab::inPrivateNetns()) {
            GTEST_SKIP() << "needs a network namespace of its own: run under scripts/in-netns (ctest does)";
        }
        ASSERT_TRUE(netlab::setEchoIgnoreAll(false));
    }
    void TearDown() override {
        if (netlab::inPrivateNetns()) {
            netlab::setEchoIgnoreAll(false);
        }
    }
};

// A silent or answering host in a second namespace, with a capture there.
class TamberPeer : public Tamber {
protected:
    void startPeer(bool silent) {
        m_peer = std::make_unique<PeerHost>(silent);
        ASSERT_TRUE(m_peer->ok()) << "could not set up the peer namespace";
        m_wire = std::make_unique<IcmpCapture>(m_peer->nsFd());
    }
    void TearDown() override {
        m_wire.reset();
        m_peer.reset();
        Tamber::TearDown();
    }
    std::unique_ptr<PeerHost> m_peer;
    std::unique_ptr<IcmpCapture> m_wire; // what arrives at the peer
};

std::vector<pingStruct> targets(std::initializer_list<const char*> addresses) {
    std::vector<pingStruct> v;
    for (const char* a : addresses) {
        v.push_back({addr(a), 99});
    }
    return v;
}

std::vector<int> marks(CIcmpPing& group, std::vector<pingStruct> nodes) {
    group.copyPingedNodes(nodes.data(), static_cast<int>(nodes.size()) - 1);
    std::vector<int> m;
    for (const auto& n : nodes) {
        m.push_back(n.pinged);
    }
    return m;
}

// ---- layout and exports -----------------------------------------------------

TEST(TamberLayout, FieldsInTheDesignsOrder) {
    static_assert(std::is_standard_layout_v<pingStruct> && sizeof(pingStruct) == 8);
    static_assert(offsetof(pingStruct, addr) == 0 && offsetof(pingStruct, pinged) == 4);
    static_assert(std::is_standard_layout_v<CIcmpPing>);
    std::vector<std::size_t> offsets = {
        offsetof(CIcmpPing, m_bReceiverDone), offsetof(CIcmpPing, m_bStopReceiver),
        offsetof(CIcmpPing, m_pNodes),        offsetof(CIcmpPing, m_nOutstanding),
        offsetof(CIcmpPing, m_socket),        offsetof(CIcmpPing, m_nNextNode),
        offsetof(CIcmpPing, m_nLastNode),     offsetof(CIcmpPing, m_nRecvOut1),
        offsetof(CIcmpPing, m_nRecvOut2),     offsetof(CIcmpPing, m_nDataSize),
        offsetof(CIcmpPing, m_pPacket),       offsetof(CIcmpPing, m_packetBuf),
        offsetof(CIcmpPing, m_fromAddr),      offsetof(CIcmpPing, m_destAddr),
        offsetof(CIcmpPing, m_recvAddr)};
    EXPECT_EQ(offsets,
              (std::vector<std::size_t>{0, 4, 8, 16, 20, 24, 28, 32, 36, 40, 48, 56, 184, 200, 216}));
    EXPECT_EQ(sizeof(CIcmpPing().m_packetBuf), 128u);
    EXPECT_EQ(sizeof(CIcmpPing), 232u);
    EXPECT_EQ(sizeof(CIcmpPing::nInitializedWinsock), sizeof(long));
}

TEST(TamberLayout, ExportsExactlyTheInterface) {
    std::string out;
    ASSERT_EQ(netlab::run({"nm", "-DC", "--defined-only", TAMBER_LIBRARY}, &out), 0) << out;
    std::set<std::string> names;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.find(' ', line.find(' ') + 1);
        if (space != std::string::npos) {
            names.insert(line.substr(space + 1));
        }
    }
    const std::set<std::string> expected = {
        "CritSec::CritSec()",
        "CritSec::~CritSec()",
        "CritSec::Enter()",
        "CritSec::Exit()",
        "CIcmpPing::CIcmpPing()",
        "CIcmpPing::CIcmpPing(int, int)",
        "CIcmpPing::CIcmpPing(pingStruct*, int, int)",
        "CIcmpPing::~CIcmpPing()",
        "CIcmpPing::operator=(CIcmpPing const&)",
        "CIcmpPing::InitWinsock()",
        "CIcmpPing::DeInitWinsock()",
        "CIcmpPing::IsValidSocket()",
        "CIcmpPing::TamberByAddr(char const*, int, long)",
        "CIcmpPing::TamberByHexAddr(unsigned int const*, int, long)",
        "CIcmpPing::TamberByName(char const*, char const*, int, long)",
        "CIcmpPing::TamberTraceRoute(char const*, int, long)",
        "CIcmpPing::TamberByAddr6(char const*, int, long)",
        "CIcmpPing::beginGroupPing(int, int, int)",
        "CIcmpPing::GroupReceiveThread(void*)",
        "CIcmpPing::copyPingedNodes(pingStruct*, int)",
        "CIcmpPing::icmp_sendOne(unsigned int const*, int, int)",
        "CIcmpPing::icmp_recvOne()",
        "CIcmpPing::Tamber(int, long, char const*)",
        "CIcmpPing::icmp_open()",
        "CIcmpPing::icmp_close(int)",
        "CIcmpPing::setTTL(int, int)",
        "CIcmpPing::icmp_sendto(int, sockaddr_in*, int, int, int)",
        "CIcmpPing::icmp_recvfrom(int, int*, int*, sockaddr_in*, int)",
        "CIcmpPing::icmp_recvfromOne(int, sockaddr_in*)",
        "CIcmpPing::checkSum(unsigned short*, int)",
        "CIcmpPing::TraceSocketError(int)",
        "CIcmpPing::nInitializedWinsock",
        "CIcmpPing::sm_nIcmpId",
        "CIcmpPing::sm_nIcmpSeq",
        "s_pingLock",
        "s_bGroupError",
    };
    EXPECT_EQ(names, expected);
}

TEST(TamberLayout, InitialValuesOfTheCounters) {
    // Read in a fresh process: the library's own initial values.
    EXPECT_EQ(CIcmpPing::sm_nIcmpSeq, 1);
    EXPECT_EQ(CIcmpPing::sm_nIcmpId, 1);
    EXPECT_EQ(CIcmpPing::nInitializedWinsock, 0);
    EXPECT_EQ(s_bGroupError.load(), 0);
}

// ---- the pure pieces --------------------------------------------------------

TEST(TamberChecksum, Rfc1071Vectors) {
    // RFC 1071 section 3: the words 0001 f203 f4f5 f6f7 sum to ddf2; the checksum is 220d.
    EXPECT_EQ(TamberTestPeer::checkSum({0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, 8),
              (Bytes{0x22, 0x0d}));
    // An odd final byte is padded with a zero byte: 0001 f203 f4f5 f600.
    EXPECT_EQ(TamberTestPeer::checkSum({0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6}, 7), (Bytes{0x23, 0x04}));
    // An echo request header, identifier 1, sequence 1, no data.
    EXPECT_EQ(TamberTestPeer::checkSum({0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01}, 8),
              (Bytes{0xf7, 0xfd}));
    // Carries fold in: ffff + ffff.
    EXPECT_EQ(TamberTestPeer::checkSum({0xff, 0xff, 0xff, 0xff}, 4), (Bytes{0x00, 0x00}));
    EXPECT_EQ(TamberTestPeer::checkSum({0x00, 0x00}, 2), (Bytes{0xff, 0xff}));
    // A length of 0 or less: 0xFFFF.
    EXPECT_EQ(TamberTestPeer::checkSum({0x12, 0x34}, 0), (Bytes{0xff, 0xff}));
    EXPECT_EQ(TamberTestPeer::checkSum({0x12, 0x34}, -4), (Bytes{0xff, 0xff}));
}

TEST(TamberChecksum, AgreesWithAReferenceAndVerifiesToZero) {
    std::mt19937 random(1071);
    for (int length = 1; length <= 128; ++length) {
        Bytes bytes(static_cast<std::size_t>(length));
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        const std::uint16_t reference = netlab::inetChecksum(bytes.data(), bytes.size());
        const Bytes stored = TamberTestPeer::checkSum(bytes, length);
        ASSERT_EQ(stored,
                  (Bytes{static_cast<std::uint8_t>(reference >> 8), static_cast<std::uint8_t>(reference)}))
            << "length " << length;
        if (length % 2 == 0 && length >= 4) {
            // A buffer holding its own checksum (computed with that field 0) verifies to 0.
            Bytes header = bytes;
            header[2] = header[3] = 0;
            const Bytes sum = TamberTestPeer::checkSum(header, length);
            header[2] = sum[0];
            header[3] = sum[1];
            EXPECT_EQ(TamberTestPeer::checkSum(header, length), (Bytes{0, 0})) << "length " << length;
        }
    }
}

TEST(TamberWaits, FirstWait) {
    using tamber_internal::firstWait;
    using tamber_internal::Wait;
    EXPECT_EQ(firstWait(0), (Wait{1, 0}));
    EXPECT_EQ(firstWait(500), (Wait{0, 500000}));
    EXPECT_EQ(firstWait(1500), (Wait{1, 500000}));
    EXPECT_EQ(firstWait(5000), (Wait{3, 0}));
    EXPECT_EQ(firstWait(1), (Wait{0, 1000}));
    EXPECT_EQ(firstWait(999), (Wait{0, 999000}));
    EXPECT_EQ(firstWait(1000), (Wait{1, 0}));
    EXPECT_EQ(firstWait(3999), (Wait{3, 999000}));
    EXPECT_EQ(firstWait(4000), (Wait{3, 0}));
    EXPECT_EQ(firstWait(-5), (Wait{1, 0}));
}

// The waits of a ping that never gets an answer, in seconds.
std::vector<double> schedule(long timeoutMs, int retries) {
    using namespace tamber_internal;
    const int attempts = std::min(std::max(retries, 0), 5) + 1;
    std::vector<double> waits;
    Wait w = firstWait(timeoutMs);
    const long s0 = w.sec;
    for (int i = 0; i < attempts; ++i) {
        waits.push_back(static_cast<double>(w.sec) + static_cast<double>(w.usec) / 1e6);
        w = nextWait(w, s0);
    }
    return waits;
}

TEST(TamberWaits, Schedules) {
    EXPECT_EQ(schedule(1000, 3), (std::vector<double>{1, 2, 3, 3}));
    EXPECT_EQ(schedule(1000, 0), (std::vector<double>{1}));
    EXPECT_EQ(schedule(1000, 10), (std::vector<double>{1, 2, 3, 3, 3, 3}));
    EXPECT_EQ(schedule(0, 2), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(schedule(500, 3), (std::vector<double>{0.5, 0, 0, 0}));
    EXPECT_EQ(schedule(1500, 2), (std::vector<double>{1.5, 2, 3}));
    EXPECT_EQ(schedule(5000, 1), (std::vector<double>{3, 3}));
    EXPECT_EQ(schedule(600, 3), (std::vector<double>{0.6, 1, 2, 3}));
    EXPECT_EQ(schedule(1700, 2), (std::vector<double>{1.7, 2, 3}));
    EXPECT_EQ(schedule(2500, 1), (std::vector<double>{2.5, 3}));
    EXPECT_EQ(schedule(1, 10), (std::vector<double>{0.001, 0, 0, 0, 0, 0}));
}

TEST(TamberWaits, ReadsTheHeaderLengthFromIhl) {
    using tamber_internal::readDatagram;
    const Bytes icmp = netlab::icmpMessage(0, 0, 7, 6, Bytes(4, 0));
    const Bytes plain = netlab::ipDatagram(addr("127.0.0.1"), addr("127.0.0.1"), icmp);
    const Bytes optioned =
        netlab::ipDatagram(addr("127.0.0.1"), addr("127.0.0.1"), icmp, {1, 1, 1, 0, 1, 1, 1, 0});
    for (const Bytes* d : {&plain, &optioned}) {
        const auto r = readDatagram(d->data(), static_cast<long>(d->size()));
        EXPECT_TRUE(r.valid);
        EXPECT_EQ(r.type, 0);
        EXPECT_EQ(r.identifier, 7);
        EXPECT_EQ(r.sequence, 6);
    }
    EXPECT_FALSE(readDatagram(plain.data(), 27).valid);
    EXPECT_FALSE(readDatagram(optioned.data(), 35).valid);
    Bytes bad = plain;
    bad[0] = 0x44; // IHL below 5
    EXPECT_FALSE(readDatagram(bad.data(), static_cast<long>(bad.size())).valid);
}

// ---- single ping on loopback ------------------------------------------------

TEST_F(Tamber, LiveHostAnswers) {
    IcmpCapture wire;
    CIcmpPing ping(32, 128);
    ASSERT_TRUE(ping.IsValidSocket());
    const int n = nextCounter();
    EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 1);
    settle(wire, 1);
    // The own request does not reach the socket: the first attempt gets the reply.
    const auto requests = wire.requests();
    ASSERT_EQ(requests.size(), 1u);
    expectRequest(requests[0], n + 1, n, 32, 128);
    EXPECT_EQ(requests[0].dst(), addr("127.0.0.1"));
    EXPECT_EQ(CIcmpPing::sm_nIcmpId, n);
}

TEST_F(Tamber, LoopbackAnswersTheOnlyAttempt) {
    IcmpCapture wire;
    CIcmpPing ping;
    EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 0, 3000), 1);
    settle(wire, 1);
    EXPECT_EQ(wire.requests().size(), 1u);
}

TEST_F(Tamber, DataSizeAndTtlOnTheWire) {
    IcmpCapture wire;
    for (auto [dataSize, ttl] : {std::pair{0, 64}, std::pair{120, 5}, std::pair{1, 255}}) {
        wire.clear();
        CIcmpPing ping(dataSize, ttl);
        const int n = nextCounter();
        EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 1) << dataSize;
        settle(wire, 1);
        const auto requests = wire.requests();
        ASSERT_FALSE(requests.empty());
        for (const auto& r : requests) {
            expectRequest(r, n + 1, n, dataSize, ttl);
        }
    }
    // The default-argument form: 32 data bytes, TTL 128.
    wire.clear();
    CIcmpPing ping;
    EXPECT_EQ(ping.m_nDataSize, 32);
    const int n = nextCounter();
    EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 1);
    settle(wire, 1);
    ASSERT_FALSE(wire.requests().empty());
    expectRequest(wire.requests()[0], n + 1, n, 32, 128);
}

TEST_F(Tamber, DataSizeBeyondTheBufferSendsNothing) {
    IcmpCapture wire;
    CIcmpPing ping(121);
    EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 0);
    settle();
    EXPECT_TRUE(wire.packets().empty());
}

TEST_F(Tamber, CounterWrapsAt32001) {
    IcmpCapture wire;
    CIcmpPing::sm_nIcmpId = 31999;
    CIcmpPing::sm_nIcmpSeq = 7;
    struct Step {
        int identifier, sequence, id, seq;
    };
    for (const Step& s :
         {Step{32001, 32000, 32000, 8}, Step{32002, 32001, 32001, 1}, Step{2, 1, 1, 2}, Step{3, 2, 2, 3}}) {
        wire.clear();
        CIcmpPing ping; // one object per probe (see LiveHostAnswers)
        EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 1);
        EXPECT_EQ(CIcmpPing::sm_nIcmpId, s.id);
        EXPECT_EQ(CIcmpPing::sm_nIcmpSeq, s.seq);
        settle(wire, 1);
        const auto requests = wire.requests();
        ASSERT_FALSE(requests.empty());
        for (const auto& r : requests) {
            EXPECT_EQ(r.identifier(), s.identifier);
            EXPECT_EQ(r.sequence(), s.sequence);
        }
    }
}

TEST_F(Tamber, InetAddrRejectionsSendNothing) {
    IcmpCapture wire;
    CIcmpPing ping;
    const int id = CIcmpPing::sm_nIcmpId;
    const int seq = CIcmpPing::sm_nIcmpSeq;
    for (const char* text : {"", "abc", "1.2.3.4.5", "256.0.0.1", "1.2.3.x", "-1", "255.255.255.255"}) {
        EXPECT_EQ(ping.TamberByAddr(text, 3, 1000), 0) << text;
    }
    EXPECT_EQ(ping.TamberByAddr(nullptr, 3, 1000), 0);
    settle();
    EXPECT_TRUE(wire.packets().empty());
    EXPECT_EQ(CIcmpPing::sm_nIcmpId, id) << "no single-ping step ran";
    EXPECT_EQ(CIcmpPing::sm_nIcmpSeq, seq);
}

TEST_F(Tamber, ZeroAddressSends) {
    IcmpCapture wire;
    CIcmpPing ping;
    const int n = nextCounter();
    // Linux delivers a datagram for 0.0.0.0 to this host.
    EXPECT_EQ(ping.TamberByAddr("0.0.0.0", 3, 1000), 1);
    settle(wire, 1);
    const auto requests = wire.requests();
    ASSERT_FALSE(requests.empty());
    expectRequest(requests[0], n + 1, n, 32, 128);
}

TEST_F(Tamber, ByHexAddrAndByName) {
    IcmpCapture wire;
    const std::uint32_t loopback = addr("127.0.0.1");
    EXPECT_EQ(CIcmpPing().TamberByHexAddr(&loopback, 3, 1000), 1);
    EXPECT_EQ(CIcmpPing().TamberByName(nullptr, "localhost", 3, 1000), 1);
    EXPECT_EQ(CIcmpPing().TamberByName("ignored", "127.0.0.2", 3, 1000), 1);
    settle(wire, 3);
    EXPECT_EQ(wire.requests(addr("127.0.0.2")).size(), 1u);

    wire.clear();
    CIcmpPing ping;
    const int id = CIcmpPing::sm_nIcmpId;
    EXPECT_EQ(ping.TamberByName(nullptr, "no-such-host.invalid", 3, 1000), 0);
    EXPECT_EQ(ping.TamberByName(nullptr, nullptr, 3, 1000), 0);
    EXPECT_EQ(ping.TamberByHexAddr(nullptr, 3, 1000), 0);
    settle();
    EXPECT_TRUE(wire.requests().empty());
    EXPECT_EQ(CIcmpPing::sm_nIcmpId, id);
}

TEST_F(Tamber, SendFailureGivesUpAndReleasesTheLock) {
    ASSERT_EQ(netlab::run({"ip", "route", "add", "unreachable", "198.18.9.0/24"}), 0);
    CIcmpPing ping;
    const int n = nextCounter();
    double elapsed = 0;
    EXPECT_EQ(timed([&] { return ping.TamberByAddr("198.18.9.1", 3, 3000); }, &elapsed), 0);
    EXPECT_LT(elapsed, 0.5) << "a failed send ends the ping at once";
    EXPECT_EQ(CIcmpPing::sm_nIcmpId, n);
    auto other = std::async(std::launch::async, [] {
        s_pingLock.Enter();
        s_pingLock.Exit();
        return true;
    });
    EXPECT_EQ(other.wait_for(2s), std::future_status::ready) << "s_pingLock was left held";
    EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 1);
    netlab::run({"ip", "route", "del", "unreachable", "198.18.9.0/24"});
}

TEST_F(Tamber, DescriptorBeyondSelectsReachStillWaits) {
    // select() holds descriptors below FD_SETSIZE only; above, the wait is poll()'s.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 1300) {
        GTEST_SKIP() << "descriptor limit too low";
    }
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 1300);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    auto moveHigh = [](CIcmpPing& p) {
        const int high = fcntl(p.m_socket, F_DUPFD_CLOEXEC, 1200);
        ASSERT_GE(high, FD_SETSIZE);
        close(p.m_socket);
        p.m_socket = high;
    };
    CIcmpPing ping;
    ASSERT_NO_FATAL_FAILURE(moveHigh(ping));
    EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 3, 1000), 1);

    auto nodes = targets({"127.0.0.1"});
    CIcmpPing group(nodes.data(), 0, 32);
    ASSERT_NO_FATAL_FAILURE(moveHigh(group));
    double elapsed = 0;
    EXPECT_EQ(timed([&] { return group.icmp_recvOne(); }, &elapsed), -1);
    EXPECT_GT(elapsed, 0.95);
    EXPECT_LT(elapsed, 1.5);
}

TEST_F(Tamber, NullArgumentsAreRefused) {
    CIcmpPing ping;
    EXPECT_EQ(ping.TamberTraceRoute(nullptr, 3, 1000), -1);
    EXPECT_EQ(ping.icmp_sendOne(nullptr, 1, 0), 0);
    ping.copyPingedNodes(nullptr, 3);
    EXPECT_EQ(ping.beginGroupPing(0, 64, 0), -1) << "a single-host object has no targets";
}

// ---- a remote host ----------------------------------------------------------

TEST_F(TamberPeer, RemoteLiveHostAnswersTheFirstRequest) {
    ASSERT_NO_FATAL_FAILURE(startPeer(false));
    CIcmpPing ping;
    const int n = nextCounter();
    EXPECT_EQ(ping.TamberByAddr(netlab::kPeerAddr, 0, 1000), 1);
    settle(*m_wire, 1);
    const auto requests = m_wire->requests();
    ASSERT_EQ(requests.size(), 1u);
    expectRequest(requests[0], n + 1, n, 32, 128);
    EXPECT_EQ(requests[0].src(), addr(netlab::kLocalAddr));
    EXPECT_EQ(requests[0].dst(), addr(netlab::kPeerAddr));
}

// A silent host: the requests that reach it and the waits between them.
class TamberSchedule : public TamberPeer {
protected:
    void expectSchedule(long timeoutMs, int retries, const std::vector<double>& waits) {
        ASSERT_EQ(schedule(timeoutMs, retries), waits) << "the computed schedule";
        ASSERT_NO_FATAL_FAILURE(startPeer(true));
        CIcmpPing ping;
        const int n = nextCounter();
        const auto t0 = Clock::now();
        EXPECT_EQ(ping.TamberByAddr(netlab::kPeerAddr, retries, timeoutMs), 0);
        const auto t1 = Clock::now();
        settle(*m_wire, waits.size());
        const auto requests = m_wire->requests();
        ASSERT_EQ(requests.size(), waits.size()) << "one request per attempt";
        for (const auto& r : requests) {
            expectRequest(r, n + 1, n, 32, 128);
        }
        double total = 0;
        for (std::size_t i = 0; i < waits.size(); ++i) {
            const auto end = i + 1 < requests.size() ? requests[i + 1].at : t1;
            const double waited = seconds(end - requests[i].at);
            EXPECT_GT(waited, waits[i] - 0.05) << "wait " << i;
            EXPECT_LT(waited, waits[i] + 0.5) << "wait " << i;
            total += waits[i];
        }
        EXPECT_GT(seconds(t1 - t0), total - 0.05);
        EXPECT_LT(seconds(t1 - t0), total + 1.0);
    }
};

TEST_F(TamberSchedule, ConsoleValues1000ms3Retries) {
    expectSchedule(1000, 3, {1, 2, 3, 3});
}
TEST_F(TamberSchedule, Retries0MakesOneAttempt) {
    expectSchedule(1000, 0, {1});
}
TEST_F(TamberSchedule, Retries10MakesSixAttempts) {
    expectSchedule(1, 10, {0.001, 0, 0, 0, 0, 0});
}
TEST_F(TamberSchedule, NegativeRetriesCountAsZero) {
    expectSchedule(1, -3, {0.001});
}
TEST_F(TamberSchedule, Timeout0WaitsOneSecond) {
    expectSchedule(0, 0, {1});
}
TEST_F(TamberSchedule, Timeout500ThenZeroWaits) {
    expectSchedule(500, 2, {0.5, 0, 0});
}
TEST_F(TamberSchedule, Timeout1500) {
    expectSchedule(1500, 2, {1.5, 2, 3});
}
TEST_F(TamberSchedule, Timeout5000WaitsThreeSeconds) {
    expectSchedule(5000, 0, {3});
}

// A silent host whose "replies" the test makes: each bad one uses up an
// attempt at once (the first wait is 3 s), and the good one is then accepted.
class TamberReplies : public TamberPeer {
protected:
    // The reply to the first request is `first`; later requests get a proper reply.
    void expectAttemptUsed(std::function<std::vector<Bytes>(const Packet&)> first) {
        ASSERT_NO_FATAL_FAILURE(startPeer(true));
        std::atomic<int> seen{0};
        m_wire->setResponder([&](const Packet& r) {
            if (seen++ == 0) {
                return first(r);
            }
            return std::vector<Bytes>{netlab::replyTo(r)};
        });
        CIcmpPing ping;
        const int n = nextCounter();
        double elapsed = 0;
        EXPECT_EQ(timed([&] { return ping.TamberByAddr(netlab::kPeerAddr, 1, 3000); }, &elapsed), 1);
        EXPECT_LT(elapsed, 1.5) << "the bad reply must end the first attempt before its 3 s wait";
        settle(*m_wire, 2);
        const auto requests = m_wire->requests();
        ASSERT_EQ(requests.size(), 2u);
        expectRequest(requests[1], n + 1, n, 32, 128);

        // With no retries the bad reply ends the ping.
        m_wire->clear();
        seen = 0;
        EXPECT_EQ(timed([&] { return ping.TamberByAddr(netlab::kPeerAddr, 0, 3000); }, &elapsed), 0);
        EXPECT_LT(elapsed, 1.5);
        settle(*m_wire, 1);
        EXPECT_EQ(m_wire->requests().size(), 1u);
    }
};

TEST_F(TamberReplies, WrongIdentifierUsesAnAttempt) {
    // A well-formed reply (identifier = sequence + 1) to somebody else's request:
    // another process's tamber, whose counter runs on its own.
    expectAttemptUsed([](const Packet& r) {
        return std::vector<Bytes>{netlab::replyTo(r, ReplySpec().shiftIdentifier(7).shiftSequence(7))};
    });
}

TEST_F(TamberReplies, InconsistentIdentifierUsesAnAttempt) {
    expectAttemptUsed([](const Packet& r) {
        return std::vector<Bytes>{netlab::replyTo(r, ReplySpec().shiftIdentifier(1))};
    });
}

TEST_F(TamberReplies, WrongSequenceUsesAnAttempt) {
    // Right identifier, but the sequence is not the identifier minus one.
    expectAttemptUsed(
        [](const Packet& r) { return std::vector<Bytes>{netlab::replyTo(r, ReplySpec().shiftSequence(1))}; });
}

TEST_F(TamberReplies, OtherIcmpTypeUsesAnAttempt) {
    expectAttemptUsed([](const Packet& r) {
        // Destination unreachable, carrying the request's IP header and first 8 bytes.
        const Bytes quoted(r.bytes.begin(), r.bytes.begin() + r.headerLength() + 8);
        return std::vector<Bytes>{
            netlab::ipDatagram(r.dst(), r.src(), netlab::icmpMessage(3, 1, 0, 0, quoted))};
    });
}

TEST_F(TamberReplies, ReplyFromAnotherSourceIsAccepted) {
    ASSERT_NO_FATAL_FAILURE(startPeer(true));
    m_wire->setResponder([](const Packet& r) {
        return std::vector<Bytes>{netlab::replyTo(r, ReplySpec().from(addr(netlab::kSpoofAddr)))};
    });
    CIcmpPing ping;
    EXPECT_EQ(ping.TamberByAddr(netlab::kPeerAddr, 0, 3000), 1)
        << "the single ping does not compare the source";
}

TEST_F(TamberReplies, ReplyWithIpOptionsIsAccepted) {
    ASSERT_NO_FATAL_FAILURE(startPeer(true));
    // NOP, NOP, NOP, end of options: a 24-byte IP header.
    m_wire->setResponder([](const Packet& r) {
        return std::vector<Bytes>{netlab::replyTo(r, ReplySpec().withOptions({1, 1, 1, 0}))};
    });
    CIcmpPing ping;
    double elapsed = 0;
    EXPECT_EQ(timed([&] { return ping.TamberByAddr(netlab::kPeerAddr, 0, 3000); }, &elapsed), 1);
    EXPECT_LT(elapsed, 1.5);
}

TEST_F(TamberReplies, ReplyMeantForAnotherProcessUsesAnAttempt) {
    ASSERT_NO_FATAL_FAILURE(startPeer(true));
    const int n = nextCounter();
    std::atomic<int> ours{0};
    // The peer answers everybody but the first request of our ping.
    m_wire->setResponder([&](const Packet& r) {
        if (r.identifier() == n + 1 && ours++ == 0) {
            return std::vector<Bytes>{};
        }
        return std::vector<Bytes>{netlab::replyTo(r)};
    });
    CIcmpPing ping;
    auto result =
        std::async(std::launch::async, [&] { return ping.TamberByAddr(netlab::kPeerAddr, 1, 3000); });
    ASSERT_TRUE(m_wire->waitForRequests(1, 2s));
    const auto pinged = Clock::now();
    // The system's ping, another process: its reply reaches our raw socket too.
    EXPECT_EQ(netlab::run({"ping", "-n", "-q", "-c", "1", "-W", "2", netlab::kPeerAddr}), 0)
        << "the other process got its reply";
    EXPECT_EQ(result.get(), 1);
    const double afterPing = seconds(Clock::now() - pinged);
    std::vector<Packet> mine;
    for (const auto& r : m_wire->requests()) {
        if (r.identifier() == n + 1) {
            mine.push_back(r);
        }
    }
    ASSERT_EQ(mine.size(), 2u) << "the other reply used up the first attempt";
    EXPECT_LT(seconds(mine[1].at - mine[0].at), 2.0);
    EXPECT_LT(afterPing, 1.5);
}

TEST_F(TamberPeer, TraceRoute) {
    ASSERT_NO_FATAL_FAILURE(startPeer(false));
    CIcmpPing ping;
    EXPECT_EQ(ping.TamberTraceRoute(netlab::kPeerAddr, 0, 1000), 0) << "ends at its first step";
    settle(*m_wire, 1);
    const auto requests = m_wire->requests();
    ASSERT_EQ(requests.size(), 1u);
    // Linux refuses the TTL of 0, so the request keeps the socket's TTL.
    EXPECT_EQ(requests[0].ttl(), 128);
    ASSERT_TRUE(m_peer->setSilent(true));
    EXPECT_EQ(ping.TamberTraceRoute(netlab::kPeerAddr, 0, 1), -1);
}

// ---- group ping -------------------------------------------------------------

TEST_F(TamberPeer, GroupPingMarksExactlyTheLiveTargets) {
    ASSERT_NO_FATAL_FAILURE(startPeer(true));
    IcmpCapture local;
    auto nodes = targets(
        {"127.0.0.1", netlab::kPeerAddr, "127.0.0.2", netlab::kPeerAddr2, "127.0.0.3", netlab::kPeerAddr3});
    // The silent peer makes replies that must mark nothing: from another source,
    // with the identifier not the sequence plus one, with a sequence beyond the
    // sweep (target 5 exists, but the sweep ends at 4) or beyond the array.
    m_wire->setResponder([](const Packet& r) {
        std::vector<Bytes> out;
        if (r.dst() == addr(netlab::kPeerAddr)) {
            out.push_back(netlab::replyTo(r, ReplySpec().from(addr(netlab::kSpoofAddr))));
            out.push_back(netlab::replyTo(
                r, ReplySpec().shiftIdentifier(4).shiftSequence(4).from(addr(netlab::kPeerAddr3))));
            out.push_back(netlab::replyTo(r, ReplySpec().shiftIdentifier(299).shiftSequence(299)));
        }
        if (r.dst() == addr(netlab::kPeerAddr2)) {
            out.push_back(netlab::replyTo(r, ReplySpec().shiftIdentifier(1)));
        }
        return out;
    });
    CIcmpPing group(nodes.data(), 5, 32);
    ASSERT_TRUE(group.IsValidSocket());
    double elapsed = 0;
    EXPECT_EQ(timed([&] { return group.beginGroupPing(4, 64, 0); }, &elapsed), 1);
    EXPECT_GT(elapsed, 0.5);
    EXPECT_LT(elapsed, 2.5);
    EXPECT_EQ(s_bGroupError.load(), 0);
    EXPECT_EQ(marks(group, nodes), (std::vector<int>{1, 0, 1, 0, 1, 0}));

    // Request i carries identifier i + 1 and sequence i.
    settle(local, 3);
    settle(*m_wire, 2);
    const std::vector<const char*> order = {"127.0.0.1", netlab::kPeerAddr, "127.0.0.2", netlab::kPeerAddr2,
                                            "127.0.0.3"};
    for (int i = 0; i < 5; ++i) {
        const auto& capture = i % 2 == 0 ? local : *m_wire;
        const auto requests = capture.requests(addr(order[static_cast<std::size_t>(i)]));
        ASSERT_EQ(requests.size(), 1u) << "target " << i;
        expectRequest(requests[0], i + 1, i, 32, 128);
    }
    EXPECT_TRUE(m_wire->requests(addr(netlab::kPeerAddr3)).empty()) << "target 5 is not in the sweep";
}

TEST_F(TamberPeer, GroupPingWindowHoldsBackRequests) {
    ASSERT_NO_FATAL_FAILURE(startPeer(true));
    auto nodes = targets(
        {netlab::kPeerAddr, netlab::kPeerAddr2, netlab::kPeerAddr3, netlab::kPeerAddr, netlab::kPeerAddr2});
    CIcmpPing group(nodes.data(), 4, 32);
    double elapsed = 0;
    EXPECT_EQ(timed([&] { return group.beginGroupPing(4, 2, 0); }, &elapsed), 1);
    settle(*m_wire, 5);
    const auto requests = m_wire->requests();
    ASSERT_EQ(requests.size(), 5u);
    // Two at a time; with nothing answered the receiver empties the window after
    // each second without a datagram.
    auto at = [&](std::size_t i) { return seconds(requests[i].at - requests[0].at); };
    EXPECT_LT(at(1), 0.3);
    EXPECT_GT(at(2), 0.9);
    EXPECT_LT(at(3) - at(2), 0.3);
    EXPECT_GT(at(4), 1.9);
    EXPECT_LT(at(4), 3.0);
    for (int i = 0; i < 5; ++i) {
        expectRequest(requests[static_cast<std::size_t>(i)], i + 1, i, 32, 128);
    }
    EXPECT_LT(elapsed, 4.5);
    EXPECT_EQ(marks(group, nodes), (std::vector<int>{0, 0, 0, 0, 0}));
}

TEST_F(Tamber, GroupPingPausesAfterEachSend) {
    IcmpCapture wire;
    auto nodes = targets({"127.0.0.1", "127.0.0.2", "127.0.0.3"});
    CIcmpPing group(nodes.data(), 2, 16);
    EXPECT_EQ(group.beginGroupPing(2, 64, 150), 1);
    settle(wire, 3);
    const auto requests = wire.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_GT(seconds(requests[1].at - requests[0].at), 0.14);
    EXPECT_GT(seconds(requests[2].at - requests[1].at), 0.14);
    expectRequest(requests[2], 3, 2, 16, 128);
    EXPECT_EQ(marks(group, nodes), (std::vector<int>{1, 1, 1}));
}

TEST_F(Tamber, GroupPingKeepsEarlierMarksAndCopiesOnlyTheRange) {
    auto nodes = targets({"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"});
    CIcmpPing group(nodes.data(), 3, 32);
    EXPECT_EQ(group.beginGroupPing(1, 64, 0), 1);
    EXPECT_EQ(marks(group, nodes), (std::vector<int>{1, 1, 0, 0}));
    // Now nobody answers: the next sweep does not clear the earlier marks.
    ASSERT_TRUE(netlab::setEchoIgnoreAll(true));
    EXPECT_EQ(group.beginGroupPing(3, 64, 0), 1);
    EXPECT_EQ(marks(group, nodes), (std::vector<int>{1, 1, 0, 0}));

    // Only entries 0..lastNode are copied, and only their marks.
    std::vector<pingStruct> mine = {{1, 7}, {2, 7}, {3, 7}, {4, 7}};
    group.copyPingedNodes(mine.data(), 1);
    EXPECT_EQ(mine[0].addr, 1u);
    EXPECT_EQ(mine[0].pinged, 1);
    EXPECT_EQ(mine[1].addr, 2u);
    EXPECT_EQ(mine[1].pinged, 1);
    EXPECT_EQ(mine[2].pinged, 7);
    EXPECT_EQ(mine[3].pinged, 7);
}

TEST_F(Tamber, GroupReceiveTestMarksByHand) {
    // icmp_sendOne and icmp_recvOne on their own: the reply marks.
    auto nodes = targets({"127.0.0.1", "127.0.0.2"});
    CIcmpPing group(nodes.data(), 1, 32);
    EXPECT_EQ(group.icmp_sendOne(&nodes[1].addr, 2, 1), 40);
    EXPECT_EQ(group.icmp_recvOne(), 60);
    EXPECT_EQ(group.m_fromAddr.sin_addr.s_addr, addr("127.0.0.2"));
    EXPECT_EQ(group.icmp_recvOne(), -1) << "nothing more within a second";
    EXPECT_EQ(marks(group, nodes), (std::vector<int>{0, 1}));
}

// ---- without CAP_NET_RAW ----------------------------------------------------

// Runs `body` in a child process that has given up CAP_NET_RAW; its lines of output.
std::map<std::string, std::string> withoutNetRaw(const std::function<void(std::ostream&)>& body) {
    int out[2];
    if (pipe(out) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        std::ostringstream report;
        if (syscall(SYS_capget, &header, data) == 0) {
            for (auto& d : data) {
                d.effective &= ~(1u << CAP_NET_RAW);
                d.permitted &= ~(1u << CAP_NET_RAW);
                d.inheritable &= ~(1u << CAP_NET_RAW);
            }
            report << "capset=" << syscall(SYS_capset, &header, data) << "\n";
            const int probe = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
            report << "probe=" << (probe < 0 ? "refused" : "opened") << "\n";
            body(report);
        }
        const std::string text = report.str();
        const ssize_t written = write(out[1], text.data(), text.size());
        _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::map<std::string, std::string> result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        result[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return result;
}

TEST_F(Tamber, WithoutCapNetRawTheObjectHasNoSocket) {
    IcmpCapture wire;
    auto r = withoutNetRaw([](std::ostream& o) {
        const long users = CIcmpPing::nInitializedWinsock;
        const int id = CIcmpPing::sm_nIcmpId;
        {
            CIcmpPing ping;
            o << "users=" << CIcmpPing::nInitializedWinsock - users << "\n";
            o << "valid=" << ping.IsValidSocket() << "\n";
            o << "byAddr=" << ping.TamberByAddr("127.0.0.1", 3, 1000) << "\n";
            const std::uint32_t a = addr("127.0.0.1");
            o << "byHex=" << ping.TamberByHexAddr(&a, 3, 1000) << "\n";
            o << "byName=" << ping.TamberByName(nullptr, "localhost", 3, 1000) << "\n";
            o << "trace=" << ping.TamberTraceRoute("127.0.0.1", 3, 1000) << "\n";
            pingStruct caller[2] = {{0xdeadbeef, 55}, {0x01020304, 66}};
            ping.copyPingedNodes(caller, 1);
            o << "singleCopy=" << std::hex << caller[0].addr << "/" << std::dec << caller[0].pinged << ","
              << caller[1].pinged << "\n";

            pingStruct nodes[2] = {{a, 0}, {addr("127.0.0.2"), 0}};
            CIcmpPing group(nodes, 1, 32);
            o << "groupValid=" << group.IsValidSocket() << "\n";
            o << "group=" << group.beginGroupPing(1, 64, 0) << "\n";
            group.copyPingedNodes(caller, 1);
            o << "groupCopy=" << std::hex << caller[0].addr << "/" << std::dec << caller[0].pinged << ","
              << caller[1].pinged << "\n";
            o << "sendOne=" << group.icmp_sendOne(&a, 1, 0) << "\n";
            o << "users2=" << CIcmpPing::nInitializedWinsock - users << "\n";
        }
        o << "usersAfter=" << CIcmpPing::nInitializedWinsock - users << "\n";
        o << "counter=" << CIcmpPing::sm_nIcmpId - id << "\n";
    });
    EXPECT_EQ(r["capset"], "0");
    EXPECT_EQ(r["probe"], "refused");
    EXPECT_EQ(r["users"], "1");
    EXPECT_EQ(r["valid"], "0");
    EXPECT_EQ(r["byAddr"], "0");
    EXPECT_EQ(r["byHex"], "0");
    EXPECT_EQ(r["byName"], "0");
    EXPECT_EQ(r["trace"], "-1");
    EXPECT_EQ(r["singleCopy"], "deadbeef/55,66");
    EXPECT_EQ(r["groupValid"], "0");
    EXPECT_EQ(r["group"], "-1");
    EXPECT_EQ(r["groupCopy"], "deadbeef/55,66") << "the caller's array is left untouched";
    EXPECT_EQ(r["sendOne"], "0");
    EXPECT_EQ(r["users2"], "2");
    EXPECT_EQ(r["usersAfter"], "0") << "destroying a socketless object releases its count";
    EXPECT_EQ(r["counter"], "0");
    settle();
    EXPECT_TRUE(wire.packets().empty());
}

// ---- counting, copying, concurrency -------------------------------------------

TEST_F(Tamber, WinsockUsersAreCounted) {
    const long base = CIcmpPing::nInitializedWinsock;
    {
        CIcmpPing a;
        EXPECT_EQ(CIcmpPing::nInitializedWinsock, base + 1);
        pingStruct node{addr("127.0.0.1"), 0};
        CIcmpPing b(&node, 0, 32);
        EXPECT_EQ(CIcmpPing::nInitializedWinsock, base + 2);
    }
    EXPECT_EQ(CIcmpPing::nInitializedWinsock, base);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 20000; ++i) {
                CIcmpPing::InitWinsock();
            }
            for (int i = 0; i < 20000; ++i) {
                CIcmpPing::DeInitWinsock();
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(CIcmpPing::nInitializedWinsock, base);
}

TEST_F(Tamber, CopyAssignmentIsMemberWise) {
    auto nodes = targets({"127.0.0.1", "127.0.0.2"});
    CIcmpPing source(nodes.data(), 1, 48);
    source.m_nNextNode = 5;
    source.m_packetBuf[77] = 0x5a;
    source.m_destAddr.sin_addr.s_addr = addr("127.0.0.9");
    // The target then shares the source's socket and array, and would release
    // them again: it is never destroyed here, only its own socket is closed.
    alignas(CIcmpPing) unsigned char storage[sizeof(CIcmpPing)];
    auto* target = new (storage) CIcmpPing(16, 64);
    const SOCKET own = target->m_socket;
    *target = source;
    EXPECT_EQ(target->m_socket, source.m_socket);
    EXPECT_EQ(target->m_pNodes, source.m_pNodes);
    EXPECT_EQ(target->m_nDataSize, 48);
    EXPECT_EQ(target->m_nNextNode, 5);
    EXPECT_EQ(target->m_nLastNode, 1);
    EXPECT_EQ(target->m_packetBuf[77], 0x5a);
    EXPECT_EQ(target->m_destAddr.sin_addr.s_addr, addr("127.0.0.9"));
    close(own);
    CIcmpPing::DeInitWinsock();
}

TEST_F(Tamber, SinglePingsWaitForTheLock) {
    IcmpCapture wire;
    s_pingLock.Enter();
    // The trace route and the group ping do not take the lock.
    {
        CIcmpPing other;
        auto trace =
            std::async(std::launch::async, [&] { return other.TamberTraceRoute("127.0.0.1", 3, 1000); });
        EXPECT_EQ(trace.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(trace.get(), 0);
        auto nodes = targets({"127.0.0.2"});
        CIcmpPing group(nodes.data(), 0, 32);
        auto sweep = std::async(std::launch::async, [&] { return group.beginGroupPing(0, 64, 0); });
        EXPECT_EQ(sweep.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(sweep.get(), 1);
        EXPECT_EQ(marks(group, nodes), (std::vector<int>{1}));
    }
    // A single ping waits. (Its object is made only now: a raw socket receives
    // every ICMP datagram of the host, and whatever waits in it from earlier
    // traffic uses up attempts.)
    settle();
    wire.clear();
    CIcmpPing ping;
    auto result = std::async(std::launch::async, [&] { return ping.TamberByAddr("127.0.0.1", 3, 1000); });
    EXPECT_EQ(result.wait_for(300ms), std::future_status::timeout);
    EXPECT_TRUE(wire.requests().empty()) << "nothing is sent while another holds the lock";
    s_pingLock.Exit();
    EXPECT_EQ(result.get(), 1);
    EXPECT_TRUE(wire.waitForRequests(1, 3s));
}

TEST_F(Tamber, RepeatedLoopbackPingsOnOneObjectEachAnswer) {
    // Nothing of one call is left in the socket for the next.
    IcmpCapture wire;
    CIcmpPing ping;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ping.TamberByAddr("127.0.0.1", 0, 1000), 1) << "call " << i;
    settle(wire, 3);
    EXPECT_EQ(wire.requests().size(), 3u);
}

TEST_F(TamberPeer, SinglePingsOfManyObjectsAreSerialised) {
    ASSERT_NO_FATAL_FAILURE(startPeer(false));
    CIcmpPing::sm_nIcmpId = 100;
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                CIcmpPing ping; // one object per probe, as the console does
                answered += ping.TamberByAddr(netlab::kPeerAddr, 5, 1000);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(CIcmpPing::sm_nIcmpId, 130) << "every ping advanced the counter once";
    EXPECT_GT(answered.load(), 0);
    settle(*m_wire, 30);
    // One ping at a time: the requests reach the peer in counter order.
    std::set<int> identifiers;
    int last = 0;
    for (const auto& r : m_wire->requests()) {
        EXPECT_GE(r.identifier(), last);
        EXPECT_EQ(r.identifier() - 1, r.sequence());
        last = r.identifier();
        identifiers.insert(r.identifier());
    }
    EXPECT_EQ(identifiers.size(), 30u);
    EXPECT_EQ(*identifiers.begin(), 102);
    EXPECT_EQ(*identifiers.rbegin(), 131);
}

} // namespace

// ---- ICMPv6 -----------------------------------------------------------------

namespace {

// The echo requests that reach this namespace over ICMPv6 (no IP header).
std::vector<netlab::Bytes> echo6Requests(int fd) {
    std::vector<netlab::Bytes> got;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            return got;
        }
        netlab::Bytes b(256);
        const ssize_t n = recv(fd, b.data(), b.size(), 0);
        if (n <= 0) {
            return got;
        }
        b.resize(static_cast<std::size_t>(n));
        got.push_back(b);
    }
}

int echo6Capture() {
    const int fd = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    return fd;
}

bool setEcho6IgnoreAll(bool ignore) {
    std::ofstream f("/proc/sys/net/ipv6/icmp/echo_ignore_all");
    f << (ignore ? "1\n" : "0\n");
    f.flush();
    return static_cast<bool>(f);
}

} // namespace

TEST_F(Tamber, Ipv6LoopbackAndUniqueLocalAddressesAnswer) {
    ASSERT_EQ(netlab::run({"ip", "-6", "addr", "add", "fd00:7::1/128", "dev", "lo", "nodad"}), 0);
    const int wire = echo6Capture();
    ASSERT_GE(wire, 0);
    CIcmpPing ping(32, 128);
    const int n = nextCounter();
    EXPECT_EQ(ping.TamberByAddr6("::1", 0, 1000), 1);
    EXPECT_EQ(ping.TamberByAddr6("FD00:7:0::1", 3, 1000), 1);
    const auto requests = echo6Requests(wire);
    close(wire);
    // One request each, the first attempt answered; identifier n + 1, sequence n, 32 data bytes.
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].size(), 40u);
    EXPECT_EQ(requests[0][0], 128);
    EXPECT_EQ(requests[0][4] << 8 | requests[0][5], n + 1);
    EXPECT_EQ(requests[0][6] << 8 | requests[0][7], n);
    EXPECT_EQ(requests[1][6] << 8 | requests[1][7], n + 1); // the counter the IPv4 ping shares
}

TEST_F(Tamber, Ipv6SilenceAndUnusableTextsGiveZero) {
    ASSERT_TRUE(setEcho6IgnoreAll(true));
    CIcmpPing ping;
    const int wire = echo6Capture();
    EXPECT_EQ(ping.TamberByAddr6("::1", 1, 200), 0);
    EXPECT_EQ(echo6Requests(wire).size(), 2u); // two attempts
    setEcho6IgnoreAll(false);
    for (const char* text : {"127.0.0.1", "fd00::1%lo", "::1::2", ""}) {
        EXPECT_EQ(ping.TamberByAddr6(text, 0, 100), 0) << text;
    }
    EXPECT_EQ(ping.TamberByAddr6(nullptr, 0, 100), 0);
    EXPECT_TRUE(echo6Requests(wire).empty()); // nothing sent
    close(wire);
}
