#include "alert_log.h"

#include "alert_text.h"

#include <cstdio>

namespace {
constexpr const char* kLineEnd = "\r\n";
}

std::string LogSafeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        // U+0085 (C2 85), U+2028 and U+2029 (E2 80 A8/A9) end a line for many readers.
        if (u == 0xC2 && text.compare(i + 1, 1, "\x85") == 0) {
            out += ' ';
            i += 1;
        } else if (u == 0xE2 &&
                   (text.compare(i + 1, 2, "\x80\xA8") == 0 || text.compare(i + 1, 2, "\x80\xA9") == 0)) {
            out += ' ';
            i += 2;
        } else {
            out += (u < 0x20 && u != '\t') || u == 0x7F ? ' ' : text[i];
        }
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
