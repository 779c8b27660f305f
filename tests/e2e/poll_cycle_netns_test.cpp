// A console in its own network namespace polls real hosts: snmpd answers for
// two loopback addresses, one loopback host's agent is silent while the host
// answers echoes, two hosts in a second namespace answer nothing, and one
// server has only an IPX address. The grid, the server records and VDLog.txt
// must show the state tables' outcomes; a trap and returning agents bring
// servers back UP.

#include "platform/flexgrid/flexgrid.h"
#include "snmp/snmp.h"
#include "tamber/tests/netlab.h"
#include "tests/support/fixed_host.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"

#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Starts a program in the network namespace nsFd (-1: ours) with
// SNMP_PERSISTENT_DIR set to dir.
pid_t spawnIn(int nsFd, const std::vector<std::string>& args, const std::string& dir) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string persistent = "SNMP_PERSISTENT_DIR=" + dir;
    const std::string confPath = "SNMPCONFPATH=" + dir;
    char* envp[] = {const_cast<char*>(persistent.c_str()), const_cast<char*>(confPath.c_str()),
                    const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), nullptr};
    const std::string log = dir + "peer.log";
    const pid_t pid = fork();
    if (pid == 0) {
        if (nsFd >= 0 && setns(nsFd, CLONE_NEWNET) != 0)
            _exit(126);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        execvpe(argv[0], argv.data(), envp);
        _exit(127);
    }
    return pid;
}

// snmpd answering "public" on the given UDP endpoints ("udp:a.b.c.d:161,...").
class Agent {
public:
    Agent(const std::string& dir, const std::string& endpoints, int nsFd = -1) {
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "snmpd.conf") << "agentaddress " << endpoints << "\nrocommunity public\n";
        m_pid = spawnIn(
            nsFd, {"snmpd", "-f", "-Lo", "-C", "-c", dir + "snmpd.conf", "-M", dir, "-m", "", "-I", "-smux"},
            dir);
    }
    ~Agent() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

// Waits (bounded) until the agent at address answers a get.
bool answers(const std::string& address) {
    int status = 0;
    Snmp session(status, 0);
    CTarget target{IpAddress(address)};
    target.set_retry(0);
    target.set_timeout(20);
    for (int attempt = 0; attempt < 100; ++attempt) {
        Pdu pdu;
        pdu += Vb(Oid("1.3.6.1.2.1.1.1.0"));
        if (session.get(pdu, target) == kSnmpSuccess)
            return true;
    }
    return false;
}

// The log's blocks without their dates: "server|description|alarm|severity".
std::vector<std::string> logBlocks(const std::string& log) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = log.find("\r\nServer Name:", at)) != std::string::npos) {
        std::string block;
        std::size_t p = at + 2;
        for (const char* key : {"Server Name:", "Description:", "Alarm String:", "Severity:"}) {
            const std::size_t end = log.find("\r\n", p);
            block +=
                (block.empty() ? "" : "|") + log.substr(p + std::strlen(key), end - p - std::strlen(key));
            p = end + 2;
        }
        out.push_back(block);
        at = p;
    }
    return out;
}

const char* const kAgentDown = "SNMP agent DOWN|The SNMP agent on the server is not responding|Critical";
const char* const kAgentUp = "SNMP agent UP|The SNMP agent on the server is responding again|Normal";
const char* const kHostDown = "Server unreachable|The server does not answer on the network|Critical";
const char* const kHostUp = "Server reachable|The server answers on the network again|Normal";

class PollRoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(netlab::inPrivateNetns());
        ASSERT_TRUE(peer.ok());
        testsupport::copyProgramData(dir.path());
        // [SERVERS] loads in reverse: the list is alpha, bravo, charlie, delta, foxtrot, echo.
        std::string ini = "[ServerInfo]\r\nNumServers=6\r\n[SERVERS]\r\n";
        for (const char* name : {"echo", "foxtrot", "delta", "charlie", "bravo", "alpha"})
            ini += std::string(name) + "=1\r\n";
        const auto server = [&](const char* name, const char* ip, const char* ipx) {
            ini += std::string("[") + name + "]\r\nNOS=NT\r\nIP=" + ip + "\r\nIPX=" + ipx +
                   "\r\nSNMP_COMMUNITY=public\r\n";
        };
        server("alpha", "127.0.0.2", "");
        server("bravo", "127.0.0.3", ""); // silent agent, answering host
        server("charlie", "198.18.0.2", "");
        server("delta", "127.0.0.4", "");
        server("foxtrot", "198.18.0.4", "");
        server("echo", "", "0000ABCD-00A0C9112233");
        ini += "[VDINFO]\r\nRETRY=1\r\nTIMEOUT=30\r\nPOLLTIME=60\r\n";
        writeFile(dir.file("rlaweb.ini"), ini);
        snmpInit();
        ASSERT_TRUE(answers("127.0.0.2")) << readFile(dir.file("agent/peer.log"));

        StartupOptions options;
        options.programDirectory = dir.path();
        fixedhost::ip = "198.18.0.1";
        options.host = fixedhost::library();
        console = std::make_unique<CVardelTabs>(options);
        console->OnInitDialog();
    }

    bool settled() {
        for (const auto& s : console->servers())
            if (s->pollPending != 0 || s->snmpStatus == "INIT" || s->networkStatus == "INIT")
                return false;
        return true;
    }
    ManagedServer& server(const std::string& name) { return *FindServerByName(console->servers(), name); }
    // Grid row of a server: its SNMP Status and Polling texts with their colours.
    std::string row(long r) {
        CMSFlexGrid& g = console->statusTab()->grid();
        std::string out = g.GetTextMatrix(r, 0);
        for (long c : {2L, 3L}) {
            g.SetRow(r);
            g.SetCol(c);
            const std::uint32_t colour = g.GetCellForeColor();
            out += " " + g.GetTextMatrix(r, c) +
                   (colour == kColourUp         ? "/green"
                    : colour == kColourDown     ? "/red"
                    : colour == kColourChecking ? "/blue"
                                                : "/?");
        }
        return out;
    }

    TempDir dir;
    netlab::PeerHost peer{true};
    Agent agent{dir.path() + "agent/", "udp:127.0.0.2:161,udp:127.0.0.4:161"};
    std::unique_ptr<CVardelTabs> console;
};

} // namespace

