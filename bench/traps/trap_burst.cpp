// Sends a burst of SNMPv1 traps from one Net-SNMP session to the trap
// listener on 127.0.0.1:162, then the same burst to snmptrapd logging to a
// file (with its default receive buffer, then with 8 MiB), and prints how
// many arrived, how fast, and at what CPU cost.
//
//   scripts/in-netns build/bench/bench_trap_burst [count] [rate] [buffer KiB] [v1|v2c|v3]
//
// v2c and v3 send SNMPv2 traps from a child process (v3: authPriv, SHA-256 and
// AES-128, the sender's own engine ID, as snmptrap -v 3 -e does) to the
// listener alone, to compare the two under the same burst.
// rate 0 (default) sends at full speed; otherwise traps per second. A small
// buffer (2048 holds some 5,000 traps) shows the receiving thread keeping the
// kernel's buffer empty: a burst of 20,000 arrives whole.

#define snmp_callback netsnmp_snmp_callback
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#undef snmp_callback

#include "bench/traps/trap_sender.h"
#include "snmp/snmp.h"
#include "snmp/snmp_internal.h"
#include "vardel/alerts/trap_listener.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// CPU seconds used so far by process pid (user + system).
double processCpu(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The receive buffer of the UDP socket bound to port 162, from ss (-1 when unknown).
int socketBuffer(pid_t) {
    FILE* p = popen("ss -uanm 'sport = :162' 2>/dev/null", "r");
    if (p == nullptr)
        return -1;
    char line[512];
    int rb = -1;
    while (std::fgets(line, sizeof line, p) != nullptr)
        if (const char* at = std::strstr(line, ",rb"))
            rb = std::atoi(at + 3);
    pclose(p);
    return rb;
}

// True when 127.0.0.1:162 is bound by someone.
bool portTaken() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(162);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool taken = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    close(s);
    return taken;
}

