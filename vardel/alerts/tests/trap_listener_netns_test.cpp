// The trap listener on UDP port 162 of a private network namespace, fed by
// Net-SNMP's snmptrap and snmpinform, by a flood of garbage datagrams, and by
// bursts of traps and informs.

#include "snmp/snmp_internal.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/trap_listener.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <random>
#include <sched.h>
#include <set>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const std::string kEnterprise = "1.3.6.1.4.1.9999";
const std::string kPeer = "127.0.0.1:162";

bool writeText(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY);
    if (fd < 0)
        return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Moves this (still single-threaded) process into a network namespace of its
// own with only lo up, whether or not a launcher did so already: port 162 is
// then ours, and nothing sent can leave the namespace.
bool isolateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return false;
        writeText("/proc/self/setgroups", "deny");
        if (!writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    up = up && ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    if (s >= 0)
        close(s);
    return up;
}

class SnmpEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(isolateNetwork()) << "no network namespace of our own";
        ASSERT_EQ(snmpInit(), 0);
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new SnmpEnvironment);

// Runs a Net-SNMP command to its end; its exit status, or -1.
int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Net-SNMP's own encoding of a v1 trap (enterprise E.19, specific 1001, one binding).
const unsigned char kV1Trap[] = {0x30, 0x39, 0x02, 0x01, 0x00, 0x04, 0x06, 0x70, 0x75, 0x62, 0x6c, 0x69,
                                 0x63, 0xa4, 0x2c, 0x06, 0x08, 0x2b, 0x06, 0x01, 0x04, 0x01, 0xce, 0x0f,
                                 0x13, 0x40, 0x04, 0x7f, 0x00, 0x00, 0x01, 0x02, 0x01, 0x06, 0x02, 0x02,
                                 0x03, 0xe9, 0x43, 0x01, 0x05, 0x30, 0x10, 0x30, 0x0e, 0x06, 0x09, 0x2b,
                                 0x06, 0x01, 0x04, 0x01, 0xce, 0x0f, 0x01, 0x01, 0x04, 0x01, 0x78};

} // namespace

class TrapListenerNetns : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::writeFile(m_dir.file("VDTrap.ini"), "[Header]\r\nTotalNum=2\r\n[EnterpriseList]\r\n" +
                                                             kEnterprise +
                                                             "=vd9999.ini\r\n1.3.6.1.4.1.42=vd42.ini\r\n");
        m_listener = std::make_unique<TrapListenerThread>(
            m_dir.path(),
            [this](std::unique_ptr<AlertRecord> record) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_records.push_back(std::move(record));
                m_changed.notify_all();
                return true;
            },
            [this] { m_failed = true; });
        m_listener->start();
        ASSERT_EQ(m_listener->waitForRegistration(), 0);
    }
    void TearDown() override { m_listener->stop(); }

    // Waits (bounded) until a record satisfies pred; returns it, or nullptr.
    template <typename Pred>
    const AlertRecord* waitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const AlertRecord* found = nullptr;
        m_changed.wait_for(lock, limit, [&] {
            for (const auto& r : m_records)
                if (pred(*r)) {
                    found = r.get();
                    return true;
                }
            return false;
        });
        return found;
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records.size();
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<TrapListenerThread> m_listener;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<AlertRecord>> m_records;
    bool m_failed = false;
};

TEST_F(TrapListenerNetns, V1TrapOfAListedEnterpriseBecomesARecord) {
    std::vector<std::string> args = {"snmptrap",  "-v",        "1",
                                     "-c",        "public",    kPeer,
                                     kEnterprise, "127.0.0.1", "6",
                                     "7",         "0",         kEnterprise + ".1.1",
                                     "s",         "disk full", kEnterprise + ".1.2",
                                     "i",         "42"};
    for (int i = 3; i <= 14; ++i) {
        args.push_back(kEnterprise + ".1." + std::to_string(i));
        args.push_back("i");
        args.push_back(std::to_string(i));
    }
    ASSERT_EQ(run(args), 0);
    const AlertRecord* r = waitFor([](const AlertRecord& a) { return a.trapKey == kEnterprise + ".7"; });
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->origin, kOriginTrap);
    EXPECT_EQ(r->enterprise, kEnterprise);
    EXPECT_EQ(r->agentAddress, "127.0.0.1");
    EXPECT_EQ(r->snmpVersion, version1);
    ASSERT_EQ(r->bindingCount, 10); // of 14
    EXPECT_EQ(r->bindings[0].oid, kEnterprise + ".1.1");
    EXPECT_EQ(r->bindings[0].syntax, sNMP_SYNTAX_OCTETS);
    EXPECT_EQ(r->bindings[0].value, "disk full");
    EXPECT_EQ(r->bindings[1].syntax, sNMP_SYNTAX_INT);
    EXPECT_EQ(r->bindings[1].value, "42");
    EXPECT_EQ(r->bindings[9].value, "10");
    EXPECT_FALSE(m_failed);
}

