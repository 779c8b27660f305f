#include "hostlore.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

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

// The first IPv4 address name resolves to, in the resolver's order; loopback
// addresses are passed over when skipLoopback is set.
std::optional<in_addr> resolve(const char* name, bool skipLoopback) {
    if (!name || !*name)
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return std::nullopt;
    std::optional<in_addr> found;
    for (const addrinfo* ai = list; ai && !found; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr || ai->ai_addrlen < sizeof(sockaddr_in))
            continue;
        const in_addr address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
        if (!skipLoopback || !isLoopback(address))
            found = address;
    }
    freeaddrinfo(list);
    return found;
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
