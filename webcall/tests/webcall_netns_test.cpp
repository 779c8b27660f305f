// httpTransaction against the management server of deploy/ on a real
// lighttpd, over HTTP and HTTPS with a CA made here.
#include "tests/support/management_server.h"
#include "tests/support/private_program_dir.h"
#include "tests/support/testsupport.h"
#include "webcall/exchange.h"
#include "webcall/webcall.h"

#include <arpa/inet.h>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::accepts;
using testsupport::kHttpPort;
using testsupport::kHttpsPort;
using testsupport::loopback;
using testsupport::ManagementServer;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const std::string kList = "[SERVERS]\r\nFS1=1\r\n[FS1]\r\nIP=10.0.0.1\r\n";

// A socket listening on port that accepts nothing by itself.
int listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = loopback(port);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd, 4), 0);
    return fd;
}

// One console: its program directory with rlaweb.ini and the transfer file.
struct Console {
    testsupport::TempDir dir;
    std::string ini() const { return dir.file("rlaweb.ini"); }
    std::string transfer() const { return dir.file("result.txt"); }
    int call(int mode, const std::string& user = "anna", const std::string& password = "secret",
             const char* host = "127.0.0.1", int port = kHttpPort, uint8_t ssl = 0) const {
        const std::string first = mode == WEBCALL_FETCH        ? transfer()
                                  : mode == WEBCALL_WRITE_BACK ? ini()
                                                               : "";
        const std::string second = mode == WEBCALL_FETCH        ? ini()
                                   : mode == WEBCALL_WRITE_BACK ? transfer()
                                                                : "anything";
        return httpTransaction(host, port, user.c_str(), password.c_str(), mode, first.c_str(),
                               second.c_str(), ssl);
    }
};

TEST(WebcallTest, ProbeTellsAccessFromTheUserFile) {
    ManagementServer server;
    Console console;
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "wrong"), WEBCALL_DENIED);
    EXPECT_EQ(console.call(WEBCALL_PROBE, "nobody", "secret"), WEBCALL_DENIED);
    EXPECT_EQ(console.call(WEBCALL_PROBE, "bo", "reader"), WEBCALL_READ_ACCESS);
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "secret"), WEBCALL_FULL_ACCESS);
}

TEST(WebcallTest, NoticesNameTheEventAndTheConsole) {
    ManagementServer server;
    Console console;
    EXPECT_EQ(console.call(WEBCALL_START_NOTICE), WEBCALL_DONE);
    EXPECT_EQ(console.call(WEBCALL_END_NOTICE, "bo", "reader"), WEBCALL_DONE);
    EXPECT_EQ(console.call(WEBCALL_END_NOTICE, "anna", "wrong"), WEBCALL_DENIED);
    server.stop();
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string log = server.accessLog();
    EXPECT_NE(log.find("notice.txt?event=start&console=" + std::string(host)), std::string::npos) << log;
    EXPECT_NE(log.find("notice.txt?event=end&console=" + std::string(host)), std::string::npos) << log;
}

TEST(WebcallTest, FetchReplacesTheListAndWriteBackReturnsIt) {
    ManagementServer server;
    server.putList(kList);
    Console console;
    writeFile(console.ini(), "[SERVERS]\r\nOLD=1\r\n");
    EXPECT_EQ(console.call(WEBCALL_FETCH, "bo", "wrong"), WEBCALL_DENIED);
    EXPECT_EQ(readFile(console.ini()), "[SERVERS]\r\nOLD=1\r\n");
    ASSERT_EQ(console.call(WEBCALL_FETCH, "bo", "reader"), WEBCALL_DONE);
    EXPECT_EQ(readFile(console.ini()), kList);
    EXPECT_FALSE(readFile(webcall::etagPath(console.ini())).empty());

    const std::string edited = kList + "[FS2]\r\nIP=10.0.0.2\r\n";
    writeFile(console.ini(), edited);
    EXPECT_EQ(console.call(WEBCALL_WRITE_BACK, "bo", "reader"), WEBCALL_DENIED);
    EXPECT_EQ(server.list(), kList);
    ASSERT_EQ(console.call(WEBCALL_WRITE_BACK), WEBCALL_DONE);
    EXPECT_EQ(server.list(), edited);
    // The ETag of the written list is kept: a second write-back goes through.
    EXPECT_EQ(console.call(WEBCALL_WRITE_BACK), WEBCALL_DONE);
}

