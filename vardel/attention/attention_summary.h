#pragma once
// The state the status-area icon shows: the worst outstanding severity, the
// number of outstanding alerts and of servers DOWN.

#include "vardel/alerts/alert_store.h"
#include "vardel/store/config_store.h"

#include <cstdint>
#include <string>

// Worst first when compared: critical > warning > informational > normal > none.
enum class AttentionLevel : int { none = 0, normal, informational, warning, critical };

struct AttentionSummary {
    AttentionLevel worst = AttentionLevel::none;
    std::int32_t outstanding = 0;
    std::int32_t serversDown = 0;
    bool operator==(const AttentionSummary&) const = default;
};

// An unclassified alert counts as informational: it is an alert all the same.
AttentionLevel AttentionLevelOf(int severity);

// Only alerts not acknowledged count. A server is DOWN when its SNMP status or its network status is "DOWN".
AttentionSummary SummarizeAttention(const AlertStore& store, const ServerList& servers);

// "%1 outstanding alerts, %2 servers DOWN" (string 230).
std::string AttentionToolTip(const AttentionSummary& summary);
