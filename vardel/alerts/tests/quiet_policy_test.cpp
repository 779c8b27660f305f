// Snoozes, quiet hours and flapping: which ways a new alert is made noticeable.

#include "vardel/alerts/quiet_policy.h"
#include "vardel/store/program_env.h"

#include <gtest/gtest.h>

namespace {

// Local time today at hh:mm.
std::time_t at(int hour, int minute, int dayOffset = 0) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_mday += dayOffset;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

AlertRecord alert(const std::string& server, std::int16_t severity, std::int16_t origin = kOriginTrap) {
    AlertRecord r;
    r.serverName = server;
    r.severity = severity;
    r.origin = origin;
    return r;
}

TEST(QuietPolicyTest, SnoozeHoldsEveryWayBackUntilItEnds) {
    QuietPolicy policy;
    const std::time_t now = at(14, 0);
    EXPECT_EQ(policy.noticeOf(alert("a", kSeverityCritical), now), kNoticeAll);
    policy.snooze("a", QuietPolicy::SnoozeEnd(SnoozePeriod::quarterHour, now));
    EXPECT_EQ(policy.noticeOf(alert("a", kSeverityCritical), now), kNoticeNone);
    EXPECT_EQ(policy.noticeOf(alert("b", kSeverityCritical), now), kNoticeAll);
    EXPECT_EQ(policy.snoozedUntil("a", now + 15 * 60 - 1), now + 15 * 60);
    EXPECT_EQ(policy.snoozedUntil("a", now + 15 * 60), 0);
    EXPECT_EQ(policy.noticeOf(alert("a", kSeverityWarning), now + 15 * 60), kNoticeAll);
    EXPECT_EQ(policy.nextEnd(now), now + 15 * 60);
    EXPECT_EQ(policy.attentionText("a", now), "Snoozed until " + FormatLocalTime(now + 15 * 60));
    EXPECT_EQ(policy.attentionText("b", now), "");

    EXPECT_EQ(QuietPolicy::SnoozeEnd(SnoozePeriod::hour, now), now + 3600);
    EXPECT_EQ(QuietPolicy::SnoozeEnd(SnoozePeriod::untilTomorrow, now), at(8, 0, 1));
    EXPECT_EQ(QuietPolicy::SnoozeEnd(SnoozePeriod::untilTomorrow, at(0, 30)), at(8, 0, 1));
    policy.endSnooze("a");
    EXPECT_EQ(policy.noticeOf(alert("a", kSeverityCritical), now), kNoticeAll);
    EXPECT_EQ(policy.nextEnd(now), 0);
}

// Quiet hours: no sound at all; only a critical alert pops up and notifies.
// The period may wrap past midnight; equal ends make it empty.
TEST(QuietPolicyTest, QuietHoursLetOnlyCriticalAlertsThroughWithoutSound) {
    QuietPolicy policy;
    ConsoleSettings settings;
    settings.quietHours = 1; // 22:00 to 07:00
    policy.applySettings(settings);
    for (auto [hour, minute, quiet] : {std::tuple{21, 59, false},
                                       {22, 0, true},
                                       {3, 0, true},
                                       {6, 59, true},
                                       {7, 0, false},
                                       {12, 0, false}}) {
        const std::time_t when = at(hour, minute);
        EXPECT_EQ(policy.inQuietHours(when), quiet) << hour << ":" << minute;
        EXPECT_EQ(policy.noticeOf(alert("a", kSeverityCritical), when),
                  quiet ? kNoticePopUp | kNoticeDesktop : kNoticeAll);
        EXPECT_EQ(policy.noticeOf(alert("a", kSeverityWarning), when), quiet ? kNoticeNone : kNoticeAll);
    }
    settings.quietHoursStart = "09:00";
    settings.quietHoursEnd = "17:30";
    policy.applySettings(settings);
    EXPECT_TRUE(policy.inQuietHours(at(17, 29)));
    EXPECT_FALSE(policy.inQuietHours(at(17, 30)));
    EXPECT_FALSE(policy.inQuietHours(at(8, 59)));
    settings.quietHoursEnd = "09:00";
    policy.applySettings(settings);
    EXPECT_FALSE(policy.inQuietHours(at(9, 0)));
    settings.quietHoursEnd = "9:00"; // not HH:MM: off
    policy.applySettings(settings);
    EXPECT_FALSE(policy.quietHours().on);
    settings.quietHours = 0;
    settings.quietHoursEnd = "17:00";
    policy.applySettings(settings);
    EXPECT_FALSE(policy.inQuietHours(at(12, 0)));
    EXPECT_EQ(ClockMinutes("23:59"), 23 * 60 + 59);
    for (const char* bad : {"24:00", "12:60", "1200", "ab:cd", ""})
        EXPECT_EQ(ClockMinutes(bad), -1) << bad;
}

// More than 4 changes in 15 minutes: the fifth says flapping once; its
// state-change alerts are quiet (the flapping alert and traps are not) until
// 15 minutes pass without a change.
TEST(QuietPolicyTest, FlappingIsSaidOnceAndLastsUntilStable) {
    QuietPolicy policy;
    const std::time_t t0 = at(10, 0);
    EXPECT_FALSE(policy.recordChange("a", t0)) << "off by default";
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(policy.recordChange("a", t0 + i));
    EXPECT_FALSE(policy.flapping("a", t0 + 10));

    policy.setFlapping({true, 4, 15});
    // Four changes spread over more than 15 minutes never flap.
    for (int i = 0; i < 8; ++i)
        EXPECT_FALSE(policy.recordChange("b", t0 + i * 5 * 60)) << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(policy.recordChange("a", t0 + i * 60)) << i;
    EXPECT_TRUE(policy.recordChange("a", t0 + 4 * 60));
    const std::time_t t1 = t0 + 4 * 60;
    EXPECT_TRUE(policy.flapping("a", t1));
    EXPECT_FALSE(policy.recordChange("a", t1 + 60)) << "said once";
    const std::time_t last = t1 + 10 * 60;
    EXPECT_FALSE(policy.recordChange("a", last));
    EXPECT_EQ(policy.noticeOf(alert("a", kSeverityCritical, kOriginStateChange), last), kNoticeNone);
    AlertRecord flappingAlert = alert("a", kSeverityWarning, kOriginStateChange);
    flappingAlert.trapKey = kFlappingKey;
    EXPECT_EQ(policy.noticeOf(flappingAlert, last), kNoticeAll);
    EXPECT_EQ(policy.noticeOf(alert("a", kSeverityCritical), last), kNoticeAll) << "a trap is not a change";
    EXPECT_EQ(policy.attentionText("a", last), "Flapping");
    EXPECT_EQ(policy.nextEnd(last), last + 15 * 60);
    EXPECT_TRUE(policy.flapping("a", last + 15 * 60 - 1));
    EXPECT_FALSE(policy.flapping("a", last + 15 * 60));
    // Stable: counting starts afresh.
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(policy.recordChange("a", last + 20 * 60 + i));
    EXPECT_TRUE(policy.recordChange("a", last + 20 * 60 + 4));
    policy.snooze("a", last + 40 * 60);
    EXPECT_EQ(policy.attentionText("a", last + 20 * 60 + 5),
              "Flapping; Snoozed until " + FormatLocalTime(last + 40 * 60));
}

} // namespace
