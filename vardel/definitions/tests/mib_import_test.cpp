// MIB import: real vendor and IETF MIBs, both SMI forms, classification of
// what was written, and bad input.

#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/definitions/definitions.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace definitions;
namespace fs = std::filesystem;

namespace {

const std::string kEnvMon = "1.3.6.1.4.1.9.9.13.3";

std::string sharedMibs() {
    return testsupport::sourcePath("../shared/mibs/");
}

class MibImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::is_directory(sharedMibs() + "cisco"))
            GTEST_SKIP() << "no real MIBs at " << sharedMibs() << "; the import tests need them";
        testsupport::copyProgramData(dir.path());
        options.programDir = dir.path();
        const char* programDir = std::getenv("VARDEL_PROGRAM_DIR");
        ASSERT_NE(programDir, nullptr) << "run through ctest";
        options.baseModuleDir = std::string(programDir) + "/mibs/";
        options.systemDirs = false;
        options.mibDirs = {sharedMibs() + "cisco", sharedMibs() + "ietf"};
    }
    ScanResult scan(const std::vector<std::string>& files) { return ScanMibFiles(files, options); }
    const Notification* find(const ScanResult& r, const std::string& name) {
        for (const Notification& n : r.notifications)
            if (n.name == name)
                return &n;
        return nullptr;
    }
    std::string cisco(const std::string& f) { return sharedMibs() + "cisco/" + f; }

    testsupport::TempDir dir;
    ScanOptions options;
};

TEST(TrapKeyTest, FollowsRfc3584AndTheNameRule) {
    std::string e, k;
    ASSERT_TRUE(TrapKeyOf(".1.3.6.1.4.1.9.9.13.3.0.3", e, k));
    EXPECT_EQ(e, kEnvMon);
    EXPECT_EQ(k, kEnvMon + ".3");
    ASSERT_TRUE(TrapKeyOf("1.3.6.1.4.1.2021.251.1", e, k)); // ucdStart: not reversible
    EXPECT_EQ(e, "1.3.6.1.4.1.2021.251");
    EXPECT_EQ(k, "1.3.6.1.4.1.2021.251.1");
    EXPECT_FALSE(TrapKeyOf("1", e, k));
    EXPECT_FALSE(TrapKeyOf("1.3.x.4", e, k));

    // The identifiers the listener's ".0." rule would key wrongly.
    auto notKeyed = [](const std::string& oid) {
        Notification n;
        n.oid = oid;
        TrapKeyOf(oid, n.enterprise, n.trapKey);
        return IdentifiersNotKeyedByRule(n);
    };
    EXPECT_TRUE(notKeyed(".1.3.6.1.4.1.9.9.13.3.0.3").empty());
    EXPECT_EQ(notKeyed("1.3.6.1.4.1.2021.251.1"), std::vector<std::string>{"1.3.6.1.4.1.2021.251.1"});
    // An enterprise holding ".0.": neither form keys by the first ".0.".
    EXPECT_EQ(notKeyed("1.3.6.1.4.1.100.0.7.2"),
              (std::vector<std::string>{"1.3.6.1.4.1.100.0.7.2", "1.3.6.1.4.1.100.0.7.0.2"}));

    EXPECT_EQ(SeverityFromName("linkDown"), Severity::Critical);
    EXPECT_EQ(SeverityFromName("ciscoEnvMonShutdownNotification"), Severity::Critical);
    EXPECT_EQ(SeverityFromName("upsBatteryLow"), Severity::Warning);
    EXPECT_EQ(SeverityFromName("fanFailureCleared"), Severity::Normal);
    EXPECT_EQ(SeverityFromName("upstreamChange"), Severity::Informational); // "up" is a word, not a prefix
}

