// The main window's handling of a new trap alert and of a state-change alert.

#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_arrival.h"
#include "vardel/alerts/alert_log.h"
#include "vardel/store/program_env.h"

#include <gtest/gtest.h>

namespace {

struct Event {
    std::string what;
    std::string arg;
    int n = 0;
    bool operator==(const Event&) const = default;
};

// Records the order of everything a new alert reaches.
struct Recorder : AlertAnnouncer, AlertDisplay, AlertCounter, LivenessHooks {
    void announce(const AlertRecord& r) override { events.push_back({"announce", r.soundFile, r.playSound}); }
    int ShowAlert(int n) override {
        events.push_back({"show", "", n});
        return 1;
    }
    int AppendToLog(const std::string& path, int n) override {
        events.push_back({"log", path, n});
        return 1;
    }
    void AdjustAlertCount(const std::string& name, int code) override {
        events.push_back({"count", name, code});
    }
    void ResetAlertCounts() override { events.push_back({"reset", "", 0}); }
    void ShowCeilingReached(std::int32_t ceiling) override { events.push_back({"ceiling", "", ceiling}); }
    void ShowAlertQuietly(int n) override { events.push_back({"quiet", "", n}); }
    void hostReachable(const std::string& a) override { events.push_back({"2500", a, 0}); }
    void agentAnswered(const std::string& a) override { events.push_back({"1500", a, 0}); }
    void showSnmpStatus(const std::string& name, const std::string& s) override {
        events.push_back({"cells " + s, name, 0});
    }
    std::vector<Event> events;
};

class ArrivalTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.programDir = dir.path();
        settings.playSound = 1;
        settings.soundFile = "/snd/newmail.wav";
        settings.logPath = dir.file("VDLog.txt");
        addServer("SRV1", "10.0.0.5", "");
        addServer("SRV2", "", "0000ABCD:00A0C9112233");
        testsupport::writeFile(dir.file("VDTrap.ini"),
                               "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=acme.ini\r\n");
        testsupport::writeFile(dir.file("acme.ini"),
                               "[1.3.6.1.4.1.9999.7]\r\nAlarmString=Fan failed\r\nSeverity=WARNING\r\n");
    }
    ManagedServer& addServer(const std::string& name, const std::string& ip, const std::string& ipx) {
        auto s = std::make_unique<ManagedServer>();
        s->name = name;
        s->ipAddress = ip;
        s->ipxAddress = ipx;
        servers.push_back(std::move(s));
        return *servers.back();
    }
    std::unique_ptr<AlertRecord> trap(const std::string& address) {
        auto r = std::make_unique<AlertRecord>();
        r->origin = kOriginTrap;
        r->enterprise = "1.3.6.1.4.1.9999";
        r->trapKey = "1.3.6.1.4.1.9999.7";
        r->agentAddress = address;
        return r;
    }

    testsupport::TempDir dir;
    Recorder rec;
    AlertStore store{&rec};
    ServerList servers;
    ConsoleSettings settings;
    AlertArrival arrival{{store, servers, settings, rec, rec, rec}};
};

