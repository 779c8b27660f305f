#include "tamber/tests/netlab.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace netlab {

std::uint32_t addr(const char* dotted) {
    return inet_addr(dotted);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool inPrivateNetns() {
    // A namespace of the tests' own holds lo and at most the veth end that a
    // PeerHost adds; the machine's own namespace holds its real interfaces.
    // (/proc/self/net shows the reader's namespace; sysfs shows the mounter's.)
    std::ifstream dev("/proc/self/net/dev");
    if (!dev) {
        return false;
    }
    std::string line;
    int interfaces = 0;
    while (std::getline(dev, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue; // the two heading lines
        }
        const auto start = line.find_first_not_of(' ');
        const std::string name = line.substr(start, colon - start);
        if (name != "lo" && name != "tb0") {
            return false;
        }
        ++interfaces;
    }
    return interfaces > 0;
}

int run(const std::vector<std::string>& argv, std::string* output) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    int out[2] = {-1, -1};
    if (pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return -1;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0 && output != nullptr) {
            output->append(buf, static_cast<std::size_t>(n));
        }
    }
    close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool setEchoIgnoreAll(bool ignore) {
    std::ofstream f("/proc/sys/net/ipv4/icmp_echo_ignore_all");
    f << (ignore ? "1\n" : "0\n");
    f.flush();
    return static_cast<bool>(f);
}

int socketIn(int nsFd, int domain, int type, int protocol) {
    if (nsFd < 0) {
        return socket(domain, type, protocol);
    }
    // A socket belongs to the namespace it was created in: create it in a
    // thread that has joined the other namespace.
    int fd = -1;
    std::thread([&] {
        if (setns(nsFd, CLONE_NEWNET) == 0) {
            fd = socket(domain, type, protocol);
        }
    }).join();
    return fd;
}

std::uint16_t inetChecksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    }
    if (length % 2 != 0) {
        sum += static_cast<std::uint32_t>(data[length - 1] << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::uint32_t Packet::src() const {
    std::uint32_t a;
    std::memcpy(&a, bytes.data() + 12, 4);
    return a;
}

std::uint32_t Packet::dst() const {
    std::uint32_t a;
    std::memcpy(&a, bytes.data() + 16, 4);
    return a;
}

Bytes icmpMessage(int type, int code, int identifier, int sequence, const Bytes& data) {
    Bytes m = {static_cast<std::uint8_t>(type),
               static_cast<std::uint8_t>(code),
               0,
               0,
               static_cast<std::uint8_t>(identifier >> 8),
               static_cast<std::uint8_t>(identifier),
               static_cast<std::uint8_t>(sequence >> 8),
               static_cast<std::uint8_t>(sequence)};
    m.insert(m.end(), data.begin(), data.end());
    const std::uint16_t sum = inetChecksum(m.data(), m.size());
    m[2] = static_cast<std::uint8_t>(sum >> 8);
    m[3] = static_cast<std::uint8_t>(sum);
    return m;
}

Bytes ipDatagram(std::uint32_t src, std::uint32_t dst, const Bytes& icmp, const Bytes& options) {
    const std::size_t headerLength = 20 + options.size();
    const std::size_t total = headerLength + icmp.size();
    Bytes d(headerLength, 0);
    d[0] = static_cast<std::uint8_t>(0x40 | (headerLength / 4));
    d[2] = static_cast<std::uint8_t>(total >> 8);
    d[3] = static_cast<std::uint8_t>(total);
    d[8] = 64;
    d[9] = IPPROTO_ICMP;
    std::memcpy(d.data() + 12, &src, 4);
    std::memcpy(d.data() + 16, &dst, 4);
    std::copy(options.begin(), options.end(), d.begin() + 20);
    const std::uint16_t sum = inetChecksum(d.data(), headerLength);
    d[10] = static_cast<std::uint8_t>(sum >> 8);
    d[11] = static_cast<std::uint8_t>(sum);
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

Bytes replyTo(const Packet& request, const ReplySpec& reply) {
    const Bytes data(request.icmp() + 8, request.icmp() + request.icmpLength());
    const Bytes icmp = icmpMessage(reply.type, reply.code, request.identifier() + reply.identifierDelta,
                                   request.sequence() + reply.sequenceDelta, data);
    return ipDatagram(reply.src != 0 ? reply.src : request.dst(), request.src(), icmp, reply.ipOptions);
}

// ---- IcmpCapture ------------------------------------------------------------

IcmpCapture::IcmpCapture(int nsFd) {
    m_socket = socketIn(nsFd, AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    m_injector = socketIn(nsFd, AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    int big = 1 << 20;
    setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    // Arrival times from the kernel: a busy machine may wake this thread late.
    int on = 1;
    setsockopt(m_socket, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    m_thread = std::thread([this] { loop(); });
}

IcmpCapture::~IcmpCapture() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_thread.join();
    close(m_socket);
    close(m_injector);
}

void IcmpCapture::setResponder(Responder responder) {
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

void IcmpCapture::inject(const Bytes& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr.s_addr, datagram.data() + 16, 4);
    sendto(m_injector, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

void IcmpCapture::loop() {
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop) {
                return;
            }
        }
        pollfd p{m_socket, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            continue;
        }
        std::uint8_t buf[65536];
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(m_socket, &msg, MSG_DONTWAIT);
        if (n < 28) {
            continue;
        }
        Clock::time_point at = Clock::now();
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp;
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                const auto sinceArrival =
                    std::chrono::system_clock::now().time_since_epoch() -
                    (std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec));
                at -= std::chrono::duration_cast<Clock::duration>(sinceArrival);
            }
        }
        Packet packet{Bytes(buf, buf + n), at};
        if (packet.icmpLength() < 8) {
            continue;
        }
        Responder responder;
        {
            std::lock_guard lock(m_mutex);
            m_packets.push_back(packet);
            responder = m_responder;
        }
        m_changed.notify_all();
        if (responder && packet.type() == 8) {
            for (const auto& d : responder(packet)) {
                inject(d);
            }
        }
    }
}

std::vector<Packet> IcmpCapture::packets() const {
    std::lock_guard lock(m_mutex);
    return m_packets;
}

std::vector<Packet> IcmpCapture::requests(std::uint32_t dst) const {
    std::vector<Packet> out;
    for (const auto& p : packets()) {
        if (p.type() == 8 && (dst == 0 || p.dst() == dst)) {
            out.push_back(p);
        }
    }
    return out;
}

bool IcmpCapture::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        std::size_t n = 0;
        for (const auto& p : m_packets) {
            n += p.type() == 8 ? 1 : 0;
        }
        return n >= count;
    });
}