TEST_F(MibImportTest, BothFormsOfOneModuleGiveTheSameKeysAndObjects) {
    // Given together they share a module name, which the parser reads once:
    // the second is read in a session of its own.
    const ScanResult r = scan(
        {cisco("CISCO-ENVMON-MIB.my"), cisco("CISCO-ENVMON-MIB-V1SMI.my"), sharedMibs() + "ietf/IF-MIB.txt"});
    ASSERT_EQ(r.files.size(), 3u);
    for (const FileOutcome& f : r.files)
        EXPECT_TRUE(f.imported) << f.path << ": " << f.error;
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> v1, v2;
    for (const Notification& n : r.notifications)
        if (n.enterprise == kEnvMon)
            (n.trapType ? v1 : v2)[n.name] = {n.trapKey, n.objects};
    EXPECT_EQ(v2.size(), 9u);
    EXPECT_EQ(v1.size(), 9u);
    // The SMIv2 form added an object to two temperature notifications.
    for (const auto& [name, keyObjects] : v1) {
        EXPECT_EQ(v2[name].first, keyObjects.first) << name;
        v2[name].second.resize(keyObjects.second.size());
        EXPECT_EQ(v2[name].second, keyObjects.second) << name;
    }
    EXPECT_TRUE(v1["ciscoEnvMonShutdownNotification"].second.empty());
    EXPECT_EQ(v1["ciscoEnvMonTemperatureNotification"].second,
              (std::vector<std::string>{"ciscoEnvMonTemperatureStatusDescr",
                                        "ciscoEnvMonTemperatureStatusValue", "ciscoEnvMonTemperatureState"}));

    const Notification* down = find(r, "linkDown");
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->trapKey, "1.3.6.1.6.3.1.1.5.3");
    EXPECT_EQ(down->severity, Severity::Critical);
    EXPECT_EQ(down->alertText, "linkDown: ifIndex=%1, ifAdminStatus=%2, ifOperStatus=%3");
    EXPECT_EQ(find(r, "linkUp")->severity, Severity::Normal);
}

// The listener's key and the classifier, on what each form wrote.
TEST_F(MibImportTest, TemperatureTrapClassifiesAlikeSentAsV2cOrV1) {
    std::vector<AlertRecord> alerts;
    for (const char* file : {"CISCO-ENVMON-MIB.my", "CISCO-ENVMON-MIB-V1SMI.my"}) {
        testsupport::TempDir program;
        testsupport::copyProgramData(program.path());
        const ScanResult r = scan({cisco(file)});
        const WriteResult w = WriteDefinitions(r.notifications, {program.path(), false});
        ASSERT_TRUE(w.ok) << w.error;

        TrapRegistration registration;
        for (const std::string& e :
             profile::sectionKeys(program.file("VDTrap.ini"), "EnterpriseList", 1 << 20)) {
            registration.registered.push_back(e);
            registration.suffixed.push_back(e + ".19");
        }
        // v2c: the listener's enterprise is snmpTrapOID less ".0.3"; v1: the trap's enterprise.
        auto record = std::make_unique<AlertRecord>();
        record->origin = kOriginTrap;
        record->enterprise = kEnvMon;
        ASSERT_EQ(BuildTrapKey(record->enterprise, kEnvMon + ".0.3", record->trapKey, registration), 0);
        record->bindings = {{"", "chassis", 4}, {"", "71", 2}, {"", "3", 2}, {"", "71000", 2}};
        const bool v1 = alerts.size() == 1; // the SMIv1 form has no ...ValueRev1
        record->bindings.resize(v1 ? 3 : 4);
        record->bindingCount = static_cast<int>(record->bindings.size());
        SilentAnnouncer quiet;
        AlertStore store(&quiet);
        store.programDir = program.path();
        ASSERT_EQ(store.ClassifyAlert(std::move(record)), 0);
        alerts.push_back(*store.alerts.front());

        const std::string page = testsupport::readFile(program.path() + "CISCO-ENVMON-MIB.html");
        const std::string anchor =
            "id=\"" + std::to_string(alerts.back().helpId) + "\">ciscoEnvMonTemperatureNotification";
        EXPECT_NE(page.find(anchor), std::string::npos) << page;
        EXPECT_NE(page.find("temperature measured at a given testpoint is outside"), std::string::npos);
    }
    ASSERT_EQ(alerts.size(), 2u);
    const std::string text = "ciscoEnvMonTemperatureNotification: ciscoEnvMonTemperatureStatusDescr=chassis, "
                             "ciscoEnvMonTemperatureStatusValue=71, ciscoEnvMonTemperatureState=3";
    EXPECT_EQ(alerts[0].alertText, text + ", ciscoEnvMonTemperatureStatusValueRev1=71000");
    EXPECT_EQ(alerts[1].alertText, text);
    EXPECT_EQ(alerts[1].trapKey, alerts[0].trapKey);
    EXPECT_EQ(alerts[1].helpId, alerts[0].helpId);
    EXPECT_EQ(alerts[1].severity, alerts[0].severity);
    EXPECT_EQ(alerts[1].description, "ciscoEnvMonTemperatureNotification");
    EXPECT_EQ(fs::path(alerts[1].helpFile).filename(), "CISCO-ENVMON-MIB.HLP");
}

