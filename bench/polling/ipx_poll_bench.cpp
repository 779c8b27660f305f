// A poll cycle of the whole console over count IPX-only servers that the
// simulated NetWare host stands for (it relays their SNMP to one snmpd),
// beside the same cycle over count IP servers (127.1.0.1 upwards) that the
// same snmpd answers directly.
//
//   scripts/in-netns build/bench/bench_ipx_poll_cycle [count]
//
// ipx.ini must lie beside the binary, so the binary's directory is covered by
// a fresh one in a private mount namespace (in-netns makes us root there).

#include "bench/support/event_loop_wait.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "tools/nwpeer/nwpeer.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QTabWidget>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// Polls every server of the console once; seconds until all are UP, or -1.
double cycle(CVardelTabs& console) {
    auto* tabs = console.findChild<QTabWidget*>();
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1); // rebuilds the grid for the current list
    QApplication::processEvents();
    const auto allUp = [&] {
        for (const auto& s : console.servers())
            if (s->pollPending != 0 || s->snmpStatus != "UP" || s->networkStatus != "UP")
                return false;
        return true;
    };
    const auto start = Clock::now();
    console.pollTimer().start(0);
    const bool complete = waitInEventLoop(allUp, 120000);
    console.pollTimer().stop();
    return complete ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (count < 1 || count > 60000)
        return 2;

    // Before any thread exists: a private program directory for ipx.ini.
    const std::string binaryDir = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    char privateTemplate[] = "/tmp/vardel-ipxbench-bin-XXXXXX";
    const std::string privateDir = mkdtemp(privateTemplate);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(privateDir.c_str(), binaryDir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        std::perror("private program directory (run under scripts/in-netns)");
        return 1;
    }
    std::ofstream(binaryDir + "/ipx.ini") << "[Adapters]\r\n0=00000010:000000000001 127.0.0.1\r\n"
                                             "[Routes]\r\n00000020=127.0.0.7\r\n";

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    const testsupport::TempDir programDir;
    const std::string& dir = programDir.path();
    testsupport::copyProgramData(dir);

    testsupport::SnmpdPeer agent(dir,
                                 "agentaddress udp:161\nrocommunity public\n[snmp] serverRecvBuf 4194304\n");
    if (!agent.ready("127.0.0.1:161", "public")) {
        std::fprintf(stderr, "snmpd did not start\n");
        return 1;
    }

    std::string peerConfig = "[Adapters]\r\n0=00000020:00000000FFFE 127.0.0.7\r\n"
                             "[Routes]\r\n00000010=127.0.0.1\r\n"
                             "[Snmp]\r\nAgent=127.0.0.1:161\r\n[Servers]\r\n";
    for (int i = 0; i < count; ++i)
        peerConfig +=
            "NW" + std::to_string(100000 + i) + "=00000020:" + hex(static_cast<unsigned>(i + 1), 12) + "\r\n";
    std::ofstream(dir + "peer.ini") << peerConfig;
    NetWarePeer peer(dir + "peer.ini");
    std::string error;
    if (!peer.start(&error)) {
        std::fprintf(stderr, "nwpeer: %s\n", error.c_str());
        return 1;
    }

    CVardelTabs console(fixedhost::quietConsoleAtLoopback(dir));
    console.OnInitDialog();
    console.firstPollTimer().stop();
    console.resize(800, 600);
    console.show();

    for (int i = 0; i < count; ++i) {
        auto s = std::make_unique<ManagedServer>();
        s->name = "NW" + std::to_string(100000 + i);
        s->ipxAddress = "00000020-" + hex(static_cast<unsigned>(i + 1), 12);
        console.servers().push_back(std::move(s));
    }
    const double ipxSeconds = cycle(console);
    const int relayed = peer.snmpRequests();

    console.servers().clear();
    for (int i = 0; i < count; ++i) {
        const unsigned n = static_cast<unsigned>(i + 1);
        auto s = std::make_unique<ManagedServer>();
        s->name = "SRV" + std::to_string(100000 + i);
        s->ipAddress = "127.1." + std::to_string(n >> 8) + "." + std::to_string(n & 0xFF);
        console.servers().push_back(std::move(s));
    }
    const double ipSeconds = cycle(console);

    std::printf("poll cycle over %d IPX servers behind nwpeer: all UP after %.3f s (%d requests relayed)\n",
                count, ipxSeconds, relayed);
    std::printf("poll cycle over %d IP servers: all UP after %.3f s\n", count, ipSeconds);
    if (ipxSeconds > 0 && ipSeconds > 0)
        std::printf("IPX / IP: %.2f\n", ipxSeconds / ipSeconds);

    peer.stop();
    umount2(binaryDir.c_str(), MNT_DETACH);
    std::filesystem::remove_all(privateDir);
    return ipxSeconds > 0 && ipSeconds > 0 ? 0 : 2;
}
