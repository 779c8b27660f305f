// The two opt-in receptions with real snmptrap: standard traps through
// STANDARD.INI, traps without a definition as unclassified alerts, and
// traps from unknown senders counted, never shown; and with both off, none
// of it.

#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/alerts/unknown_senders.h"
#include "vardel/editing/config_tab.h"
#include "vardel/polling/unknown_senders_dialog.h"
#include "vardel/shell/vardel_tabs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// A module of the test's own: enterprise 1.3.6.1.4.1.42424, listed nowhere.
const char* kTestMib = R"(VARDEL-TEST-MIB DEFINITIONS ::= BEGIN
IMPORTS MODULE-IDENTITY, OBJECT-TYPE, NOTIFICATION-TYPE, enterprises FROM SNMPv2-SMI;
vardelTest MODULE-IDENTITY LAST-UPDATED "202612100000Z" ORGANIZATION "Vardel" CONTACT-INFO "none"
    DESCRIPTION "Test notifications." ::= { enterprises 42424 }
testObjects OBJECT IDENTIFIER ::= { vardelTest 1 }
testTraps OBJECT IDENTIFIER ::= { vardelTest 0 }
testFanName OBJECT-TYPE SYNTAX OCTET STRING MAX-ACCESS accessible-for-notify STATUS current
    DESCRIPTION "The fan." ::= { testObjects 1 }
testFanStopped NOTIFICATION-TYPE OBJECTS { testFanName } STATUS current
    DESCRIPTION "A fan stopped." ::= { testTraps 1 }
END
)";

class TrapReceptions : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        on = GetParam();
        testsupport::copyProgramData(dir.path());
        namespace fs = std::filesystem;
        const char* programDir = std::getenv("VARDEL_PROGRAM_DIR");
        ASSERT_NE(programDir, nullptr) << "run through ctest";
        fs::copy(std::string(programDir) + "/mibs", dir.file("mibs"));
        writeFile(dir.file("mibs/VARDEL-TEST-MIB.txt"), kTestMib);
        writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSRV2=1\r\n"
                                          "[SRV2]\r\nNOS=NT\r\nIP=127.0.0.2\r\nSNMP_COMMUNITY=public\r\n");
        // An imported IF-MIB's linkUp, hand-edited: it wins over STANDARD.INI's.
        writeFile(dir.file("VDTrap.ini"), "[Header]\r\nTotalNum=3\r\n[EnterpriseList]\r\n"
                                          "1.3.6.1.4.1.9999=SAMPLE.INI\r\n1.3.6.1.4.1.8072.4=NETSNMP.INI\r\n"
                                          "1.3.6.1.6.3.1.1.5=IF-MIB.INI\r\n");
        writeFile(dir.file("IF-MIB.INI"), "[1.3.6.1.6.3.1.1.5.4]\r\nTrapString=linkUp\r\n"
                                          "AlarmString=Port %1 is back\r\nSeverity=NORMAL\r\n");
        if (on)
            writeFile(dir.file("vardel.reg"),
                      readFile(dir.file("vardel.reg")) +
                          "\"StandardTraps\"=\"1\"\r\n\"UnclassifiedTraps\"=\"1\"\r\n");
        StartupOptions options;
        options.programDirectory = dir.path();
        fixedhost::ip = "127.0.0.1";
        options.host = fixedhost::library();
        console = std::make_unique<CVardelTabs>(options);
        console->OnInitDialog();
        ASSERT_NE(console->trapListener(), nullptr);
        ASSERT_EQ(console->trapListener()->waitForRegistration(), 0);
    }

    // snmptrap from an address of this namespace's loopback, the event loop turning.
    void trap(QStringList args, const std::string& from = "127.0.0.2") {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SNMP_PERSISTENT_DIR", QString::fromStdString(dir.path()));
        env.insert("SNMPCONFPATH", QString::fromStdString(dir.path()));
        env.insert("MIBS", "");
        p.setProcessEnvironment(env);
        args.prepend(QString::fromStdString("--clientaddr=" + from));
        p.start("snmptrap", args);
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000))
            p.kill();
        p.waitForFinished(1000);
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    }
    void v2(const QString& id, QStringList bindings, const std::string& from = "127.0.0.2") {
        trap(QStringList{"-v", "2c", "-c", "public", "127.0.0.1:162", "", id} + bindings, from);
    }
    void v1(const QString& enterprise, int generic, int specific, QStringList bindings,
            const std::string& from = "127.0.0.2") {
        trap(QStringList{"-v", "1", "-c", "public", "127.0.0.1:162", enterprise, "127.0.0.2",
                         QString::number(generic), QString::number(specific), "0"} +
                 bindings,
             from);
    }
    // A sample trap that every console classifies: once it is in, every trap
    // sent before it has been handled.
    const AlertRecord& marker() {
        const AlertStore& store = console->alertStore();
        const int before = store.count;
        v1("1.3.6.1.4.1.9999", 6, 1004, {"1.3.6.1.4.1.9999.1.1", "s", "VOL1"});
        // The marker itself, not a trap sent before it that came in meanwhile.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return store.count > before && store.alerts.front()->trapKey == "1.3.6.1.4.1.9999.1004"; },
            10000));
        return *store.alerts.front();
    }
    const AlertRecord& alert(int sequence) { return *console->alertStore().findBySequence(sequence); }

    bool on = false;
    testsupport::TempDir dir;
    std::unique_ptr<CVardelTabs> console;
};

