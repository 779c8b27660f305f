// A console in its own network namespace receives real traps from Net-SNMP's
// snmptrap and snmpinform: classified alerts reach the notify window and the log.

#include "tests/support/fixed_host.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/definitions/definitions.h"
#include "vardel/shell/vardel_tabs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string text(QWidget* w) {
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text().toStdString();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w))
        return e->toPlainText().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text().toStdString();
    return "<no control>";
}

class TrapRoad : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::copyProgramData(dir.path());
        writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSRV2=1\r\n"
                                          "[SRV2]\r\nNOS=NT\r\nIP=127.0.0.2\r\nSNMP_COMMUNITY=public\r\n");
        StartupOptions options;
        options.programDirectory = dir.path();
        fixedhost::ip = "127.0.0.1";
        options.host = fixedhost::library();
        console = std::make_unique<CVardelTabs>(options);
        console->OnInitDialog();
        ASSERT_NE(console->trapListener(), nullptr);
    }

    // Runs a Net-SNMP tool from the managed server's address, keeping the
    // console's event loop turning meanwhile; its exit code.
    int tool(const QString& program, QStringList args, const std::string& from = "127.0.0.2") {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SNMP_PERSISTENT_DIR", QString::fromStdString(dir.path()));
        env.insert("SNMPCONFPATH", QString::fromStdString(dir.path()));
        p.setProcessEnvironment(env);
        args.prepend(QString::fromStdString("--clientaddr=" + from));
        p.start(program, args);
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000))
            p.kill();
        p.waitForFinished(1000);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    int v1Trap(const std::string& enterprise, int generic, int specific,
               const std::string& from = "127.0.0.2", const QString& community = "public") {
        return tool("snmptrap",
                    {"-v", "1", "-c", community, "127.0.0.1:162", QString::fromStdString(enterprise),
                     "127.0.0.2", QString::number(generic), QString::number(specific), "0",
                     "1.3.6.1.4.1.9999.1.1", "s", "cpu", "1.3.6.1.4.1.9999.1.2", "s", "fan3"},
                    from);
    }

    bool waitForAlerts(int n) {
        return QTest::qWaitFor([&] { return console->alertStore().count >= n; }, 10000);
    }

    std::string shown(int id) { return text(testsupport::findControl(console->notifyWindow(), id)); }

    TempDir dir;
    std::unique_ptr<CVardelTabs> console;
};

} // namespace

