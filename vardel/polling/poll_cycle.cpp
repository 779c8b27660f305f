#include "poll_cycle.h"

#include "alert_store.h"
#include "string_table.h"

void PollCycle::OnFirstPollTimer() {
    PollAllServers();
}

void PollCycle::OnPollTimer(const std::string& now) {
    m_ctx.settings.lastPollTime = now;
    m_ctx.cells.SetLastPollTime(now);
    const std::string& checking = LoadString(IDS_CHECKING);
    if (m_held.empty()) {
        m_ctx.cells.MarkAllChecking(checking);
    } else {
        // A settling server is marked and polled once it has settled, as if
        // this cycle had begun after its handling.
        for (const auto& server : m_ctx.servers)
            if (!isSettling(server->name))
                m_ctx.cells.MarkServerChecking(server->name, checking);
        for (auto& [name, work] : m_held) {
            const std::string n = name;
            work.push_back([this, n, checking] {
                m_ctx.cells.MarkServerChecking(n, checking);
                PollServer(n);
            });
        }
    }
    PollAllServers();
}

int PollCycle::PollAllServers() {
    Pdu pdu;
    pdu += Vb(Oid(kPollOid));
    for (const auto& server : m_ctx.servers)
        if (server->pollPending == 0)
            issue(*server, pdu);
    return 0;
}

void PollCycle::PollServer(const std::string& serverName) {
    if (isSettling(serverName)) {
        hold(serverName, [this, serverName] { PollServer(serverName); });
        return;
    }
    ManagedServer* server = FindServerByName(m_ctx.servers, serverName);
    if (server == nullptr || server->pollPending != 0)
        return;
    Pdu pdu;
    pdu += Vb(Oid(kPollOid));
    issue(*server, pdu);
}

void PollCycle::issue(ManagedServer& server, const Pdu& pdu) {
    server.pollPending = 1;
    const bool ip = !server.ipAddress.empty();
    // The callback keeps its own copy of the address: the server may be gone
    // by the time the answer comes.
    const std::string address = ip ? server.ipAddress : server.ipxAddress;
    CTarget target = ip ? CTarget(IpAddress(address)) : CTarget(IpxAddress(address));
    target.set_retry(m_ctx.settings.retry);
    target.set_timeout(m_ctx.settings.timeout);
    target.set_readcommunity(OctetStr(server.community.c_str()));
    target.set_writecommunity(OctetStr(server.community.c_str()));
    m_ctx.session.get(pdu, target, [this, address](int reason) { OnPollResponse(reason, address); });
}

void PollCycle::OnPollResponse(int reason, const std::string& address) {
    if (reason == kSnmpAsyncResponse)
        OnAgentAnswered(address);
    else if (reason == kSnmpTimeout)
        OnAgentSilent(address);
}

int PollCycle::OnAgentAnswered(const std::string& address) {
    std::string name;
    if (FindServerNameByAddress(m_ctx.servers, address, name) != 0)
        return 0;
    const std::string& up = LoadString(IDS_UP);
    std::string status;
    GetSnmpStatus(m_ctx.servers, name, status);
    if (status == LoadString(IDS_DOWN)) {
        SetSnmpStatus(m_ctx.servers, name, up);
        m_ctx.raiseStateAlert(name, up, kStateSourceAgent);
    } else if (status == "INIT") {
        SetSnmpStatus(m_ctx.servers, name, up);
    }
    SetPollPending(m_ctx.servers, name, 0);
    m_ctx.cells.SetSnmpStatusCell(name, up);
    // An answering agent proves its host reachable.
    OnHostReachable(address);
    return 0;
}

int PollCycle::OnAgentSilent(const std::string& address) {
    std::string name;
    if (FindServerNameByAddress(m_ctx.servers, address, name) != 0)
        return -1;
    std::string status;
    if (GetSnmpStatus(m_ctx.servers, name, status) != 0)
        return -1;
    if (isSettling(name)) {
        hold(name, [this, address] { OnAgentSilent(address); });
        return 0;
    }
    m_held[name];
    const Silence silence{name, address};
    if (m_probing)
        m_silences.push_back(silence);
    else
        startSilence(silence);
    return 0;
}

