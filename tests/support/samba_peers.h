#pragma once
// The Samba hosts of the network-browsing tests: nmbd and smbd started by
// scripts/samba-peers, once per ctest run, as the ctest fixture samba_peers.
//
// Use from a test:
//  - CMake: vardel_add_gtest(... SAMBA_PEERS) (or the test's name in
//    vardel_add_folder_tests' SAMBA_PEERS list). Not NETNS: the test program
//    joins the fixture's namespaces itself, which needs root, as the fixture
//    does; without root the fixture is skipped and join() says why.
//  - Code: call testsupport::samba::join(Lan::smb1) before the program starts
//    any thread (threads started earlier stay where they were, a thread pool's
//    included), and GTEST_SKIP() with the reason it returns, if any. The
//    calling thread, and every thread it starts afterwards, is then on the LAN:
//      workgroup VARDELWG:  servers VSRV1 (10.77.0.11, its master browser) and
//                           VSRV2 (10.77.0.12);
//      workgroup VARDELWG2: server VSRV3 (10.77.0.13);
//    all SMB1 (NT1) and guest-browsable. join(Lan::smb2Only) moves instead to
//    a LAN whose only host, VSMB2 (10.78.0.11, workgroup VARDELNEW), refuses
//    SMB1, so that its network cannot be browsed.
//  - Names: join() also gives the thread a mount namespace of its own where
//    /etc/hosts is the fixture's file: VSRV1 and VSMB2 resolve through it, and
//    VSRV2 and VSRV3 resolve through nothing (the namespace reaches no DNS
//    server, so the look-up fails at once).

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport::samba {

inline constexpr const char* kWorkgroup = "VARDELWG";
inline constexpr const char* kServer1 = "VSRV1";
inline constexpr const char* kServer2 = "VSRV2";
inline constexpr const char* kWorkgroup2 = "VARDELWG2";
inline constexpr const char* kServer3 = "VSRV3";
inline constexpr const char* kRefusingWorkgroup = "VARDELNEW";
inline constexpr const char* kRefusingServer = "VSMB2";

enum class Lan { smb1, smb2Only };

// Moves the calling thread onto the LAN (see above). Empty on success, else
// why the peers cannot be reached.
inline std::string join(Lan lan) {
    const char* peers = std::getenv("VARDEL_SAMBA_PEERS"); // "<tag>:<directory>"
    if (peers == nullptr || std::strchr(peers, ':') == nullptr)
        return "VARDEL_SAMBA_PEERS is not set: not a SAMBA_PEERS test";
    const std::string text = peers;
    const std::string tag = text.substr(0, text.find(':'));
    const std::string directory = text.substr(text.find(':') + 1);
    const std::string name = "/run/netns/vardel-" + tag + (lan == Lan::smb1 ? "-lan" : "-rlan");
    if (geteuid() != 0)
        return "the Samba peers need root";
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "the Samba peers are not running (" + name + ": " + std::strerror(errno) + ")";
    const bool joined = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    if (!joined)
        return std::string("setns: ") + std::strerror(errno);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount((directory + "/hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0)
        return std::string("private /etc/hosts: ") + std::strerror(errno);
    return {};
}

} // namespace testsupport::samba
