#include "platform/ipx/ipx.h"

#include "platform/profile/profile.h"
#include "platform/progdir/progdir.h"
#include "platform/text/trim.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/filter.h>
#include <linux/sock_diag.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <unistd.h>

namespace ipx {

namespace {

constexpr std::size_t kUdpHeader = 8; // a socket filter sees the UDP header first
constexpr std::uint16_t kFirstDynamic = 0x4000;
constexpr std::uint16_t kDynamicCount = 0x4000;

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool parseHex(std::string_view text, std::uint8_t* out, std::size_t bytes) {
    if (text.size() != 2 * bytes)
        return false;
    for (std::size_t i = 0; i < bytes; ++i) {
        const int hi = hexValue(text[2 * i]);
        const int lo = hexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return true;
}

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void putAddress(std::uint8_t* p, const Address& a) {
    std::memcpy(p, a.network, 4);
    std::memcpy(p + 4, a.node, 6);
    put16(p + 10, a.socket);
}

Address getAddress(const std::uint8_t* p) {
    Address a;
    std::memcpy(a.network, p, 4);
    std::memcpy(a.node, p + 4, 6);
    a.socket = get16(p + 10);
    return a;
}

bool isZero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

std::optional<in_addr> parseUdpAddress(std::string_view text) {
    const std::string s(text);
    in_addr a{};
    if (inet_pton(AF_INET, s.c_str(), &a) != 1)
        return std::nullopt;
    return a;
}

std::string_view trim(std::string_view s) {
    return text::trim(s, " \t");
}

struct Socket {
    Config config;
    int adapter = -1; // bound adapter; -1 until bound
    std::uint16_t number = 0;
    bool broadcast = false;
    std::uint64_t drops = 0; // dropped here, after the socket filter
};

std::mutex g_mutex;
std::map<int, Socket> g_sockets;

// With g_mutex held: the socket of fd, or null with errno set.
Socket* find(int fd) {
    const auto it = g_sockets.find(fd);
    if (it == g_sockets.end()) {
        errno = ENOTSOCK;
        return nullptr;
    }
    return &it->second;
}

// Drops, in the kernel, every datagram that is not a well-formed packet for
// this node and socket, so that readiness means a packet is waiting.
int attachFilter(int fd, const Address& local) {
    const std::uint32_t nodeHigh = std::uint32_t(local.node[0]) << 24 | std::uint32_t(local.node[1]) << 16 |
                                   std::uint32_t(local.node[2]) << 8 | local.node[3];
    const std::uint32_t nodeLow = std::uint32_t(local.node[4]) << 8 | local.node[5];
    constexpr std::uint32_t H = kUdpHeader;
    // Jump offsets count the instructions skipped; index 19 accepts, 20 drops.
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),                       // 0
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, H + kHeaderSize, 0, 18), // 1 short
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, H + kMaxPacket, 17, 0),  // 2 oversized
        BPF_STMT(BPF_ALU | BPF_SUB | BPF_K, H),                      // 3
        BPF_STMT(BPF_MISC | BPF_TAX, 0),                             // 4 X = packet length
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, H + 0),                   // 5 checksum
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xFFFF, 0, 13),          // 6
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, H + 2),                   // 7 length field
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_X, 0, 0, 11),               // 8
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, H + 16),                  // 9 destination socket
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, local.socket, 0, 9),     // 10
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, H + 10),                  // 11 destination node: ours
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nodeHigh, 0, 2),         // 12
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, H + 14),                  // 13
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nodeLow, 4, 0),          // 14
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, H + 10),                  // 15 or the broadcast node
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xFFFFFFFF, 0, 3),       // 16
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, H + 14),                  // 17
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0xFFFF, 0, 1),           // 18
        BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF),                       // 19
        BPF_STMT(BPF_RET | BPF_K, 0),                                // 20
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program);
}

// With g_mutex held: binds sock to adapter and socket number (0: a free dynamic one).
int bindTo(int fd, Socket& sock, int adapter, std::uint16_t number) {
    const Config::Adapter& a = sock.config.adapters[static_cast<std::size_t>(adapter)];
    const std::optional<in_addr> ip = parseUdpAddress(a.udpAddress);
    if (!ip) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    sockaddr_in udp{};
    udp.sin_family = AF_INET;
    udp.sin_addr = *ip;
    auto tryBind = [&](std::uint16_t n) {
        udp.sin_port = htons(n);
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&udp), sizeof udp);
    };
    if (number == 0) {
        static std::minstd_rand random{std::random_device{}()};
        const std::uint16_t start = static_cast<std::uint16_t>(random() % kDynamicCount);
        int rc = -1;
        for (std::uint32_t i = 0; i < kDynamicCount && rc != 0; ++i) {
            const auto candidate = static_cast<std::uint16_t>(kFirstDynamic + (start + i) % kDynamicCount);
            rc = tryBind(candidate);
            if (rc == 0)
                number = candidate;
            else if (errno != EADDRINUSE)
                return -1;
        }
        if (rc != 0)
            return -1;
    } else if (tryBind(number) != 0) {
        return -1;
    }
    Address local = a.address;
    local.socket = number;
    if (attachFilter(fd, local) != 0)
        return -1;
    sock.adapter = adapter;
    sock.number = number;
    return 0;
}

} // namespace