void IcmpCapture::clear() {
    std::lock_guard lock(m_mutex);
    m_packets.clear();
}

// ---- PeerHost ---------------------------------------------------------------

PeerHost::PeerHost(bool silent) {
    int ready[2];
    int hold[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(hold, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls here: the child holds the namespace
        // until the parent closes its end of `hold`.
        close(ready[0]);
        close(hold[1]);
        if (unshare(CLONE_NEWNET) != 0) {
            _exit(1);
        }
        char c = 'r';
        if (write(ready[1], &c, 1) != 1) {
            _exit(1);
        }
        while (read(hold[0], &c, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    m_hold = hold[1];
    char c = 0;
    const bool started = m_pid > 0 && read(ready[0], &c, 1) == 1;
    close(ready[0]);
    if (!started) {
        return;
    }
    const std::string pid = std::to_string(m_pid);
    m_nsFd = open(("/proc/" + pid + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    run({"ip", "link", "del", "tb0"}); // left over by an earlier test of this process
    bool ok = m_nsFd >= 0 &&
              run({"ip", "link", "add", "tb0", "type", "veth", "peer", "name", "tb1", "netns", pid}) == 0 &&
              run({"ip", "addr", "add", std::string(kLocalAddr) + "/24", "dev", "tb0"}) == 0 &&
              run({"ip", "link", "set", "tb0", "up"}) == 0 &&
              inPeer(std::string("ip link set lo up && ip addr add ") + kPeerAddr +
                     "/24 dev tb1 && ip addr add " + kPeerAddr2 + "/24 dev tb1 && ip addr add " + kPeerAddr3 +
                     "/24 dev tb1 && ip link set tb1 up") == 0 &&
              setSilent(silent);
    // (sysfs shows the devices of the namespace that mounted it: ask ip.)
    for (int i = 0; ok && i < 200; ++i) {
        std::string state;
        run({"ip", "-o", "link", "show", "dev", "tb0"}, &state);
        if (state.find("LOWER_UP") != std::string::npos) {
            m_ok = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PeerHost::~PeerHost() {
    if (m_pid > 0) {
        run({"ip", "link", "del", "tb0"});
        close(m_hold);
        int status;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_nsFd >= 0) {
        close(m_nsFd);
    }
}

bool PeerHost::setSilent(bool silent) {
    return inPeer(std::string("sysctl -qw net.ipv4.icmp_echo_ignore_all=") + (silent ? "1" : "0")) == 0;
}

int PeerHost::inPeer(const std::string& script) {
    return run({"nsenter", "--net=/proc/" + std::to_string(m_pid) + "/ns/net", "sh", "-c", script});
}

} // namespace netlab
