#include "tools/nwpeer/nwpeer.h"

#include "platform/profile/profile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::uint16_t kDiagnosticSocket = 0x0456;
constexpr std::uint16_t kSapSocket = 0x0452;
constexpr std::uint16_t kNcpSocket = 0x0451;
constexpr std::uint16_t kSnmpSocket = 0x900F;
constexpr std::uint16_t kSnmpTrapSocket = 0x9010;
constexpr std::size_t kMaxRelays = 4096;
constexpr std::uint16_t kFileServer = 0x0004;
constexpr std::uint16_t kGeneralQuery = 1, kGeneralResponse = 2, kNearestQuery = 3, kNearestResponse = 4;
constexpr std::size_t kSapEntry = 64;
constexpr std::size_t kEntriesPerPacket = 7;
// Room for a whole poll cycle's requests arriving at once.
constexpr int kReceiveBuffer = 4 << 20;

int openUdp(const std::string& address, std::uint16_t port, std::string* error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        *error = "bad UDP address " + address;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        *error = address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

bool addressedTo(const ipx::Address& destination, const ipx::Address& server) {
    if (ipx::isBroadcastNode(destination.node))
        return true;
    const std::uint8_t zero[4]{};
    return std::memcmp(destination.node, server.node, 6) == 0 &&
           (std::memcmp(destination.network, zero, 4) == 0 ||
            std::memcmp(destination.network, server.network, 4) == 0);
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

} // namespace

NetWarePeer::NetWarePeer(const std::string& configPath) : m_config(ipx::Config::load(configPath)) {
    const profile::Document doc = profile::load(configPath);
    for (const std::string& name : doc.sectionKeys("Servers", 1 << 20))
        if (auto a = ipx::parseAddress(doc.getString("Servers", name, "", 64)))
            m_servers.push_back(Server{name, *a});
    m_agent = doc.getString("Snmp", "Agent", "", 64);
    m_trapTo = ipx::parseAddress(doc.getString("Snmp", "TrapTo", "", 64));
    m_trapRelayPort = static_cast<std::uint16_t>(doc.getInt("Snmp", "TrapRelay", 0));
}

NetWarePeer::~NetWarePeer() {
    stop();
}

bool NetWarePeer::start(std::string* error) {
    // A relay socket per requester and server: many servers need more than
    // the usual soft limit of descriptors.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    std::string reason;
    if (m_config.adapters.empty()) {
        reason = "no adapter 0 in the configuration";
    } else if (pipe2(m_wake, O_CLOEXEC) != 0) {
        reason = std::strerror(errno);
    } else {
        const std::string& udp = m_config.adapters[0].udpAddress;
        m_diagnosticSocket = openUdp(udp, kDiagnosticSocket, &reason);
        if (m_diagnosticSocket >= 0)
            m_sapSocket = openUdp(udp, kSapSocket, &reason);
        if (m_sapSocket >= 0 && !m_agent.empty())
            m_snmpSocket = openUdp(udp, kSnmpSocket, &reason);
        if (m_sapSocket >= 0 && m_trapRelayPort != 0 && (m_agent.empty() || m_snmpSocket >= 0))
            m_trapRelaySocket = openUdp(udp, m_trapRelayPort, &reason);
    }
    if (m_sapSocket < 0 || (!m_agent.empty() && m_snmpSocket < 0) ||
        (m_trapRelayPort != 0 && m_trapRelaySocket < 0)) {
        if (error)
            *error = reason;
        stop();
        return false;
    }
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        if (error)
            *error = std::strerror(errno);
        stop();
        return false;
    }
    for (int fd : {m_wake[0], m_diagnosticSocket, m_sapSocket, m_snmpSocket, m_trapRelaySocket})
        watch(fd);
    if (m_snmpSocket >= 0)
        setsockopt(m_snmpSocket, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    m_thread = std::thread([this] { run(); });
    return true;
}

void NetWarePeer::watch(int fd) {
    if (fd < 0)
        return;
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = fd;
    epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e);
}

NetWarePeer::RelayKey NetWarePeer::relayKey(const ipx::Address& requester, const ipx::Address& server) {
    RelayKey key{};
    auto* at = key.data();
    for (const ipx::Address* a : {&requester, &server}) {
        at = std::copy(a->network, a->network + 4, at);
        at = std::copy(a->node, a->node + 6, at);
        *at++ = static_cast<std::uint8_t>(a->socket >> 8);
        *at++ = static_cast<std::uint8_t>(a->socket);
    }
    return key;
}