// A stock Debian machine: no SMI base modules but the program's own.
TEST_F(MibImportTest, DebianMibLinksWithTheProgramsBaseModulesOnly) {
    const std::string ucd = "/usr/share/snmp/mibs/UCD-SNMP-MIB.txt";
    if (!fs::exists(ucd))
        GTEST_SKIP() << "no " << ucd << " (Debian package libsnmp-base)";
    options.mibDirs.clear();
    const ScanResult r = scan({ucd});
    ASSERT_TRUE(r.files[0].imported) << r.files[0].error;
    const Notification* start = find(r, "ucdStart");
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->enterprise, "1.3.6.1.4.1.2021.251");
    EXPECT_EQ(start->trapKey, "1.3.6.1.4.1.2021.251.1");
}

TEST_F(MibImportTest, BadFilesAreRefusedAndWriteNothing) {
    testsupport::TempDir in;
    const std::string text = testsupport::readFile(cisco("CISCO-ENVMON-MIB.my"));
    testsupport::writeFile(in.file("truncated.my"), text.substr(0, text.size() / 2));
    testsupport::writeFile(in.file("binary.my"), testsupport::readFile("/bin/true"));
    testsupport::writeFile(in.file("lacking.my"),
                           "LACKING-MIB DEFINITIONS ::= BEGIN\nIMPORTS acme FROM ACME-SMI;\n"
                           "lackingRoot OBJECT IDENTIFIER ::= { acme 1 }\nEND\n");
    testsupport::writeFile(in.file("huge.my"), "");
    ASSERT_EQ(::truncate(in.file("huge.my").c_str(), 50LL * 1024 * 1024), 0);
    const std::string before = testsupport::readFile(dir.file("VDTrap.ini"));

    const ScanResult r = scan({in.file("truncated.my"), in.file("binary.my"), in.file("lacking.my"),
                               in.file("huge.my"), sharedMibs() + "ietf/IF-MIB.txt"});
    EXPECT_NE(r.files[0].error.find("Bad parse of OBJECT-TYPE: At line 490"), std::string::npos)
        << r.files[0].error;
    EXPECT_NE(r.files[1].error.find("binary"), std::string::npos) << r.files[1].error;
    EXPECT_EQ(r.files[2].missingModules, std::vector<std::string>{"ACME-SMI"});
    EXPECT_NE(r.files[2].error.find("Cannot find module (ACME-SMI)"), std::string::npos);
    EXPECT_NE(r.files[3].error.find("50 MB"), std::string::npos) << r.files[3].error;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(r.files[i].imported);
    EXPECT_TRUE(r.files[4].imported);
    for (const Notification& n : r.notifications)
        EXPECT_EQ(n.module, "IF-MIB");

    std::vector<Notification> none;
    EXPECT_TRUE(WriteDefinitions(none, {dir.path(), false}).ok);
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), before);
}

TEST_F(MibImportTest, CancelledScanFindsNothing) {
    options.progress = [](int done, int, const std::string&) { return done < 1; };
    const ScanResult r = scan({cisco("CISCO-ENVMON-MIB.my"), sharedMibs() + "ietf/IF-MIB.txt"});
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(r.notifications.empty());
}

