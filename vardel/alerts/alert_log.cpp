#include "vardel/alerts/alert_log.h"

#include "vardel/alerts/alert_text.h"

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

namespace {

thread_local AlertLogBatch* t_batch = nullptr;

void appendBytes(const std::string& logPath, const std::string& bytes) {
    if (AlertLogBatch::hold(logPath, bytes))
        return;
    std::FILE* f = std::fopen(logPath.c_str(), "ab");
    if (!f)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

} // namespace

int AppendAlertLog(const std::string& logPath, const AlertStore& store, int sequence, int severityShown) {
    appendBytes(logPath, FormatLogBlock(store.findBySequence(sequence), severityShown));
    return 1;
}

std::string FormatLossBlock(const std::string& dateTime, std::uint64_t lost) {
    return std::string(kLineEnd) + "Date:" + dateTime + kLineEnd + "Traps Lost:" + std::to_string(lost) +
           kLineEnd;
}

std::string FormatRefusalBlock(const std::string& dateTime, const std::string& what) {
    return std::string(kLineEnd) + "Date:" + dateTime + kLineEnd + "Traps Refused:" + what + kLineEnd;
}

int AppendRefusalLog(const std::string& logPath, const std::string& dateTime, const std::string& what) {
    appendBytes(logPath, FormatRefusalBlock(dateTime, what));
    return 1;
}

int AppendLossLog(const std::string& logPath, const std::string& dateTime, std::uint64_t lost) {
    appendBytes(logPath, FormatLossBlock(dateTime, lost));
    return 1;
}

std::string FormatCeilingBlock(const std::string& dateTime, std::int32_t ceiling) {
    return std::string(kLineEnd) + "Date:" + dateTime + kLineEnd + "Alert Limit:" + std::to_string(ceiling) +
           " outstanding alerts reached; older alerts are kept in this log only" + kLineEnd;
}

int AppendCeilingLog(const std::string& logPath, const std::string& dateTime, std::int32_t ceiling) {
    appendBytes(logPath, FormatCeilingBlock(dateTime, ceiling));
    return 1;
}

std::string FormatAcknowledgementBlock(const AlertRecord& alert) {
    return std::string(kLineEnd) + "Date:" + LogSafeText(alert.acknowledgedAt) + kLineEnd +
           "Acknowledged By:" + LogSafeText(alert.acknowledgedBy) + kLineEnd +
           "Alert Date:" + LogSafeText(alert.dateTime) + kLineEnd +
           "Server Name:" + LogSafeText(alert.serverName) + kLineEnd +
           "Alarm String:" + LogSafeText(alert.alertText) + kLineEnd;
}

int AppendAcknowledgementLog(const std::string& logPath, const AlertRecord& alert) {
    appendBytes(logPath, FormatAcknowledgementBlock(alert));
    return 1;
}

AlertLogBatch::AlertLogBatch() : m_outer(t_batch) {
    t_batch = this;
}

AlertLogBatch::~AlertLogBatch() {
    t_batch = m_outer;
    flush();
}

bool AlertLogBatch::hold(const std::string& path, const std::string& block) {
    AlertLogBatch* batch = t_batch;
    if (!batch)
        return false;
    if (path != batch->m_path) {
        batch->flush();
        batch->m_path = path;
    }
    batch->m_bytes += block;
    return true;
}

// Writes what is held; an outer batch, if any, takes it instead.
void AlertLogBatch::flush() {
    if (m_bytes.empty())
        return;
    std::string bytes;
    bytes.swap(m_bytes);
    if (t_batch == this) {
        t_batch = m_outer;
        appendBytes(m_path, bytes);
        t_batch = this;
    } else {
        appendBytes(m_path, bytes);
    }
}
