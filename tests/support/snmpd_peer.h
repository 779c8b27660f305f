#pragma once
// Net-SNMP's snmpd as a real peer, run with a configuration of the test's own
// in the test's network namespace (where port 161 is free to take).

#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

// Runs args, output to `output`; the process id, or -1.
inline pid_t spawnProcess(const std::vector<std::string>& args, const std::string& output = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs args to their end; the exit status, or -1.
inline int runProcess(const std::vector<std::string>& args) {
    const pid_t pid = spawnProcess(args);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// snmpd with the given configuration lines, its files in dir (with '/').
class SnmpdPeer {
public:
    SnmpdPeer(const std::string& dir, const std::string& config) {
        const std::string conf = dir + "snmpd.conf";
        std::ofstream(conf) << config;
        setenv("SNMP_PERSISTENT_DIR", dir.c_str(), 1);
        m_pid = spawnProcess({"snmpd", "-f", "-Lo", "-C", "-c", conf, "-M", dir, "-m", "", "-I", "-smux"},
                             dir + "snmpd.log");
        unsetenv("SNMP_PERSISTENT_DIR");
    }
    ~SnmpdPeer() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    SnmpdPeer(const SnmpdPeer&) = delete;
    SnmpdPeer& operator=(const SnmpdPeer&) = delete;

    // Waits (at most about 10 s) until the agent at address answers a get of
    // sysUpTime.0 with community.
    bool ready(const std::string& address, const std::string& community) const {
        for (int attempt = 0; m_pid > 0 && attempt < 50; ++attempt) {
            if (runProcess({"snmpget", "-v1", "-c", community, "-r", "0", "-t", "0.2", "-m", "", address,
                            "1.3.6.1.2.1.1.3.0"}) == 0)
                return true;
        }
        return false;
    }

private:
    pid_t m_pid = -1;
};

// A UDP socket on address:port (0: any free port) that never answers and
// counts what reaches it.
class SilentUdpPort {
public:
    SilentUdpPort(const char* address, std::uint16_t port) {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(address);
        m_bound = bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        socklen_t length = sizeof a;
        if (m_bound && getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            m_port = ntohs(a.sin_port);
    }
    ~SilentUdpPort() { close(m_fd); }
    SilentUdpPort(const SilentUdpPort&) = delete;
    SilentUdpPort& operator=(const SilentUdpPort&) = delete;
    bool bound() const { return m_bound; }
    std::uint16_t port() const { return m_port; }
    int received() {
        char buffer[2048];
        int n = 0;
        while (recv(m_fd, buffer, sizeof buffer, 0) >= 0)
            ++n;
        return n;
    }

private:
    int m_fd = -1;
    bool m_bound = false;
    std::uint16_t m_port = 0;
};

} // namespace testsupport
