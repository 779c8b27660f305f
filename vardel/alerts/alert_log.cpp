#include "alert_log.h"

#include "alert_text.h"

#include <cstdio>

namespace {
constexpr const char* kLineEnd = "\r\n";
}

std::string LogSafeText(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = ' ';
    }
    return out;
}

std::string FormatLogBlock(const AlertRecord* alert, int severityShown) {
    std::string block;
    if (alert) {
        block += kLineEnd;
        block += "Date:" + LogSafeText(alert->dateTime) + kLineEnd;
        block += "Server Name:" + LogSafeText(alert->serverName) + kLineEnd;
        block += "Description:" + LogSafeText(alert->description) + kLineEnd;
        block += "Alarm String:" + LogSafeText(alert->alertText) + kLineEnd;
        block += "Severity:";
        block += SeverityWord(severityShown);
    }
    block += kLineEnd;
    return block;
}

int AppendAlertLog(const std::string& logPath, const AlertStore& store, int sequence, int severityShown) {
    std::FILE* f = std::fopen(logPath.c_str(), "ab");
    if (!f)
        return 1;
    const std::string block = FormatLogBlock(store.findBySequence(sequence), severityShown);
    std::fwrite(block.data(), 1, block.size(), f);
    std::fclose(f);
    return 1;
}
