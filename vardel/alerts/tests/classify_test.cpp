// Classification of trap alerts, %N expansion, severities, numbering,
// state-change alerts and the announcement.

#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_sound.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/alerts/alert_text.h"
#include "vardel/store/program_env.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const std::string kEnterprise = "1.3.6.1.4.1.9999";

// Records the record's state at each announcement.
struct RecordingAnnouncer : AlertAnnouncer {
    explicit RecordingAnnouncer(const AlertStore* s = nullptr) : store(s) {}
    void announce(const AlertRecord& r) override {
        sequences.push_back(r.sequence);
        if (store)
            storedBeforeAnnounce.push_back(store->findBySequence(r.sequence) != nullptr);
    }
    const AlertStore* store;
    std::vector<int> sequences;
    std::vector<bool> storedBeforeAnnounce;
};

class ClassifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.programDir = dir.path();
        store.setAnnouncer(&announcer);
        testsupport::writeFile(dir.file("VDTrap.ini"), "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n" +
                                                           kEnterprise + "=acme.ini\r\n");
    }
    void definitions(const std::string& text) { testsupport::writeFile(dir.file("acme.ini"), text); }

    std::unique_ptr<AlertRecord> trap(const std::string& key, std::vector<std::string> values = {}) {
        auto r = std::make_unique<AlertRecord>();
        r->origin = kOriginTrap;
        r->enterprise = kEnterprise;
        r->trapKey = key;
        r->bindingCount = static_cast<int>(std::min<std::size_t>(values.size(), kMaxBindings));
        r->bindings.resize(static_cast<std::size_t>(r->bindingCount));
        for (int i = 0; i < r->bindingCount; ++i)
            r->bindings[i].value = values[i];
        return r;
    }
    // Classifies and returns the stored record.
    const AlertRecord& classify(std::unique_ptr<AlertRecord> r) {
        EXPECT_EQ(store.ClassifyAlert(std::move(r)), 0);
        return *store.alerts.front();
    }

    testsupport::TempDir dir;
    RecordingAnnouncer announcer;
    AlertStore store;
};

TEST_F(ClassifyTest, DefinedSectionFillsEveryField) {
    definitions("[1.3.6.1.4.1.9999.7]\r\nTrapString=Fan failure\r\nAlarmString=Fan %2 failed on %1\r\n"
                "Helpfile=help/acme.hlp\r\nHelpID=42\r\nSeverity=CRITICAL\r\n");
    const AlertRecord& r = classify(trap(kEnterprise + ".7", {"cpu", "fan3"}));
    EXPECT_EQ(r.description, "Fan failure");
    EXPECT_EQ(r.alertText, "Fan fan3 failed on cpu");
    EXPECT_EQ(r.helpFile, dir.path() + "help/acme.hlp");
    EXPECT_EQ(r.helpId, 42);
    EXPECT_EQ(r.severity, kSeverityCritical);
}

TEST_F(ClassifyTest, MissingSectionTakesDefaults) {
    definitions("[1.3.6.1.4.1.9999.8]\r\nTrapString=Other\r\n");
    const AlertRecord& r = classify(trap(kEnterprise + ".7"));
    EXPECT_EQ(r.alertText, "UNKNOWN Alert");
    EXPECT_EQ(r.description, kEnterprise + ".7");
    EXPECT_EQ(r.helpFile, dir.path());
    EXPECT_EQ(r.helpId, 0);
    EXPECT_EQ(r.severity, kSeverityInformational);
}

TEST_F(ClassifyTest, EmptyKeysTakeDefaultsToo) {
    definitions("[1.3.6.1.4.1.9999.7]\r\nTrapString=\r\nAlarmString=\r\nSeverity=\r\n");
    const AlertRecord& r = classify(trap(kEnterprise + ".7"));
    EXPECT_EQ(r.alertText, "UNKNOWN Alert");
    EXPECT_EQ(r.description, kEnterprise + ".7");
    EXPECT_EQ(r.severity, kSeverityInformational);
}