TEST_F(ArrivalTest, UnmanagedAddressIsDropped) {
    EXPECT_EQ(arrival.OnTrapAlert(trap("10.0.0.99")), 0);
    EXPECT_EQ(store.count, 0);
    EXPECT_TRUE(store.alerts.empty());
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(ArrivalTest, TrapAlertIsClassifiedShownLoggedAndCounted) {
    EXPECT_EQ(arrival.OnTrapAlert(trap("10.0.0.5")), 1);
    ASSERT_EQ(store.count, 1);
    const AlertRecord& r = *store.alerts.front();
    EXPECT_EQ(r.serverName, "SRV1");
    EXPECT_EQ(r.playSound, 1);
    EXPECT_EQ(r.soundFile, "/snd/newmail.wav");
    EXPECT_EQ(r.alertText, "Fan failed");
    EXPECT_EQ(r.severity, kSeverityWarning);
    const std::vector<Event> expected = {{"announce", "/snd/newmail.wav", 1},
                                         {"show", "", 1},
                                         {"log", settings.logPath, 1},
                                         {"count", "SRV1", kAlertCountAdd}};
    EXPECT_EQ(rec.events, expected);
}

TEST_F(ArrivalTest, IpxAddressMatchesWithoutRegardToCase) {
    EXPECT_EQ(arrival.OnTrapAlert(trap("0000abcd:00a0c9112233")), 1);
    EXPECT_EQ(store.alerts.front()->serverName, "SRV2");
}

TEST_F(ArrivalTest, TrapFromHostMarkedDownMarksItReachableAndAgentUp) {
    servers.front()->networkStatus = "DOWN";
    servers.front()->snmpStatus = "DOWN";
    arrival.OnTrapAlert(trap("10.0.0.5"));
    ASSERT_GE(rec.events.size(), 2u);
    const std::vector<Event> tail(rec.events.end() - 2, rec.events.end());
    EXPECT_EQ(tail, (std::vector<Event>{{"2500", "10.0.0.5", 0}, {"cells UP", "SRV1", 0}}));
    EXPECT_EQ(servers.front()->snmpStatus, "UP");
}

TEST_F(ArrivalTest, TrapFromSilentAgentCountsAsAnAnswer) {
    servers.front()->networkStatus = "UP";
    servers.front()->snmpStatus = "DOWN";
    arrival.OnTrapAlert(trap("10.0.0.5"));
    EXPECT_EQ(rec.events.back(), (Event{"1500", "10.0.0.5", 0}));
    EXPECT_EQ(servers.front()->snmpStatus, "DOWN"); // the poll answer handler sets it
}

TEST_F(ArrivalTest, LiveServerNeedsNoLivenessStep) {
    servers.front()->networkStatus = "UP";
    servers.front()->snmpStatus = "INIT";
    arrival.OnTrapAlert(trap("10.0.0.5"));
    EXPECT_EQ(rec.events.back().what, "count");
}

TEST_F(ArrivalTest, StateAlertIsCountedBeforeItIsShown) {
    EXPECT_EQ(arrival.RaiseStateAlert("SRV1", "DOWN", kStateSourceAgent), 1);
    const std::vector<Event> expected = {{"announce", "", 0},
                                         {"count", "SRV1", kAlertCountAdd},
                                         {"show", "", 1},
                                         {"log", settings.logPath, 1}};
    EXPECT_EQ(rec.events, expected);
    EXPECT_EQ(store.alerts.front()->launchAllowed, 0);
}

TEST_F(ArrivalTest, AboveTheCeilingTheOldestLeaveMemoryAndTheirCountsSayingSoOnce) {
    settings.alertCeiling = 3;
    const auto arrive = [&](int i) {
        auto r = trap(i % 2 ? "10.0.0.5" : "0000abcd:00a0c9112233");
        r->dateTime = "t" + std::to_string(i);
        return arrival.OnTrapAlert(std::move(r));
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(arrive(i), std::min(i + 1, 3));
    ASSERT_EQ(store.count, 3);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(store.findBySequence(n)->dateTime, "t" + std::to_string(n + 1));
    EXPECT_EQ(store.findBySequence(4), nullptr);
    const auto eventsOf = [&](const std::string& what) {
        std::vector<Event> found;
        for (const Event& e : rec.events)
            if (e.what == what && (what != "count" || e.n == kAlertCountRemove))
                found.push_back(e);
        return found;
    };
    // t0 (SRV2) and t1 (SRV1) left, each taken off its server.
    EXPECT_EQ(eventsOf("count"), (std::vector<Event>{{"count", "SRV2", kAlertCountRemove},
                                                     {"count", "SRV1", kAlertCountRemove}}));
    EXPECT_EQ(eventsOf("ceiling"), (std::vector<Event>{{"ceiling", "", 3}}));
    const std::string log = testsupport::readFile(settings.logPath);
    EXPECT_NE(
        log.find("\r\nAlert Limit:3 outstanding alerts reached; older alerts are kept in this log only\r\n"),
        std::string::npos);
    EXPECT_EQ(log.find("Alert Limit:"), log.rfind("Alert Limit:"));

    // Clearing renumbers from the oldest kept; once empty, the next overflow is said again.
    store.RemoveAlert(2);
    EXPECT_EQ(store.findBySequence(1)->dateTime, "t2");
    EXPECT_EQ(store.findBySequence(2)->dateTime, "t4");
    store.ClearAll();
    for (int i = 0; i < 4; ++i)
        arrive(i);
    EXPECT_EQ(eventsOf("ceiling").size(), 2u);
    EXPECT_EQ(store.findBySequence(3)->dateTime, "t3");
}

TEST(ServerListAlertCounter, CountsNeverGoBelowZero) {
    ServerList servers;
    for (const char* name : {"A", "B"}) {
        servers.push_back(std::make_unique<ManagedServer>());
        servers.back()->name = name;
    }
    ServerListAlertCounter counter(servers);
    counter.AdjustAlertCount("A", kAlertCountAdd);
    counter.AdjustAlertCount("A", kAlertCountAdd);
    counter.AdjustAlertCount("B", kAlertCountRemove);
    counter.AdjustAlertCount("nobody", kAlertCountAdd);
    EXPECT_EQ(servers.front()->outstandingAlerts, 2);
    EXPECT_EQ(servers.back()->outstandingAlerts, 0);
    counter.AdjustAlertCount("A", kAlertCountRemove);
    EXPECT_EQ(servers.front()->outstandingAlerts, 1);
    counter.ResetAlertCounts();
    EXPECT_EQ(servers.front()->outstandingAlerts, 0);
}

} // namespace

namespace {

// Shows nothing; appends the real log blocks.
struct LoggingDisplay : AlertDisplay {
    explicit LoggingDisplay(const AlertStore& s) : store(s) {}
    int ShowAlert(int) override { return 1; }
    int AppendToLog(const std::string& path, int n) override {
        const AlertRecord* alert = store.findBySequence(n);
        return AppendAlertLog(path, store, n, alert ? alert->severity : 0);
    }
    const AlertStore& store;
};

} // namespace

TEST_F(ArrivalTest, BurstInSlicesLogsTheBytesOfOneAppendPerAlert) {
    const char* senders[] = {"10.0.0.5", "0000abcd:00a0c9112233", "10.0.0.99"};
    auto burst = [&] {
        std::deque<std::unique_ptr<AlertRecord>> records;
        for (int i = 0; i < 50; ++i) {
            records.push_back(trap(senders[i % 3]));
            records.back()->dateTime = "March 05, 2001, 14:07:" + std::to_string(i);
        }
        return records;
    };
    auto logOf = [&](bool sliced) {
        testsupport::TempDir where;
        AlertStore s{&rec};
        s.programDir = dir.path();
        ConsoleSettings c = settings;
        c.logPath = where.file("VDLog.txt");
        testsupport::writeFile(c.logPath, "earlier\r\n");
        LoggingDisplay display(s);
        AlertArrival a{{s, servers, c, rec, display, rec}};
        auto records = burst();
        if (sliced) {
            const auto later = std::chrono::steady_clock::now() + std::chrono::hours(1);
            while (!records.empty())
                EXPECT_LE(a.OnTrapAlerts(records, later, 7), 7u);
        } else {
            for (auto& r : records)
                a.OnTrapAlert(std::move(r));
        }
        EXPECT_EQ(s.count, 34);
        return testsupport::readFile(c.logPath);
    };
    const std::string one = logOf(false);
    EXPECT_EQ(logOf(true), one);
    EXPECT_NE(one.find("Date:March 05, 2001, 14:07:49\r\nServer Name:SRV2\r\n"), std::string::npos);
}

TEST_F(ArrivalTest, LostTrapsAreLoggedAndSaidOnStandardError) {
    testing::internal::CaptureStderr();
    arrival.OnTrapsLost(1234);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("1234 traps lost"), std::string::npos) << said;
    const std::string log = testsupport::readFile(settings.logPath);
    EXPECT_EQ(log.rfind("\r\nDate:", 0), 0u) << log;
    EXPECT_EQ(log.substr(log.find("\r\n", 2)), "\r\nTraps Lost:1234\r\n");
}

