#pragma once
// The alert log VDLog.txt: one block of lines per alert, CRLF line ends.

#include "vardel/alerts/alert_store.h"

#include <cstdint>
#include <string>

// A logged text with every control character but TAB (below 0x20, and 0x7F)
// and every Unicode line break (U+0085, U+2028, U+2029 in UTF-8) made one
// blank, so that a field cannot break or forge the lines of a block.
std::string LogSafeText(const std::string& text);

// The bytes one append writes: for an alert, an empty line and the lines
// Date:, Server Name:, Description:, Alarm String:, Severity: (the word of
// severityShown); a final line end in every case (alert may be null).
std::string FormatLogBlock(const AlertRecord* alert, int severityShown);

// Appends the block of the alert with this sequence to logPath. When the file
// cannot be opened the append is left out. Returns 1.
int AppendAlertLog(const std::string& logPath, const AlertStore& store, int sequence, int severityShown);

// The block that says traps were lost before the console could read them: an
// empty line, "Date:" and the time, "Traps Lost:" and their number.
std::string FormatLossBlock(const std::string& dateTime, std::uint64_t lost);
int AppendLossLog(const std::string& logPath, const std::string& dateTime, std::uint64_t lost);

// The block that says a sender's traps were refused (SNMPv3 security, or not
// the server's community): an empty line, "Date:" and the time, "Traps
// Refused:" and what (count, sender, reasons).
std::string FormatRefusalBlock(const std::string& dateTime, const std::string& what);
int AppendRefusalLog(const std::string& logPath, const std::string& dateTime, const std::string& what);

// The block that says the outstanding alerts reached their ceiling, so the
// oldest are in the log only: an empty line, "Date:" and the time, and
// "Alert Limit:" with the ceiling and what it means.
std::string FormatCeilingBlock(const std::string& dateTime, std::int32_t ceiling);
int AppendCeilingLog(const std::string& logPath, const std::string& dateTime, std::int32_t ceiling);

// The block that says an alert was acknowledged: an empty line, "Date:" and
// when, "Acknowledged By:" and the user, then the alert's "Alert Date:",
// "Server Name:" and "Alarm String:".
std::string FormatAcknowledgementBlock(const AlertRecord& alert);
int AppendAcknowledgementLog(const std::string& logPath, const AlertRecord& alert);

// While one lives on a thread, that thread's appends are held and written
// when it ends, each file opened once for its blocks; the bytes are those of
// appending block by block.
class AlertLogBatch {
public:
    AlertLogBatch();
    ~AlertLogBatch();
    AlertLogBatch(const AlertLogBatch&) = delete;
    AlertLogBatch& operator=(const AlertLogBatch&) = delete;

    // Holds block for path; false when no batch is open on this thread.
    static bool hold(const std::string& path, const std::string& block);

private:
    void flush();

    AlertLogBatch* m_outer;
    std::string m_path;
    std::string m_bytes;
};
