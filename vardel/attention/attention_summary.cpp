#include "vardel/attention/attention_summary.h"

#include "vardel/resources/string_table.h"

AttentionLevel AttentionLevelOf(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return AttentionLevel::critical;
    case kSeverityWarning:
        return AttentionLevel::warning;
    case kSeverityNormal:
        return AttentionLevel::normal;
    default:
        return AttentionLevel::informational;
    }
}

AttentionSummary SummarizeAttention(const AlertStore& store, const ServerList& servers) {
    AttentionSummary summary;
    // Acknowledged alerts are stored but no longer outstanding.
    summary.outstanding = store.outstandingCount();
    for (int severity : {kSeverityNormal, kSeverityUnclassified, kSeverityInformational, kSeverityWarning,
                         kSeverityCritical})
        if (store.outstandingTally(severity) > 0 && AttentionLevelOf(severity) > summary.worst)
            summary.worst = AttentionLevelOf(severity);
    const std::string& down = LoadString(IDS_DOWN);
    for (const auto& server : servers)
        if (server->snmpStatus == down || server->networkStatus == down)
            summary.serversDown += 1;
    return summary;
}

std::string AttentionToolTip(const AttentionSummary& summary) {
    return FormatString(IDS_TRAY_TOOLTIP,
                        {std::to_string(summary.outstanding), std::to_string(summary.serversDown)});
}