void NetWarePeer::stop() {
    if (m_thread.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &byte, 1);
        m_thread.join();
    }
    for (const auto& relay : m_relays)
        ::close(relay.first);
    m_relays.clear();
    m_relayByKey.clear();
    for (int* fd : {&m_diagnosticSocket, &m_sapSocket, &m_snmpSocket, &m_trapRelaySocket, &m_wake[0],
                    &m_wake[1], &m_epoll}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

ipx::Header NetWarePeer::lastDiagnosticRequest() const {
    std::lock_guard lock(m_mutex);
    return m_lastRequest;
}

std::vector<std::uint8_t> NetWarePeer::lastDiagnosticData() const {
    std::lock_guard lock(m_mutex);
    return m_lastData;
}

void NetWarePeer::run() {
    std::uint8_t buf[ipx::kMaxPacket + 1];
    epoll_event events[64];
    for (;;) {
        const int ready = epoll_wait(m_epoll, events, 64, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_wake[0])
                return;
            if (fd == m_trapRelaySocket) {
                relayTrap();
            } else if (fd == m_diagnosticSocket || fd == m_sapSocket || fd == m_snmpSocket) {
                // Drain what has queued up; the descriptors are level-triggered.
                for (int n = 0; n < 64; ++n) {
                    const ssize_t got = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                    if (got < 0)
                        break;
                    ipx::Header header;
                    const std::uint8_t* data = nullptr;
                    std::size_t size = 0;
                    if (ipx::decode(buf, static_cast<std::size_t>(got), header, data, size) ==
                        ipx::Decode::Ok)
                        handle(fd, header, data, size);
                }
            } else {
                relayAnswer(fd);
            }
        }
    }
}

void NetWarePeer::handle(int fd, const ipx::Header& header, const std::uint8_t* data, std::size_t size) {
    if (fd == m_snmpSocket) {
        if (header.destination.socket == kSnmpSocket)
            relayRequest(header, data, size);
        return;
    }
    if (fd == m_diagnosticSocket) {
        if (header.destination.socket != kDiagnosticSocket)
            return;
        ++m_diagnosticRequests;
        {
            std::lock_guard lock(m_mutex);
            m_lastRequest = header;
            m_lastData.assign(data, data + size);
        }
        if (m_silent || size < 1)
            return;
        // An exclusion count, then that many nodes that must not answer.
        const std::size_t excluded = std::min<std::size_t>(data[0], (size - 1) / 6);
        for (const Server& server : m_servers) {
            if (!addressedTo(header.destination, server.address))
                continue;
            bool skip = false;
            for (std::size_t i = 0; i < excluded; ++i)
                skip = skip || std::memcmp(data + 1 + 6 * i, server.address.node, 6) == 0;
            if (skip)
                continue;
            ipx::Address from = server.address;
            from.socket = kDiagnosticSocket;
            // Configuration response: version 1.0, no SPX diagnostic socket, one
            // component (IPX/SPX).
            answer(header, from, {1, 0, 0, 0, 1, 0});
        }
        return;
    }
    if (header.destination.socket != kSapSocket || size < 4)
        return;
    ++m_sapQueries;
    const std::uint16_t query = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    const std::uint16_t type = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
    if (m_silent || (query != kGeneralQuery && query != kNearestQuery) ||
        (type != kFileServer && type != 0xFFFF))
        return;
    std::vector<const Server*> listed;
    for (const Server& server : m_servers)
        if (ipx::isBroadcastNode(header.destination.node) || addressedTo(header.destination, server.address))
            listed.push_back(&server);
    if (listed.empty())
        return;
    if (query == kNearestQuery)
        listed.resize(1);
    ipx::Address from = listed.front()->address;
    from.socket = kSapSocket;
    for (std::size_t first = 0; first < listed.size(); first += kEntriesPerPacket) {
        std::vector<std::uint8_t> out;
        put16(out, query == kGeneralQuery ? kGeneralResponse : kNearestResponse);
        for (std::size_t i = first; i < std::min(listed.size(), first + kEntriesPerPacket); ++i) {
            const Server& s = *listed[i];
            put16(out, kFileServer);
            std::uint8_t name[48]{};
            std::memcpy(name, s.name.data(), std::min<std::size_t>(s.name.size(), 47));
            out.insert(out.end(), name, name + 48);
            out.insert(out.end(), s.address.network, s.address.network + 4);
            out.insert(out.end(), s.address.node, s.address.node + 6);
            put16(out, kNcpSocket);
            put16(out, 1); // hops
        }
        static_assert(2 + kEntriesPerPacket * kSapEntry <= ipx::kMaxData);
        answer(header, from, out);
    }
}

