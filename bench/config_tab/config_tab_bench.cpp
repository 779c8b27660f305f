// The Configuration tab of a console with many servers, in the console's own
// time: showing the list, adding servers through OnAddServers (their SETs and
// first polls answered by one snmpd on every loopback address, and timed
// apart), removing one block of rows.
//
//   scripts/in-netns build/bench/bench_config_tab [servers] [added] [removed]

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_destination.h"
#include "vardel/editing/config_tab.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QTest>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string address(int i) {
    const unsigned n = static_cast<unsigned>(i + 1);
    return "127.1." + std::to_string(n >> 8) + "." + std::to_string(n & 0xFF);
}

std::unique_ptr<ManagedServer> server(int i) {
    auto s = std::make_unique<ManagedServer>();
    s->name = "SRV" + std::to_string(100000 + i);
    s->nosCode = kNosNT;
    s->nosText = "NT";
    s->ipAddress = address(i);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int added = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int removed = argc > 3 ? std::atoi(argv[3]) : 5000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    const testsupport::TempDir programDir;
    const std::string& dir = programDir.path();
    testsupport::copyProgramData(dir);
    testsupport::SnmpdPeer agent(dir, "agentaddress udp:161\nrocommunity public\nrwcommunity private\n"
                                      "[snmp] serverRecvBuf 4194304\n");
    if (!agent.ready("127.0.0.1:161", "public")) {
        std::fprintf(stderr, "snmpd did not start\n");
        return 1;
    }

    CVardelTabs console(fixedhost::quietConsoleAtLoopback(dir));
    console.OnInitDialog();
    console.firstPollTimer().stop();
    console.pollTimer().stop();
    for (int i = 0; i < count; ++i)
        console.servers().push_back(server(i));
    console.pollCycle()->OnServerListChanged();

    double setSeconds = 0;
    double pollSeconds = 0;
    int offered = 0;
    CConfigTab tab(ConfigTabContext{
        console.servers(),
        console.settings(),
        nullptr,
        nullptr,
        {},
        [&](const std::string& name) {
            const auto t = Clock::now();
            console.pollCycle()->PollServer(name);
            pollSeconds += since(t);
        },
        [&] { console.pollCycle()->OnServerListChanged(); },
        [&](QWidget*, bool& created) {
            created = true;
            NewServers fresh;
            for (int i = 0; i < offered; ++i)
                fresh.push_back(server(count + i));
            return fresh;
        },
        [&](const std::vector<ManagedServer*>& servers, const std::function<void(ManagedServer&)>& applied) {
            const auto t = Clock::now();
            const ConsoleSettings& s = console.settings();
            SetAlertDestinations(servers, s.hostIpAddress, s.hostIpxAddress, s.hostName, s.useDhcp, applied);
            setSeconds += since(t);
        },
    });
    tab.resize(846, 504);

    auto t = Clock::now();
    tab.OnInitDialog();
    const double initSeconds = since(t);
    t = Clock::now();
    tab.show();
    QApplication::processEvents();
    const double paintSeconds = since(t);

    offered = added;
    t = Clock::now();
    tab.OnAddServers();
    QApplication::processEvents();
    const double addSeconds = since(t);

    CMSFlexGrid& grid = tab.grid();
    const long rowsBefore = grid.GetRows();
    grid.SetRow(1);
    grid.SetRowSel(removed);
    t = Clock::now();
    tab.OnRemoveServers();
    QApplication::processEvents();
    const double removeSeconds = since(t);

    std::printf("servers %d, added %d, removed %d\n", count, added, removed);
    std::printf("show (OnInitDialog)        %.3f s, first paint %.3f s\n", initSeconds, paintSeconds);
    std::printf(
        "add (OnAddServers)         %.3f s own work (total %.3f s: SETs %.3f s, polls issued %.3f s)\n",
        addSeconds - setSeconds - pollSeconds, addSeconds, setSeconds, pollSeconds);
    std::printf("remove block (OnRemoveServers) %.3f s\n", removeSeconds);
    std::printf("rows %ld -> %ld, list %zu\n", rowsBefore, grid.GetRows(), console.servers().size());

    return 0;
}
