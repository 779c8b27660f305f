#pragma once
// A simulated NetWare host on the IPX layer, for tests and by-hand trials. It
// answers for the file servers its configuration names: IPX diagnostic
// requests (socket 0x0456) addressed to one of them or to the broadcast node,
// and SAP general and nearest-service queries (socket 0x0452) for file servers.
//
// Its configuration file has the form of ipx.ini: adapter 0 gives the UDP
// address it listens on, the routes carry its answers; [Servers] lists
// name=NNNNNNNN:HHHHHHHHHHHH for each server it stands for, in order.
//
// SNMP (optional section [Snmp]): with Agent=a.b.c.d:port, SNMP requests to
// socket 0x900F of a server are relayed over UDP to that agent and its answers
// carried back, from the server, to the requester. With TrapRelay=port and
// TrapTo=NNNNNNNN:HHHHHHHHHHHH, SNMP messages arriving at that UDP port of
// adapter 0's address are sent over IPX from the first server to socket
// 0x9010 of TrapTo.

#include "platform/ipx/ipx.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class NetWarePeer {
public:
    struct Server {
        std::string name;
        ipx::Address address;
    };

    explicit NetWarePeer(const std::string& configPath);
    ~NetWarePeer();
    NetWarePeer(const NetWarePeer&) = delete;
    NetWarePeer& operator=(const NetWarePeer&) = delete;

    // Opens its sockets and starts answering; false (with a reason) when it cannot.
    bool start(std::string* error = nullptr);
    void stop();

    // A silent peer still counts what it receives but answers nothing.
    void setSilent(bool silent) { m_silent = silent; }
    // A silent agent: SNMP requests are dropped while the host still answers
    // diagnostics and SAP.
    void setAgentSilent(bool silent) { m_agentSilent = silent; }
    // SNMP requests relayed to the agent so far.
    int snmpRequests() const { return m_snmpRequests; }
    const std::vector<Server>& servers() const { return m_servers; }

    // Diagnostic requests and SAP queries received, answered or not.
    int diagnosticRequests() const { return m_diagnosticRequests; }
    int sapQueries() const { return m_sapQueries; }
    // Header of the last diagnostic request.
    ipx::Header lastDiagnosticRequest() const;
    std::vector<std::uint8_t> lastDiagnosticData() const;

private:
    void run();
    void handle(int fd, const ipx::Header& header, const std::uint8_t* data, std::size_t size);
    void answer(const ipx::Header& request, const ipx::Address& from, const std::vector<std::uint8_t>& data);
    void relayRequest(const ipx::Header& header, const std::uint8_t* data, std::size_t size);
    void relayAnswer(int fd);
    void relayTrap();
    void watch(int fd);
    void sendIpx(int fd, const ipx::Address& from, const ipx::Address& to, const std::uint8_t* data,
                 std::size_t size);

    // One UDP socket towards the agent per requester and server, so that an
    // answer goes back to whoever asked, from the server asked.
    struct Relay {
        ipx::Address requester;
        ipx::Address server;
    };
    using RelayKey = std::array<std::uint8_t, 24>;
    static RelayKey relayKey(const ipx::Address& requester, const ipx::Address& server);
    ipx::Config m_config;
    std::vector<Server> m_servers;
    int m_diagnosticSocket = -1;
    int m_sapSocket = -1;
    int m_snmpSocket = -1;
    int m_trapRelaySocket = -1;
    std::string m_agent; // a.b.c.d:port, empty: no SNMP
    std::optional<ipx::Address> m_trapTo;
    std::uint16_t m_trapRelayPort = 0;
    std::map<int, Relay> m_relays;
    std::map<RelayKey, int> m_relayByKey;
    int m_epoll = -1;
    std::atomic<bool> m_agentSilent{false};
    std::atomic<int> m_snmpRequests{0};
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_silent{false};
    std::atomic<int> m_diagnosticRequests{0};
    std::atomic<int> m_sapQueries{0};
    mutable std::mutex m_mutex;
    ipx::Header m_lastRequest;
    std::vector<std::uint8_t> m_lastData;
};