TEST(WebcallTest, SecondWriteBackOfTheSameListIsRefusedAndKept) {
    ManagementServer server;
    Console first, second;
    // Nothing on the server yet: the first list is created; the other, never
    // fetched, is refused, and as nothing changed nothing is kept aside.
    writeFile(first.ini(), "[SERVERS]\r\nA=1\r\n[A]\r\n");
    writeFile(second.ini(), "[SERVERS]\r\nB=1\r\n");
    ASSERT_EQ(first.call(WEBCALL_WRITE_BACK), WEBCALL_DONE);
    EXPECT_EQ(second.call(WEBCALL_WRITE_BACK), WEBCALL_NOT_FETCHED);
    EXPECT_EQ(server.list(), "[SERVERS]\r\nA=1\r\n[A]\r\n");
    EXPECT_FALSE(std::filesystem::exists(webcall::rejectedPath(second.ini())));

    // Both fetch, both write back: the second is refused, nothing is lost.
    ASSERT_EQ(first.call(WEBCALL_FETCH), WEBCALL_DONE);
    ASSERT_EQ(second.call(WEBCALL_FETCH), WEBCALL_DONE);
    writeFile(first.ini(), "[SERVERS]\r\nA=1\r\nC=1\r\n[A]\r\n[C]\r\n");
    writeFile(second.ini(), "[SERVERS]\r\nA=1\r\nD=1\r\n");
    ASSERT_EQ(first.call(WEBCALL_WRITE_BACK), WEBCALL_DONE);
    EXPECT_EQ(second.call(WEBCALL_WRITE_BACK), WEBCALL_CHANGED);
    EXPECT_EQ(server.list(), "[SERVERS]\r\nA=1\r\nC=1\r\n[A]\r\n[C]\r\n");
    EXPECT_EQ(readFile(second.ini()), "[SERVERS]\r\nA=1\r\nD=1\r\n");
    EXPECT_EQ(readFile(webcall::rejectedPath(second.ini())), "[SERVERS]\r\nA=1\r\nD=1\r\n");
}

TEST(WebcallTest, ConcurrentWriteBacksLetExactlyOneThrough) {
    ManagementServer server;
    server.putList(kList);
    std::array<Console, 4> consoles;
    std::array<int, 4> results{};
    for (size_t i = 0; i < consoles.size(); ++i) {
        ASSERT_EQ(consoles[i].call(WEBCALL_FETCH), WEBCALL_DONE);
        writeFile(consoles[i].ini(), kList + "C" + std::to_string(i) + "=1\r\n");
    }
    std::vector<std::thread> threads;
    for (size_t i = 0; i < consoles.size(); ++i)
        threads.emplace_back([&, i] { results[i] = consoles[i].call(WEBCALL_WRITE_BACK); });
    for (auto& t : threads)
        t.join();
    int winners = 0;
    for (size_t i = 0; i < consoles.size(); ++i) {
        if (results[i] == WEBCALL_DONE) {
            ++winners;
            EXPECT_EQ(server.list(), readFile(consoles[i].ini()));
        } else {
            EXPECT_EQ(results[i], WEBCALL_CHANGED);
            EXPECT_EQ(readFile(webcall::rejectedPath(consoles[i].ini())), readFile(consoles[i].ini()));
        }
    }
    EXPECT_EQ(winners, 1);
}

TEST(WebcallTest, FetchOfABadListLeavesTheLocalOneIntact) {
    ManagementServer server;
    Console console;
    const std::string local = "[SERVERS]\r\nMINE=1\r\n";
    writeFile(console.ini(), local);
    EXPECT_EQ(console.call(WEBCALL_FETCH), WEBCALL_FAILED) << "no list on the server";
    server.putList("<html><body>Welcome</body></html>\n");
    EXPECT_EQ(console.call(WEBCALL_FETCH), WEBCALL_FAILED) << "garbage";
    std::string huge = kList + "; " + std::string(webcall::kMaxListSize, 'x') + "\r\n";
    server.putList(huge);
    EXPECT_EQ(console.call(WEBCALL_FETCH), WEBCALL_FAILED) << "over 16 MiB";
    EXPECT_EQ(readFile(console.ini()), local);
    EXPECT_FALSE(std::filesystem::exists(webcall::etagPath(console.ini())));
}