void PollCycle::startSilence(const Silence& silence) {
    m_probing = true;
    std::string oldStatus;
    GetSnmpStatus(m_ctx.servers, silence.name, oldStatus);
    PingServer(silence.name, [this, silence, oldStatus] { finishSilence(silence, oldStatus); });
}

void PollCycle::finishSilence(const Silence& silence, const std::string& oldStatus) {
    const std::string& name = silence.name;
    const std::string& up = LoadString(IDS_UP);
    const std::string& down = LoadString(IDS_DOWN);
    std::string network;
    GetNetworkStatus(m_ctx.servers, name, network);
    // When the host itself is unreachable, only its own DOWN alert is raised.
    if ((oldStatus == up || oldStatus == "INIT") && network == up) {
        SetSnmpStatus(m_ctx.servers, name, down);
        m_ctx.raiseStateAlert(name, down, kStateSourceAgent);
    }
    SetPollPending(m_ctx.servers, name, 0);
    m_ctx.cells.SetSnmpStatusCell(name, down);
    SetSnmpStatus(m_ctx.servers, name, down);

    m_probing = false;
    std::deque<std::function<void()>> work;
    if (auto it = m_held.find(name); it != m_held.end()) {
        work.swap(it->second);
        m_held.erase(it);
    }
    for (auto& w : work)
        w();
    if (!m_probing && !m_silences.empty()) {
        const Silence next = m_silences.front();
        m_silences.pop_front();
        startSilence(next);
    }
}

int PollCycle::OnHostReachable(const std::string& address) {
    std::string name;
    if (FindServerNameByAddress(m_ctx.servers, address, name) != 0)
        return 0;
    const std::string& up = LoadString(IDS_UP);
    std::string network;
    GetNetworkStatus(m_ctx.servers, name, network);
    if (network == LoadString(IDS_DOWN))
        m_ctx.raiseStateAlert(name, up, kStateSourceNetwork);
    SetNetworkStatus(m_ctx.servers, name, up);
    m_ctx.cells.SetPollStatusCell(name, up);
    return 0;
}

int PollCycle::OnHostUnreachable(const std::string& address) {
    std::string name;
    if (FindServerNameByAddress(m_ctx.servers, address, name) != 0)
        return 0;
    const std::string& down = LoadString(IDS_DOWN);
    std::string network;
    GetNetworkStatus(m_ctx.servers, name, network);
    if (network == LoadString(IDS_UP) || network == "INIT") {
        SetNetworkStatus(m_ctx.servers, name, down);
        m_ctx.raiseStateAlert(name, down, kStateSourceNetwork);
    }
    m_ctx.cells.SetPollStatusCell(name, down);
    return 0;
}

void PollCycle::PingServer(const std::string& serverName, std::function<void()> then) {
    const ManagedServer* server = FindServerByName(m_ctx.servers, serverName);
    if (server == nullptr) {
        then();
        return;
    }
    const bool ipx = server->ipAddress.empty();
    const std::string address = ipx ? server->ipxAddress : server->ipAddress;
    m_ctx.echo.probe(address, ipx, [this, address, then = std::move(then)](int result) {
        if (result == 0)
            OnHostReachable(address);
        else
            OnHostUnreachable(address);
        then();
    });
}

void PollCycle::whenSettled(const std::string& address, std::function<void()> work) {
    std::string name;
    if (FindServerNameByAddress(m_ctx.servers, address, name) == 0 && isSettling(name))
        hold(name, std::move(work));
    else
        work();
}

void PollCycle::hold(const std::string& serverName, std::function<void()> work) {
    m_held[serverName].push_back(std::move(work));
}