// An acknowledged alert stays stored but leaves the outstanding counts, once;
// the log gains a block of its own after the alert's, which is unchanged.
TEST_F(ArrivalTest, AcknowledgedAlertStaysStoredAndLeavesTheCountsOnce) {
    settings.alertCeiling = 3;
    for (const char* address : {"10.0.0.5", "0000abcd:00a0c9112233", "10.0.0.5"})
        arrival.OnTrapAlert(trap(address));
    const std::string before = testsupport::readFile(settings.logPath);
    ASSERT_EQ(store.count, 3);
    AlertRecord* middle = store.findBySequence(2); // SRV2's warning
    ASSERT_NE(middle, nullptr);
    const std::uint64_t id = middle->alertId;
    EXPECT_NE(id, store.findBySequence(1)->alertId);
    EXPECT_EQ(store.findById(id), middle);

    rec.events.clear();
    EXPECT_EQ(AcknowledgeAlert(store, rec, settings.logPath, id, "alice"), 0);
    EXPECT_EQ(AcknowledgeAlert(store, rec, settings.logPath, id, "bob"), 1);
    EXPECT_EQ(AcknowledgeAlert(store, rec, settings.logPath, 999, "bob"), -1);
    EXPECT_EQ(rec.events, (std::vector<Event>{{"count", "SRV2", kAlertCountRemove}}));
    EXPECT_TRUE(middle->acknowledged);
    EXPECT_EQ(middle->acknowledgedBy, "alice");
    EXPECT_EQ(store.count, 3);
    EXPECT_EQ(store.outstandingCount(), 2);
    EXPECT_EQ(store.severityTally(kSeverityWarning), 3);
    EXPECT_EQ(store.outstandingTally(kSeverityWarning), 2);

    const std::string log = testsupport::readFile(settings.logPath);
    ASSERT_EQ(log.rfind(before, 0), 0u);
    EXPECT_EQ(log.substr(before.size()), "\r\nDate:" + middle->acknowledgedAt +
                                             "\r\nAcknowledged By:alice\r\nAlert Date:" + middle->dateTime +
                                             "\r\nServer Name:SRV2\r\nAlarm String:Fan failed\r\n");

    // Dropped for the ceiling, it is not taken off its server a second time.
    rec.events.clear();
    arrival.OnTrapAlert(trap("10.0.0.5")); // drops the oldest (SRV1)
    arrival.OnTrapAlert(trap("10.0.0.5")); // drops the acknowledged one
    std::vector<Event> removals;
    for (const Event& e : rec.events)
        if (e.what == "count" && e.n == kAlertCountRemove)
            removals.push_back(e);
    EXPECT_EQ(removals, (std::vector<Event>{{"count", "SRV1", kAlertCountRemove}}));
    EXPECT_EQ(store.findById(id), nullptr);
    EXPECT_EQ(store.outstandingCount(), 3);
    EXPECT_EQ(store.outstandingTally(kSeverityWarning), 3);

    // By sequence too; ClearAll forgets every acknowledgement.
    EXPECT_EQ(store.Acknowledge(1, "carol", 983800053), 0);
    EXPECT_EQ(store.findBySequence(1)->acknowledgedAt, FormatLocalTime(983800053));
    EXPECT_EQ(store.RemoveAlert(1)->acknowledgedBy, "carol");
    EXPECT_EQ(store.outstandingCount(), 2);
    store.Acknowledge(1, "carol");
    store.ClearAll();
    EXPECT_EQ(store.acknowledgedCount(), 0);
    EXPECT_EQ(store.outstandingTally(kSeverityWarning), 0);
}

// An alert kept quiet (snooze, quiet hours) is neither announced nor shown,
// but stored, counted and logged with its own severity.
TEST_F(ArrivalTest, QuietAlertIsStoredCountedAndLoggedOnly) {
    store.noticeOf = [](const AlertRecord& alert) {
        return alert.serverName == "SRV2" ? kNoticeNone : kNoticeAll;
    };
    EXPECT_EQ(arrival.OnTrapAlert(trap("0000abcd:00a0c9112233")), 1);
    EXPECT_EQ(rec.events, (std::vector<Event>{{"quiet", "", 1}, {"count", "SRV2", kAlertCountAdd}}));
    EXPECT_EQ(store.alerts.front()->notice, kNoticeNone);
    EXPECT_NE(testsupport::readFile(settings.logPath)
                  .find("Server Name:SRV2\r\nDescription:1.3.6.1.4.1.9999.7\r\n"
                        "Alarm String:Fan failed\r\nSeverity:Warning\r\n"),
              std::string::npos);
    rec.events.clear();
    arrival.OnTrapAlert(trap("10.0.0.5"));
    EXPECT_EQ(rec.events.at(0).what, "announce");
    EXPECT_EQ(rec.events.at(1), (Event{"show", "", 2}));
}