const QStringList kLinkDown = {"1.3.6.1.2.1.2.2.1.1.2", "i", "2", "1.3.6.1.2.1.2.2.1.7.2", "i", "1",
                               "1.3.6.1.2.1.2.2.1.8.2", "i", "2", "1.3.6.1.2.1.2.2.1.2.2", "s", "eth1"};

} // namespace

TEST_P(TrapReceptions, StandardTrapsAreClassifiedApartFromTheStateChangeAlerts) {
    v2("1.3.6.1.6.3.1.1.5.3", kLinkDown);                                     // linkDown, v2c
    v1("1.3.6.1.4.1.8072.3.2.10", 2, 0, {"1.3.6.1.2.1.2.2.1.1.3", "i", "3"}); // linkDown, v1
    v1("1.3.6.1.4.1.8072.3.2.10", 0, 0, {});                                  // coldStart
    v2("1.3.6.1.6.3.1.1.5.4", {"1.3.6.1.2.1.2.2.1.1.2", "i", "2"});           // linkUp
    marker();
    // The console's own "agent UP", keyed by coldStart's identifier too.
    const int state = console->alertStore().RaiseStateAlert("SRV2", "UP", kStateSourceAgent);
    const AlertRecord& up = alert(state);
    EXPECT_EQ(up.origin, kOriginStateChange);
    EXPECT_EQ(up.trapKey, "1.3.6.1.6.3.1.1.5.1");
    EXPECT_EQ(up.alertText, "The SNMP agent on the server is responding again");
    EXPECT_EQ(up.severity, kSeverityNormal);
    if (!on) {
        EXPECT_EQ(console->alertStore().count, 2) << "a standard trap became an alert";
        return;
    }
    ASSERT_EQ(console->alertStore().count, 6);
    EXPECT_EQ(alert(1).alertText, "Link down on interface 2 eth1");
    EXPECT_EQ(alert(1).description, "Link down");
    EXPECT_EQ(alert(1).severity, kSeverityCritical);
    EXPECT_EQ(alert(1).serverName, "SRV2");
    EXPECT_EQ(alert(2).alertText, "Link down on interface 3");
    EXPECT_EQ(alert(2).severity, kSeverityCritical);
    const AlertRecord& cold = alert(3);
    EXPECT_EQ(cold.origin, kOriginTrap);
    EXPECT_EQ(cold.trapKey, "1.3.6.1.6.3.1.1.5.1");
    EXPECT_EQ(cold.description, "Cold start");
    EXPECT_EQ(cold.severity, kSeverityInformational);
    EXPECT_EQ(alert(4).alertText, "Port 2 is back") << "the index's definition wins";
    const std::string log = readFile(dir.file("VDLog.txt"));
    EXPECT_NE(
        log.find("Description:Link down\r\nAlarm String:Link down on interface 2 eth1\r\nSeverity:Critical"),
        std::string::npos)
        << log;

    // Switched off in Advanced Options: from the next trap on, a linkDown has
    // no definition (unclassified traps are still shown).
    console->settings().receiveStandardTraps = 0;
    console->configTab()->settingsChanged();
    v2("1.3.6.1.6.3.1.1.5.3", kLinkDown);
    marker();
    ASSERT_EQ(console->alertStore().count, 8);
    EXPECT_EQ(alert(7).severity, kSeverityUnclassified);
    EXPECT_EQ(alert(7).reception, kReceptionUnclassified);
    EXPECT_EQ(alert(7).trapKey, "1.3.6.1.6.3.1.1.5.3");
}