TEST_F(TrapRoad, TrapsOfListedEnterprisesFromManagedServersBecomeAlerts) {
    ASSERT_EQ(console->trapListener()->waitForRegistration(), 0);

    // Dropped: an unmanaged sender, an unlisted enterprise, a generic trap.
    EXPECT_EQ(v1Trap("1.3.6.1.4.1.9999", 6, 1001, "127.0.0.3"), 0);
    EXPECT_EQ(v1Trap("1.3.6.1.4.1.4242", 6, 1001), 0);
    EXPECT_EQ(v1Trap("1.3.6.1.4.1.9999", 0, 0), 0);

    // A v1 trap of the sample enterprise, specific trap 1001.
    ASSERT_EQ(v1Trap("1.3.6.1.4.1.9999", 6, 1001), 0);
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(console->alertStore().count, 1) << "a dropped trap became an alert";
    EXPECT_TRUE(console->notifyWindow()->isVisible());
    EXPECT_EQ(shown(1042), "Fan fan3 failed on cpu");
    EXPECT_EQ(shown(1039), "Fan failure");
    EXPECT_EQ(shown(1023), "SRV2");
    EXPECT_EQ(shown(1038), "1");
    EXPECT_EQ(console->alertStore().alerts.front()->severity, kSeverityCritical);

    // A v2c trap: identifier 1.3.6.1.4.1.9999.0.1002 with its enterprise.
    ASSERT_EQ(tool("snmptrap", {"-v", "2c", "-c", "public", "127.0.0.1:162", "", "1.3.6.1.4.1.9999.0.1002",
                                "1.3.6.1.4.1.9999.1.1", "s", "disk1", "1.3.6.1.4.1.9999.1.2", "i", "71"}),
              0);
    ASSERT_TRUE(waitForAlerts(2));
    EXPECT_EQ(shown(1042), "Temperature of disk1 is 71 degrees");
    EXPECT_EQ(shown(1038), "2");
    EXPECT_EQ(shown(1041), "2");
    EXPECT_EQ(console->alertStore().alerts.front()->severity, kSeverityWarning);

    // An INFORM is answered (snmpinform waits for the response) and classified.
    ASSERT_EQ(tool("snmpinform", {"-v", "2c", "-c", "public", "-t", "2", "-r", "1", "127.0.0.1:162", "",
                                  "1.3.6.1.4.1.9999.0.1004", "1.3.6.1.4.1.9999.1.1", "s", "VOL1"}),
              0);
    ASSERT_TRUE(waitForAlerts(3));
    EXPECT_EQ(shown(1042), "Backup of VOL1 completed");

    const std::string log = readFile(dir.file("VDLog.txt"));
    const std::string date = console->alertStore().alerts.back()->dateTime;
    EXPECT_NE(log.find("\r\nDate:" + date +
                       "\r\nServer Name:SRV2\r\nDescription:Fan failure\r\n"
                       "Alarm String:Fan fan3 failed on cpu\r\nSeverity:Critical\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Alarm String:Temperature of disk1 is 71 degrees\r\nSeverity:Warning\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("Alarm String:Backup of VOL1 completed\r\nSeverity:Informational\r\n"),
              std::string::npos);
    EXPECT_EQ(console->servers().front()->outstandingAlerts, 3);
}

// SNMPv1/v2c traps are taken from any sender whatever their community: a
// forged one from a managed server's address raises its alert. When the
// community comes to be checked, this is the test that changes.
TEST_F(TrapRoad, TodayATrapWithAWrongCommunityFromAManagedServerRaisesItsAlert) {
    ASSERT_EQ(console->trapListener()->waitForRegistration(), 0);
    ASSERT_EQ(v1Trap("1.3.6.1.4.1.9999", 6, 1001, "127.0.0.2", "forged"), 0);
    ASSERT_TRUE(waitForAlerts(1));
    ASSERT_EQ(tool("snmptrap", {"-v", "2c", "-c", "forged", "127.0.0.1:162", "", "1.3.6.1.4.1.9999.0.1001"}),
              0);
    ASSERT_TRUE(waitForAlerts(2));
    for (const auto& alert : console->alertStore().alerts) {
        EXPECT_EQ(alert->serverName, "SRV2");
        EXPECT_EQ(alert->severity, kSeverityCritical);
    }
}

// Definitions imported while the console runs (as the Trap Definitions dialog
// does) take effect at once: ucdStart, whose identifier has no ".0.", becomes
// its alert sent as v2c.
TEST_F(TrapRoad, DefinitionsImportedWhileRunningClassifyAtOnce) {
    const std::string mib = "/usr/share/snmp/mibs/UCD-SNMP-MIB.txt";
    if (!std::filesystem::exists(mib))
        GTEST_SKIP() << "no " << mib;
    ASSERT_EQ(console->trapListener()->waitForRegistration(), 0);
    definitions::ScanOptions options;
    options.baseModuleDir = std::string(std::getenv("VARDEL_PROGRAM_DIR")) + "/mibs/";
    const auto scan = definitions::ScanMibFiles({mib}, options);
    ASSERT_TRUE(definitions::WriteDefinitions(scan.notifications, {dir.path(), false, false}).ok);
    console->OnDefinitionsChanged();

    ASSERT_EQ(tool("snmptrap", {"-v", "2c", "-c", "public", "127.0.0.1:162", "", "1.3.6.1.4.1.2021.251.1"}),
              0);
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_EQ(shown(1039), "ucdStart");
    EXPECT_EQ(console->alertStore().alerts.front()->helpFile, dir.path() + "UCD-SNMP-MIB.HLP");
    EXPECT_NE(readFile(dir.file("VDLog.txt")).find("Description:ucdStart\r\n"), std::string::npos);
}
