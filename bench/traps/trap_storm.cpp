// A burst or a long storm of SNMPv1 traps into the whole console (no sound):
// peak memory, and how many traps were lost and where it said so. Every trap
// sent is either handled (a block in the log) or counted lost.
//
//   scripts/in-netns build/bench/bench_trap_storm burst [count]        (default 1,000,000)
//   scripts/in-netns build/bench/bench_trap_storm storm [rate] [seconds] (default 50,000/s for 600 s)
//
// Prints a line every 10 s: traps sent, handled, outstanding, lost, RSS.

#include "bench/traps/trap_sender.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The trap alerts of the log (not the polling's state changes) and the sum of
// its "Traps Lost:" lines.
void readLog(const std::string& path, long long& handled, long long& lost) {
    std::ifstream in(path);
    std::string line;
    handled = 0;
    lost = 0;
    while (std::getline(in, line)) {
        if (line.rfind("Description:Volume trap ", 0) == 0)
            ++handled;
        else if (line.rfind("Traps Lost:", 0) == 0)
            lost += std::atoll(line.c_str() + 11);
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool storm = argc > 1 && std::strcmp(argv[1], "storm") == 0;
    const double rate = storm ? (argc > 2 ? std::atof(argv[2]) : 50000) : 0;
    const double seconds = storm ? (argc > 3 ? std::atof(argv[3]) : 600) : 0;
    const int count = storm ? static_cast<int>(rate * seconds) : (argc > 2 ? std::atoi(argv[2]) : 1000000);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    const std::string dir = makeBurstProgramDir();

    StartupOptions options;
    options.programDirectory = dir;
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    const long rssAtStart = residentKiB();
    CVardelTabs console(options);
    console.OnInitDialog();
    SilentAnnouncer silent;
    console.alertStore().setAnnouncer(&silent);
    if (!console.trapListener() || console.trapListener()->waitForRegistration() != 0 ||
        !console.trapListener()->session()) {
        std::fprintf(stderr, "registration failed\n");
        return 1;
    }
    Snmp* session = console.trapListener()->session();

    std::atomic<int> sent{0};
    std::atomic<bool> sending{true};
    const auto start = Clock::now();
    std::thread sender([&] {
        int n = 0;
        sendBurst(count, n, rate);
        sent = n;
        sending = false;
    });
    // The program's own event loop, left once the sender is done and nothing
    // was handled for 3 s (or after twice the storm's length).
    long peakRss = 0;
    long long lastLogSize = -1;
    auto lastProgress = Clock::now();
    auto nextReport = start + std::chrono::seconds(10);
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        peakRss = std::max(peakRss, residentKiB());
        const AlertStore& store = console.alertStore();
        // At the ceiling the count stands still: the log grows.
        std::error_code error;
        const auto logSize = static_cast<long long>(std::filesystem::file_size(dir + "VDLog.txt", error));
        if (!error && logSize != lastLogSize) {
            lastLogSize = logSize;
            lastProgress = now;
        }
        if (now >= nextReport) {
            nextReport += std::chrono::seconds(10);
            std::printf("  %4.0f s: outstanding %d, lost so far %llu, RSS %ld MiB\n",
                        std::chrono::duration<double>(now - start).count(), store.count,
                        static_cast<unsigned long long>(session->droppedDatagrams()), residentKiB() / 1024);
            std::fflush(stdout);
        }
        const bool quiet = now - lastProgress > std::chrono::seconds(3);
        if ((!sending && quiet) || now - start > std::chrono::duration<double>(2 * seconds + 120))
            loop.quit();
    });
    watch.start(50);
    loop.exec();
    sender.join();
    QTest::qWait(1500); // the last loss report comes half a second after the burst
    const double took = std::chrono::duration<double>(lastProgress - start).count();

    long long handled = 0;
    long long logged = 0;
    readLog(dir + "VDLog.txt", handled, logged);
    const unsigned long long lost = session->droppedDatagrams();
    std::printf("%s: sent %d, handled %lld in %.1f s (%.0f/s), lost %llu (logged as lost %lld), "
                "outstanding %d, counted %d; peak RSS %ld MiB (%ld MiB above start; getrusage %ld MiB)%s\n",
                storm ? "storm" : "burst", sent.load(), handled, took, handled / took, lost, logged,
                console.alertStore().count, console.servers().front()->outstandingAlerts, peakRss / 1024,
                (peakRss - rssAtStart) / 1024, peakKiB() / 1024,
                handled + static_cast<long long>(lost) == sent ? "" : " -- sent != handled + lost");
    std::fflush(stdout);
    std::filesystem::remove_all(dir);
    // Leave without tearing a million alerts down one by one.
    _exit(handled + static_cast<long long>(lost) == sent ? 0 : 2);
}