TEST_F(ClassifyTest, EnterpriseMissingFromIndexTakesDefaults) {
    definitions("[9.9.7]\r\nAlarmString=never\r\n");
    auto r = trap("9.9.7");
    r->enterprise = "9.9";
    const AlertRecord& stored = classify(std::move(r));
    EXPECT_EQ(stored.alertText, "UNKNOWN Alert");
    EXPECT_EQ(stored.description, "9.9.7");
}

TEST_F(ClassifyTest, IndexIsReadPerAlert) {
    definitions("[1.3.6.1.4.1.9999.7]\r\nAlarmString=old file\r\n");
    testsupport::writeFile(dir.file("new.ini"), "[1.3.6.1.4.1.9999.7]\r\nAlarmString=new file\r\n");
    EXPECT_EQ(classify(trap(kEnterprise + ".7")).alertText, "old file");
    testsupport::writeFile(dir.file("VDTrap.ini"),
                           "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n" + kEnterprise + "=new.ini\r\n");
    EXPECT_EQ(classify(trap(kEnterprise + ".7")).alertText, "new file");
}

// Files the console must neither wait on nor follow out of its directory:
// each reads as a missing file, and a refused name is said once.
TEST_F(ClassifyTest, FifosAndPathsOutOfTheProgramDirectoryReadAsMissing) {
    const std::string section = "[1.3.6.1.4.1.9999.7]\r\nAlarmString=read\r\n";
    testsupport::TempDir outside;
    testsupport::writeFile(outside.file("out.ini"), section);
    const std::string up = std::filesystem::relative(outside.file("out.ini"), dir.path()).string();
    std::filesystem::create_directory(dir.file("sub"));
    testsupport::writeFile(dir.file("sub/in.ini"), section);
    for (const char* fifo : {"fifo.ini", "fifo.html", "agents.ini"})
        ASSERT_EQ(mkfifo(dir.file(fifo).c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"sub/in.ini", "read"},
        {"fifo.ini", "UNKNOWN Alert"},
        {up, "UNKNOWN Alert"},
        {outside.file("out.ini"), "UNKNOWN Alert"},
        {"sub/../" + up, "UNKNOWN Alert"},
    };
    testing::internal::CaptureStderr();
    for (int round = 0; round < 2; ++round)
        for (const auto& [file, text] : cases) {
            testsupport::writeFile(dir.file("VDTrap.ini"), "[Header]\nTotalNum=1\n[EnterpriseList]\n" +
                                                               kEnterprise + "=" + file + "\n");
            EXPECT_EQ(classify(trap(kEnterprise + ".7")).alertText, text) << file;
        }
    const std::string said = testing::internal::GetCapturedStderr();
    std::size_t lines = 0;
    for (std::size_t at = said.find("outside the program directory"); at != std::string::npos;
         at = said.find("outside the program directory", at + 1))
        ++lines;
    EXPECT_EQ(lines, 3u) << said;

    // The index itself, agents.ini and a help page as FIFOs.
    std::filesystem::remove(dir.file("VDTrap.ini"));
    ASSERT_EQ(mkfifo(dir.file("VDTrap.ini").c_str(), 0600), 0);
    EXPECT_EQ(classify(trap(kEnterprise + ".7")).alertText, "UNKNOWN Alert");
    EXPECT_EQ(profile::getInt(dir.file("agents.ini"), "AgentsInfo", "Number", 0), 0);
    msgbox::ScopedScript boxes;
    EXPECT_EQ(help::openHelpContext(nullptr, dir.file("fifo.hlp"), 1), -1);
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, "Cannot find the help file " + dir.file("fifo.html") + ".");
}

TEST_F(ClassifyTest, SeverityKeywordsAreExact) {
    const std::pair<std::string, int> cases[] = {
        {"CRITICAL", 146}, {"WARNING", 148}, {"INFORMATIONAL", 149}, {"NORMAL", 150},
        {"critical", 0},   {"Warning", 0},   {"SEVERE", 0},
    };
    for (const auto& [keyword, code] : cases) {
        definitions("[1.3.6.1.4.1.9999.7]\r\nSeverity=" + keyword + "\r\n");
        EXPECT_EQ(classify(trap(kEnterprise + ".7")).severity, code) << keyword;
    }
}

