#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "platform/registry/registry.h"
#include "tests/support/testsupport.h"
#include "vardel/store/config_store.h"
#include "vardel/store/store_notice.h"

#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

std::vector<std::string> names(const ServerList& servers) {
    std::vector<std::string> out;
    for (const auto& s : servers)
        out.push_back(s->name);
    return out;
}

std::unique_ptr<ManagedServer> server(const std::string& name, const std::string& ip,
                                      const std::string& ipx = "") {
    auto s = std::make_unique<ManagedServer>();
    s->name = name;
    s->ipAddress = ip;
    s->ipxAddress = ipx;
    return s;
}

// Notices become boxes here as in the console, so the scripted boxes see them.
class NoticeBoxes : public ::testing::Environment {
    void SetUp() override {
        store::setNoticeSink([](const std::string& text, const std::string& caption,
                                store::NoticeLevel level) {
            msgbox::show(nullptr, text, caption, msgbox::Buttons::Ok,
                         level == store::NoticeLevel::Error ? msgbox::Icon::Error : msgbox::Icon::Warning);
        });
    }
};
const auto* const kNoticeBoxes = ::testing::AddGlobalTestEnvironment(new NoticeBoxes);

const char* kRegHeader = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n";

} // namespace

TEST(FillListFromIni, ReadsKeysInReverseFileOrderWithinTheCountedBuffer) {
    TempDir dir;
    const auto ini = dir.file("rlaweb.ini");
    writeFile(ini, crlf("[ServerInfo]\nNumServers=3\n[SERVERS]\nA=1\nB=1\nC=1\n"));
    std::list<std::string> list{"existing"};
    EXPECT_EQ(_FillListFromIni(ini, list, "SERVERS"), 0);
    EXPECT_EQ(list, (std::list<std::string>{"C", "B", "A", "existing"}));

    // Section names compare exactly here: another spelling serves nothing.
    std::list<std::string> other;
    EXPECT_EQ(_FillListFromIni(ini, other, "servers"), 1000);
    EXPECT_EQ(_FillListFromIni(ini, other, "CLIENTS"), 1000);
    EXPECT_TRUE(other.empty());
}

