#include "vardel/alerts/alert_arrival.h"

#include "snmp/snmp.h"
#include "vardel/alerts/alert_log.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/program_env.h"

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

int AcknowledgeAlert(AlertStore& store, AlertCounter& counter, const std::string& logPath,
                     std::uint64_t alertId, const std::string& user) {
    const int result = store.AcknowledgeById(alertId, user);
    if (result != 0)
        return result;
    const AlertRecord& alert = *store.findById(alertId);
    counter.AdjustAlertCount(alert.serverName, kAlertCountRemove);
    AppendAcknowledgementLog(logPath, alert);
    return 0;
}

AlertArrival::AlertArrival(AlertArrivalContext context) : m_ctx(context) {
    m_ctx.store.onDropped = [this](const AlertRecord& dropped, bool first) {
        onAlertDropped(dropped, first);
    };
}

AlertArrival::~AlertArrival() {
    m_ctx.store.onDropped = nullptr;
}

void AlertArrival::onAlertDropped(const AlertRecord& dropped, bool first) {
    // An acknowledged alert no longer counted.
    if (!dropped.acknowledged)
        m_ctx.counter.AdjustAlertCount(dropped.serverName, kAlertCountRemove);
    if (!first)
        return;
    AppendCeilingLog(m_ctx.settings.logPath, FormatNow(), m_ctx.store.ceiling);
    m_ctx.display.ShowCeilingReached(m_ctx.store.ceiling);
}

int AlertArrival::OnTrapAlert(std::unique_ptr<AlertRecord> record) {
    if (!record)
        return 0;
    const bool unclassifiedOn = m_ctx.settings.showUnclassifiedTraps == 1;
    if ((record->reception == kReceptionStandard && m_ctx.settings.receiveStandardTraps != 1) ||
        (record->reception == kReceptionUnclassified && !unclassifiedOn))
        return 0;
    std::string serverName;
    if (FindServerNameByAddress(m_ctx.servers, record->agentAddress, serverName) != 0) {
        // Not a managed server: never an alert.
        if (unclassifiedOn)
            m_unknownSenders.count(record->agentAddress,
                                   record->description.empty() ? record->trapKey : record->description,
                                   record->dateTime);
        return 0;
    }
    if (record->origin == kOriginTrap && record->snmpVersion != version3 &&
        refusedBySender(*record, serverName))
        return 0;
    record->serverName = fitField(serverName, alert_width::kServerName);
    record->playSound = m_ctx.settings.playSound;
    record->soundFile = m_ctx.settings.soundFile;
    const std::string address = record->agentAddress;

    m_ctx.store.ceiling = m_ctx.settings.alertCeiling;
    if (m_ctx.store.ClassifyAlert(std::move(record)) != 0)
        return 0;
    const int sequence = m_ctx.store.count;

    showAndLog(sequence);
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

std::size_t AlertArrival::OnTrapAlerts(std::deque<std::unique_ptr<AlertRecord>>& records,
                                       std::chrono::steady_clock::time_point until, std::size_t most) {
    AlertLogBatch batch;
    std::size_t taken = 0;
    while (!records.empty() && taken < most) {
        std::unique_ptr<AlertRecord> record = std::move(records.front());
        records.pop_front();
        if (m_deliver)
            m_deliver(std::move(record));
        else
            OnTrapAlert(std::move(record));
        ++taken;
        if (std::chrono::steady_clock::now() >= until)
            break;
    }
    return taken;
}

bool AlertArrival::refusedBySender(const AlertRecord& record, const std::string& serverName) {
    const ManagedServer* server = FindServerByName(m_ctx.servers, serverName);
    if (server == nullptr)
        return false;
    // "v3 only": the server's v1 and v2c traps are not its own.
    const bool v3Only = server->v3.configured() && server->v3.v3Only;
    if (!v3Only && (m_ctx.settings.checkTrapCommunity != 1 || record.community == server->community))
        return false;
    ++m_dropped[record.agentAddress];
    return true;
}

std::map<std::string, std::uint64_t> AlertArrival::takeDroppedBySender() {
    std::map<std::string, std::uint64_t> out;
    out.swap(m_dropped);
    return out;
}

void AlertArrival::OnTrapsLost(std::uint64_t lost) {
    if (lost == 0)
        return;
    AppendLossLog(m_ctx.settings.logPath, FormatNow(), lost);
    DebugTrace(std::to_string(lost) + " traps lost: dropped before they could be handled");
}

int AlertArrival::RaiseStateAlert(const std::string& serverName, const std::string& state, int source) {
    m_ctx.store.ceiling = m_ctx.settings.alertCeiling;
    const int sequence = m_ctx.store.RaiseStateAlert(serverName, state, source);
    if (sequence == -1)
        return -1;
    m_ctx.counter.AdjustAlertCount(serverName, kAlertCountAdd);
    showAndLog(sequence);
    return sequence;
}

int AlertArrival::RaiseConsoleAlert(std::unique_ptr<AlertRecord> record) {
    if (!record)
        return -1;
    const std::string serverName = record->serverName;
    m_ctx.store.ceiling = m_ctx.settings.alertCeiling;
    const int sequence = m_ctx.store.AddConsoleAlert(std::move(record));
    m_ctx.counter.AdjustAlertCount(serverName, kAlertCountAdd);
    showAndLog(sequence);
    return sequence;
}

void AlertArrival::showAndLog(int sequence) {
    const AlertRecord* alert = m_ctx.store.findBySequence(sequence);
    if (!alert || (alert->notice & kNoticePopUp)) {
        m_ctx.display.ShowAlert(sequence);
        m_ctx.display.AppendToLog(m_ctx.settings.logPath, sequence);
        return;
    }
    m_ctx.display.ShowAlertQuietly(sequence);
    AppendAlertLog(m_ctx.settings.logPath, m_ctx.store, sequence, alert->severity);
}
