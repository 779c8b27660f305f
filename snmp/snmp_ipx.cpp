// The IPX transport domain of the SNMP layer.

#include "snmp/snmp_ipx.h"

#include "platform/ipx/ipx.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <string>

namespace snmp_ipx {
static_assert(kPeerSize == sizeof(ipx::sockaddr_ipx));
namespace {

// snmpIPXDomain of SNMPv2-TM.
const oid kDomain[] = {1, 3, 6, 1, 6, 1, 5};

// t->data: the default peer of a transport made for one (one flat block, as
// netsnmp_transport_free releases it with a single free).
struct TransportData {
    ipx::sockaddr_ipx peer;
    int hasPeer;
};

std::string format(const ipx::sockaddr_ipx& a) {
    char text[32];
    const auto* n = reinterpret_cast<const unsigned char*>(a.sa_netnum);
    const auto* h = reinterpret_cast<const unsigned char*>(a.sa_nodenum);
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X:%02X%02X%02X%02X%02X%02X/%04X", n[0], n[1], n[2], n[3],
                  h[0], h[1], h[2], h[3], h[4], h[5], ntohs(a.sa_socket));
    return text;
}

int receive(netsnmp_transport* t, void* buf, int size, void** opaque, int* olength) {
    if (opaque != nullptr)
        *opaque = nullptr;
    if (olength != nullptr)
        *olength = 0;
    if (t == nullptr || t->sock < 0 || size <= 0)
        return -1;
    ipx::sockaddr_ipx from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ipx::recvfrom(t->sock, buf, static_cast<std::size_t>(size), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&from), &fromLength);
    // Nothing usable (only malformed datagrams were waiting): an empty packet
    // that Net-SNMP skips.
    if (n <= 0 || opaque == nullptr || olength == nullptr)
        return 0;
    auto* peer = static_cast<ipx::sockaddr_ipx*>(std::malloc(sizeof from));
    if (peer == nullptr)
        return 0;
    *peer = from;
    *opaque = peer;
    *olength = sizeof from;
    return static_cast<int>(n);
}

int send(netsnmp_transport* t, const void* buf, int size, void** opaque, int* olength) {
    if (t == nullptr || t->sock < 0 || size < 0)
        return -1;
    const ipx::sockaddr_ipx* to = nullptr;
    if (opaque != nullptr && olength != nullptr && *opaque != nullptr &&
        *olength == static_cast<int>(sizeof(ipx::sockaddr_ipx)))
        to = static_cast<const ipx::sockaddr_ipx*>(*opaque);
    else if (t->data != nullptr && static_cast<const TransportData*>(t->data)->hasPeer)
        to = &static_cast<const TransportData*>(t->data)->peer;
    if (to == nullptr) {
        errno = EDESTADDRREQ;
        return -1;
    }
    const ssize_t n = ipx::sendto(t->sock, buf, static_cast<std::size_t>(size), 0,
                                  reinterpret_cast<const sockaddr*>(to), sizeof *to);
    return static_cast<int>(n);
}

int closeTransport(netsnmp_transport* t) {
    if (t == nullptr || t->sock < 0)
        return -1;
    const int rc = ipx::close(t->sock);
    t->sock = -1;
    return rc;
}

char* formatAddress(netsnmp_transport* t, const void* data, int length) {
    const ipx::sockaddr_ipx* a = nullptr;
    if (data != nullptr && length == static_cast<int>(sizeof(ipx::sockaddr_ipx)))
        a = static_cast<const ipx::sockaddr_ipx*>(data);
    else if (t != nullptr && t->data != nullptr && static_cast<const TransportData*>(t->data)->hasPeer)
        a = &static_cast<const TransportData*>(t->data)->peer;
    return strdup(a != nullptr ? ("IPX: " + format(*a)).c_str() : "IPX: unknown");
}

