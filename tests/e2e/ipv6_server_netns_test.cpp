// IPv6 servers through the whole console, in a network namespace whose lo
// carries ::1 and unique local addresses: typed and looked up (AAAA) in Add
// Servers, the destination SET and the polls answered by an snmpd listening
// on udp6 only, a host without an agent found by ICMPv6 echo, traps sent
// over udp6 classified as their servers', and the list saved with its IP6 keys.

#include "platform/flexgrid/flexgrid.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/editing/config_tab.h"
#include "vardel/editing/tests/modal_script.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/config_store.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

using testsupport::readFile;

namespace {

constexpr int kAddServers = 1005;
constexpr int kIp6 = 1450;
constexpr const char* kAgentUla = "fd00:76::1"; // V6HOST, its agent listening there
constexpr const char* kHostUla = "fd00:76::2";  // SILENT6: a host without an agent

std::vector<std::string> rows(CMSFlexGrid& grid) {
    std::vector<std::string> out;
    for (long r = 1; r < grid.GetRows(); ++r) {
        std::string row;
        for (long c = 0; c < grid.GetCols(); ++c)
            row += (c ? "|" : "") + grid.GetTextMatrix(r, c);
        out.push_back(row);
    }
    return out;
}

void showTab(CVardelTabs& console, int index) {
    QTabBar* bar = console.findChild<QTabWidget*>("pagesTabWidget")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    ASSERT_EQ(console.currentTab(), index);
}

// The log's "server|description|alarm" of each block.
std::vector<std::string> logBlocks(const std::string& log) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while ((at = log.find("\r\nServer Name:", at)) != std::string::npos) {
        std::string block;
        std::size_t p = at + 2;
        for (const char* key : {"Server Name:", "Description:", "Alarm String:"}) {
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

class Ipv6Road : public ::testing::Test {
protected:
    void SetUp() override {
        // Our own /etc/hosts, seen by this process only.
        ASSERT_EQ(unshare(CLONE_NEWNS), 0) << std::strerror(errno);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        bind("hosts", std::string("127.0.0.1 localhost\n") + kAgentUla + " v6host\n", "/etc/hosts");
        bind("nsswitch.conf", "hosts: files\n", "/etc/nsswitch.conf");
        for (const char* address : {kAgentUla, kHostUla})
            ASSERT_EQ(testsupport::runProcess(
                          {"ip", "-6", "addr", "add", std::string(address) + "/128", "dev", "lo", "nodad"}),
                      0);
        testsupport::copyProgramData(dir.path());
        // SILENT6 stored by an earlier run: IPv6 only, as its IP6 key.
        testsupport::writeFile(
            dir.file("rlaweb.ini"),
            "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSILENT6=1\r\n[SILENT6]\r\nNOS=NT\r\n"
            "IP=\r\nIPX=\r\nSNMP_COMMUNITY=public\r\nIP6=" +
                std::string(kHostUla) + "\r\n[VDINFO]\r\nRETRY=1\r\nTIMEOUT=30\r\n");
    }
    void TearDown() override {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
            umount2(it->c_str(), MNT_DETACH);
    }
    void bind(const std::string& name, const std::string& content, const char* target) {
        testsupport::writeFile(dir.file(name), content);
        ASSERT_EQ(mount(dir.file(name).c_str(), target, nullptr, MS_BIND, nullptr), 0) << target;
        mounts.push_back(target);
    }
    ManagedServer& server(CVardelTabs& console, const std::string& name) {
        return *FindServerByName(console.servers(), name);
    }

    testsupport::TempDir dir;
    std::vector<std::string> mounts;
};

} // namespace

TEST_F(Ipv6Road, ServersAddedPolledPingedAndTheirTrapsClassified) {
    // The agent on udp6 only; the destination variable writable through a
    // pass script that logs each write.
    const std::string script = dir.file("destination.sh");
    testsupport::writeFile(script, "#!/bin/sh\n[ \"$1\" = -s ] && echo \"$4\" >> " + dir.file("written.log") +
                                       "\n[ \"$1\" = -g ] && printf '%s\\nstring\\n\\n' \"$2\"\nexit 0\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(dir.file("agent"));
    testsupport::SnmpdPeer agent(dir.file("agent/"), "agentaddress udp6:[::1]:161,udp6:[" +
                                                         std::string(kAgentUla) +
                                                         "]:161\nrwcommunity6 public default\n"
                                                         "pass .1.3.6.1.4.1.32473.2.23.13.3.2 " +
                                                         script + "\n");
    ASSERT_TRUE(agent.ready("udp6:[::1]:161", "public"));

    msgbox::ScopedScript boxes;
    StartupOptions options;
    options.programDirectory = dir.path();
    fixedhost::ip = "127.0.0.1";
    options.host = fixedhost::library();
    CVardelTabs console(options);
    ASSERT_TRUE(console.OnInitDialog());
    console.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&console));
    ASSERT_EQ(console.trapListener()->waitForRegistration(), 0);

    // V6HOST has an AAAA record only; LOOP6 no record at all: its IPv6
    // address is typed.
    {
        ModalScript steps;
        steps.then([](QDialog* addServers) {
            QTimer::singleShot(0, addServers, [addServers] {
                click(addServers, kManually);
                click(addServers, kOk);
            });
        });
        steps.then([](QDialog* manual) {
            click(manual, kWindowsNt);
            auto* lines = ctl<QPlainTextEdit>(manual, kServers);
            QTest::keyClicks(lines, "v6host");
            QTest::keyClick(lines, Qt::Key_Return);
            QTest::keyClicks(lines, "loop6");
            click(manual, kOk);
        });
        steps.then([](QDialog* enterIp) {
            QTest::keyClicks(ctl<QLineEdit>(enterIp, kIp6), "::1");
            click(enterIp, kOk);
        });
        click(console.configTab(), kAddServers);
        EXPECT_TRUE(steps.done());
        EXPECT_EQ(steps.handled, (std::vector<int>{136, 141, 142}));
    }
    EXPECT_EQ(rows(console.configTab()->grid()),
              (std::vector<std::string>{"LOOP6|NT|::1||public|SET", "SILENT6|NT|fd00:76::2||public|NOT SET",
                                        "V6HOST|NT|fd00:76::1||public|SET"}));
    // Each agent was given the console's own address towards it.
    std::string written = readFile(dir.file("written.log"));
    std::sort(written.begin(), written.end());
    std::string expected = std::string("::1\n") + kAgentUla + "\n";
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(written, expected);

    // The first cycle: both agents answer over udp6; SILENT6's host answers
    // the ICMPv6 echo that follows its agent's silence.
    console.pollTimer().start(10);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return std::all_of(console.servers().begin(), console.servers().end(), [](const auto& s) {
                return s->pollPending == 0 && s->snmpStatus != "INIT" && s->networkStatus != "INIT";
            });
        },
        60000));
    showTab(console, 0);
    showTab(console, 1);
    EXPECT_EQ(rows(console.statusTab()->grid()),
              (std::vector<std::string>{"LOOP6|0|UP|UP", "SILENT6|1|DOWN|UP", "V6HOST|0|UP|UP"}));

    // Traps over udp6, v1 (agent-addr field 0.0.0.0) and v2c.
    EXPECT_EQ(testsupport::runProcess({"snmptrap", "-v", "1", "-c", "public",
                                       "udp6:[" + std::string(kAgentUla) + "]:162", "1.3.6.1.4.1.9999",
                                       "0.0.0.0", "6", "1001", "0", "1.3.6.1.4.1.9999.1.1", "s", "cpu",
                                       "1.3.6.1.4.1.9999.1.2", "s", "fan3"}),
              0);
    EXPECT_EQ(testsupport::runProcess({"snmptrap", "-v", "2c", "-c", "public", "udp6:[::1]:162", "",
                                       "1.3.6.1.4.1.9999.0.1001", "1.3.6.1.4.1.9999.1.1", "s", "disk",
                                       "1.3.6.1.4.1.9999.1.2", "s", "fan1"}),
              0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return console.alertStore().count >= 3; }, 10000));
    const std::vector<std::string> blocks = logBlocks(readFile(dir.file("VDLog.txt")));
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].substr(0, blocks[0].find('|')), "SILENT6"); // its agent DOWN
    EXPECT_EQ(blocks[1], "V6HOST|Fan failure|Fan fan3 failed on cpu");
    EXPECT_EQ(blocks[2], "LOOP6|Fan failure|Fan fan1 failed on disk");
    EXPECT_EQ(server(console, "V6HOST").outstandingAlerts, 1);
    EXPECT_EQ(server(console, "LOOP6").outstandingAlerts, 1);

    // OK: the IPv6 addresses saved as IP6, the IP keys left empty.
    click(&console, kOk);
    const std::string ini = readFile(dir.file("rlaweb.ini"));
    EXPECT_NE(ini.find("[LOOP6]\r\nNOS=NT\r\nIP=\r\nIPX=\r\nSNMP_COMMUNITY=public\r\nIP6=::1\r\n"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("[V6HOST]\r\nNOS=NT\r\nIP=\r\nIPX=\r\nSNMP_COMMUNITY=public\r\nIP6=fd00:76::1\r\n"),
              std::string::npos);
    EXPECT_NE(ini.find("IP6=fd00:76::2\r\n"), std::string::npos);
}