TEST_F(TrapListenerNetns, V2cTrapAndAnsweredInform) {
    ASSERT_EQ(run({"snmptrap", "-v", "2c", "-c", "public", kPeer, "", kEnterprise + ".0.5",
                   kEnterprise + ".1.1", "s", "hello"}),
              0);
    const AlertRecord* trap = waitFor([](const AlertRecord& a) { return a.trapKey == kEnterprise + ".5"; });
    ASSERT_NE(trap, nullptr);
    EXPECT_EQ(trap->snmpVersion, version2c);
    ASSERT_EQ(trap->bindingCount, 1);
    EXPECT_EQ(trap->bindings[0].value, "hello");

    // snmpinform exits 0 only once its inform was acknowledged.
    ASSERT_EQ(run({"snmpinform", "-v", "2c", "-c", "public", "-t", "2", "-r", "2", kPeer, "",
                   "1.3.6.1.4.1.42.0.9"}),
              0);
    ASSERT_NE(waitFor([](const AlertRecord& a) { return a.trapKey == "1.3.6.1.4.1.42.9"; }), nullptr);
}

TEST_F(TrapListenerNetns, UnlistedEnterpriseAndGenericTrapGiveNothing) {
    ASSERT_EQ(
        run({"snmptrap", "-v", "1", "-c", "public", kPeer, "1.3.6.1.4.1.1234", "127.0.0.1", "6", "7", "0"}),
        0);
    ASSERT_EQ(run({"snmptrap", "-v", "1", "-c", "public", kPeer, kEnterprise, "127.0.0.1", "2", "0", "0"}),
              0);
    ASSERT_EQ(run({"snmptrap", "-v", "2c", "-c", "public", kPeer, "", kEnterprise + ".5"}), 0);
    // Sent last and received in order: once it is here the others were dropped.
    ASSERT_EQ(run({"snmptrap", "-v", "2c", "-c", "public", kPeer, "", kEnterprise + ".0.77"}), 0);
    ASSERT_NE(waitFor([](const AlertRecord& a) { return a.trapKey == kEnterprise + ".77"; }), nullptr);
    EXPECT_EQ(count(), 1u);
}

TEST_F(TrapListenerNetns, SurvivesAFloodOfGarbageAndKeepsReceiving) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(162);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::mt19937 random(20240611);
    std::vector<unsigned char> datagram;
    constexpr int kDatagrams = 100000;
    for (int i = 0; i < kDatagrams; ++i) {
        if (i % 2 == 0) {
            // Random bytes, often starting like a BER sequence.
            datagram.resize(1 + random() % 300);
            for (auto& b : datagram)
                b = static_cast<unsigned char>(random());
            if (i % 4 == 0)
                datagram[0] = 0x30;
        } else {
            // The real trap with a few bytes changed, cut short or grown.
            datagram.assign(std::begin(kV1Trap), std::end(kV1Trap));
            for (int m = 1 + static_cast<int>(random() % 4); m > 0; --m)
                datagram[random() % datagram.size()] = static_cast<unsigned char>(random());
            if (random() % 4 == 0)
                datagram.resize(1 + random() % datagram.size());
            else if (random() % 4 == 0)
                datagram.insert(datagram.end(), random() % 64, static_cast<unsigned char>(random()));
        }
        sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    close(s);

    // The listener may have had to drop part of the flood; the valid trap is
    // sent again (a bounded number of times) until it is through.
    const AlertRecord* r = nullptr;
    for (int attempt = 0; attempt < 20 && r == nullptr; ++attempt) {
        ASSERT_EQ(run({"snmptrap", "-v", "1", "-c", "public", kPeer, kEnterprise, "127.0.0.1", "6", "4242",
                       "0", kEnterprise + ".1.1", "s", "after the flood"}),
                  0);
        r = waitFor([](const AlertRecord& a) { return a.bindings[0].value == "after the flood"; },
                    std::chrono::seconds(2));
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->trapKey, kEnterprise + ".4242");
    // Whatever the garbage produced, every record fits its fields.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& record : m_records) {
        EXPECT_LE(record->bindingCount, kMaxBindings);
        EXPECT_LT(record->enterprise.size(), alert_width::kEnterprise);
        EXPECT_LT(record->trapKey.size(), alert_width::kTrapKey);
        EXPECT_LT(record->agentAddress.size(), alert_width::kAgentAddress);
    }
}