TEST_P(TrapReceptions, TrapsWithoutDefinitionShowTheirBindingsAndUnknownSendersAreOnlyCounted) {
    const QStringList fan = {"1.3.6.1.4.1.42424.1.1.0", "s", "fan2", "1.3.6.1.4.1.42424.1.9", "i", "7"};
    v2("1.3.6.1.4.1.42424.0.1", fan);
    v2("1.3.6.1.4.1.42424.0.1", fan, "127.0.0.3");
    v1("1.3.6.1.4.1.9999", 6, 1001, {"1.3.6.1.4.1.9999.1.1", "s", "cpu"}, "127.0.0.3");
    v1("1.3.6.1.4.1.4242", 6, 17, {}, "127.0.0.3");
    marker();
    const std::vector<UnknownSender>& unknown = console->unknownSenders()->senders();
    SaveRegistrySettings(console->registryPath(), console->settings());
    const std::string reg = readFile(console->registryPath());
    if (!on) {
        EXPECT_EQ(console->alertStore().count, 1);
        EXPECT_TRUE(unknown.empty());
        EXPECT_EQ(reg.find("Traps"), std::string::npos) << reg;
        return;
    }
    EXPECT_NE(reg.find("\"StandardTraps\"=\"1\"\r\n\"UnclassifiedTraps\"=\"1\""), std::string::npos) << reg;
    ASSERT_EQ(console->alertStore().count, 2) << "only the managed server's traps are alerts";
    const AlertRecord& fanAlert = alert(1);
    EXPECT_EQ(fanAlert.severity, kSeverityUnclassified);
    EXPECT_EQ(fanAlert.serverName, "SRV2");
    EXPECT_EQ(fanAlert.description, "VARDEL-TEST-MIB::testFanStopped");
    EXPECT_EQ(fanAlert.alertText,
              "VARDEL-TEST-MIB::testFanStopped: testFanName.0 = fan2, 1.3.6.1.4.1.42424.1.9 = 7");
    EXPECT_EQ(fanAlert.enterprise, "1.3.6.1.4.1.42424");
    EXPECT_EQ(fanAlert.reception, kReceptionUnclassified);
    EXPECT_NE(readFile(dir.file("VDLog.txt"))
                  .find("Alarm String:VARDEL-TEST-MIB::testFanStopped: testFanName.0 "
                        "= fan2, 1.3.6.1.4.1.42424.1.9 = 7\r\nSeverity:Unknown"),
              std::string::npos);

    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0].address, "127.0.0.3");
    EXPECT_EQ(unknown[0].count, 3u);
    EXPECT_EQ(unknown[0].lastTrap, "1.3.6.1.4.1.4242.0.17");
    EXPECT_FALSE(unknown[0].lastTime.empty());
    EXPECT_EQ(console->servers().front()->outstandingAlerts, 2);

    // Define... is offered for the unclassified alert alone. The console's
    // opens the Trap Definitions dialog; without a handler it says where to
    // import, with another it hands over the enterprise.
    CNotifyWindow& window = *console->notifyWindow();
    auto* define = testsupport::control<QAbstractButton>(&window, 1252);
    ASSERT_NE(define, nullptr);
    window.ShowAlert(2);
    EXPECT_TRUE(define->isHidden());
    window.ShowAlert(1);
    EXPECT_FALSE(define->isHidden());
    {
        bool opened = false;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QDialog*>(w);
                    dialog && dialog->isVisible() && dialog->property("ctlId").toInt() == 300) {
                    opened = true;
                    dialog->reject();
                }
        });
        closer.start(10);
        define->click();
        EXPECT_TRUE(opened);
    }
    window.setDefineHandler({});
    {
        msgbox::ScopedScript boxes;
        define->click();
        ASSERT_EQ(boxes.script.shown.size(), 1u);
        EXPECT_NE(boxes.script.shown[0].text.find("enterprise 1.3.6.1.4.1.42424."), std::string::npos);
    }
    std::string asked;
    window.setDefineHandler(
        [&](const std::string& enterprise, const std::string& key) { asked = enterprise + " " + key; });
    define->click();
    EXPECT_EQ(asked, "1.3.6.1.4.1.42424 1.3.6.1.4.1.42424.1");

    // The list, and Add Server... for the chosen sender.
    std::string adding;
    CUnknownSendersDlg list(console.get(), *console->unknownSenders(), dir.path(),
                            [&](const std::string& address) { adding = address; });
    auto* rows = testsupport::control<QTreeWidget>(&list, 1254);
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->topLevelItemCount(), 1);
    QTreeWidgetItem* row = rows->topLevelItem(0);
    EXPECT_EQ(row->text(0), "127.0.0.3");
    EXPECT_EQ(row->text(1), "3");
    EXPECT_EQ(row->text(2), "1.3.6.1.4.1.4242.0.17");
    rows->setCurrentItem(row);
    testsupport::control<QAbstractButton>(&list, 1255)->click();
    EXPECT_EQ(adding, "127.0.0.3");
    v2("1.3.6.1.4.1.42424.0.1", fan, "127.0.0.3");
    marker();
    EXPECT_EQ(rows->topLevelItem(0)->text(1), "4") << "the open list follows the count";
}

INSTANTIATE_TEST_SUITE_P(OptIns, TrapReceptions, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "On" : "Off"; });
