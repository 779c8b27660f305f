// snmptt.conf import: the snmptt package's sample and what it cannot carry.

#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"
#include "vardel/definitions/definitions.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace definitions;

namespace {

TEST(SnmpttImportTest, PackageSampleBecomesDefinitions) {
    const std::string sample = "/etc/snmp/snmptt.conf";
    if (!std::filesystem::exists(sample))
        GTEST_SKIP() << "no " << sample << " (Debian package snmptt)";
    const ScanResult r = ScanSnmpttConf(sample);
    ASSERT_TRUE(r.files[0].imported) << r.files[0].error;
    ASSERT_EQ(r.notifications.size(), 5u);
    const Notification& down = r.notifications[2];
    EXPECT_EQ(down.name, "linkDown");
    EXPECT_EQ(down.trapKey, "1.3.6.1.6.3.1.1.5.3");
    EXPECT_EQ(down.alertText, "Link down on interface %1.  Admin state: %2.  Operational state: %3");
    EXPECT_EQ(down.severity, Severity::Normal); // the EVENT's word wins over the name
    EXPECT_NE(down.description.find("linkDown trap signifies"), std::string::npos);

    testsupport::TempDir dir;
    testsupport::copyProgramData(dir.path());
    ASSERT_TRUE(WriteDefinitions(r.notifications, {dir.path(), false}).ok);
    EXPECT_EQ(profile::getString(dir.file("VDTrap.ini"), "EnterpriseList", "1.3.6.1.6.3.1.1.5", "", 512),
              "SNMPTT.INI");
    EXPECT_NE(testsupport::readFile(dir.file("snmptt.html")).find("linkDown trap signifies"),
              std::string::npos);
}

TEST(SnmpttImportTest, WildcardsAndCommandsAreReportedNotImported) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("acme.conf"),
                           "# acme\n"
                           "EVENT acmeAny .1.3.6.1.4.1.4242.* \"Status Events\" Warning\nFORMAT any $*\n"
                           "EVENT acmeFan .1.3.6.1.4.1.4242.0.7 \"Status Events\" Major\n"
                           "FORMAT Fan $2 of $1 ($N, $s): $* $A\nEXEC /usr/bin/logger fan\n"
                           "MATCH $1: !(0)\nSDESC\nA fan stopped.\nEDESC\n"
                           "EVENT acmeNamed ACME-MIB::acmeNamed \"Status Events\" Normal\n");
    const ScanResult r = ScanSnmpttConf(dir.file("acme.conf"));
    ASSERT_EQ(r.notifications.size(), 1u);
    const Notification& fan = r.notifications[0];
    EXPECT_EQ(fan.trapKey, "1.3.6.1.4.1.4242.7");
    EXPECT_EQ(fan.alertText, "Fan %2 of %1 (acmeFan, Major): %1 %2 %3 %4 %5 %6 %7 %8 %9 %10 $A");
    EXPECT_EQ(fan.severity, Severity::Critical);
    EXPECT_EQ(fan.description, "A fan stopped.");
    const auto& notes = r.files[0].notes;
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_NE(notes[0].find("wildcard"), std::string::npos);
    EXPECT_NE(notes[1].find("EXEC of EVENT acmeFan"), std::string::npos);
    EXPECT_NE(notes[2].find("MATCH"), std::string::npos);
    EXPECT_NE(notes[3].find("not a numeric OID"), std::string::npos);

    testsupport::writeFile(dir.file("bin.conf"), std::string("EVENT\0\x01", 7));
    EXPECT_FALSE(ScanSnmpttConf(dir.file("bin.conf")).files[0].imported);
}

} // namespace
