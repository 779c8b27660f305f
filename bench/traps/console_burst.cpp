// A burst of SNMPv1 traps from one Net-SNMP session into the whole console
// (sound off): every trap must be classified, shown, logged and counted.
//
//   scripts/in-netns build/bench/bench_console_burst [count]

#include "alert_store.h"
#include "fixed_host.h"
#include "msgbox.h"
#include "trap_listener.h"
#include "trap_sender.h"
#include "vardel_tabs.h"

#include <QApplication>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

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

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    char dirTemplate[] = "/tmp/vardel-bench-XXXXXX";
    const std::string dir = std::string(mkdtemp(dirTemplate)) + "/";
    std::ofstream(dir + "VDTrap.ini")
        << "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd.ini\r\n";
    {
        std::ofstream def(dir + "vd.ini");
        for (int i = 1; i <= count; ++i)
            def << "[1.3.6.1.4.1.9999." << i << "]\r\nTrapString=Volume trap " << i
                << "\r\nAlarmString=Volume alert: %1\r\nSeverity=WARNING\r\n";
    }
    std::ofstream(dir + "rlaweb.ini") << "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSRV1=1\r\n"
                                         "[SRV1]\r\nNOS=NT\r\nIP=127.0.0.1\r\nSNMP_COMMUNITY=public\r\n";

    StartupOptions options;
    options.programDirectory = dir;
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    CVardelTabs console(options);
    console.OnInitDialog();
    SilentAnnouncer silent;
    console.alertStore().setAnnouncer(&silent);
    if (!console.trapListener() || console.trapListener()->waitForRegistration() != 0) {
        std::fprintf(stderr, "registration failed\n");
        return 1;
    }
    const long rssBefore = peakKiB();
    const double cpuBefore = cpuSeconds();

    int sent = 0;
    const auto start = Clock::now();
    std::thread sender([&] { sendBurst(count, sent); });
    // Bounded: the burst must be done within a minute.
    const bool complete = QTest::qWaitFor([&] { return console.alertStore().count >= count; }, 60000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sender.join();
    const double cpu = cpuSeconds() - cpuBefore;
    const int alerts = console.alertStore().count;
    const int logged = countLinesStartingWith(dir + "VDLog.txt", "Date:");
    const int counted = console.servers().front()->outstandingAlerts;
    const long rss = peakKiB() - rssBefore;
    std::printf("console: sent %d, classified %d (lost %d), logged %d, counted %d in %.3f s = %.0f traps/s, "
                "CPU %.3f s = %.1f us/trap (sender included), peak RSS +%ld KiB = %.2f KB per outstanding "
                "alert\n",
                sent, alerts, sent - alerts, logged, counted, seconds, alerts / seconds, cpu,
                cpu * 1e6 / (alerts ? alerts : 1), rss, rss * 1.024 / (alerts ? alerts : 1));
    return complete && alerts == sent && logged == sent && counted == sent ? 0 : 2;
}
