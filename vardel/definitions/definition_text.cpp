// Trap keys, severities and alert texts of imported notifications.

#include "vardel/definitions/definitions.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace definitions {

namespace {

// The classifier reads AlarmString into 512 bytes.
constexpr std::size_t kAlarmStringMax = 511;
constexpr std::size_t kAlertBindings = 10;

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "ciscoEnvMonFanNotification" -> cisco env mon fan notification;
// "UPSOnBattery" -> ups on battery; '-', '_' and digits separate too.
std::vector<std::string> nameWords(const std::string& name) {
    std::vector<std::string> words;
    std::string word;
    auto flush = [&] {
        if (!word.empty())
            words.push_back(lower(word));
        word.clear();
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::isalpha(c)) {
            flush();
            continue;
        }
        if (std::isupper(c) && !word.empty()) {
            const bool prevLower = std::islower(static_cast<unsigned char>(word.back()));
            const bool nextLower =
                i + 1 < name.size() && std::islower(static_cast<unsigned char>(name[i + 1]));
            if (prevLower || nextLower)
                flush();
        }
        word.push_back(static_cast<char>(c));
    }
    flush();
    return words;
}

bool anyOf(const std::vector<std::string>& words, std::initializer_list<const char*> list) {
    for (const std::string& w : words)
        for (const char* l : list)
            if (w == l)
                return true;
    return false;
}

} // namespace

const char* SeverityKeyword(Severity severity) {
    switch (severity) {
    case Severity::Critical:
        return "CRITICAL";
    case Severity::Warning:
        return "WARNING";
    case Severity::Normal:
        return "NORMAL";
    case Severity::Informational:
        break;
    }
    return "INFORMATIONAL";
}

bool SeverityFromWord(const std::string& word, Severity& severity) {
    const std::string w = lower(word);
    if (w == "critical" || w == "major" || w == "fatal")
        severity = Severity::Critical;
    else if (w == "warning" || w == "minor")
        severity = Severity::Warning;
    else if (w == "normal" || w == "ok" || w == "cleared")
        severity = Severity::Normal;
    else if (w == "informational" || w == "info" || w == "unknown" || w == "indeterminate")
        severity = Severity::Informational;
    else
        return false;
    return true;
}

Severity SeverityFromName(const std::string& name) {
    const std::vector<std::string> words = nameWords(name);
    if (anyOf(words, {"restored", "recovered", "up", "ok", "clear", "cleared", "normal"}))
        return Severity::Normal;
    if (anyOf(words, {"fail", "failed", "failure", "fault", "down", "shutdown", "error", "critical", "lost"}))
        return Severity::Critical;
    if (anyOf(words, {"threshold", "high", "low", "warning", "exceeded", "degraded", "alarm"}))
        return Severity::Warning;
    return Severity::Informational;
}

bool TrapKeyOf(const std::string& oid, std::string& enterprise, std::string& trapKey) {
    std::vector<std::string> ids;
    std::size_t start = !oid.empty() && oid[0] == '.' ? 1 : 0;
    while (start <= oid.size()) {
        const std::size_t dot = oid.find('.', start);
        const std::string id = oid.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
            return false;
        ids.push_back(id);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (ids.size() < 2)
        return false;
    const std::string specific = ids.back();
    ids.pop_back();
    if (ids.size() > 1 && ids.back() == "0")
        ids.pop_back();
    enterprise.clear();
    for (const std::string& id : ids)
        enterprise += (enterprise.empty() ? "" : ".") + id;
    trapKey = enterprise + "." + specific;
    return true;
}

std::string DefaultAlertText(const std::string& name, const std::vector<std::string>& objects) {
    std::string text = name.substr(0, kAlarmStringMax);
    const std::size_t kept = std::min(objects.size(), kAlertBindings);
    for (std::size_t i = 0; i < kept; ++i) {
        const std::string part = (i == 0 ? ": " : ", ") + objects[i] + "=%" + std::to_string(i + 1);
        if (text.size() + part.size() > kAlarmStringMax)
            break;
        text += part;
    }
    return text;
}

} // namespace definitions