TEST_F(PollRoad, FirstCycleFindsEachVerdictAndLaterEventsBringServersBack) {
    // The first cycle starts two seconds after start-up. While charlie's host
    // is probed (about 9 s), the console's event loop goes on.
    int ticksWhileProbing = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (console->pollCycle()->isSettling("charlie") && server("bravo").pollPending == 0)
            ++ticksWhileProbing;
    });
    ticker.start(50);
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 60000));
    EXPECT_GT(ticksWhileProbing, 1);

    EXPECT_EQ(row(1), "alpha UP/green UP/green");
    EXPECT_EQ(row(2), "bravo DOWN/red UP/green");
    EXPECT_EQ(row(3), "charlie DOWN/red DOWN/red");
    EXPECT_EQ(row(4), "delta UP/green UP/green");
    EXPECT_EQ(row(5), "echo DOWN/red DOWN/red");
    EXPECT_EQ(row(6), "foxtrot DOWN/red DOWN/red");
    const std::vector<std::string> first = {
        std::string("bravo|") + kAgentDown, std::string("charlie|") + kHostDown,
        std::string("foxtrot|") + kHostDown, std::string("echo|") + kHostDown};
    EXPECT_EQ(logBlocks(readFile(dir.file("VDLog.txt"))), first);
    EXPECT_EQ(server("echo").outstandingAlerts, 1);

    // A trap from foxtrot, marked DOWN, proves it alive.
    ASSERT_EQ(console->trapListener()->waitForRegistration(), 0);
    const pid_t trap = spawnIn(peer.nsFd(),
                               {"snmptrap", "--clientaddr=198.18.0.4", "-v", "1", "-c", "public",
                                "198.18.0.1:162", "1.3.6.1.4.1.9999", "198.18.0.4", "6", "1001", "0",
                                "1.3.6.1.4.1.9999.1.1", "s", "cpu", "1.3.6.1.4.1.9999.1.2", "s", "fan3"},
                               dir.path());
    ASSERT_GT(trap, 0);
    int status = 0;
    waitpid(trap, &status, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return console->alertStore().count >= 6; }, 10000));
    EXPECT_EQ(server("foxtrot").networkStatus, "UP");
    EXPECT_EQ(server("foxtrot").snmpStatus, "UP");
    EXPECT_EQ(row(6), "foxtrot UP/green UP/green");

    // bravo's agent returns, and charlie comes back whole; foxtrot's host
    // answers now but it has no agent.
    Agent bravo{dir.path() + "bravo/", "udp:127.0.0.3:161"};
    Agent charlie{dir.path() + "charlie/", "udp:198.18.0.2:161", peer.nsFd()};
    ASSERT_TRUE(peer.setSilent(false));
    ASSERT_TRUE(answers("127.0.0.3"));
    ASSERT_TRUE(answers("198.18.0.2"));
    console->pollTimer().start(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return console->alertStore().count >= 10 && settled(); }, 30000));

    EXPECT_EQ(row(2), "bravo UP/green UP/green");
    EXPECT_EQ(row(3), "charlie UP/green UP/green");
    EXPECT_EQ(row(5), "echo DOWN/red DOWN/red");
    EXPECT_EQ(row(6), "foxtrot DOWN/red UP/green");
    std::vector<std::string> blocks = logBlocks(readFile(dir.file("VDLog.txt")));
    ASSERT_EQ(blocks.size(), 10u);
    EXPECT_EQ(blocks[4], "foxtrot|Fan failure|Fan fan3 failed on cpu|Critical");
    EXPECT_EQ(blocks[5], std::string("foxtrot|") + kHostUp);
    // The servers answer in any order; each one's alerts keep theirs.
    std::map<std::string, std::vector<std::string>> byServer;
    for (std::size_t i = 6; i < blocks.size(); ++i)
        byServer[blocks[i].substr(0, blocks[i].find('|'))].push_back(blocks[i]);
    EXPECT_EQ(byServer["bravo"], (std::vector<std::string>{std::string("bravo|") + kAgentUp}));
    EXPECT_EQ(byServer["charlie"], (std::vector<std::string>{std::string("charlie|") + kAgentUp,
                                                             std::string("charlie|") + kHostUp}));
    EXPECT_EQ(byServer["foxtrot"], (std::vector<std::string>{std::string("foxtrot|") + kAgentDown}));
}