bool isBroadcastNode(const std::uint8_t node[6]) {
    return std::all_of(node, node + 6, [](std::uint8_t b) { return b == 0xFF; });
}

std::optional<Address> parseAddress(std::string_view text) {
    text = trim(text);
    Address a;
    if (text.size() != 21 || !parseHex(text.substr(0, 8), a.network, 4) ||
        !parseHex(text.substr(9), a.node, 6))
        return std::nullopt;
    return a;
}

std::vector<std::uint8_t> encode(Header header, const void* data, std::size_t size) {
    if (size > kMaxData)
        return {};
    std::vector<std::uint8_t> out(kHeaderSize + size);
    put16(&out[0], header.checksum);
    put16(&out[2], static_cast<std::uint16_t>(out.size()));
    out[4] = header.transportControl;
    out[5] = header.packetType;
    putAddress(&out[6], header.destination);
    putAddress(&out[18], header.source);
    if (size)
        std::memcpy(&out[kHeaderSize], data, size);
    return out;
}

Decode decode(const std::uint8_t* bytes, std::size_t size, Header& header, const std::uint8_t*& data,
              std::size_t& dataSize) {
    if (size < kHeaderSize)
        return Decode::Short;
    if (size > kMaxPacket)
        return Decode::Oversized;
    if (get16(bytes + 2) != size)
        return Decode::BadLength;
    if (get16(bytes) != 0xFFFF)
        return Decode::BadChecksum;
    header.checksum = get16(bytes);
    header.length = get16(bytes + 2);
    header.transportControl = bytes[4];
    header.packetType = bytes[5];
    header.destination = getAddress(bytes + 6);
    header.source = getAddress(bytes + 18);
    data = bytes + kHeaderSize;
    dataSize = size - kHeaderSize;
    return Decode::Ok;
}

Config Config::load(const std::string& path) {
    Config config;
    const profile::Document doc = profile::load(path);
    for (int n = 0;; ++n) {
        const std::string value = doc.getString("Adapters", std::to_string(n), "", 256);
        const std::string_view v = trim(value);
        const auto blank = v.find_first_of(" \t");
        if (blank == std::string_view::npos)
            break;
        const std::optional<Address> address = parseAddress(v.substr(0, blank));
        const std::string_view udp = trim(v.substr(blank));
        if (!address || !parseUdpAddress(udp))
            break;
        config.adapters.push_back(Adapter{*address, std::string(udp)});
    }
    for (const std::string& key : doc.sectionKeys("Routes", 65536)) {
        const std::string value(trim(doc.getString("Routes", key, "", 256)));
        if (!parseUdpAddress(value))
            continue;
        if (key.size() == 7 && (key[0] == 'D' || key[0] == 'd') && strcasecmp(key.c_str(), "Default") == 0) {
            if (config.defaultRoute.empty())
                config.defaultRoute = value;
            continue;
        }
        Route route;
        route.udpAddress = value;
        if (const std::optional<Address> a = parseAddress(key)) {
            std::memcpy(route.network, a->network, 4);
            std::array<std::uint8_t, 6> node{};
            std::memcpy(node.data(), a->node, 6);
            route.node = node;
        } else if (!parseHex(trim(key), route.network, 4)) {
            continue;
        }
        config.routes.push_back(std::move(route));
    }
    return config;
}

std::string Config::routeTo(const Address& destination) const {
    if (isBroadcastNode(destination.node))
        return defaultRoute;
    for (const Adapter& a : adapters)
        if (std::memcmp(a.address.network, destination.network, 4) == 0 &&
            std::memcmp(a.address.node, destination.node, 6) == 0)
            return a.udpAddress;
    const Route* networkRoute = nullptr;
    for (const Route& r : routes) {
        if (std::memcmp(r.network, destination.network, 4) != 0)
            continue;
        if (!r.node) {
            if (!networkRoute)
                networkRoute = &r;
        } else if (std::memcmp(r.node->data(), destination.node, 6) == 0) {
            return r.udpAddress;
        }
    }
    return networkRoute ? networkRoute->udpAddress : defaultRoute;
}