// ---- Bursts: a listener with a small receive buffer, fed from a raw socket.

namespace {

// A v2c InformRequest of 1.3.6.1.4.1.42.0.9; its request-id (4 bytes, high
// bit clear) at kIdAt, where the answer's is too.
constexpr std::size_t kIdAt = 17;
std::vector<unsigned char> inform(std::uint32_t requestId) {
    std::vector<unsigned char> d = {
        0x30, 0x42, 0x02, 0x01, 0x01, 0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  0xa6, 0x35, 0x02, 0x04,
        0,    0,    0,    0,    0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x27, 0x30, 0x0d, 0x06, 0x08, 0x2b,
        0x06, 0x01, 0x02, 0x01, 0x01, 0x03, 0x00, 0x43, 0x01, 0x05, 0x30, 0x16, 0x06, 0x0a, 0x2b, 0x06, 0x01,
        0x06, 0x03, 0x01, 0x01, 0x04, 0x01, 0x00, 0x06, 0x08, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x2a, 0x00, 0x09};
    for (int i = 0; i < 4; ++i)
        d[kIdAt + i] = static_cast<unsigned char>(requestId >> (24 - 8 * i));
    return d;
}

// The request-id of a GetResponse to one of those, or -1.
long responseId(const unsigned char* p, std::size_t n) {
    if (n < kIdAt + 4 || p[13] != 0xa2 || p[15] != 0x02 || p[16] != 0x04)
        return -1;
    return static_cast<long>((std::uint32_t{p[17]} << 24) | (p[18] << 16) | (p[19] << 8) | p[20]);
}

int udpSocketTo162(sockaddr_in& to) {
    to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(162);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return socket(AF_INET, SOCK_DGRAM, 0);
}

} // namespace

