// A poll cycle of the whole console over count servers (127.1.0.1 upwards)
// that one snmpd answers, then the same GETs from a bare Net-SNMP program.
// Also: showing the Server Status tab with count servers, MarkAllChecking.
//
//   scripts/in-netns build/bench/bench_poll_cycle [count]

#include "bench/support/event_loop_wait.h"
#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/resources/string_table.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/snmpv3_store.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTabWidget>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// UDP datagrams this network namespace dropped for want of receive buffer
// room (the agent's socket or the console's), from /proc/net/snmp.
long udpBufferDrops() {
    std::ifstream in("/proc/net/snmp");
    std::string header, values;
    while (std::getline(in, header) && std::getline(in, values)) {
        if (header.rfind("Udp:", 0) != 0)
            continue;
        std::istringstream names(header), numbers(values);
        std::string name, number;
        while (names >> name && numbers >> number)
            if (name == "RcvbufErrors")
                return std::atol(number.c_str());
    }
    return -1;
}

// User and system CPU seconds of this process so far.
std::pair<double, double> cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6, u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6};
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Open descriptors, and how many of them are sockets.
std::pair<int, int> openFds() {
    int all = 0;
    int sockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++all;
        struct stat st {};
        if (stat(entry.path().c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            ++sockets;
    }
    return {all, sockets};
}

// 127.1.0.1 upwards, as the bare program counts them (past 65,535 into 127.2.0.0).
std::string address(int i) {
    const unsigned n = static_cast<unsigned>(i + 1);
    return "127." + std::to_string(1 + (n >> 16)) + "." + std::to_string((n >> 8) & 0xFF) + "." +
           std::to_string(n & 0xFF);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    // "v3": every server polled over SNMPv3 authPriv (SHA-256, AES-128).
    const bool v3 = argc > 2 && std::string(argv[2]) == "v3";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    const testsupport::TempDir programDir;
    const std::string& dir = programDir.path();
    testsupport::copyProgramData(dir);

    // One snmpd on every local address, with a receive buffer for the burst.
    testsupport::SnmpdPeer agent(dir, std::string("agentaddress udp:161\nrocommunity public\n") +
                                          (v3 ? "exactEngineID 0x800007e580626e6368\n"
                                                "createUser bench SHA-256 benchpass123 AES benchpriv123\n"
                                                "rouser bench priv\n"
                                              : "") +
                                          "[snmp] serverRecvBuf 4194304\n");
    if (!agent.ready("127.0.0.1:161", "public")) {
        std::fprintf(stderr, "snmpd did not start\n");
        return 1;
    }

    CVardelTabs console(fixedhost::quietConsoleAtLoopback(dir));
    console.OnInitDialog();
    console.firstPollTimer().stop();
    SnmpV3Credentials user;
    if (v3) {
        std::string reason;
        const std::string engine = ConsoleEngineId(dir, reason);
        snmpv3::enable(engine);
        user.user = "bench";
        user.auth = snmpv3::kAuthSha256;
        user.priv = snmpv3::kPrivAes;
        snmpv3::fromHex("800007e580626e6368", user.engineId);
        MakeV3Keys(user, "benchpass123", "benchpriv123", engine);
    }
    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<ManagedServer>();
        s->name = "SRV" + std::to_string(100000 + i);
        s->ipAddress = address(i);
        s->v3 = user;
        console.servers().push_back(std::move(s));
    }
    if (v3)
        ApplyV3Credentials(console.servers(), snmpv3::localEngineId());
    console.resize(800, 600);
    console.show();
    QApplication::processEvents();

    // Showing the Server Status tab rebuilds its grid.
    auto* tabs = console.findChild<QTabWidget*>();
    auto t = Clock::now();
    tabs->setCurrentIndex(1);
    QApplication::processEvents();
    const double showSeconds = since(t);
    t = Clock::now();
    console.statusTab()->MarkAllChecking(LoadString(IDS_CHECKING));
    QApplication::processEvents();
    const double markSeconds = since(t);

    // The cycle: the poll timer expires now.
    const long rssBefore = peakKiB();
    const auto cpuBefore = cpuSeconds();
    const long dropsBefore = udpBufferDrops();
    double longestGap = 0;
    int maxFds = 0;
    int maxSockets = 0;
    auto lastTick = Clock::now();
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, since(lastTick));
        lastTick = Clock::now();
        if (++ticks % 20 == 0) {
            const auto [fds, sockets] = openFds();
            maxFds = std::max(maxFds, fds);
            maxSockets = std::max(maxSockets, sockets);
        }
    });
    const auto allUp = [&] {
        for (const auto& s : console.servers())
            if (s->pollPending != 0 || s->snmpStatus != "UP" || s->networkStatus != "UP")
                return false;
        return true;
    };
    const auto start = Clock::now();
    console.pollTimer().start(0);
    lastTick = Clock::now();
    ticker.start(1);
    const bool complete = waitInEventLoop(allUp, 120000);
    const double cycleSeconds = since(start);
    const auto cpuAfter = cpuSeconds();
    const long dropsAfter = udpBufferDrops();
    ticker.stop();
    CMSFlexGrid& grid = console.statusTab()->grid();
    int upRows = 0;
    for (long r = 1; r < grid.GetRows(); ++r)
        upRows += grid.GetTextMatrix(r, 2) == "UP" && grid.GetTextMatrix(r, 3) == "UP";

    std::printf("status tab with %d servers shown in %.3f s; MarkAllChecking %.3f s\n", count, showSeconds,
                markSeconds);
    std::printf(
        "console: poll cycle over %d servers: all UP after %.3f s (%d grid rows UP), longest event-loop "
        "gap %.1f ms, at most %d descriptors open (%d sockets), peak RSS %ld KiB (+%ld KiB in the cycle)\n",
        count, cycleSeconds, upRows, longestGap * 1000, maxFds, maxSockets, peakKiB(), peakKiB() - rssBefore);
    std::printf("console CPU in the cycle: %.3f s user, %.3f s system; %ld datagrams dropped for want of "
                "buffer room (each costs its request a time-out)\n",
                cpuAfter.first - cpuBefore.first, cpuAfter.second - cpuBefore.second,
                dropsAfter - dropsBefore);
    std::fflush(stdout);

    const long bareDropsBefore = udpBufferDrops();
    const int bare = std::system(
        (std::string(BENCH_BARE) + " " + std::to_string(count) + (v3 ? " 7 800 v3" : "")).c_str());
    std::printf("bare: %ld datagrams dropped for want of buffer room\n", udpBufferDrops() - bareDropsBefore);
    return complete && upRows == count && bare == 0 ? 0 : 2;
}
