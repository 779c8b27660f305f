#include "vardel/polling/poll_cycle.h"

#include "vardel/alerts/alert_store.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/snmpv3_store.h"

#include <QString>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <strings.h>

namespace {

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool sameAddress(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

void PollCycle::reindex() {
    m_byAddress.clear();
    m_byName.clear();
    for (const auto& server : m_ctx.servers) {
        m_byAddress.emplace(lower(server->ipAddress), server.get());
        m_byAddress.emplace(lower(server->ipxAddress), server.get());
        if (!server->ip6Address.empty())
            m_byAddress.emplace(AddressKey(server->ip6Address), server.get());
        m_byName.emplace(server->name, server.get());
    }
    m_indexedSize = m_ctx.servers.size();
    m_indexed = true;
}

ManagedServer* PollCycle::serverAt(const std::string& address) {
    for (int pass = 0; pass < 2; ++pass) {
        if (!m_indexed || m_indexedSize != m_ctx.servers.size())
            reindex();
        auto it = m_byAddress.find(IsIp6Address(address) ? AddressKey(address) : lower(address));
        if (it == m_byAddress.end()) {
            m_indexed = pass != 0; // perhaps an edited address: look once more
            continue;
        }
        ManagedServer* s = it->second;
        if (sameAddress(s->ipAddress, address) || sameAddress(s->ipxAddress, address) ||
            (!s->ip6Address.empty() && SameAddress(s->ip6Address, address)))
            return s;
        m_indexed = false; // an address changed: look again
    }
    return nullptr;
}

ManagedServer* PollCycle::serverNamed(const std::string& name) {
    for (int pass = 0; pass < 2; ++pass) {
        if (!m_indexed || m_indexedSize != m_ctx.servers.size())
            reindex();
        auto it = m_byName.find(name);
        if (it == m_byName.end()) {
            m_indexed = pass != 0;
            continue;
        }
        if (it->second->name == name)
            return it->second;
        m_indexed = false;
    }
    return nullptr;
}

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

// Requests go out in slices with the event loop turning in between, so that
// a cycle over thousands of servers never holds up the user interface; none
// of them waits for an answer.
constexpr std::size_t kSlice = 250;

int PollCycle::PollAllServers() {
    if (!m_ctx.later || m_ctx.servers.size() <= kSlice) {
        Pdu pdu;
        pdu += Vb(Oid(kPollOid));
        for (const auto& server : m_ctx.servers)
            if (server->pollPending == 0)
                issue(*server, pdu);
        return 0;
    }
    auto names = std::make_shared<std::vector<std::string>>();
    names->reserve(m_ctx.servers.size());
    for (const auto& server : m_ctx.servers)
        names->push_back(server->name);
    issueFrom(names, 0);
    return 0;
}

void PollCycle::issueFrom(const std::shared_ptr<std::vector<std::string>>& names, std::size_t first) {
    Pdu pdu;
    pdu += Vb(Oid(kPollOid));
    const std::size_t end = std::min(names->size(), first + kSlice);
    for (std::size_t i = first; i < end; ++i) {
        ManagedServer* server = serverNamed((*names)[i]);
        if (server != nullptr && server->pollPending == 0)
            issue(*server, pdu);
    }
    if (end < names->size())
        m_ctx.later([this, names, end] { issueFrom(names, end); });
}

void PollCycle::PollServer(const std::string& serverName) {
    if (isSettling(serverName)) {
        hold(serverName, [this, serverName] { PollServer(serverName); });
        return;
    }
    ManagedServer* server = serverNamed(serverName);
    if (server == nullptr || server->pollPending != 0)
        return;
    Pdu pdu;
    pdu += Vb(Oid(kPollOid));
    issue(*server, pdu);
}

void PollCycle::issue(ManagedServer& server, const Pdu& pdu) {
    server.pollPending = 1;
    const bool ip = !ServerIpAddress(server).empty();
    // The callback keeps its own copy of the address: the server may be gone
    // by the time the answer comes.
    const std::string address = ip ? ServerIpAddress(server) : server.ipxAddress;
    CTarget target = ip ? CTarget(IpAddress(address)) : CTarget(IpxAddress(address));
    target.set_retry(m_ctx.settings.retry);
    target.set_timeout(m_ctx.settings.timeout);
    target.set_readcommunity(OctetStr(server.community.c_str()));
    target.set_writecommunity(OctetStr(server.community.c_str()));
    ApplyV3Target(server, target);
    const int status =
        m_ctx.session.get(pdu, target, [this, address](int reason) { OnPollResponse(reason, address); });
    if (status != 0) {
        // Refused at once, no answer will come: polled again next cycle.
        server.pollPending = 0;
        server.lastFailure = FormatString(IDS_FAILURE_NOT_SENT, {std::to_string(status)});
        server.lastFailureTime = std::time(nullptr);
    }
}

void PollCycle::OnPollResponse(int reason, const std::string& address) {
    if (reason == kSnmpAsyncResponse)
        OnAgentAnswered(address);
    else if (reason == kSnmpTimeout)
        OnAgentSilent(address);
    else if (snmpIsRefusal(reason))
        OnAgentRefused(address, reason);
}

int PollCycle::OnAgentRefused(const std::string& address, int refusal) {
    const ManagedServer* at = serverAt(address);
    if (at == nullptr)
        return -1;
    const std::string name = at->name;
    if (isSettling(name)) {
        hold(name, [this, address, refusal] { OnAgentRefused(address, refusal); });
        return 0;
    }
    ManagedServer& server = *serverNamed(name);
    const std::string& down = LoadString(IDS_DOWN);
    // The agent is there but takes nothing from this console: DOWN as for a
    // silent agent whose host answers, marked as a fault of the credentials.
    if (server.snmpStatus == LoadString(IDS_UP) || server.snmpStatus == "INIT")
        m_ctx.raiseStateAlert(name, down, kStateSourceAgent);
    if (server.snmpRefusal != refusal) {
        const std::string line =
            "vardel: SNMPv3 request refused by " + name + ": " + SnmpRefusalText(refusal) + "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
    server.snmpRefusal = refusal;
    server.lastFailure = SnmpRefusalText(refusal);
    server.lastFailureTime = std::time(nullptr);
    server.snmpStatus = down;
    server.pollPending = 0;
    m_ctx.cells.SetSnmpStatusCell(name, down);
    OnHostReachable(address);
    return 0;
}

int PollCycle::OnAgentAnswered(const std::string& address) {
    const ManagedServer* at = serverAt(address);
    if (at == nullptr)
        return 0;
    const std::string name = at->name;
    ManagedServer& server = *serverNamed(name);
    const std::string& up = LoadString(IDS_UP);
    if (server.snmpStatus == LoadString(IDS_DOWN)) {
        server.snmpStatus = up;
        m_ctx.raiseStateAlert(name, up, kStateSourceAgent);
    } else if (server.snmpStatus == "INIT") {
        server.snmpStatus = up;
    }
    server.pollPending = 0;
    server.lastAnswer = std::time(nullptr);
    server.snmpRefusal = 0;
    m_ctx.cells.SetSnmpStatusCell(name, up);
    // An answering agent proves its host reachable.
    OnHostReachable(address);
    return 0;
}

int PollCycle::OnAgentSilent(const std::string& address) {
    const ManagedServer* at = serverAt(address);
    if (at == nullptr)
        return -1;
    const std::string name = at->name;
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
    const ManagedServer* server = serverNamed(silence.name);
    const std::string oldStatus = server != nullptr ? server->snmpStatus : std::string();
    PingServer(silence.name, [this, silence, oldStatus] { finishSilence(silence, oldStatus); });
}

void PollCycle::finishSilence(const Silence& silence, const std::string& oldStatus) {
    const std::string& name = silence.name;
    const std::string& up = LoadString(IDS_UP);
    const std::string& down = LoadString(IDS_DOWN);
    // The server may have been removed while its host was probed.
    if (ManagedServer* server = serverNamed(name)) {
        // When the host itself is unreachable, only its own DOWN alert is raised.
        if ((oldStatus == up || oldStatus == "INIT") && server->networkStatus == up) {
            server->snmpStatus = down;
            m_ctx.raiseStateAlert(name, down, kStateSourceAgent);
        }
        server->pollPending = 0;
        server->lastFailure =
            server->networkStatus == down
                ? LoadString(IDS_FAILURE_HOST_SILENT)
                : FormatString(IDS_FAILURE_AGENT_SILENT,
                               {std::to_string(m_ctx.settings.retry + 1),
                                QString::number(m_ctx.settings.timeout / 100.0, 'g', 3).toStdString()});
        server->lastFailureTime = std::time(nullptr);
        m_ctx.cells.SetSnmpStatusCell(name, down);
        server->snmpStatus = down;
    }

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
    const ManagedServer* at = serverAt(address);
    if (at == nullptr)
        return 0;
    const std::string name = at->name;
    ManagedServer& server = *serverNamed(name);
    const std::string& up = LoadString(IDS_UP);
    if (server.networkStatus == LoadString(IDS_DOWN))
        m_ctx.raiseStateAlert(name, up, kStateSourceNetwork);
    server.networkStatus = up;
    server.lastAnswer = std::time(nullptr);
    m_ctx.cells.SetPollStatusCell(name, up);
    return 0;
}

int PollCycle::OnHostUnreachable(const std::string& address) {
    const ManagedServer* at = serverAt(address);
    if (at == nullptr)
        return 0;
    const std::string name = at->name;
    ManagedServer& server = *serverNamed(name);
    const std::string& down = LoadString(IDS_DOWN);
    if (server.networkStatus == LoadString(IDS_UP) || server.networkStatus == "INIT") {
        server.networkStatus = down;
        m_ctx.raiseStateAlert(name, down, kStateSourceNetwork);
    }
    m_ctx.cells.SetPollStatusCell(name, down);
    return 0;
}

void PollCycle::PingServer(const std::string& serverName, std::function<void()> then) {
    const ManagedServer* server = serverNamed(serverName);
    if (server == nullptr) {
        then();
        return;
    }
    const bool ipx = ServerIpAddress(*server).empty();
    const std::string address = ipx ? server->ipxAddress : ServerIpAddress(*server);
    m_ctx.echo.probe(address, ipx, [this, address, then = std::move(then)](int result) {
        if (result == 0)
            OnHostReachable(address);
        else
            OnHostUnreachable(address);
        then();
    });
}

void PollCycle::whenSettled(const std::string& address, std::function<void()> work) {
    const ManagedServer* server = serverAt(address);
    if (server != nullptr && isSettling(server->name))
        hold(server->name, std::move(work));
    else
        work();
}

void PollCycle::hold(const std::string& serverName, std::function<void()> work) {
    m_held[serverName].push_back(std::move(work));
}
