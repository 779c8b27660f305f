// SNMPv1 traps from one Net-SNMP session into the whole console (sound on,
// with a short sound file): every trap must be classified, shown, logged and
// counted. Prints the trap socket's effective receive buffer, the loss, the
// rate, the longest pause of the event loop and the memory per alert.
//
//   scripts/in-netns build/bench/bench_console_burst [count] [rate] [sound]
//
// rate 0 (default) sends at full speed; otherwise traps per second. sound 1
// (default) plays the file, 0 beeps, -1 announces nothing.

#include "bench/traps/trap_sender.h"
#include "platform/msgbox/msgbox.h"
#include "snmp/snmp_internal.h"
#include "tests/support/fixed_host.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double threadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A 50 ms silent 8 kHz mono WAV file.
void writeShortWav(const std::string& path) {
    const std::uint32_t samples = 400;
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    f << "RIFF";
    u32(36 + samples);
    f << "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(8000);
    u16(1);
    u16(8);
    f << "data";
    u32(samples);
    for (std::uint32_t i = 0; i < samples; ++i)
        f.put(static_cast<char>(0x80));
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const double rate = argc > 2 ? std::atof(argv[2]) : 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    const std::string dir = makeBurstProgramDir();
    writeShortWav(dir + "short.wav");

    StartupOptions options;
    options.programDirectory = dir;
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    CVardelTabs console(options);
    console.OnInitDialog();
    // Third argument: 1 sound file (default), 0 beep, -1 no announcement at all.
    const int sound = argc > 3 ? std::atoi(argv[3]) : 1;
    console.settings().playSound = sound;
    SilentAnnouncer silent;
    if (sound < 0)
        console.alertStore().setAnnouncer(&silent);
    console.settings().soundFile = dir + "short.wav";
    if (!console.trapListener() || console.trapListener()->waitForRegistration() != 0) {
        std::fprintf(stderr, "registration failed\n");
        return 1;
    }
    const int buffer = snmp_internal::receiveBufferSize(*console.trapListener()->session());
    // Warm up: one trap through the whole road before measuring.
    int sent = 0;
    sendBurst(1, sent);
    if (!QTest::qWaitFor([&] { return console.alertStore().count >= 1; }, 5000))
        std::fprintf(stderr, "the warm-up trap did not arrive\n");
    const int before = console.alertStore().count;
    const long rssBefore = residentKiB();
    const long peakBefore = peakKiB();
    const double cpuBefore = cpuSeconds();

    // The event loop's longest pause, from a 5 ms timer.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    // The same in CPU time of this (the user-interface) thread: how much of a
    // pause was work, not waiting for a core on a busy machine.
    double lastCpu = threadCpu();
    double longestCpuGap = 0;
    double cpuOfLongestGap = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        const double cpuNow = threadCpu();
        if (gap > longestGap) {
            longestGap = gap;
            cpuOfLongestGap = cpuNow - lastCpu;
        }
        longestCpuGap = std::max(longestCpuGap, cpuNow - lastCpu);
        lastCpu = cpuNow;
    });

    double sendSeconds = 0;
    const auto start = Clock::now();
    sinceTick.start();
    ticker.start(5);
    std::thread sender([&] { sendSeconds = sendBurst(count, sent, rate); });
    // The program's own event loop, left once every trap is in, or when
    // nothing arrived for 10 s.
    int seen = before;
    auto lastProgress = Clock::now();
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (console.alertStore().count != seen) {
            seen = console.alertStore().count;
            lastProgress = Clock::now();
        }
        if (seen - before >= count || Clock::now() - lastProgress > std::chrono::seconds(10))
            loop.quit();
    });
    watch.start(20);
    loop.exec();
    const double seconds = std::chrono::duration<double>(lastProgress - start).count();
    ticker.stop();
    sender.join();
    QTest::qWait(1500); // a loss report comes half a second after the burst
    const double cpu = cpuSeconds() - cpuBefore;
    const int alerts = console.alertStore().count - before;
    const int logged = countLinesStartingWith(dir + "VDLog.txt", "Server Name:") - before;
    const int lossBlocks = countLinesStartingWith(dir + "VDLog.txt", "Traps Lost:");
    const int counted = console.servers().front()->outstandingAlerts - before;
    const long rss = residentKiB() - rssBefore;
    const long peak = peakKiB() - peakBefore;
    std::printf(
        "console: receive buffer %d KiB; sent %d in %.3f s, classified %d (lost %d, %d loss report(s) "
        "in the log), logged %d, counted %d, all in %.3f s = %.0f traps/s; longest event-loop gap "
        "%lld ms (%.0f ms of it on the UI thread's CPU; longest in CPU time %.0f ms); CPU %.3f s = %.1f "
        "us/trap (sender included); RSS +%ld KiB = %.2f KB per outstanding "
        "alert (peak +%ld KiB)\n",
        buffer / 1024, sent, sendSeconds, alerts, sent - alerts, lossBlocks, logged, counted, seconds,
        alerts / seconds, static_cast<long long>(longestGap), cpuOfLongestGap * 1e3, longestCpuGap * 1e3, cpu,
        cpu * 1e6 / (alerts ? alerts : 1), rss, rss * 1.024 / (alerts ? alerts : 1), peak);
    std::fflush(stdout);
    // Leave without tearing a million alerts down one by one.
    _exit(alerts == sent && logged == sent && counted == sent ? 0 : 2);
}
