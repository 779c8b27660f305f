#pragma once
// Real Net-SNMP peers for the layer's tests: snmpd on loopback, snmptrap and
// snmpinform, and a silent UDP socket.

#include "snmp.h"
#include "snmpd_peer.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace peers {

inline pid_t spawn(const std::vector<std::string>& args, const std::string& output = "/dev/null") {
    return testsupport::spawnProcess(args, output);
}

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
    explicit Agent(const std::string& dir) : m_port(freePort()) {
        std::string conf = dir + "snmpd.conf";
        std::ofstream(conf) << "agentaddress udp:127.0.0.1:" << m_port << "\n"
                            << "rocommunity public 127.0.0.1\n"
                            << "rwcommunity private 127.0.0.1\n";
        setenv("SNMP_PERSISTENT_DIR", dir.c_str(), 1);
        m_pid = spawn({"snmpd", "-f", "-Lo", "-C", "-c", conf, "-M", dir, "-m", "", "-I", "-smux"},
                      dir + "snmpd.log");
        unsetenv("SNMP_PERSISTENT_DIR");
    }
    ~Agent() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
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
    std::uint16_t m_port;
    pid_t m_pid = -1;
};

} // namespace peers
