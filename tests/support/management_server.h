#pragma once
// The management server of deploy/ on a real lighttpd for tests: users anna
// (full access) and bo (read-only), HTTP and HTTPS on loopback, with a CA made
// here. Runs in the test's own network namespace.

#include "tests/support/testsupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

constexpr int kHttpPort = 8080;
constexpr int kHttpsPort = 8443;

inline void run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

inline sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// lighttpd with the management-server configuration of deploy/: users anna
// (full access) and bo (read-only), HTTP on 8080 and HTTPS on 8443 of every
// loopback address, a certificate for localhost and 127.0.0.1.
class ManagementServer {
public:
    ManagementServer() {
        const std::string d = m_dir.path();
        const std::string deploy = testsupport::sourcePath("deploy/management-server/");
        run("cp -r " + deploy + "www " + d + "www && mkdir " + d + "up");
        run("printf 'anna:%s\\nbo:%s\\n' \"$(openssl passwd -apr1 secret)\" \"$(openssl passwd -apr1 "
            "reader)\" > " +
            d + "users");
        run("cd " + d +
            " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key"
            " -out ca.pem -days 2 -subj /CN=VardelTestCA 2>/dev/null"
            " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key"
            " -out server.csr -subj /CN=localhost 2>/dev/null"
            " && printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\\n' > ext"
            " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
            " -extfile ext -out server.pem 2>/dev/null");
        writeFile(
            d + "lighttpd.conf",
            "server.document-root = \"" + d +
                "www\"\n"
                "server.bind = \"0.0.0.0\"\n"
                "server.port = " +
                std::to_string(kHttpPort) +
                "\n"
                "server.upload-dirs = ( \"" +
                d +
                "up\" )\n"
                "server.errorlog = \"" +
                d +
                "error.log\"\n"
                "server.modules = ( \"mod_indexfile\", \"mod_access\", \"mod_alias\", \"mod_staticfile\" )\n"
                "include_shell \"/usr/share/lighttpd/create-mime.conf.pl\"\n"
                "var.vardel_home = \"" +
                d +
                "www\"\n"
                "var.vardel_users = \"" +
                d +
                "users\"\n"
                "var.vardel_writers = \"user=anna\"\n"
                "include \"" +
                deploy +
                "vardel.conf\"\n"
                "accesslog.filename = \"" +
                d +
                "access.log\"\n"
                "var.vardel_https_socket = \":" +
                std::to_string(kHttpsPort) +
                "\"\n"
                "var.vardel_certificate = \"" +
                d +
                "server.pem\"\n"
                "var.vardel_key = \"" +
                d +
                "server.key\"\n"
                "include \"" +
                deploy + "tls.conf\"\n");
        start();
    }
    ~ManagementServer() { stop(); }

    void start() {
        m_pid = ::fork();
        if (m_pid == 0) {
            const std::string conf = m_dir.file("lighttpd.conf");
            ::execlp("lighttpd", "lighttpd", "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !(accepts(kHttpPort) && accepts(kHttpsPort)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        ASSERT_TRUE(accepts(kHttpPort)) << readFile(m_dir.file("error.log"));
    }
    // Stops the server; its access log is then complete.
    void stop() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    std::string list() const { return readFile(m_dir.file("www/vardel/rlaweb.ini")); }
    void putList(const std::string& content) const {
        writeFile(m_dir.file("www/vardel/rlaweb.ini"), content);
    }
    std::string accessLog() const { return readFile(m_dir.file("access.log")); }
    std::string caPem() const { return readFile(m_dir.file("ca.pem")); }

private:
    testsupport::TempDir m_dir;
    pid_t m_pid = -1;
};

} // namespace testsupport