netsnmp_transport* create(std::uint16_t localSocket, const ipx::sockaddr_ipx* peer) {
    const int fd = ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX);
    if (fd < 0)
        return nullptr;
    ipx::sockaddr_ipx local{};
    local.sa_family = ipx::kAddressFamily;
    local.sa_socket = htons(localSocket);
    if (ipx::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ipx::close(fd);
        errno = error;
        return nullptr;
    }
    auto* t = static_cast<netsnmp_transport*>(std::calloc(1, sizeof(netsnmp_transport)));
    auto* data = static_cast<TransportData*>(std::calloc(1, sizeof(TransportData)));
    if (t == nullptr || data == nullptr) {
        std::free(t);
        std::free(data);
        ipx::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    if (peer != nullptr) {
        data->peer = *peer;
        data->hasPeer = 1;
    }
    t->domain = kDomain;
    t->domain_length = static_cast<int>(std::size(kDomain));
    t->sock = fd;
    // Not NETSNMP_TRANSPORT_FLAG_LISTEN: that marks a stream transport that accepts.
    t->flags = NETSNMP_TRANSPORT_FLAG_EMPTY_PKT;
    t->data = data;
    t->data_length = sizeof(TransportData);
    t->msgMaxSize = kMaxMessage;
    t->f_recv = &receive;
    t->f_send = &send;
    t->f_close = &closeTransport;
    t->f_fmtaddr = &formatAddress;
    return t;
}

// "NNNNNNNN:HHHHHHHHHHHH[:SSSS]" for a peer; "SSSS" (hexadecimal) for a local socket.
netsnmp_transport* fromString(const char* text, int local, const char*) {
    if (text == nullptr)
        return nullptr;
    const std::string s(text);
    if (local) {
        char* end = nullptr;
        const unsigned long number = s.empty() ? 0 : std::strtoul(s.c_str(), &end, 16);
        if ((!s.empty() && *end != '\0') || number > 0xFFFF)
            return nullptr;
        return create(static_cast<std::uint16_t>(number), nullptr);
    }
    const auto address = ipx::parseAddress(s.substr(0, 21));
    if (!address)
        return nullptr;
    std::uint16_t socket = kAgentSocket;
    if (s.size() > 21) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(s.c_str() + 22, &end, 16);
        if (s[21] != ':' || *end != '\0' || number == 0 || number > 0xFFFF)
            return nullptr;
        socket = static_cast<std::uint16_t>(number);
    }
    ipx::sockaddr_ipx peer{};
    peer.sa_family = ipx::kAddressFamily;
    std::memcpy(peer.sa_netnum, address->network, 4);
    std::memcpy(peer.sa_nodenum, address->node, 6);
    peer.sa_socket = htons(socket);
    return create(0, &peer);
}

} // namespace

void registerDomain() {
    static netsnmp_tdomain domain{};
    domain.name = kDomain;
    domain.name_length = std::size(kDomain);
    // Net-SNMP frees the prefix array at shutdown: it must come from the heap.
    const char** prefix = static_cast<const char**>(std::calloc(2, sizeof(char*)));
    if (prefix == nullptr)
        return;
    prefix[0] = "vipx";
    domain.prefix = prefix;
    domain.f_create_from_tstring_new = &fromString;
    netsnmp_tdomain_register(&domain);
}

netsnmp_transport_s* openLocal(std::uint16_t socket) {
    char text[16];
    std::snprintf(text, sizeof text, "vipx:%X", socket);
    return netsnmp_tdomain_transport(text, 1, "vipx");
}

void* makePeer(const unsigned char address[10], std::uint16_t socket) {
    auto* peer = static_cast<ipx::sockaddr_ipx*>(std::calloc(1, sizeof(ipx::sockaddr_ipx)));
    if (peer == nullptr)
        return nullptr;
    peer->sa_family = ipx::kAddressFamily;
    std::memcpy(peer->sa_netnum, address, 4);
    std::memcpy(peer->sa_nodenum, address + 4, 6);
    peer->sa_socket = htons(socket);
    return peer;
}

bool peerOf(const void* opaque, int length, unsigned char address[10], std::uint16_t& socket) {
    if (opaque == nullptr || length != static_cast<int>(sizeof(ipx::sockaddr_ipx)))
        return false;
    ipx::sockaddr_ipx peer;
    std::memcpy(&peer, opaque, sizeof peer);
    if (peer.sa_family != ipx::kAddressFamily)
        return false;
    std::memcpy(address, peer.sa_netnum, 4);
    std::memcpy(address + 4, peer.sa_nodenum, 6);
    socket = ntohs(peer.sa_socket);
    return true;
}

} // namespace snmp_ipx
