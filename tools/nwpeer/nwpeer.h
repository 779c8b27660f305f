#pragma once
// A simulated NetWare host on the IPX layer, for tests and by-hand trials. It
// answers for the file servers its configuration names: IPX diagnostic
// requests (socket 0x0456) addressed to one of them or to the broadcast node,
// and SAP general and nearest-service queries (socket 0x0452) for file servers.
//
// Its configuration file has the form of ipx.ini: adapter 0 gives the UDP
// address it listens on, the routes carry its answers; [Servers] lists
// name=NNNNNNNN:HHHHHHHHHHHH for each server it stands for, in order.

#include "ipx.h"

#include <atomic>
#include <mutex>
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

    ipx::Config m_config;
    std::vector<Server> m_servers;
    int m_diagnosticSocket = -1;
    int m_sapSocket = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_silent{false};
    std::atomic<int> m_diagnosticRequests{0};
    std::atomic<int> m_sapQueries{0};
    mutable std::mutex m_mutex;
    ipx::Header m_lastRequest;
    std::vector<std::uint8_t> m_lastData;
};