class TrapBurstNetns : public ::testing::Test {
protected:
    void start(int receiveBuffer, std::size_t receiveQueue = Snmp::kDefaultReceiveQueue) {
        testsupport::writeFile(m_dir.file("VDTrap.ini"), "[Header]\r\nTotalNum=2\r\n[EnterpriseList]\r\n" +
                                                             kEnterprise +
                                                             "=vd9999.ini\r\n1.3.6.1.4.1.42=vd42.ini\r\n");
        m_listener = std::make_unique<TrapListenerThread>(
            m_dir.path(),
            [this](std::unique_ptr<AlertRecord>) {
                if (m_failSink)
                    throw std::bad_alloc();
                // Held here, the listener parses nothing further.
                std::unique_lock lock(m_holdMutex);
                m_holdChanged.wait(lock, [this] { return !m_hold; });
                ++m_received;
                return true;
            },
            [] {});
        m_listener->setReceiveBuffer(receiveBuffer);
        m_listener->setReceiveQueue(receiveQueue);
        m_listener->setLossNotifier([this](std::uint64_t lost) { m_lost += lost; });
        m_listener->start();
        ASSERT_EQ(m_listener->waitForRegistration(), 0);
    }
    void TearDown() override {
        if (m_listener)
            m_listener->stop();
    }
    // Sends the v1 trap count times at full speed; how many left.
    int sendTraps(int count) {
        sockaddr_in to{};
        const int s = udpSocketTo162(to);
        int sent = 0;
        for (int i = 0; i < count; ++i)
            if (sendto(s, kV1Trap, sizeof kV1Trap, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
                static_cast<ssize_t>(sizeof kV1Trap))
                ++sent;
        close(s);
        return sent;
    }
    void holdParser(bool hold) {
        std::lock_guard lock(m_holdMutex);
        m_hold = hold;
        m_holdChanged.notify_all();
    }
    // Sends count traps in batches far smaller than the receive buffer, each
    // once the receiving thread has read the one before: the kernel drops
    // none, however late the thread gets a core.
    void sendInBatches(int count) {
        Snmp* session = m_listener->session();
        ASSERT_NE(session, nullptr);
        constexpr int kBatch = 50;
        for (int sent = 0; sent < count; sent += kBatch) {
            ASSERT_EQ(sendTraps(kBatch), kBatch);
            ASSERT_TRUE(waitUntil(
                [&] { return snmp_internal::receivedDatagrams(*session) == std::uint64_t(sent + kBatch); },
                std::chrono::seconds(30)));
        }
    }
    template <typename Pred> bool waitUntil(Pred pred, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!pred() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return pred();
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<TrapListenerThread> m_listener;
    std::atomic<int> m_received{0};
    bool m_failSink = false; // the sink cannot take a record: out of memory
    std::atomic<std::uint64_t> m_lost{0};
    std::mutex m_holdMutex;
    std::condition_variable m_holdChanged;
    bool m_hold = false;
};

// The parser held at the first trap: what the receiving thread takes off the
// socket waits in its queue, and all of it is delivered once the parser goes on.
TEST_F(TrapBurstNetns, ABurstHeldInTheQueueIsDeliveredWholeOnceTheParserGoesOn) {
    start(256 * 1024);
    holdParser(true);
    constexpr int kTraps = 5000; // ten times what the kernel's buffer holds
    sendInBatches(kTraps);
    holdParser(false);
    EXPECT_TRUE(waitUntil([&] { return m_received >= kTraps; }, std::chrono::seconds(60)));
    EXPECT_EQ(m_received, kTraps);
    EXPECT_EQ(m_listener->session()->droppedDatagrams(), 0u);
}

// A queue of 16 KiB (some 200 traps) beside the held parser: the rest is
// dropped, and reported with its exact count.
TEST_F(TrapBurstNetns, TrapsBeyondTheQueueAreDroppedAndReportedWithTheirCount) {
    start(256 * 1024, 16 * 1024);
    holdParser(true);
    constexpr int kTraps = 1000;
    sendInBatches(kTraps);
    holdParser(false);
    ASSERT_TRUE(
        waitUntil([&] { return m_received + m_lost >= std::uint64_t(kTraps); }, std::chrono::seconds(60)));
    EXPECT_GT(m_received, 0);
    EXPECT_LE(m_received, 2 * 210); // the chunk the parser took, and a full queue
    EXPECT_EQ(m_lost + static_cast<std::uint64_t>(m_received.load()), std::uint64_t(kTraps));
    EXPECT_EQ(m_listener->session()->droppedDatagrams(), m_lost.load());
}

TEST_F(TrapBurstNetns, DatagramsDroppedWhileTheReaderIsHeldAreReportedWithTheirCount) {
    start(64 * 1024);
    Snmp* session = m_listener->session();
    ASSERT_NE(session, nullptr);
    snmp_internal::pauseReceiver(*session, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int sent = sendTraps(3000);
    snmp_internal::pauseReceiver(*session, false);
    // One report, half a second after the burst.
    ASSERT_TRUE(waitUntil([&] { return m_lost > 0; }, std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_GT(m_received, 0);
    EXPECT_EQ(m_lost + static_cast<std::uint64_t>(m_received.load()), static_cast<std::uint64_t>(sent));
}

TEST_F(TrapBurstNetns, RecordsThatCannotBeMadeAreReportedLost) {
    m_failSink = true;
    start(1 << 20);
    ASSERT_EQ(sendTraps(3), 3);
    ASSERT_TRUE(waitUntil([&] { return m_lost >= 3; }, std::chrono::seconds(30)));
    EXPECT_EQ(m_lost.load(), 3u);
    EXPECT_EQ(m_received.load(), 0);
}

TEST_F(TrapBurstNetns, EveryInformOfABurstIsAnswered) {
    start(kTrapReceiveBuffer);
    sockaddr_in to{};
    const int s = udpSocketTo162(to);
    ASSERT_GE(s, 0);
    const int room = 8 << 20; // the answers must not overflow our own socket
    setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    constexpr int kInforms = 3000;
    std::set<long> answered;
    std::thread reader([&] {
        unsigned char buffer[2048];
        pollfd p{s, POLLIN, 0};
        while (static_cast<int>(answered.size()) < kInforms && poll(&p, 1, 10000) > 0) {
            const ssize_t n = recv(s, buffer, sizeof buffer, 0);
            if (n > 0)
                answered.insert(responseId(buffer, static_cast<std::size_t>(n)));
        }
    });
    for (int id = 1; id <= kInforms; ++id) {
        const std::vector<unsigned char> datagram = inform(0x01000000u + static_cast<std::uint32_t>(id));
        sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    reader.join();
    close(s);
    EXPECT_EQ(answered.size(), static_cast<std::size_t>(kInforms));
    EXPECT_EQ(answered.count(-1), 0u);
    EXPECT_TRUE(waitUntil([&] { return m_received >= kInforms; }, std::chrono::seconds(20)));
}