TEST_F(ClassifyTest, PercentReferencesExpand) {
    const std::vector<std::string> two = {"cpu", "fan3"};
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {"Fan %2 failed on %1", two, "Fan fan3 failed on cpu"},
        {"beyond %3!", two, "beyond !"},
        {"100%", two, "100%"},
        {"100% sure", two, "100% sure"},
        {"zero %0.", two, "zero ."},
        {"%11 and %10x", two, " and x"},
        {"%%1", two, "%cpu"},
        {"%1%2", two, "cpufan3"},
        {"huge %99999999999999999999 ref", two, "huge  ref"},
        {"keeps %1", {}, "keeps %1"},
    };
    for (const auto& [alarm, values, expected] : cases) {
        definitions("[1.3.6.1.4.1.9999.7]\r\nAlarmString=" + alarm + "\r\n");
        EXPECT_EQ(classify(trap(kEnterprise + ".7", values)).alertText, expected) << alarm;
    }
}

TEST_F(ClassifyTest, TenthBindingIsTheLastOneReachable) {
    std::vector<std::string> fourteen;
    for (int i = 1; i <= 14; ++i)
        fourteen.push_back("v" + std::to_string(i));
    definitions("[1.3.6.1.4.1.9999.7]\r\nAlarmString=%1 %10 %11 %14\r\n");
    auto r = trap(kEnterprise + ".7", fourteen);
    EXPECT_EQ(classify(std::move(r)).alertText, "v1 v10  ");
}

TEST_F(ClassifyTest, ExpansionIsCutToTheField) {
    definitions("[1.3.6.1.4.1.9999.7]\r\nAlarmString=%1%1%1\r\n");
    const AlertRecord& r = classify(trap(kEnterprise + ".7", {std::string(300, 'x')}));
    EXPECT_EQ(r.alertText.size(), alert_width::kAlertText - 1);
}

TEST_F(ClassifyTest, AlertsAreNumberedFromTheOldestAndAnnouncedBeforeStoring) {
    definitions("");
    announcer.store = &store;
    classify(trap(kEnterprise + ".1"));
    classify(trap(kEnterprise + ".2"));
    EXPECT_EQ(store.count, 2);
    ASSERT_EQ(store.alerts.size(), 2u);
    EXPECT_EQ(store.alerts.front()->trapKey, kEnterprise + ".2");
    EXPECT_EQ(store.alerts.front()->sequence, 2);
    EXPECT_EQ(store.alerts.back()->sequence, 1);
    EXPECT_EQ(announcer.sequences, (std::vector<int>{1, 2}));
    EXPECT_EQ(announcer.storedBeforeAnnounce, (std::vector<bool>{false, false}));
}

TEST_F(ClassifyTest, RemovingRenumbersFromTheOldest) {
    definitions("");
    for (int i = 1; i <= 3; ++i)
        classify(trap(kEnterprise + "." + std::to_string(i)));
    auto removed = store.RemoveAlert(2);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->trapKey, kEnterprise + ".2");
    EXPECT_EQ(store.count, 2);
    EXPECT_EQ(store.findBySequence(1)->trapKey, kEnterprise + ".1");
    EXPECT_EQ(store.findBySequence(2)->trapKey, kEnterprise + ".3");
    EXPECT_EQ(store.findBySequence(3), nullptr);

    removed = store.RemoveAlert(1);
    EXPECT_EQ(store.findBySequence(1)->trapKey, kEnterprise + ".3");
    EXPECT_EQ(store.RemoveAlert(7), nullptr);
    EXPECT_EQ(store.count, 1);
    store.ClearAll();
    EXPECT_EQ(store.count, 0);
    EXPECT_TRUE(store.alerts.empty());
}