std::string configPath() {
    return progdir::programDirectory() + "ipx.ini";
}

int socket(int family, int type, int protocol) {
    if (family != kAddressFamily) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    Config config = Config::load(configPath());
    if (config.adapters.empty()) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    if (type != SOCK_DGRAM) {
        errno = ESOCKTNOSUPPORT;
        return -1;
    }
    if (protocol != 0 && protocol != NSPROTO_IPX) {
        errno = EPROTONOSUPPORT;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    std::lock_guard lock(g_mutex);
    g_sockets[fd] = Socket{std::move(config)};
    return fd;
}

int bind(int s, const sockaddr* address, socklen_t length) {
    std::lock_guard lock(g_mutex);
    Socket* sock = find(s);
    if (!sock)
        return -1;
    if (!address || length < static_cast<socklen_t>(sizeof(sockaddr_ipx))) {
        errno = EFAULT;
        return -1;
    }
    sockaddr_ipx sa;
    std::memcpy(&sa, address, sizeof sa);
    if (sa.sa_family != kAddressFamily) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    if (sock->adapter >= 0) {
        errno = EINVAL;
        return -1;
    }
    const auto* net = reinterpret_cast<const std::uint8_t*>(sa.sa_netnum);
    const auto* node = reinterpret_cast<const std::uint8_t*>(sa.sa_nodenum);
    int adapter = -1;
    if (isZero(net, 4) && isZero(node, 6)) {
        adapter = 0;
    } else {
        for (std::size_t i = 0; i < sock->config.adapters.size() && adapter < 0; ++i) {
            const Address& a = sock->config.adapters[i].address;
            if (std::memcmp(a.node, node, 6) == 0 && (isZero(net, 4) || std::memcmp(a.network, net, 4) == 0))
                adapter = static_cast<int>(i);
        }
    }
    if (adapter < 0) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    return bindTo(s, *sock, adapter, ntohs(sa.sa_socket));
}

int setsockopt(int s, int level, int name, const void* value, socklen_t length) {
    std::lock_guard lock(g_mutex);
    Socket* sock = find(s);
    if (!sock)
        return -1;
    if (level != SOL_SOCKET) {
        errno = ENOPROTOOPT;
        return -1;
    }
    if (::setsockopt(s, level, name, value, length) != 0)
        return -1;
    if (name == SO_BROADCAST)
        sock->broadcast =
            length >= static_cast<socklen_t>(sizeof(int)) && *static_cast<const int*>(value) != 0;
    return 0;
}

int getsockopt(int s, int level, int name, void* value, socklen_t* length) {
    std::lock_guard lock(g_mutex);
    Socket* sock = find(s);
    if (!sock)
        return -1;
    if (level == SOL_SOCKET)
        return ::getsockopt(s, level, name, value, length);
    if (level != NSPROTO_IPX || (name != IPX_MAX_ADAPTER_NUM && name != IPX_ADDRESS)) {
        errno = ENOPROTOOPT;
        return -1;
    }
    const std::size_t needed = name == IPX_ADDRESS ? sizeof(IPX_ADDRESS_DATA) : sizeof(int);
    if (!value || !length || *length < static_cast<socklen_t>(needed)) {
        errno = EFAULT;
        return -1;
    }
    const auto& adapters = sock->config.adapters;
    if (name == IPX_MAX_ADAPTER_NUM) {
        const int count = static_cast<int>(adapters.size());
        std::memcpy(value, &count, sizeof count);
    } else {
        IPX_ADDRESS_DATA data;
        std::memcpy(&data, value, sizeof data);
        if (data.adapternum < 0 || static_cast<std::size_t>(data.adapternum) >= adapters.size()) {
            errno = EINVAL;
            return -1;
        }
        const Address& a = adapters[static_cast<std::size_t>(data.adapternum)].address;
        std::memcpy(data.netnum, a.network, 4);
        std::memcpy(data.nodenum, a.node, 6);
        data.wan = 0;
        data.status = 1;
        data.maxpkt = static_cast<int>(kMaxData);
        data.linkspeed = 100000; // in 100 bit/s
        std::memcpy(value, &data, sizeof data);
    }
    *length = static_cast<socklen_t>(needed);
    return 0;
}

ssize_t sendto(int s, const void* data, std::size_t size, int flags, const sockaddr* to, socklen_t length) {
    std::vector<std::uint8_t> packet;
    sockaddr_in udp{};
    {
        std::lock_guard lock(g_mutex);
        Socket* sock = find(s);
        if (!sock)
            return -1;
        if (!to || length < static_cast<socklen_t>(sizeof(sockaddr_ipx)) || (size && !data)) {
            errno = EFAULT;
            return -1;
        }
        sockaddr_ipx sa;
        std::memcpy(&sa, to, sizeof sa);
        if (sa.sa_family != kAddressFamily) {
            errno = EAFNOSUPPORT;
            return -1;
        }
        if (size > kMaxData) {
            errno = EMSGSIZE;
            return -1;
        }
        if (sock->adapter < 0 && bindTo(s, *sock, 0, 0) != 0)
            return -1;
        Header header;
        header.source = sock->config.adapters[static_cast<std::size_t>(sock->adapter)].address;
        header.source.socket = sock->number;
        std::memcpy(header.destination.network, sa.sa_netnum, 4);
        std::memcpy(header.destination.node, sa.sa_nodenum, 6);
        header.destination.socket = ntohs(sa.sa_socket);
        if (header.destination.socket == 0) {
            errno = EADDRNOTAVAIL;
            return -1;
        }
        if (isBroadcastNode(header.destination.node) && !sock->broadcast) {
            errno = EACCES;
            return -1;
        }
        Address routed = header.destination;
        if (isZero(routed.network, 4)) // this network: the sending adapter's
            std::memcpy(routed.network, header.source.network, 4);
        const std::optional<in_addr> ip = parseUdpAddress(sock->config.routeTo(routed));
        if (!ip) {
            errno = ENETUNREACH;
            return -1;
        }
        udp.sin_family = AF_INET;
        udp.sin_addr = *ip;
        udp.sin_port = htons(header.destination.socket);
        packet = encode(header, data, size);
    }
    const ssize_t sent = ::sendto(s, packet.data(), packet.size(), flags | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&udp), sizeof udp);
    if (sent < 0)
        return -1;
    return static_cast<ssize_t>(size);
}