TEST(WebcallTest, WriteBackOver16MiBIsRefused) {
    ManagementServer server;
    server.putList(kList);
    Console console;
    ASSERT_EQ(console.call(WEBCALL_FETCH), WEBCALL_DONE);
    writeFile(console.ini(), kList + "; " + std::string(webcall::kMaxListSize, 'x') + "\r\n");
    EXPECT_EQ(console.call(WEBCALL_WRITE_BACK), WEBCALL_FAILED);
    EXPECT_EQ(server.list(), kList);
}

TEST(WebcallTest, HttpsTrustsOnlyTheSystemAndTheCaBesideTheProgram) {
    testsupport::PrivateProgramDirectory programDir;
    ASSERT_TRUE(programDir.ok());
    ManagementServer server;
    server.putList(kList);
    Console console;
    writeFile(console.ini(), "[SERVERS]\r\nMINE=1\r\n");
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "secret", "localhost", kHttpsPort, 1), WEBCALL_FAILED)
        << "untrusted certificate";
    EXPECT_EQ(console.call(WEBCALL_FETCH, "anna", "secret", "localhost", kHttpsPort, 1), WEBCALL_FAILED);
    EXPECT_EQ(readFile(console.ini()), "[SERVERS]\r\nMINE=1\r\n");

    programDir.write("webcall-ca.pem", server.caPem());
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "secret", "localhost", kHttpsPort, 1), WEBCALL_FULL_ACCESS);
    EXPECT_EQ(console.call(WEBCALL_PROBE, "bo", "reader", "127.0.0.1", kHttpsPort, 1), WEBCALL_READ_ACCESS);
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "secret", "127.0.0.2", kHttpsPort, 1), WEBCALL_FAILED)
        << "certificate for another host name";
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "secret", "localhost", kHttpPort, 1), WEBCALL_FAILED)
        << "HTTPS to the HTTP port";
    ASSERT_EQ(console.call(WEBCALL_FETCH, "anna", "secret", "localhost", kHttpsPort, 1), WEBCALL_DONE);
    EXPECT_EQ(readFile(console.ini()), kList);
}

TEST(WebcallTest, DeadOrSilentServerFailsAndLeavesTheListIntact) {
    Console console;
    writeFile(console.ini(), kList);
    EXPECT_EQ(console.call(WEBCALL_PROBE), WEBCALL_FAILED) << "nothing listens";
    EXPECT_EQ(console.call(WEBCALL_FETCH), WEBCALL_FAILED);
    EXPECT_EQ(console.call(WEBCALL_PROBE, "anna", "secret", "no-such-host.invalid"), WEBCALL_FAILED);

    // A server that accepts and never answers: the whole call's time-out ends it.
    webcall::Call call;
    call.serverName = "127.0.0.1";
    call.port = kHttpPort;
    call.mode = WEBCALL_FETCH;
    call.firstText = console.transfer();
    call.secondText = console.ini();
    const int silent = listening(kHttpPort);
    EXPECT_EQ(webcall::transaction(call, "", {500, 1500}), WEBCALL_FAILED);
    ::close(silent);

    // One that answers with bytes that are no HTTP.
    const int junkServer = listening(kHttpPort);
    std::thread junk([junkServer] {
        pollfd p{junkServer, POLLIN, 0};
        if (::poll(&p, 1, 5000) == 1) {
            const int c = ::accept(junkServer, nullptr, nullptr);
            const char bytes[] = "\x16\x03garbage\r\n\r\n[SERVERS]\r\n";
            (void)!::write(c, bytes, sizeof bytes - 1);
            ::close(c);
        }
    });
    EXPECT_EQ(webcall::transaction(call, "", {500, 5000}), WEBCALL_FAILED);
    junk.join();
    ::close(junkServer);
    EXPECT_EQ(readFile(console.ini()), kList);
}

TEST(WebcallTest, ServerListValidation) {
    EXPECT_TRUE(webcall::isServerList("[servers]\nA=1\n[a]\n"));
    EXPECT_TRUE(webcall::isServerList("; comment\n[ServerInfo]\n"));
    EXPECT_FALSE(webcall::isServerList(""));
    EXPECT_FALSE(webcall::isServerList("[SERVERSX]\nA=1\n"));
    EXPECT_FALSE(webcall::isServerList(std::string("[SERVERS]\nA=1\n\0", 15)));
}

} // namespace