class StateAlertTest : public ClassifyTest {
protected:
    void SetUp() override {
        ClassifyTest::SetUp();
        testsupport::writeFile(
            dir.file("VDTRAP2.INI"),
            "[1.3.6.1.6.3.1.1.5.1]\r\nTrapString=Agent up\r\nAlarmString=The agent answers\r\n"
            "Helpfile=agent.hlp\r\nHelpID=7\r\nSeverity=NORMAL\r\n"
            "[1.3.6.1.2.1.1.2.0]\r\nTrapString=Agent down\r\nAlarmString=No answer\r\n"
            "Severity=CRITICAL\r\n");
        testsupport::writeFile(dir.file("VDTRAPSW1.INI"),
                               "[1.1001]\r\nTrapString=Host up\r\nSeverity=NORMAL\r\n"
                               "[1.1002]\r\nTrapString=Host down\r\nAlarmString=Unreachable\r\n");
    }
};

TEST_F(StateAlertTest, AgentSectionsSwapTheTextKeys) {
    EXPECT_EQ(store.RaiseStateAlert("SRV1", "UP", kStateSourceAgent, 983800053), 1);
    const AlertRecord& up = *store.alerts.front();
    EXPECT_EQ(up.origin, kOriginStateChange);
    EXPECT_EQ(up.serverName, "SRV1");
    EXPECT_EQ(up.trapKey, "1.3.6.1.6.3.1.1.5.1");
    EXPECT_EQ(up.alertText, "Agent up");
    EXPECT_EQ(up.description, "The agent answers");
    EXPECT_EQ(up.helpFile, dir.path() + "agent.hlp");
    EXPECT_EQ(up.helpId, 7);
    EXPECT_EQ(up.severity, kSeverityNormal);
    EXPECT_EQ(up.launchAllowed, 1);
    EXPECT_EQ(up.playSound, 0);
    EXPECT_EQ(up.dateTime, FormatLocalTime(983800053));

    EXPECT_EQ(store.RaiseStateAlert("SRV1", "DOWN", 12345), 2);
    const AlertRecord& down = *store.alerts.front();
    EXPECT_EQ(down.trapKey, "1.3.6.1.2.1.1.2.0");
    EXPECT_EQ(down.alertText, "Agent down");
    EXPECT_EQ(down.severity, kSeverityCritical);
    EXPECT_EQ(down.launchAllowed, 0);
    EXPECT_EQ(announcer.sequences, (std::vector<int>{1, 2}));
}

TEST_F(StateAlertTest, NetworkSectionsHaveNoDefaults) {
    store.RaiseStateAlert("SRV2", "UP", kStateSourceNetwork);
    const AlertRecord& up = *store.alerts.front();
    EXPECT_EQ(up.trapKey, "1.1001");
    EXPECT_EQ(up.alertText, "Host up");
    EXPECT_EQ(up.description, "");
    EXPECT_EQ(up.helpId, 0);

    // Any state but "UP" is a DOWN; a missing Severity stays unclassified.
    store.RaiseStateAlert("SRV2", "up", kStateSourceNetwork);
    const AlertRecord& down = *store.alerts.front();
    EXPECT_EQ(down.trapKey, "1.1002");
    EXPECT_EQ(down.description, "Unreachable");
    EXPECT_EQ(down.severity, kSeverityUnclassified);
    EXPECT_EQ(down.launchAllowed, 0);
}

TEST(SoundAnnouncer, PlaysTheFileOnlyWhenSwitchedOn) {
    std::vector<std::string> played;
    int beeps = 0;
    SoundAnnouncer announcer(
        [&](const std::string& p) {
            played.push_back(p);
            return false;
        },
        [&] { ++beeps; });
    AlertRecord r;
    r.playSound = 1;
    r.soundFile = "/snd/newmail.wav";
    announcer.announce(r);
    r.playSound = 0;
    announcer.announce(r);
    r.playSound = 2;
    announcer.announce(r);
    EXPECT_EQ(played, std::vector<std::string>{"/snd/newmail.wav"});
    EXPECT_EQ(beeps, 2);
}

} // namespace
