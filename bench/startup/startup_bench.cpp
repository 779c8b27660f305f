// Loading and saving a list of 10,000 servers, and start-up to the shown
// window with that list. Run: build/bench/bench_startup [servers]
// (QT_QPA_PLATFORM=offscreen without a display).

#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/config_store.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void writeList(const std::string& path, int n) {
    std::ofstream out(path, std::ios::binary);
    out << "[CLIENTS]\r\nHostname=CONSOLE1\r\nIPAddres=10.1.1.5\r\nNumClients=1\r\nCONSOLE1=CLIENT1\r\n"
        << "[ServerInfo]\r\nNumServers=" << n << "\r\n[SERVERS]\r\n";
    for (int i = 0; i < n; ++i)
        out << "SRV" << i << "=1\r\n";
    for (int i = 0; i < n; ++i)
        out << "[SRV" << i << "]\r\nNOS=NT\r\nIP=10." << (i >> 16) << '.' << ((i >> 8) & 255) << '.'
            << (i & 255) << "\r\nIPX=\r\nSNMP_COMMUNITY=public\r\n";
    out << "[CLIENT1]\r\n";
    for (int i = 0; i < n; ++i)
        out << "SRV" << i << "=" << (i % 2 ? 1 : -1) << "\r\n";
    out << "[VDINFO]\r\nRETRY=7\r\nPOLLTIME=3\r\n";
}

void printPeakMemory(const char* what) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %.1f MB\n", what, static_cast<double>(usage.ru_maxrss) / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    char tmpl[] = "/tmp/vardel-bench-XXXXXX";
    const std::string dir = std::string(mkdtemp(tmpl)) + "/";
    std::ofstream(dir + "vardel.reg", std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n\r\n";
    std::ofstream(dir + "VDTrap.ini")
        << "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=S.INI\r\n";
    writeList(dir + "rlaweb.ini", n);
    std::printf("servers: %d, rlaweb.ini: %ju bytes\n", n,
                static_cast<std::uintmax_t>(std::filesystem::file_size(dir + "rlaweb.ini")));

    QApplication app(argc, argv);
    msgbox::ScopedScript boxes; // no box may wait for a person

    // Start-up to the shown window (the first thing to touch the file).
    auto t = Clock::now();
    StartupOptions options;
    options.programDirectory = dir;
    options.host = fixedhost::library();
    options.startTrapListener = false;
    CVardelTabs sheet(options);
    sheet.show();
    sheet.OnInitDialog();
    app.processEvents();
    std::printf("start-up to shown window: %.3f s (%zu servers)\n", seconds(t), sheet.servers().size());
    printPeakMemory("peak memory after start-up");

    t = Clock::now();
    ServerList servers;
    LoadServerList(dir + "rlaweb.ini", "CLIENT1", servers);
    std::printf("load: %.3f s (%zu servers)\n", seconds(t), servers.size());

    t = Clock::now();
    const bool saved = SaveConsoleIni(sheet.settings(), servers);
    std::printf("save: %.3f s (%s)\n", seconds(t), saved ? "ok" : "FAILED");

    // Re-reading the file just written, as the next start does.
    t = Clock::now();
    ServerList again;
    LoadServerList(dir + "rlaweb.ini", "CLIENT1", again);
    std::printf("load after save: %.3f s (%zu servers)\n", seconds(t), again.size());

    printPeakMemory("peak memory with three lists loaded");
    std::filesystem::remove_all(dir);
    return saved && again.size() == static_cast<std::size_t>(n) ? 0 : 1;
}
