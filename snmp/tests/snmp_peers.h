#pragma once
// Real Net-SNMP peers for the layer's tests: snmpd on loopback, snmptrap and
// snmpinform, and a silent UDP socket.

#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace peers {

inline int run(const std::vector<std::string>& args) {
    return testsupport::runProcess(args);
}

// A UDP port that was free a moment ago.
inline std::uint16_t freePort() {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    close(s);
    return ntohs(a.sin_port);
}

// A bound loopback socket that never answers; counts what reaches it.
struct SilentPort : testsupport::SilentUdpPort {
    SilentPort() : SilentUdpPort("127.0.0.1", 0) {}
    int drain() { return received(); }
};

// snmpd on 127.0.0.1:port with community "public" (read) and "private"
// (read-write); sysContact and sysLocation are writable.
class Agent {
public:
    explicit Agent(const std::string& dir) : m_port(freePort()), m_snmpd(dir, configuration(m_port)) {}
    std::uint16_t port() const { return m_port; }
    UdpAddress address() const { return UdpAddress(IpAddress("127.0.0.1"), m_port); }

    // Waits (bounded) until the agent answers a get of sysDescr.0.
    bool ready(Snmp& session) const {
        CTarget target(address());
        target.set_retry(0);
        target.set_timeout(20);
        for (int attempt = 0; attempt < 100; ++attempt) {
            Pdu pdu;
            pdu += Vb(Oid("1.3.6.1.2.1.1.1.0"));
            if (session.get(pdu, target) == kSnmpSuccess)
                return true;
        }
        return false;
    }

private:
    static std::string configuration(std::uint16_t port) {
        return "agentaddress udp:127.0.0.1:" + std::to_string(port) +
               "\nrocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n";
    }

    std::uint16_t m_port;
    testsupport::SnmpdPeer m_snmpd;
};

} // namespace peers