TEST(FillListFromIni, ServersAreReadWhateverTheirCountEnterprisesNeedOne) {
    msgbox::ScopedScript boxes;
    TempDir dir;
    const auto ini = dir.file("rlaweb.ini");
    const std::string longName(70000, 'L');
    for (const char* count : {"", "NumServers=0\n", "NumServers=-5\n", "NumServers=x\n", "NumServers=1\n"}) {
        writeFile(ini, "[ServerInfo]\n" + std::string(count) + "[SERVERS]\nA=1\n" + longName + "=1\nC=1\n");
        std::list<std::string> list;
        EXPECT_EQ(_FillListFromIni(ini, list, "SERVERS"), 0) << count;
        EXPECT_EQ(list, (std::list<std::string>{"C", longName, "A"})) << count;
    }
    std::list<std::string> list;
    writeFile(ini, "[ServerInfo]\nNumServers=3\n[SERVERS]\n");
    EXPECT_EQ(_FillListFromIni(ini, list, "SERVERS"), 1000);
    EXPECT_EQ(_FillListFromIni(dir.file("missing.ini"), list, "SERVERS"), 1000);
    // No count, 0 or a negative one: no enterprise is read, and no box says
    // the memory ran out.
    for (const char* header : {"", "[Header]\nTotalNum=0\n", "[Header]\nTotalNum=-1\n"}) {
        writeFile(dir.file("VDTrap.ini"), std::string(header) + "[EnterpriseList]\n1.3.6.1.4.1.9999=A.INI\n");
        EXPECT_EQ(_FillListFromIni(dir.file("VDTrap.ini"), list, "EnterpriseList"), 1000) << header;
    }
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST(FillListFromIni, KeysBeyondTheBufferAreCutOff) {
    TempDir dir;
    const auto ini = dir.file("VDTrap.ini");
    // One slot of 100 bytes for three long enterprise names.
    const std::string e1(60, '1'), e2(60, '2'), e3(60, '3');
    writeFile(ini, "[Header]\nTotalNum=1\n[EnterpriseList]\n" + e1 + "=a\n" + e2 + "=b\n" + e3 + "=c\n");
    std::list<std::string> list;
    EXPECT_EQ(_FillListFromIni(ini, list, "EnterpriseList"), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.back(), e1);
    EXPECT_LT(list.front().size(), e2.size()); // the second name, truncated
    EXPECT_EQ(list.front(), e2.substr(0, list.front().size()));
}

TEST(LoadServerList, BuildsServersInReverseOfTheirStoredOrder) {
    TempDir dir;
    const auto ini = dir.file("rlaweb.ini");
    writeFile(ini, crlf("[ServerInfo]\nNumServers=3\n[SERVERS]\nA=1\nB=1\nC=1\n"
                        "[A]\nNOS=NetWare\nIP=10.0.0.1\nIPX=0000000A-000000000001\nSNMP_COMMUNITY=priv\n"
                        "[B]\nNOS=Windows\nIP=10.0.0.2\n"
                        "[C]\nNOS=SCO\nIP=10.0.0.3\nSNMP_COMMUNITY=public\n"
                        "[CLIENT1]\nA=1\nB=-1\n[CLIENT2]\nC=1\n"));
    ServerList servers;
    ASSERT_EQ(LoadServerList(ini, "CLIENT2", servers), 0);
    EXPECT_EQ(names(servers), (std::vector<std::string>{"C", "B", "A"}));
    const ManagedServer& c = *servers.front();
    EXPECT_EQ(c.nosCode, kNosSCO);
    EXPECT_EQ(c.alertDestination, 1);
    const ManagedServer& b = **std::next(servers.begin());
    EXPECT_EQ(b.nosCode, kNosNone);
    EXPECT_EQ(b.nosText, "Windows");
    EXPECT_EQ(b.community, ""); // a missing community is empty, not "public"
    EXPECT_EQ(b.alertDestination, -1);
    const ManagedServer& a = *servers.back();
    EXPECT_EQ(a.nosCode, kNosNetWare);
    EXPECT_EQ(a.ipxAddress, "0000000A-000000000001");
    EXPECT_EQ(a.community, "priv");
    // Console 2's section lacks A: not set there, whatever console 1 says.
    EXPECT_EQ(a.alertDestination, -1);
    EXPECT_EQ(a.snmpStatus, "INIT");
    EXPECT_EQ(a.networkStatus, "INIT");
}

TEST(LoadServerList, FieldsAreReadUpToTheirWidths) {
    TempDir dir;
    const auto ini = dir.file("rlaweb.ini");
    writeFile(ini, "[ServerInfo]\nNumServers=1\n[SERVERS]\nS=1\n[S]\nNOS=" + std::string(30, 'n') +
                       "\nIP=" + std::string(80, '1') + "\nSNMP_COMMUNITY=" + std::string(40, 'c') + "\n");
    ServerList servers;
    ASSERT_EQ(LoadServerList(ini, "CLIENT1", servers), 0);
    EXPECT_EQ(servers.front()->nosText.size(), 19u);
    EXPECT_EQ(servers.front()->ipAddress.size(), 49u);
    EXPECT_EQ(servers.front()->community.size(), 19u);
}

TEST(SaveConsoleIni, ClearAndSaveReproducesTheListAndKeepsOtherConsoles) {
    TempDir dir;
    ConsoleSettings settings;
    settings.iniPath = dir.file("rlaweb.ini");
    settings.clientSection = "CLIENT1";
    settings.hostName = "CONSOLE1";
    writeFile(settings.iniPath,
              crlf("[CLIENTS]\nNumClients=2\n[ServerInfo]\nNumServers=3\n[SERVERS]\nA=1\nB=1\nC=1\n"
                   "[A]\nNOS=NT\n[B]\nNOS=Windows\n[C]\nNOS=SCO\n[CLIENT2]\nA=1\nB=1\n"));
    ServerList servers;
    ASSERT_EQ(LoadServerList(settings.iniPath, "CLIENT1", servers), 0);
    servers.remove_if([](const auto& s) { return s->name == "A"; });
    servers.front()->nosCode = kNosNT; // C becomes NT
    ASSERT_TRUE(SaveConsoleIni(settings, servers));

    const std::string expected =
        crlf("[CLIENTS]\nNumClients=2\nLastClient=CONSOLE1\n[ServerInfo]\nNumServers=2\n"
             "[CLIENT2]\nA=1\nB=1\n[SERVERS]\nC=1\nB=1\n"
             "[C]\nNOS=NT\nIP=\nIPX=\nSNMP_COMMUNITY=\n[CLIENT1]\nC=-1\nB=-1\n"
             "[B]\nNOS=Windows\nIP=\nIPX=\nSNMP_COMMUNITY=\n"
             "[VDINFO]\nRETRY=7\nPOLLTIME=3\n");
    EXPECT_EQ(readFile(settings.iniPath), expected);

    // Loading what was saved gives the same list back, in the same order.
    ServerList again;
    ASSERT_EQ(LoadServerList(settings.iniPath, "CLIENT1", again), 0);
    EXPECT_EQ(names(again), (std::vector<std::string>{"B", "C"}));
}

TEST(SaveConsoleIni, AnUnwritableFileReportsFailureAndLosesNothing) {
    TempDir dir;
    ConsoleSettings settings;
    settings.iniPath = dir.file("no-such-dir/rlaweb.ini");
    ServerList servers;
    servers.push_back(server("S", "10.0.0.1"));
    EXPECT_FALSE(SaveConsoleIni(settings, servers));
    EXPECT_EQ(servers.size(), 1u);
}

TEST(PollingSettings, MissingOrZeroValuesGiveTheDefaults) {
    TempDir dir;
    ConsoleSettings s;
    const auto ini = dir.file("rlaweb.ini");
    writeFile(ini, "[VDINFO]\nRETRY=0\nPOLLTIME=0\n");
    ReadPollingSettings(ini, s);
    EXPECT_EQ(s.retry, 7);
    EXPECT_EQ(s.pollTime, 3);
    EXPECT_EQ(s.timeout, 800u);
    writeFile(ini, "[VDINFO]\nRETRY=2\nPOLLTIME=5\nTIMEOUT=150\n");
    ReadPollingSettings(ini, s);
    EXPECT_EQ(s.retry, 2);
    EXPECT_EQ(s.pollTime, 5);
    EXPECT_EQ(s.timeout, 150u);
}

TEST(Registry, ValuesAreReadByTheirRules) {
    TempDir dir;
    const auto reg = dir.file("vardel.reg");
    writeFile(reg, std::string(kRegHeader) + "\"Name\"=\"mgmt.example\"\r\n\"Port\"=\"8080abc\"\r\n"
                                             "\"SSL\"=\"yes\"\r\n\"DHCP\"=\"1\"\r\n\"SOUND\"=\"0\"\r\n\r\n");
    ConsoleSettings s;
    s.soundFile = "stale";
    EXPECT_EQ(ReadRegistryName(reg, s), 0);
    EXPECT_EQ(s.managementServerName, "mgmt.example");
    EXPECT_EQ(ReadRegistrySoundFile(reg, s), -1);
    EXPECT_EQ(s.soundFile, "");
    EXPECT_EQ(ReadRegistryPort(reg, s), 0);
    EXPECT_EQ(s.port, 8080u);
    EXPECT_EQ(ReadRegistrySsl(reg, s), 0);
    EXPECT_EQ(s.useSsl, 0); // only the exact text 1 is on
    EXPECT_EQ(ReadRegistryDhcp(reg, s), 0);
    EXPECT_EQ(s.useDhcp, 1);

    // A missing key gives every default.
    ConsoleSettings d;
    d.port = 1;
    d.useDhcp = 1;
    ReadRegistrySettings(dir.file("absent.reg"), d);
    EXPECT_EQ(d.port, 80u);
    EXPECT_EQ(d.useDhcp, 0);
    EXPECT_EQ(ReadRegistryPort(dir.file("absent.reg"), d), -1);
}

TEST(Registry, SavingWritesSixValuesOfAtMost101CharactersAndNeverCreatesTheKey) {
    TempDir dir;
    const auto reg = dir.file("vardel.reg");
    ConsoleSettings s;
    s.managementServerName = std::string(150, 'm');
    s.soundFile = "/usr/share/sounds/alert.wav";
    s.port = 81;
    s.useSsl = 1;
    SaveRegistrySettings(reg, s); // no file: no key, nothing written
    EXPECT_FALSE(registry::Key::open(reg).has_value());

    writeFile(reg, std::string(kRegHeader) + "\r\n");
    SaveRegistrySettings(reg, s);
    ConsoleSettings back;
    ReadRegistrySettings(reg, back);
    EXPECT_EQ(back.managementServerName, std::string(101, 'm'));
    EXPECT_EQ(back.soundFile, s.soundFile);
    EXPECT_EQ(back.port, 81u);
    EXPECT_EQ(back.useSsl, 1);
    EXPECT_EQ(back.useDhcp, 0);
    EXPECT_EQ(back.playSound, 0);
}

TEST(Registry, TheAlertCeilingAndNotificationsAreWrittenOnlyOnceTheyDifferFromTheDefault) {
    TempDir dir;
    const auto reg = dir.file("vardel.reg");
    writeFile(reg, std::string(kRegHeader) + "\r\n");
    ConsoleSettings s;
    SaveRegistrySettings(reg, s);
    EXPECT_EQ(readFile(reg).find("MaxAlerts"), std::string::npos);
    EXPECT_EQ(readFile(reg).find("DesktopNotifications"), std::string::npos);
    s.desktopNotifications = 1;
    SaveRegistrySettings(reg, s);
    ConsoleSettings on;
    ReadRegistrySettings(reg, on);
    EXPECT_EQ(on.desktopNotifications, 1);
    s.desktopNotifications = 0;
    SaveRegistrySettings(reg, s);
    EXPECT_NE(readFile(reg).find("\"DesktopNotifications\"=\"0\""), std::string::npos);

    s.alertCeiling = 2500;
    SaveRegistrySettings(reg, s);
    ConsoleSettings back;
    ReadRegistrySettings(reg, back);
    EXPECT_EQ(back.alertCeiling, 2500);
    // Back to the default: the value present says so.
    s.alertCeiling = kDefaultAlertCeiling;
    SaveRegistrySettings(reg, s);
    EXPECT_NE(readFile(reg).find("\"MaxAlerts\"=\"1000000\""), std::string::npos);

    for (const char* stored : {"0", "x12", "99999999999"}) {
        writeFile(reg, std::string(kRegHeader) + "\"MaxAlerts\"=\"" + stored + "\"\r\n\r\n");
        back.alertCeiling = 7;
        EXPECT_EQ(ReadRegistryAlertCeiling(reg, back), -1) << stored;
        EXPECT_EQ(back.alertCeiling, kDefaultAlertCeiling);
    }
}

TEST(Registry, QuietHoursAndFlappingAreWrittenOnlyOnceSwitchedOn) {
    TempDir dir;
    const auto reg = dir.file("vardel.reg");
    writeFile(reg, std::string(kRegHeader) + "\r\n");
    ConsoleSettings s;
    SaveRegistrySettings(reg, s);
    for (const char* name : {"QuietHours", "Flapping"})
        EXPECT_EQ(readFile(reg).find(name), std::string::npos) << name;
    s.quietHours = 1;
    s.quietHoursStart = "23:30";
    s.flapping = 1;
    s.flappingChanges = 6;
    SaveRegistrySettings(reg, s);
    ConsoleSettings back;
    ReadRegistrySettings(reg, back);
    EXPECT_EQ(back.quietHours, 1);
    EXPECT_EQ(back.quietHoursStart, "23:30");
    EXPECT_EQ(back.quietHoursEnd, "07:00");
    EXPECT_EQ(back.flapping, 1);
    EXPECT_EQ(back.flappingChanges, 6);
    EXPECT_EQ(back.flappingMinutes, 15);
    // Values that do not read keep the defaults.
    writeFile(reg, std::string(kRegHeader) +
                       "\"QuietHours\"=\"1\"\r\n\"QuietHoursStart\"=\"25:00\"\r\n"
                       "\"FlappingChanges\"=\"1\"\r\n\"FlappingMinutes\"=\"x\"\r\n\r\n");
    ConsoleSettings bad;
    ReadRegistrySettings(reg, bad);
    EXPECT_EQ(bad.quietHours, 1);
    EXPECT_EQ(bad.quietHoursStart, "22:00");
    EXPECT_EQ(bad.flappingChanges, 4);
    EXPECT_EQ(bad.flappingMinutes, 15);
}

TEST(ServerLookups, AddressesIgnoreCaseNamesDoNotFirstMatchWins) {
    ServerList servers;
    servers.push_back(server("Alpha", "10.0.0.1", "0000000A-00000000000B"));
    servers.push_back(server("Beta", "", "0000000a-00000000000b"));
    servers.push_back(server("alpha", "10.0.0.3"));
    std::string name = "untouched";
    EXPECT_EQ(FindServerNameByAddress(servers, "0000000a-00000000000B", name), 0);
    EXPECT_EQ(name, "Alpha");
    EXPECT_EQ(FindServerNameByAddress(servers, "10.0.0.9", name), -1);
    EXPECT_EQ(name, "Alpha");

    SetSnmpStatus(servers, "alpha", "UP");
    SetSnmpStatus(servers, "nobody", "UP");
    std::string status;
    EXPECT_EQ(GetSnmpStatus(servers, "Alpha", status), 0);
    EXPECT_EQ(status, "INIT");
    EXPECT_EQ(GetSnmpStatus(servers, "alpha", status), 0);
    EXPECT_EQ(status, "UP");
    EXPECT_EQ(GetSnmpStatus(servers, "ALPHA", status), -1);

    status = "kept";
    GetNetworkStatus(servers, "nobody", status);
    EXPECT_EQ(status, "kept");

    SetSnmpStatus(servers, "Alpha", "UP");
    std::list<std::string> up;
    CollectServerNamesBySnmpStatus(servers, up, "UP");
    EXPECT_EQ(up, (std::list<std::string>{"alpha", "Alpha"}));
}

// The IPv6 address is the key IP6 after the others, only where there is one;
// the IP key keeps its IPv4 text (empty for an IPv6-only server).
TEST(SaveConsoleIni, Ipv6AddressesAreASiblingKeyWrittenOnlyWhereThereIsOne) {
    TempDir dir;
    ConsoleSettings settings;
    settings.iniPath = dir.file("rlaweb.ini");
    settings.clientSection = "CLIENT1";
    ServerList servers;
    servers.push_back(server("V4", "10.0.0.1"));
    servers.push_back(server("V6", ""));
    servers.back()->ip6Address = "fd00::6";
    servers.push_back(server("BOTH", "10.0.0.2"));
    servers.back()->ip6Address = "FD00:0::2";
    ASSERT_TRUE(SaveConsoleIni(settings, servers));
    const std::string text = readFile(settings.iniPath);
    EXPECT_NE(text.find(crlf("[V4]\nNOS=\nIP=10.0.0.1\nIPX=\nSNMP_COMMUNITY=public\n[CLIENT1]")),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(crlf("[V6]\nNOS=\nIP=\nIPX=\nSNMP_COMMUNITY=public\nIP6=fd00::6\n")),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(crlf("IP=10.0.0.2\nIPX=\nSNMP_COMMUNITY=public\nIP6=FD00:0::2\n")),
              std::string::npos);

    ServerList again;
    ASSERT_EQ(LoadServerList(settings.iniPath, "CLIENT1", again), 0);
    ASSERT_EQ(names(again), (std::vector<std::string>{"BOTH", "V6", "V4"}));
    EXPECT_EQ(again.front()->ip6Address, "FD00:0::2");
    EXPECT_EQ(ServerIpAddress(*again.front()), "10.0.0.2");
    EXPECT_EQ(ServerIpAddress(**std::next(again.begin())), "fd00::6");
    EXPECT_TRUE(again.back()->ip6Address.empty());
    // A sender is matched by value, whatever form either text has.
    std::string name;
    EXPECT_EQ(FindServerNameByAddress(again, "fd00::2", name), 0);
    EXPECT_EQ(name, "BOTH");
    EXPECT_EQ(FindServerNameByAddress(again, "fd00:0:0:0:0:0:0:6", name), 0);
    EXPECT_EQ(name, "V6");
    EXPECT_EQ(FindServerNameByAddress(again, "fd00::7", name), -1);
}
