#include "hostlore/hostlore.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

bool isLoopback(in_addr address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

// Writes the dotted form of address, at most HOSTLORE_IP_SIZE bytes.
int writeDotted(in_addr address, char* buffer) {
    static_assert(INET_ADDRSTRLEN <= HOSTLORE_IP_SIZE);
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address, text, sizeof text))
        return HOSTLORE_NO_ADDRESS;
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return HOSTLORE_OK;
}

// The host entry of name in family, its buffer grown until it fits (up to
// 1 MiB); nullptr when there is none.
hostent* lookUp(const char* name, int family, hostent& entry, std::vector<char>& work) {
    hostent* result = nullptr;
    int error = 0;
    work.resize(1024);
    while (gethostbyname2_r(name, family, &entry, work.data(), work.size(), &result, &error) == ERANGE &&
           work.size() < (1u << 20))
        work.resize(work.size() * 2);
    return result;
}

// The first IPv4 address name resolves to, in the resolver's own order (the
// host entry, as listed; getaddrinfo would re-sort it); loopback addresses are
// passed over when skipLoopback is set.
std::optional<in_addr> resolve(const char* name, bool skipLoopback) {
    if (!name || !*name)
        return std::nullopt;
    hostent entry{};
    std::vector<char> work;
    const hostent* result = lookUp(name, AF_INET, entry, work);
    if (!result || result->h_addrtype != AF_INET || result->h_length != sizeof(in_addr) ||
        !result->h_addr_list)
        return std::nullopt;
    for (char** a = result->h_addr_list; *a; ++a) {
        in_addr address{};
        std::memcpy(&address, *a, sizeof address);
        if (!skipLoopback || !isLoopback(address))
            return address;
    }
    return std::nullopt;
}

// The first IPv4 address, other than loopback and 0.0.0.0, of an interface that is up.
std::optional<in_addr> firstInterfaceAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<in_addr> found;
    for (const ifaddrs* ifa = list; ifa && !found; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK))
            continue;
        const in_addr address = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr;
        if (address.s_addr != htonl(INADDR_ANY) && !isLoopback(address))
            found = address;
    }
    freeifaddrs(list);
    return found;
}

// Writes the canonical text of address, at most HOSTLORE_IP6_SIZE bytes.
int writeIp6(const in6_addr& address, char* buffer) {
    static_assert(INET6_ADDRSTRLEN <= HOSTLORE_IP6_SIZE);
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, &address, text, sizeof text))
        return HOSTLORE_NO_ADDRESS;
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return HOSTLORE_OK;
}

std::optional<in6_addr> resolve6(const char* name) {
    if (!name || !*name)
        return std::nullopt;
    hostent entry{};
    std::vector<char> work;
    const hostent* result = lookUp(name, AF_INET6, entry, work);
    if (!result || result->h_addrtype != AF_INET6 || result->h_length != sizeof(in6_addr) ||
        !result->h_addr_list || !result->h_addr_list[0])
        return std::nullopt;
    in6_addr address{};
    std::memcpy(&address, result->h_addr_list[0], sizeof address);
    return address;
}

} // namespace

extern "C" {

// POSIX sockets need no start-up.
int DLLInitHostInfo(void) {
    return HOSTLORE_OK;
}

int DLLGetHostName(char* buffer) {
    if (!buffer)
        return -1;
    return gethostname(buffer, HOSTLORE_HOST_NAME_SIZE);
}

int DLLGetIpAddress(char* buffer) {
    if (!buffer)
        return HOSTLORE_NO_ADDRESS;
    // The host name often maps to a loopback address (Debian: 127.0.1.1), which is
    // no use to the servers this address is sent to; the interfaces know better.
    char name[HOSTLORE_HOST_NAME_SIZE];
    std::optional<in_addr> address;
    if (gethostname(name, sizeof name) == 0) {
        name[sizeof name - 1] = '\0';
        address = resolve(name, true);
    }
    if (!address)
        address = firstInterfaceAddress();
    if (!address)
        return HOSTLORE_NO_ADDRESS;
    return writeDotted(*address, buffer);
}

int DLLGetIpAddressFromHostname(const char* hostName, char* buffer) {
    if (!buffer)
        return HOSTLORE_NO_ADDRESS;
    const std::optional<in_addr> address = resolve(hostName, false);
    if (!address)
        return HOSTLORE_NO_ADDRESS;
    return writeDotted(*address, buffer);
}

} // extern "C"

extern "C" {

int DLLGetIp6AddressFromHostname(const char* hostName, char* buffer) {
    if (!buffer)
        return HOSTLORE_NO_ADDRESS;
    const std::optional<in6_addr> address = resolve6(hostName);
    if (!address)
        return HOSTLORE_NO_ADDRESS;
    return writeIp6(*address, buffer);
}

int DLLGetIp6AddressTowards(const char* peerAddress, char* buffer) {
    sockaddr_in6 peer{};
    peer.sin6_family = AF_INET6;
    peer.sin6_port = htons(9);
    if (!buffer || !peerAddress || inet_pton(AF_INET6, peerAddress, &peer.sin6_addr) != 1)
        return HOSTLORE_NO_ADDRESS;
    // Connecting a datagram socket only chooses the route and the source.
    const int s = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return HOSTLORE_NO_ADDRESS;
    sockaddr_in6 local{};
    socklen_t length = sizeof local;
    const bool found = connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
                       getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                       local.sin6_family == AF_INET6;
    close(s);
    if (!found)
        return HOSTLORE_NO_ADDRESS;
    return writeIp6(local.sin6_addr, buffer);
}

} // extern "C"
