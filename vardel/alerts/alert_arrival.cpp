#include "alert_arrival.h"

#include "string_table.h"

void ServerListAlertCounter::AdjustAlertCount(const std::string& serverName, int code) {
    ManagedServer* server = FindServerByName(m_servers, serverName);
    if (!server)
        return;
    if (code == kAlertCountAdd)
        server->outstandingAlerts += 1;
    else if (code == kAlertCountRemove && server->outstandingAlerts > 0)
        server->outstandingAlerts -= 1;
}

void ServerListAlertCounter::ResetAlertCounts() {
    for (auto& server : m_servers)
        server->outstandingAlerts = 0;
}

int AlertArrival::OnTrapAlert(std::unique_ptr<AlertRecord> record) {
    if (!record)
        return 0;
    std::string serverName;
    if (FindServerNameByAddress(m_ctx.servers, record->agentAddress, serverName) != 0)
        return 0; // not a managed server: dropped silently
    record->serverName = fitField(serverName, alert_width::kServerName);
    record->playSound = m_ctx.settings.playSound;
    record->soundFile = m_ctx.settings.soundFile;
    const std::string address = record->agentAddress;

    if (m_ctx.store.ClassifyAlert(std::move(record)) != 0)
        return 0;
    const int sequence = m_ctx.store.count;

    m_ctx.display.ShowAlert(sequence);
    m_ctx.display.AppendToLog(m_ctx.settings.logPath, sequence);
    m_ctx.counter.AdjustAlertCount(serverName, kAlertCountAdd);

    // A trap proves the server alive.
    const std::string& up = LoadString(IDS_UP);
    const std::string& down = LoadString(IDS_DOWN);
    std::string networkStatus;
    std::string snmpStatus;
    GetNetworkStatus(m_ctx.servers, serverName, networkStatus);
    GetSnmpStatus(m_ctx.servers, serverName, snmpStatus);
    if (networkStatus == down) {
        m_ctx.liveness.hostReachable(address);
        SetSnmpStatus(m_ctx.servers, serverName, up);
        m_ctx.liveness.showSnmpStatus(serverName, up);
    } else if (snmpStatus == down) {
        m_ctx.liveness.agentAnswered(address);
    }
    return sequence;
}

int AlertArrival::RaiseStateAlert(const std::string& serverName, const std::string& state, int source) {
    const int sequence = m_ctx.store.RaiseStateAlert(serverName, state, source);
    if (sequence == -1)
        return -1;
    m_ctx.counter.AdjustAlertCount(serverName, kAlertCountAdd);
    m_ctx.display.ShowAlert(sequence);
    m_ctx.display.AppendToLog(m_ctx.settings.logPath, sequence);
    return sequence;
}