void NetWarePeer::answer(const ipx::Header& request, const ipx::Address& from,
                         const std::vector<std::uint8_t>& data) {
    const std::string udp = m_config.routeTo(request.source);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(request.source.socket);
    if (udp.empty() || inet_pton(AF_INET, udp.c_str(), &to.sin_addr) != 1 || request.source.socket == 0)
        return;
    ipx::Header header;
    header.destination = request.source;
    header.source = from;
    const std::vector<std::uint8_t> packet = ipx::encode(header, data.data(), data.size());
    ::sendto(from.socket == kSapSocket ? m_sapSocket : m_diagnosticSocket, packet.data(), packet.size(), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void NetWarePeer::relayRequest(const ipx::Header& header, const std::uint8_t* data, std::size_t size) {
    const Server* server = nullptr;
    for (const Server& s : m_servers)
        if (!ipx::isBroadcastNode(header.destination.node) && addressedTo(header.destination, s.address))
            server = &s;
    if (server == nullptr || header.source.socket == 0)
        return;
    ++m_snmpRequests;
    if (m_silent || m_agentSilent)
        return;
    ipx::Address from = server->address;
    from.socket = kSnmpSocket;
    const RelayKey key = relayKey(header.source, from);
    const auto known = m_relayByKey.find(key);
    int relayFd = known == m_relayByKey.end() ? -1 : known->second;
    if (relayFd < 0) {
        const std::size_t colon = m_agent.rfind(':');
        sockaddr_in agent{};
        agent.sin_family = AF_INET;
        if (m_relays.size() >= kMaxRelays || colon == std::string::npos ||
            inet_pton(AF_INET, m_agent.substr(0, colon).c_str(), &agent.sin_addr) != 1)
            return;
        agent.sin_port = htons(static_cast<std::uint16_t>(std::atoi(m_agent.c_str() + colon + 1)));
        relayFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (relayFd < 0)
            return;
        if (::connect(relayFd, reinterpret_cast<const sockaddr*>(&agent), sizeof agent) != 0) {
            ::close(relayFd);
            return;
        }
        m_relays[relayFd] = Relay{header.source, from};
        m_relayByKey[key] = relayFd;
        watch(relayFd);
    }
    [[maybe_unused]] const ssize_t n = ::send(relayFd, data, size, MSG_DONTWAIT);
}

void NetWarePeer::relayAnswer(int fd) {
    std::uint8_t buf[ipx::kMaxData];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    const auto it = m_relays.find(fd);
    if (n <= 0 || it == m_relays.end() || m_silent || m_agentSilent)
        return;
    sendIpx(m_snmpSocket, it->second.server, it->second.requester, buf, static_cast<std::size_t>(n));
}

void NetWarePeer::relayTrap() {
    std::uint8_t buf[ipx::kMaxData];
    const ssize_t n = ::recv(m_trapRelaySocket, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0 || !m_trapTo || m_servers.empty() || m_silent)
        return;
    ipx::Address from = m_servers.front().address;
    from.socket = kSnmpSocket;
    ipx::Address to = *m_trapTo;
    to.socket = kSnmpTrapSocket;
    sendIpx(m_snmpSocket >= 0 ? m_snmpSocket : m_diagnosticSocket, from, to, buf,
            static_cast<std::size_t>(n));
}

void NetWarePeer::sendIpx(int fd, const ipx::Address& from, const ipx::Address& to, const std::uint8_t* data,
                          std::size_t size) {
    const std::string udp = m_config.routeTo(to);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.socket);
    if (udp.empty() || inet_pton(AF_INET, udp.c_str(), &target.sin_addr) != 1)
        return;
    ipx::Header header;
    header.destination = to;
    header.source = from;
    const std::vector<std::uint8_t> packet = ipx::encode(header, data, size);
    if (!packet.empty())
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&target),
                 sizeof target);
}