ssize_t recvfrom(int s, void* data, std::size_t size, int flags, sockaddr* from, socklen_t* length) {
    Address local;
    {
        std::lock_guard lock(g_mutex);
        Socket* sock = find(s);
        if (!sock)
            return -1;
        if (sock->adapter < 0) {
            errno = EINVAL;
            return -1;
        }
        local = sock->config.adapters[static_cast<std::size_t>(sock->adapter)].address;
        local.socket = sock->number;
    }
    std::uint8_t buf[kMaxPacket + 1];
    for (;;) {
        const ssize_t n = ::recv(s, buf, sizeof buf, (flags & ~MSG_PEEK) | MSG_TRUNC);
        if (n < 0)
            return -1;
        Header header;
        const std::uint8_t* payload = nullptr;
        std::size_t payloadSize = 0;
        const bool ok = decode(buf, std::min(static_cast<std::size_t>(n), sizeof buf), header, payload,
                               payloadSize) == Decode::Ok &&
                        static_cast<std::size_t>(n) <= kMaxPacket &&
                        header.destination.socket == local.socket &&
                        (isBroadcastNode(header.destination.node) ||
                         std::memcmp(header.destination.node, local.node, 6) == 0) &&
                        (isZero(header.destination.network, 4) ||
                         std::memcmp(header.destination.network, local.network, 4) == 0);
        if (!ok) {
            std::lock_guard lock(g_mutex);
            if (Socket* sock = find(s))
                ++sock->drops;
            continue;
        }
        const std::size_t copied = std::min(size, payloadSize);
        if (copied)
            std::memcpy(data, payload, copied);
        if (from && length) {
            sockaddr_ipx sa{};
            sa.sa_family = kAddressFamily;
            std::memcpy(sa.sa_netnum, header.source.network, 4);
            std::memcpy(sa.sa_nodenum, header.source.node, 6);
            sa.sa_socket = htons(header.source.socket);
            std::memcpy(from, &sa, std::min(static_cast<std::size_t>(*length), sizeof sa));
            *length = sizeof sa;
        }
        return static_cast<ssize_t>(copied);
    }
}

int close(int s) {
    {
        std::lock_guard lock(g_mutex);
        if (!find(s))
            return -1;
        g_sockets.erase(s);
    }
    return ::close(s);
}

std::uint64_t droppedDatagrams(int s) {
    std::lock_guard lock(g_mutex);
    Socket* sock = find(s);
    if (!sock)
        return 0;
    std::uint32_t meminfo[SK_MEMINFO_VARS]{};
    socklen_t len = sizeof meminfo;
    std::uint64_t kernel = 0;
    if (::getsockopt(s, SOL_SOCKET, SO_MEMINFO, meminfo, &len) == 0 &&
        len > SK_MEMINFO_DROPS * sizeof(std::uint32_t))
        kernel = meminfo[SK_MEMINFO_DROPS];
    return kernel + sock->drops;
}

} // namespace ipx
