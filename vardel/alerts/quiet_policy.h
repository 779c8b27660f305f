#pragma once
// When a new alert is kept quiet: a snoozed server, a flapping server's
// state changes, quiet hours. A quiet alert is stored, logged and counted all
// the same; only its sound, pop-up and notification are held back.

#include "vardel/alerts/alert_record.h"
#include "vardel/store/console_settings.h"

#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <string>

// A daily period, in minutes after midnight; it may wrap past midnight. Equal
// ends make an empty period.
struct QuietHours {
    bool on = false;
    int startMinute = 22 * 60;
    int endMinute = 7 * 60;
};

// More than `changes` changes of a server's state within `minutes` make it
// flapping, until it has been stable for `minutes`.
struct FlappingLimits {
    bool on = false;
    int changes = 4;
    int minutes = 15;
};

// The trap key of the one alert that says a server is flapping.
inline constexpr const char* kFlappingKey = "flapping";

enum class SnoozePeriod { quarterHour, hour, untilTomorrow };

// Minutes after midnight of an "HH:MM" time (00:00 to 23:59); -1 otherwise.
int ClockMinutes(const std::string& text);

class QuietPolicy {
public:
    // When a snooze of this period started at now ends; "until tomorrow" is
    // 08:00 of the next day.
    static std::time_t SnoozeEnd(SnoozePeriod period, std::time_t now);

    // Quiet hours and flapping limits from the console's settings.
    void applySettings(const ConsoleSettings& settings);

    void snooze(const std::string& server, std::time_t until);
    void endSnooze(const std::string& server);
    // The end of the server's snooze; 0 when it is not snoozed at now.
    std::time_t snoozedUntil(const std::string& server, std::time_t now) const;

    void setQuietHours(const QuietHours& hours) { m_hours = hours; }
    const QuietHours& quietHours() const { return m_hours; }
    bool inQuietHours(std::time_t now) const;

    void setFlapping(const FlappingLimits& limits);
    const FlappingLimits& flappingLimits() const { return m_limits; }
    // A change of the server's state at now. True when this change makes it
    // flapping: the moment to raise the one flapping alert.
    bool recordChange(const std::string& server, std::time_t now);
    bool flapping(const std::string& server, std::time_t now) const;

    // The kNotice* ways a new alert is made noticeable at now.
    std::uint8_t noticeOf(const AlertRecord& alert, std::time_t now) const;

    // The status grid's text for a server: "Flapping", "Snoozed until ...",
    // both, or empty.
    std::string attentionText(const std::string& server, std::time_t now) const;
    // Whether any server is snoozed or flapping at now.
    bool anyQuietServer(std::time_t now) const;
    // The earliest end of a snooze or of flapping still to come; 0 when none.
    std::time_t nextEnd(std::time_t now) const;

private:
    struct Changes {
        std::deque<std::time_t> times; // within the last `minutes`
        bool flapping = false;
        std::time_t last = 0;
    };
    bool flappingAt(const Changes& changes, std::time_t now) const;

    std::map<std::string, std::time_t> m_snoozes;
    QuietHours m_hours;
    FlappingLimits m_limits;
    std::map<std::string, Changes> m_changes;
};