// Comments of SNMPTT, 40 objects, one key defined twice.
TEST_F(MibImportTest, SummaryCommentsManyObjectsAndATwiceDefinedKey) {
    std::string objects, types;
    for (int i = 1; i <= 40; ++i) {
        objects += (i > 1 ? ", " : "") + std::string("acmeValue") + std::to_string(i);
        types += "acmeValue" + std::to_string(i) +
                 " OBJECT-TYPE SYNTAX INTEGER ACCESS read-only STATUS mandatory "
                 "DESCRIPTION \"v\" ::= { acmeObjects " +
                 std::to_string(i) + " }\n";
    }
    testsupport::writeFile(
        dir.file("ACME-MIB.my"),
        "ACME-MIB DEFINITIONS ::= BEGIN\nIMPORTS enterprises FROM RFC1155-SMI\n"
        "OBJECT-TYPE FROM RFC-1212 TRAP-TYPE FROM RFC-1215;\n"
        "acme OBJECT IDENTIFIER ::= { enterprises 4242 }\n"
        "acmeObjects OBJECT IDENTIFIER ::= { acme 1 }\n" +
            types + "acmeWide TRAP-TYPE ENTERPRISE acme VARIABLES { " + objects +
            " } DESCRIPTION \"wide\" ::= 1\n"
            "acmeDiskFull TRAP-TYPE ENTERPRISE acme VARIABLES { acmeValue1, acmeValue2 }\n"
            "  DESCRIPTION \"Disk full\" ::= 2\n"
            "--#SUMMARY \"Disk %s is %d%% full\"\n--#ARGUMENTS {1,0}\n--#SEVERITY MAJOR\n"
            "acmeDiskAgain TRAP-TYPE ENTERPRISE acme DESCRIPTION \"same key\" ::= 2\nEND\n");
    const ScanResult r = scan({dir.file("ACME-MIB.my")});
    ASSERT_TRUE(r.files[0].imported) << r.files[0].error;
    ASSERT_EQ(r.notifications.size(), 3u);
    const Notification& wide = r.notifications[0];
    EXPECT_EQ(wide.objects.size(), 40u);
    EXPECT_NE(wide.alertText.find("acmeValue10=%10"), std::string::npos);
    EXPECT_EQ(wide.alertText.find("%11"), std::string::npos);
    EXPECT_NE(r.files[0].notes.at(0).find("40 objects"), std::string::npos);
    EXPECT_EQ(r.notifications[1].alertText, "Disk %2 is %1% full");
    EXPECT_EQ(r.notifications[1].severity, Severity::Critical);

    const WriteResult w = WriteDefinitions(r.notifications, {dir.path(), false});
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(w.definitions[2].action, WrittenDefinition::Action::Duplicate);
    EXPECT_EQ(profile::getString(dir.file("ACME-MIB.INI"), "1.3.6.1.4.1.4242.2", "TrapString", "", 512),
              "acmeDiskFull");
}

TEST_F(MibImportTest, ExistingSectionsAreKeptUnlessReplaced) {
    const ScanResult r = scan({sharedMibs() + "ietf/IF-MIB.txt"});
    ASSERT_TRUE(WriteDefinitions(r.notifications, {dir.path(), false}).ok);
    const std::string index = testsupport::readFile(dir.file("VDTrap.ini"));
    EXPECT_NE(index.find("[Header]\r\nTotalNum=3\r\n"), std::string::npos) << index;
    EXPECT_NE(index.find("1.3.6.1.4.1.8072.4=NETSNMP.INI\r\n1.3.6.1.6.3.1.1.5=IF-MIB.INI\r\n"),
              std::string::npos);

    const std::string section = "1.3.6.1.6.3.1.1.5.3";
    ASSERT_TRUE(profile::writeString(dir.file("IF-MIB.INI"), section, "AlarmString", "Port %1 went down"));
    const std::string edited = testsupport::readFile(dir.file("IF-MIB.INI"));
    const WriteResult again = WriteDefinitions(r.notifications, {dir.path(), false});
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.definitions[0].action, WrittenDefinition::Action::Kept);
    EXPECT_EQ(testsupport::readFile(dir.file("IF-MIB.INI")), edited);
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), index);

    const WriteResult replaced = WriteDefinitions(r.notifications, {dir.path(), true});
    ASSERT_TRUE(replaced.ok);
    EXPECT_EQ(replaced.definitions[0].action, WrittenDefinition::Action::Replaced);
    const std::string now = testsupport::readFile(dir.file("IF-MIB.INI"));
    EXPECT_NE(now.find("[" + section + "]\r\nTrapString=linkDown\r\nAlarmString=linkDown: ifIndex=%1"),
              std::string::npos)
        << now;

    const std::vector<Enterprise> listed = ListEnterprises(dir.path());
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[2].module, "IF-MIB");
    EXPECT_EQ(listed[2].definitions, 2);
    EXPECT_TRUE(RemoveEnterprise(dir.path(), "1.3.6.1.6.3.1.1.5"));
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")),
              index.substr(0, index.find("1.3.6.1.6.3.1.1.5="))
                  .replace(index.find("TotalNum=3"), 10, "TotalNum=2"));
}

} // namespace
