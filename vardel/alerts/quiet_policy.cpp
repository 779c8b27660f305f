#include "vardel/alerts/quiet_policy.h"

#include "vardel/resources/string_table.h"
#include "vardel/store/program_env.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int kMinutesPerDay = 24 * 60;
constexpr int kTomorrowHour = 8;

} // namespace

int ClockMinutes(const std::string& text) {
    const auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(text[i])) != 0; };
    if (text.size() != 5 || !digit(0) || !digit(1) || text[2] != ':' || !digit(3) || !digit(4))
        return -1;
    const int hours = (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
    return hours < 24 && minutes < 60 ? hours * 60 + minutes : -1;
}

void QuietPolicy::applySettings(const ConsoleSettings& settings) {
    QuietHours hours;
    hours.on = settings.quietHours == 1;
    hours.startMinute = ClockMinutes(settings.quietHoursStart);
    hours.endMinute = ClockMinutes(settings.quietHoursEnd);
    if (hours.startMinute < 0 || hours.endMinute < 0)
        hours.on = false;
    setQuietHours(hours);
    setFlapping({settings.flapping == 1, settings.flappingChanges, settings.flappingMinutes});
}

std::time_t QuietPolicy::SnoozeEnd(SnoozePeriod period, std::time_t now) {
    switch (period) {
    case SnoozePeriod::quarterHour:
        return now + 15 * 60;
    case SnoozePeriod::hour:
        return now + 60 * 60;
    case SnoozePeriod::untilTomorrow:
        break;
    }
    std::tm tm{};
    localtime_r(&now, &tm);
    tm.tm_mday += 1;
    tm.tm_hour = kTomorrowHour;
    tm.tm_min = 0;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

void QuietPolicy::snooze(const std::string& server, std::time_t until) {
    m_snoozes[server] = until;
}

void QuietPolicy::endSnooze(const std::string& server) {
    m_snoozes.erase(server);
}

std::time_t QuietPolicy::snoozedUntil(const std::string& server, std::time_t now) const {
    const auto it = m_snoozes.find(server);
    return it != m_snoozes.end() && it->second > now ? it->second : 0;
}

bool QuietPolicy::inQuietHours(std::time_t now) const {
    if (!m_hours.on || m_hours.startMinute == m_hours.endMinute)
        return false;
    std::tm tm{};
    localtime_r(&now, &tm);
    const int minute = tm.tm_hour * 60 + tm.tm_min;
    const int start = std::clamp(m_hours.startMinute, 0, kMinutesPerDay - 1);
    const int end = std::clamp(m_hours.endMinute, 0, kMinutesPerDay - 1);
    return start < end ? minute >= start && minute < end : minute >= start || minute < end;
}

void QuietPolicy::setFlapping(const FlappingLimits& limits) {
    if (!limits.on || limits.minutes != m_limits.minutes || limits.changes != m_limits.changes)
        m_changes.clear();
    m_limits = limits;
}

bool QuietPolicy::flappingAt(const Changes& changes, std::time_t now) const {
    return changes.flapping && now - changes.last < static_cast<std::time_t>(m_limits.minutes) * 60;
}

bool QuietPolicy::recordChange(const std::string& server, std::time_t now) {
    if (!m_limits.on)
        return false;
    Changes& changes = m_changes[server];
    const std::time_t window = static_cast<std::time_t>(m_limits.minutes) * 60;
    if (changes.flapping && !flappingAt(changes, now)) {
        // Stable long enough: counting starts afresh.
        changes.flapping = false;
        changes.times.clear();
    }
    changes.last = now;
    if (changes.flapping)
        return false;
    changes.times.push_back(now);
    while (!changes.times.empty() && now - changes.times.front() >= window)
        changes.times.pop_front();
    if (changes.times.size() <= static_cast<std::size_t>(std::max(m_limits.changes, 1)))
        return false;
    changes.flapping = true;
    changes.times.clear();
    return true;
}

bool QuietPolicy::flapping(const std::string& server, std::time_t now) const {
    if (!m_limits.on)
        return false;
    const auto it = m_changes.find(server);
    return it != m_changes.end() && flappingAt(it->second, now);
}

std::uint8_t QuietPolicy::noticeOf(const AlertRecord& alert, std::time_t now) const {
    if (snoozedUntil(alert.serverName, now) != 0)
        return kNoticeNone;
    if (alert.origin == kOriginStateChange && alert.trapKey != kFlappingKey &&
        flapping(alert.serverName, now))
        return kNoticeNone;
    if (!inQuietHours(now))
        return kNoticeAll;
    // Quiet hours: no sound; only a critical alert pops up and notifies.
    return alert.severity == kSeverityCritical ? kNoticePopUp | kNoticeDesktop : kNoticeNone;
}

std::string QuietPolicy::attentionText(const std::string& server, std::time_t now) const {
    std::string text;
    if (flapping(server, now))
        text = LoadString(IDS_FLAPPING);
    if (const std::time_t until = snoozedUntil(server, now)) {
        if (!text.empty())
            text += "; ";
        text += FormatString(IDS_SNOOZED_UNTIL, {FormatLocalTime(until)});
    }
    return text;
}

bool QuietPolicy::anyQuietServer(std::time_t now) const {
    return nextEnd(now) != 0;
}

std::time_t QuietPolicy::nextEnd(std::time_t now) const {
    std::time_t next = 0;
    const auto consider = [&](std::time_t end) {
        if (end > now && (next == 0 || end < next))
            next = end;
    };
    for (const auto& [server, until] : m_snoozes)
        consider(until);
    if (m_limits.on)
        for (const auto& [server, changes] : m_changes)
            if (flappingAt(changes, now))
                consider(changes.last + static_cast<std::time_t>(m_limits.minutes) * 60);
    return next;
}