// The same burst into snmptrapd on the same port, logging to a file, with its
// default receive buffer (bufferBytes 0) or with serverRecvBuf.
void snmptrapd(const std::string& dir, int count, double rate, int bufferBytes) {
    std::string conf = dir + "snmptrapd.conf";
    std::string log = dir + "snmptrapd-" + std::to_string(bufferBytes) + ".log";
    std::ofstream(conf) << "disableAuthorization yes\ndoNotRetainNotificationLogs yes\n"
                        << (bufferBytes > 0 ? "[snmp] serverRecvBuf " + std::to_string(bufferBytes) + "\n"
                                            : "");
    std::vector<std::string> args = {
        "snmptrapd", "-f", "-C",           "-c", conf, "-n", "-On", "-Lf",
        log,         "-F", "TRAP %N %q\n", "-M", dir,  "-m", "",    "udp:127.0.0.1:162"};
    std::vector<char*> cargs;
    for (auto& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "snmptrapd", nullptr, nullptr, cargs.data(), environ) != 0)
        return;
    // Ready once it holds the port (bounded wait).
    for (int i = 0; i < 100 && !portTaken(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int buffer = socketBuffer(pid);
    // Its log file is written through a buffer that only exit flushes, so the
    // end of the burst is when its CPU time stops growing.
    double cpuBefore = processCpu(pid);
    auto start = Clock::now();
    int sent = 0;
    double sendSeconds = sendBurst(count, sent, rate);
    double cpu = processCpu(pid);
    auto lastGrowth = Clock::now();
    for (int i = 0; i < 6000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        double now = processCpu(pid);
        if (now != cpu) {
            cpu = now;
            lastGrowth = Clock::now();
        } else if (Clock::now() - lastGrowth > std::chrono::milliseconds(500)) {
            break;
        }
    }
    double trapdCpu = cpu - cpuBefore;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    int got = countLinesStartingWith(log, "TRAP ");
    double seconds = std::chrono::duration<double>(lastGrowth - start).count(); // within 50 ms
    std::printf("snmptrapd (receive buffer %d KiB): sent %d in %.3f s, logged %d (lost %d) in about %.3f s = "
                "%.0f traps/s, CPU %.3f s = %.1f us/trap\n",
                buffer / 1024, sent, sendSeconds, got, sent - got, seconds, got / seconds, trapdCpu,
                trapdCpu * 1e6 / (got ? got : 1));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const double rate = argc > 2 ? std::atof(argv[2]) : 0;
    int bufferKiB = argc > 3 ? std::atoi(argv[3]) : 0; // 0: the listener's own
    if (bufferKiB <= 0)
        bufferKiB = kTrapReceiveBuffer / 1024;
    const std::string mode = argc > 4 ? argv[4] : "v1";
    const bool v3 = mode == "v3";
    ChildBurst child;
    if (mode != "v1")
        child = forkSender(count, rate, v3);
    if (snmpInit() != 0)
        return 1;
    if (v3) {
        // The console's engine, and the sender's user keyed for the sender's engine.
        std::string engine;
        std::string ours;
        snmpv3::fromHex(kBenchEngine, engine);
        snmpv3::fromHex("8000e7f30301020304", ours);
        const std::string authKu = snmpv3::passwordToKey(snmpv3::kAuthSha256, kBenchAuthPhrase);
        const std::string privKu = snmpv3::passwordToKey(snmpv3::kAuthSha256, kBenchPrivPhrase);
        if (snmpv3::enable(ours) != 0 ||
            snmpv3::addUser(kBenchUser, engine, snmpv3::kAuthPriv, snmpv3::kAuthSha256,
                            snmpv3::localizeAuthKey(snmpv3::kAuthSha256, authKu, engine), snmpv3::kPrivAes,
                            snmpv3::localizePrivKey(snmpv3::kAuthSha256, snmpv3::kPrivAes, privKu, engine)) !=
                0)
            return 1;
    }
    char dirTemplate[] = "/tmp/vardel-bench-XXXXXX";
    std::string dir = std::string(mkdtemp(dirTemplate)) + "/";
    std::ofstream(dir + "VDTrap.ini")
        << "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd.ini\r\n";

    // ---- the trap listener
    std::atomic<int> received{0};
    std::atomic<long> lastArrival{0};
    std::vector<std::unique_ptr<AlertRecord>> kept; // what the alert store would hold
    kept.reserve(static_cast<std::size_t>(count));
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    long rssBefore = before.ru_maxrss;
    TrapListenerThread listener(
        dir,
        [&](std::unique_ptr<AlertRecord> record) {
            kept.push_back(std::move(record));
            lastArrival = Clock::now().time_since_epoch().count();
            ++received;
            return true;
        },
        [] { std::fprintf(stderr, "registration failed\n"); });
    listener.setReceiveBuffer(bufferKiB * 1024);
    listener.start();
    if (listener.waitForRegistration() != 0)
        return 1;

    const int buffer = snmp_internal::receiveBufferSize(*listener.session());
    getrusage(RUSAGE_SELF, &before);
    double senderCpuBefore = threadCpu();
    int sent = 0;
    auto start = Clock::now();
    double sendSeconds = child.pid > 0 ? runChildBurst(child, sent) : sendBurst(count, sent, rate);
    double senderCpu = threadCpu() - senderCpuBefore;
    for (int i = 0; i < 3000 && received < sent; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto last = Clock::time_point(Clock::duration(lastArrival.load()));
    double receiveSeconds = std::chrono::duration<double>(last - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    listener.stop();
    double listenerCpu = cpuSeconds(after) - cpuSeconds(before) - senderCpu;
    std::printf("listener (receive buffer %d KiB): sent %d in %.3f s, received %d (lost %d) in %.3f s = %.0f "
                "traps/s, "
                "CPU %.3f s = %.1f us/trap, peak RSS +%ld KiB = %.2f KB per kept record\n",
                buffer / 1024, sent, sendSeconds, received.load(), sent - received.load(), receiveSeconds,
                received / receiveSeconds, listenerCpu, listenerCpu * 1e6 / (received ? received.load() : 1),
                after.ru_maxrss - rssBefore,
                (after.ru_maxrss - rssBefore) * 1.024 / (received ? received.load() : 1));

    if (const UsmRefusals r = snmpv3::refusals(); r.total() > 0)
        std::printf("SNMPv3 refusals: %llu\n", static_cast<unsigned long long>(r.total()));
    if (mode != "v1") {
        std::printf("mode %s\n", mode.c_str());
        return received == sent ? 0 : 2;
    }
    snmptrapd(dir, count, rate, 0);
    snmptrapd(dir, count, rate, 8 << 20);
    return received == sent ? 0 : 2;
}
